// The simulated Windows machine: its PnP device tree, the storage controllers and
// disks that a scenario describes, and the NVMe drives behind them.
//
// Everything here is a plain record with public fields. A test builds a machine
// from a scenario (sim/sim.h), adjusts any field it likes, installs it and runs
// system code against it. The platform calls in namespace win answer from the
// installed machine; the device models behind DeviceIoControl (sim/models/io.h) read and
// change the drive records.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drivers/byte_layout.h"
#include "platform/win32.h"

// Error codes the simulated machine answers with beyond those of platform/win32.h.
#ifndef ERROR_INVALID_FUNCTION
#define ERROR_INVALID_FUNCTION 1u
#endif
#ifndef ERROR_INVALID_DATA
#define ERROR_INVALID_DATA 13u
#endif
#ifndef ERROR_NOACCESS
#define ERROR_NOACCESS 998u
#endif
#ifndef ERROR_INVALID_FLAGS
#define ERROR_INVALID_FLAGS 1004u
#endif
#ifndef SPINT_ACTIVE
#define SPINT_ACTIVE 0x00000001u
#endif

namespace sim {

struct IoCall;

// Answers one DeviceIoControl: returns the Win32 error code (0 for success) and
// sets call.bytesReturned. See sim/models/io.h.
using IoHandler = std::function<DWORD(IoCall&)>;

// ---------------------------------------------------------------------------
// Drives

enum class Activation {
    PowerCycle,  // commit answers status 0x20; the new image runs after a power cycle
    Immediate,   // commit answers 0; the new image runs at once
};

// Which forms of the inbox "FIRMWARE" requests the drive's driver takes. The updater
// puts the data area right behind the request block (52) and sends an all-zero get-info
// body; the SDK asks for the data area at 56 and a STORAGE_FIRMWARE_INFO_V2 body.
enum class FirmwareRequests {
    Any,  // both forms
    // A miniport written to the SDK's contract: a data area below 56, or a get-info body
    // below version 2 or size 24, completes with FIRMWARE_STATUS_INVALID_PARAMETER.
    PublicFormOnly,
};

// An answer forced on one kind of request by a scenario fault: it replaces the
// drive's own handling of the request.
struct ForcedAnswer {
    enum class Kind { Unset, Fail, ReturnCode };
    Kind kind = Kind::Unset;
    std::uint32_t returnCode = 0;  // for Kind::ReturnCode
    // For Kind::Fail: the Win32 error the request fails with; unset, the one the request's
    // driver gives a failed device (what a capture of a real PC cannot always match).
    std::optional<DWORD> error = std::nullopt;

    DWORD FailureError(DWORD usual) const { return error.value_or(usual); }

    bool IsSet() const { return kind != Kind::Unset; }
};

// What a broken driver does to a reply after it has answered: bytes written over the
// reply, and the byte count it reports. With `returned` set, only that many bytes of
// the reply reach the caller and the rest of the caller's buffer stays as sent.
struct ReplyAlteration {
    // Buffer offset and the bytes written there, in the order the scenario gives them.
    // Every patch lies inside the reply buffer (the loader refuses one that does not).
    std::vector<std::pair<std::size_t, Bytes>> patch;
    std::optional<DWORD> returned;

    bool IsSet() const { return !patch.empty() || returned.has_value(); }
};

// One scenario fault on one kind of request: a forced answer, an altered reply, or
// both (the forced answer's reply is then altered too).
struct RequestFault {
    ForcedAnswer answer;
    ReplyAlteration reply;

    bool IsSet() const { return answer.IsSet() || reply.IsSet(); }
};

struct DownloadFault {
    // The download request it hits, counted from 0 as downloadRequests counts them;
    // unset: every download request.
    std::optional<std::uint32_t> chunk;
    RequestFault fault;

    bool Hits(std::uint32_t request) const { return !chunk || *chunk == request; }
};

struct DriveFaults {
    bool denyOpen = false;
    // Identify Controller, on either path. Kind::Fail: the request fails. A return
    // code: the request completes with that status and without Identify data.
    RequestFault identify;
    RequestFault firmwareInfo;
    std::optional<DownloadFault> download;
    RequestFault activate;
};

using SerialNumber = std::array<std::uint8_t, 20>;  // Identify SN, blank padded
using ModelNumber = std::array<std::uint8_t, 40>;   // Identify MN, blank padded
using RevisionBytes = std::array<std::uint8_t, 8>;  // Identify FR and slot revisions

struct FirmwareSlot {
    // Whatever the firmware-information reply lists: a sound NVMe drive has slots 1 to 7
    // with only slot 1 read-only, but a driver may report any number 0 to 255, any
    // slot read-only, and a number twice (a commit then goes to the first entry).
    std::uint8_t number = 0;
    bool readOnly = false;
    // The revision of the image the slot holds; all zero when it holds none, as the
    // NVMe firmware slot log reports an empty slot.
    RevisionBytes revision{};
    // The image as the drive assembled and committed it into this slot. Unset for
    // the image the drive left the factory with, whose bytes the machine never saw.
    std::optional<Bytes> image;
};

// What the last information reply that reached the program let it read: the first
// writable slot of the table, or none, with the reason, when the reply gave it no
// usable slot.
struct FirmwareInfoTold {
    std::optional<std::uint8_t> slot;
    std::string unusable;  // why no slot is usable, when `slot` is unset
};

// One piece of a firmware download as the drive received it.
struct DownloadPiece {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// The image being assembled by firmware download requests, not yet committed.
struct DownloadState {
    Bytes image;
    std::vector<DownloadPiece> pieces;
};

struct Drive {
    std::string id;  // names the drive in the state file

    // Identify Controller fields.
    SerialNumber serialNumber{};
    ModelNumber modelNumber{};
    RevisionBytes firmwareRevision{};    // FR: what the drive reports now
    std::uint32_t version = 0x00010300;  // VER: major in bits 31:16, minor in 15:8, tertiary 7:0
    std::uint8_t fwug = 8;               // FWUG, in 4 KiB units; 0xFF: no granularity restriction

    // Firmware information and activation behaviour.
    bool upgradeSupport = true;
    std::vector<FirmwareSlot> slots;
    std::uint8_t activeSlot = 1;
    // The slot whose image runs after the next power cycle; 0xFF when none waits, as
    // STORAGE_FIRMWARE_INFO reports it.
    std::uint8_t pendingSlot = 0xFF;
    Activation activation = Activation::PowerCycle;
    // What the inbox stack's "FIRMWARE" requests to this drive must look like.
    FirmwareRequests firmwareRequests = FirmwareRequests::Any;
    // What FR will say after the next power cycle; equal to firmwareRevision until a
    // commit that waits for a reset.
    RevisionBytes revisionAfterPowerCycle{};

    DriveFaults faults;

    // Running record, reported in the state file.
    DownloadState download;
    std::uint32_t downloadRequests = 0;
    // The drivers' bookkeeping of what the program must send (sim/README.md, "What
    // the drive calls for"). Where they expect the next download piece: pieces go from
    // offset 0 on, each where the previous one ended.
    std::uint64_t nextDownloadOffset = 0;
    // The chunk size the last Identify reply that reached the program gives it; unset
    // before any, when the drive's own VER and FWUG stand for it.
    std::optional<std::uint64_t> identifiedChunkSize;
    // What the last information reply that reached the program told it; unset before
    // any, when the drive's own slot table stands for it.
    std::optional<FirmwareInfoTold> firmwareInfoTold;
    std::uint32_t activations = 0;
    std::vector<std::string> protocolErrors;  // malformed requests addressed to this drive
};

// ---------------------------------------------------------------------------
// Storage controllers and disks: what a handle reaches

struct RaidConfigFault {
    // The CSMI request of the run it hits, counted from 0; unset: every one.
    std::optional<std::uint32_t> query;
    RequestFault fault;

    bool Hits(std::uint32_t request) const {
        return fault.IsSet() && (!query || *query == request);
    }
};

struct Controller {
    std::string id;
    std::size_t device = 0;  // its element in Machine::devices
    bool openable = true;
    // CSMI RAID sets: member path numbers in member order.
    std::vector<std::vector<std::uint8_t>> raidSets;
    // The drives behind it by path number (index into Machine::drives).
    std::map<std::uint8_t, std::size_t> drives;
    // The faults on its CSMI requests; the first that hits a request applies to it.
    std::vector<RaidConfigFault> raidConfigFaults;
    // CSMI RAID configuration requests that reached this controller in the run, counted
    // from 0; RaidConfigFault::query refers to it.
    std::uint32_t raidConfigRequests = 0;
    // Overrides the standard RST driver model for requests on this controller.
    IoHandler io;
};

enum class Attach {
    Inbox,       // an NVMe drive on the operating system's own NVMe driver
    Rst,         // a single disk behind an Intel RST controller
    RaidVolume,  // a RAID volume presented by an Intel RST controller
    Other,       // a disk of another maker
};

struct Disk {
    Attach attach = Attach::Inbox;
    std::size_t device = 0;                 // its element in Machine::devices
    std::optional<std::size_t> controller;  // Rst and RaidVolume: index into Machine::controllers
    std::int32_t pathId = -1;               // Rst: the drive's path number on the controller
    std::int32_t raidSet = -1;              // RaidVolume: index into the controller's raidSets
    std::optional<std::size_t> drive;       // index into Machine::drives
    // The disk number behind "\\.\PHYSICALDRIVE<n>" and the device-number request;
    // unset: the disk has none.
    std::optional<DWORD> deviceNumber;
    bool openable = true;
    // IOCTL_STORAGE_GET_DEVICE_NUMBER: Kind::Fail makes the request fail; a reply
    // alteration patches or cuts the 12-byte STORAGE_DEVICE_NUMBER. The reply has no
    // status field, so a return code completes the request with nothing in it.
    RequestFault deviceNumberFault;
    // Overrides the standard disk stack model for requests on this disk.
    IoHandler io;
};

// ---------------------------------------------------------------------------
// The PnP device tree that SetupAPI reads

// What opening one of a device's interfaces reaches.
struct DeviceTarget {
    enum class Kind { Unset, Disk, Controller };
    Kind kind = Kind::Unset;
    std::size_t index = 0;  // into Machine::disks or Machine::controllers
};

struct DeviceProperty {
    DEVPROPKEY key{};
    std::wstring text;  // a DEVPROP_TYPE_STRING value
};

struct DeviceInterface {
    GUID classGuid{};
    // Unset: the interface is registered but cannot be enumerated, so the device is
    // in the interface class's set without an interface to go with it.
    std::optional<std::wstring> path;
};

// The properties a scenario can make lie about their size.
enum class PropertyName {
    Parent,             // DEVPKEY_Device_Parent
    InstanceId,         // DEVPKEY_Device_InstanceId
    HardwareIds,        // SPDRP_HARDWAREID
    LocationInfo,       // DEVPKEY_Device_LocationInfo
    DriverDescription,  // DEVPKEY_Device_DriverDesc
    InterfaceDetail,    // SetupDiGetDeviceInterfaceDetailW of the device's interfaces
};

// How a property read misbehaves.
struct PropertyFault {
    enum class Kind {
        // Every call fails with ERROR_INSUFFICIENT_BUFFER and reports the same size,
        // whatever room it is given.
        TooSmallForever,
        // Every call that fails for want of room reports `requiredSize` bytes instead
        // of the true size; a call with room for the true value succeeds.
        RequiredSize,
    };
    Kind kind = Kind::TooSmallForever;
    DWORD requiredSize = 0;
};

struct Device {
    DEVINST devInst = 0;
    GUID classGuid{};  // the setup class
    // Present properties; a key not listed is absent (ERROR_NOT_FOUND).
    std::vector<DeviceProperty> properties;
    // SPDRP_HARDWAREID; unset: the property cannot be read.
    std::optional<std::vector<std::wstring>> hardwareIds;
    std::vector<DeviceInterface> interfaces;
    DeviceTarget target;
    std::map<PropertyName, PropertyFault> propertyFaults;
};

// ---------------------------------------------------------------------------

// The platform whose device setup the simulated binding answers like.
enum class Platform {
    Windows,
    // Wine 8: a DevInst per element of each set (sim/win32/wine_platform.h).
    Wine,
};

struct Machine {
    Platform platform = Platform::Windows;
    // Fixed clock for GetLocalTime; unset: the real local clock.
    std::optional<SYSTEMTIME> localTime;
    // GetModuleHandleW(nullptr) returns nullptr.
    bool moduleHandleFails = false;
    // What GetCommandLineW returns: program name and arguments, quoted as Windows does.
    std::wstring commandLine = L"fwupdate.exe";
    // Record the trace. Off saves the hex of every request when nobody reads it.
    bool recordTrace = true;

    std::vector<Device> devices;  // in the order an all-classes set lists them
    std::vector<Controller> controllers;
    std::vector<Disk> disks;
    std::vector<Drive> drives;
    // Malformed requests that reached no drive.
    std::vector<std::string> protocolErrors;

    // Standard output. Redirected (the default), as in every test that reads what the
    // program prints as bytes: GetConsoleMode fails on it. A console: GetConsoleMode
    // succeeds and what WriteConsoleW takes is appended to `screen` as UTF-16 code units.
    struct StandardOutput {
        bool isConsole = false;
        // The most code units one WriteConsoleW call takes (0: all it is given).
        DWORD charsPerWrite = 0;
        // Every WriteConsoleW call fails, as on a console host that has gone away.
        bool writesFail = false;
        std::wstring screen;
    } standardOutput;
};

// Device classes and well-known keys the machine uses besides those of platform/win32.h.
inline constexpr GUID GUID_DEVCLASS_DISKDRIVE = {
    0x4D36E967, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
inline constexpr GUID GUID_DEVCLASS_SCSIADAPTER = {
    0x4D36E97B, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// ---------------------------------------------------------------------------
// Helpers on the records

Device* FindDevice(Machine& machine, DEVINST devInst);
// Appends a device with a fresh DevInst number.
Device& AddDevice(Machine& machine, const GUID& classGuid);
const std::wstring* FindProperty(const Device& device, const DEVPROPKEY& key);
// Sets a property, or removes it when `text` is unset.
void SetProperty(Device& device, const DEVPROPKEY& key, std::optional<std::wstring> text);

Drive* DriveOfDisk(Machine& machine, const Disk& disk);
Drive* DriveAtPath(Machine& machine, const Controller& controller, std::uint8_t pathNumber);

// Records a malformed request: on the drive it was meant for, or machine-wide.
void RecordProtocolError(Machine& machine, Drive* drive, std::string text);

// Why an open of a resolved device is refused, or 0; every host of the models applies
// it. A disk that is not openable refuses every path to it; a drive whose open is
// denied refuses its physical-drive path only, so that the disk is still found by its
// interface and the drive itself fails to open.
DWORD OpenRefusal(Machine& machine, const DeviceTarget& target, bool physicalDrivePath);

}  // namespace sim
