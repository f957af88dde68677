// What one input of the whole-program target chooses: a machine (its controllers,
// disks, their texts and drives) and how the drivers answer the program's requests.
//
// The records are plain; VisitProgramInput is their input format, read by
// fuzzinput::Reader and written by fuzzinput::Writer (harness/choices.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "drivers/byte_layout.h"

namespace fuzzprogram {

// ---- Drives

enum class Revision : std::uint8_t { Base, Target, Other, kCount };
enum class Model : std::uint8_t { Maker, OtherMaker, kCount };
// VER: 1.3, 1.2, 2.0, 1.4, 0.0.
enum class Version : std::uint8_t { V1_3, V1_2, V2_0, V1_4, V0_0, kCount };
// The slot table the drive reports: {1 read-only, 2, 3}, {1 read-only}, none,
// {1 read-only, 2 .. 7}, {1, 2} all writable, {3 read-only, 4 read-only}.
enum class Slots : std::uint8_t {
    Standard,
    OnlyReadOnly,
    None,
    Seven,
    AllWritable,
    AllReadOnly,
    kCount
};

struct DriveChoice {
    Revision revision = Revision::Base;
    Model model = Model::Maker;
    Version version = Version::V1_3;
    std::uint8_t fwug = 8;
    bool upgradeSupport = true;
    Slots slots = Slots::Standard;
    bool immediate = false;  // activation takes effect at once (status 0), not at power cycle
    bool denyOpen = false;   // opening its \\.\PHYSICALDRIVE<n> path fails

    bool operator==(const DriveChoice&) const = default;
};

// ---- Lying property sizes

// How a property read misbehaves: every call too small with the same size, a required
// size of 4 bytes for a longer value, or one of 1 MiB.
enum class Lie : std::uint8_t { None, TooSmallForever, TinySize, HugeSize, kCount };
// Which property lies (the set of sim::PropertyName).
enum class LieAbout : std::uint8_t {
    Parent,
    InstanceId,
    HardwareIds,
    LocationInfo,
    DriverDescription,
    InterfaceDetail,
    kCount
};

// ---- Intel RST controllers (storage-port interfaces)

enum class ControllerId : std::uint8_t { IntelRst, OtherVendor, Unreadable, kCount };
enum class ControllerPath : std::uint8_t { Intel, OtherVendor, NotEnumerable, kCount };
enum class Description : std::uint8_t { RstPremium, IntelRaid, StandardNvme, Unreadable, kCount };

struct ControllerDrive {
    std::uint8_t path = 0;
    DriveChoice drive;

    bool operator==(const ControllerDrive&) const = default;
};

struct ControllerChoice {
    ControllerId instanceId = ControllerId::IntelRst;
    ControllerPath path = ControllerPath::Intel;
    Description description = Description::RstPremium;
    bool openable = true;
    std::vector<std::vector<std::uint8_t>> raidSets;  // member path numbers
    std::vector<ControllerDrive> drives;              // a path given twice: the first counts
    Lie lie = Lie::None;
    LieAbout lieAbout = LieAbout::InstanceId;

    bool operator==(const ControllerChoice&) const = default;
};

// ---- Disks (disk-interface elements, in set order)

enum class Attach : std::uint8_t { Inbox, Rst, RaidVolume, Other, kCount };
// The parent: the maker's NVMe controller (VEN_7C1E), the disk's RST controller
// (its instance ID), another maker's controller, an Intel device that is no RST
// controller, or none readable.
enum class Parent : std::uint8_t { Maker, Controller, OtherMaker, IntelOther, Unreadable, kCount };
// The instance ID: an NVMe disk, an Intel RAID volume, an Intel disk that is no
// volume, a "PROD_RAID" disk of another vendor, or none readable.
enum class InstanceId : std::uint8_t {
    NvmeDisk,
    RaidVolume,
    IntelDisk,
    OtherRaid,
    Unreadable,
    kCount
};
// Hardware IDs: with "NVMe", a RAID volume's (no "NVMe"), "nvme" in the wrong case,
// an empty list, or none readable.
enum class HardwareIds : std::uint8_t {
    Nvme,
    RaidVolume,
    LowerCaseNvme,
    Empty,
    Unreadable,
    kCount
};
// Location: "Bus Number <pathId>, Target Id 0, LUN 0", the same with `bus`, with
// "-<bus>", with a number past 32 bits, "Bus Number <bus>" alone, a text without
// the token, or none readable.
enum class Location : std::uint8_t {
    BusOfPath,
    Bus,
    NegativeBus,
    HugeBus,
    BusWithoutComma,
    NoBusToken,
    Unreadable,
    kCount
};
enum class DeviceNumber : std::uint8_t { OwnIndex, Given, None, kCount };

struct DiskChoice {
    Attach attach = Attach::Inbox;
    std::uint8_t controller = 0;  // Rst, RaidVolume: which controller, modulo their count
    std::uint8_t pathId = 0;      // Rst: its path on the controller
    Parent parent = Parent::Maker;
    InstanceId instanceId = InstanceId::NvmeDisk;
    HardwareIds hardwareIds = HardwareIds::Nvme;
    Location location = Location::BusOfPath;
    std::uint8_t bus = 0;
    bool enumerable = true;  // its disk interface can be enumerated
    DeviceNumber deviceNumber = DeviceNumber::OwnIndex;
    std::uint8_t number = 0;  // DeviceNumber::Given
    bool openable = true;
    bool hasDrive = true;  // Inbox, Other: an NVMe drive behind it
    DriveChoice drive;
    Lie lie = Lie::None;
    LieAbout lieAbout = LieAbout::Parent;

    bool operator==(const DiskChoice&) const = default;
};

// ---- How the drivers answer

// The requests of the program, as the answers are aimed at them.
enum class CallKind : std::uint8_t {
    Any,
    DeviceNumber,
    Identify,  // inbox storage query or RST pass-through
    FirmwareInfo,
    Download,  // inbox or RST
    Activate,  // inbox or RST
    RaidConfig,
    kCount
};

// What is done to the standard answer, in this order: its reply replaced by `bytes`,
// rewritten from `value` and `list` by the layout writers, patched, its ReturnCode
// set, its byte count set, and finally the call failed with an error.
inline constexpr std::uint8_t kReplaceBytes = 1;
inline constexpr std::uint8_t kStructured = 2;
inline constexpr std::uint8_t kPatch = 4;
inline constexpr std::uint8_t kSetStatus = 8;
inline constexpr std::uint8_t kSetCount = 16;
inline constexpr std::uint8_t kFail = 32;
inline constexpr std::uint8_t kAllAlterations = 63;

struct Patch {
    std::uint16_t offset = 0;
    Bytes bytes;

    bool operator==(const Patch&) const = default;
};

// Win32 errors a failing call reports, by index.
inline constexpr std::uint32_t kErrors[] = {1, 5, 31, 50, 87, 122, 1117, 0xE0000001u};
inline constexpr std::size_t kErrorCount = std::size(kErrors);
// ReturnCodes by index: the firmware statuses, CSMI's set-out-of-range; the last index
// takes `rawStatus`.
inline constexpr std::uint32_t kStatuses[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05,
                                              0x06, 0x07, 0x10, 0x20, 1000};
inline constexpr std::size_t kStatusCount = std::size(kStatuses);
// Byte counts by index: nothing, one short of ReturnCode, up to ReturnCode, the
// header, one short of the header, a device number's 12; the last index takes `count`.
inline constexpr std::uint32_t kCounts[] = {0, 23, 24, 28, 27, 12};
inline constexpr std::size_t kCountCount = std::size(kCounts);

struct Answer {
    CallKind kind = CallKind::Any;
    bool every = false;            // every call of the kind from `occurrence` on
    std::uint16_t occurrence = 0;  // counted from 0 over the calls of the kind
    std::uint8_t flags = 0;
    std::uint8_t error = 0;  // kFail: index into kErrors
    Bytes bytes;
    std::uint32_t value = 0;
    std::vector<std::uint8_t> list;
    std::vector<Patch> patches;
    std::uint8_t status = 0;  // kSetStatus: index into kStatuses, or kStatusCount for rawStatus
    std::uint32_t rawStatus = 0;
    std::uint8_t countChoice = 0;  // kSetCount: index into kCounts, or kCountCount for count
    std::uint16_t count = 0;

    bool operator==(const Answer&) const = default;
};

struct ProgramInput {
    std::vector<ControllerChoice> controllers;
    std::vector<DiskChoice> disks;
    std::vector<Answer> answers;

    bool operator==(const ProgramInput&) const = default;
};

inline constexpr std::size_t kMaxControllers = 3;
inline constexpr std::size_t kMaxDisks = 6;
inline constexpr std::size_t kMaxRaidSets = 3;
inline constexpr std::size_t kMaxMembers = 6;
inline constexpr std::size_t kMaxControllerDrives = 6;
inline constexpr std::size_t kMaxAnswers = 12;
inline constexpr std::size_t kMaxReplyBytes = 4400;  // past the largest request, 4260

template <typename IO>
void VisitDrive(IO& io, DriveChoice& d) {
    io.Choice(d.revision);
    io.Choice(d.model);
    io.Choice(d.version);
    io.template Int<std::uint8_t>(0, 255, d.fwug);
    io.Bool(d.upgradeSupport);
    io.Choice(d.slots);
    io.Bool(d.immediate);
    io.Bool(d.denyOpen);
}

// A controller's or a disk's lie, and what it lies about only when it lies at all.
template <typename IO>
void VisitLie(IO& io, Lie& lie, LieAbout& about) {
    io.Choice(lie);
    if (lie != Lie::None) {
        io.Choice(about);
    }
}

template <typename IO>
void VisitController(IO& io, ControllerChoice& c) {
    io.Choice(c.instanceId);
    io.Choice(c.path);
    io.Choice(c.description);
    io.Bool(c.openable);
    io.List(kMaxRaidSets, c.raidSets, [](IO& io, std::vector<std::uint8_t>& members) {
        io.List(kMaxMembers, members,
                [](IO& io, std::uint8_t& path) { io.template Int<std::uint8_t>(0, 255, path); });
    });
    io.List(kMaxControllerDrives, c.drives, [](IO& io, ControllerDrive& drive) {
        io.template Int<std::uint8_t>(0, 255, drive.path);
        VisitDrive(io, drive.drive);
    });
    VisitLie(io, c.lie, c.lieAbout);
}

template <typename IO>
void VisitDisk(IO& io, DiskChoice& d) {
    io.Choice(d.attach);
    io.template Int<std::uint8_t>(0, 255, d.controller);
    io.template Int<std::uint8_t>(0, 255, d.pathId);
    io.Choice(d.parent);
    io.Choice(d.instanceId);
    io.Choice(d.hardwareIds);
    io.Choice(d.location);
    io.template Int<std::uint8_t>(0, 255, d.bus);
    io.Bool(d.enumerable);
    io.Choice(d.deviceNumber);
    io.template Int<std::uint8_t>(0, 255, d.number);
    io.Bool(d.openable);
    io.Bool(d.hasDrive);
    if (d.hasDrive) {
        VisitDrive(io, d.drive);
    }
    VisitLie(io, d.lie, d.lieAbout);
}

template <typename IO>
void VisitAnswer(IO& io, Answer& a) {
    io.Choice(a.kind);
    io.Bool(a.every);
    io.template Int<std::uint16_t>(0, 1023, a.occurrence);
    io.template Int<std::uint8_t>(0, kAllAlterations, a.flags);
    if (a.flags & kReplaceBytes) {
        io.Bytes(kMaxReplyBytes, a.bytes);
    }
    if (a.flags & kStructured) {
        io.template Int<std::uint32_t>(0, 0xFFFFFFFFu, a.value);
        io.List(8, a.list,
                [](IO& io, std::uint8_t& b) { io.template Int<std::uint8_t>(0, 255, b); });
    }
    if (a.flags & kPatch) {
        io.List(4, a.patches, [](IO& io, Patch& p) {
            io.template Int<std::uint16_t>(0, kMaxReplyBytes, p.offset);
            io.Bytes(8, p.bytes);
        });
    }
    if (a.flags & kSetStatus) {
        io.template Int<std::uint8_t>(0, kStatusCount, a.status);
        if (a.status == kStatusCount) {
            io.template Int<std::uint32_t>(0, 0xFFFFFFFFu, a.rawStatus);
        }
    }
    if (a.flags & kSetCount) {
        io.template Int<std::uint8_t>(0, kCountCount, a.countChoice);
        if (a.countChoice == kCountCount) {
            io.template Int<std::uint16_t>(0, 0xFFFF, a.count);
        }
    }
    if (a.flags & kFail) {
        io.template Int<std::uint8_t>(0, kErrorCount - 1, a.error);
    }
}

template <typename IO>
void VisitProgramInput(IO& io, ProgramInput& in) {
    io.List(kMaxControllers, in.controllers, VisitController<IO>);
    io.List(kMaxDisks, in.disks, VisitDisk<IO>);
    io.List(kMaxAnswers, in.answers, VisitAnswer<IO>);
}

ProgramInput DecodeProgramInput(std::span<const std::uint8_t> data);
Bytes EncodeProgramInput(ProgramInput input);

// The input as text, one line per controller, disk and answer: for reading a reproducer.
std::string DescribeProgramInput(const ProgramInput& input);

}  // namespace fuzzprogram
