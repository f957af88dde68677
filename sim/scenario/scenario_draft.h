// A scenario as read from its JSON text, before defaults are filled in and the
// device tree is built: scenario.cpp reads it, assemble.cpp turns it into a Machine.
// Code that describes a machine (the fuzz harness) fills one too, so that every
// machine is built one way. A few fields serve such code only and have no JSON key:
// they let a draft describe a machine broken in ways a scenario file is refused for.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/models/machine.h"

namespace sim {

// A property override: absent (the default applies), null (unreadable) or a value.
template <typename T>
struct Override {
    bool given = false;
    std::optional<T> value;
};

struct DriveDraft {
    std::string place;  // where the drive was written, for messages
    Drive drive;        // the given fields over the defaults
    bool hasId = false;
    bool hasSerial = false;
};

struct ControllerDraft {
    std::string place;
    std::string id;
    // Its storage-port interface path; null (no JSON key) registers the interface
    // without a path, so it cannot be enumerated.
    Override<std::wstring> path;
    Override<std::wstring> driverDescription;
    Override<std::wstring> instanceId;
    bool openable = true;
    std::optional<std::vector<std::vector<std::uint8_t>>> raidSets;
    std::map<std::uint8_t, DriveDraft> drives;
    std::vector<RaidConfigFault> raidConfigFaults;
    std::map<PropertyName, PropertyFault> propertyFaults;
    // A path that a RAID set or a single disk names without a drive gets the default
    // drive. Off (no JSON key): the path stays empty, as a driver that finds no drive.
    bool defaultDrives = true;
};

struct DiskDraft {
    std::string place;
    Attach attach = Attach::Inbox;
    // A scenario file gives every disk attached "rst" or "raid-volume" a controller; a
    // draft's disk without one belongs to no controller and reaches no drive.
    std::optional<std::string> controllerId;
    std::optional<std::uint8_t> pathId;
    std::optional<DriveDraft> drive;
    Override<std::wstring> parent;
    Override<std::wstring> instanceId;
    Override<std::wstring> locationInfo;
    Override<std::wstring> interfacePath;
    Override<std::vector<std::wstring>> hardwareIds;
    Override<DWORD> deviceNumber;
    bool openable = true;
    RequestFault deviceNumberFault;
    std::map<PropertyName, PropertyFault> propertyFaults;
    // An inbox disk without a drive of its own gets the default drive. Off (no JSON
    // key): it has none.
    bool defaultDrive = true;
};

struct ScenarioDraft {
    std::vector<ControllerDraft> controllers;
    std::vector<DiskDraft> disks;
    std::optional<SYSTEMTIME> localTime;
    bool moduleHandleFails = false;
    // A scenario file that gives two single disks of one controller the same path, or
    // two disks the same device number, is refused as a slip of its writer. A machine
    // with such a driver may be meant (no JSON key).
    bool pathsMayRepeat = false;
    bool deviceNumbersMayRepeat = false;
};

// Writes `text` into an Identify text field, blank padded and cut to the field.
void FillText(std::span<std::uint8_t> field, std::string_view text);

// A drive with every field at its default: the maker's 1 TB model at the base
// revision, three slots with slot 1 read-only, activation after a power cycle.
Drive DefaultDrive();

// Fills in defaults, resolves references and builds the device tree. On failure
// `error` holds the problem as "<place>: <problem>" (without the source name).
bool AssembleMachine(ScenarioDraft draft, Machine& out, std::string& error);

}  // namespace sim
