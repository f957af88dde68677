// A scenario as read from its JSON text, before defaults are filled in and the
// device tree is built. Internal to sim/: scenario.cpp reads it, assemble.cpp turns
// it into a Machine.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
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
    std::optional<std::wstring> path;
    Override<std::wstring> driverDescription;
    Override<std::wstring> instanceId;
    bool openable = true;
    std::optional<std::vector<std::vector<std::uint8_t>>> raidSets;
    std::map<std::uint8_t, DriveDraft> drives;
    std::vector<RaidConfigFault> raidConfigFaults;
    std::map<PropertyName, PropertyFault> propertyFaults;
};

struct DiskDraft {
    std::string place;
    Attach attach = Attach::Inbox;
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
};

struct ScenarioDraft {
    std::vector<ControllerDraft> controllers;
    std::vector<DiskDraft> disks;
    std::optional<SYSTEMTIME> localTime;
    bool moduleHandleFails = false;
};

// A drive with every field at its default: the maker's 1 TB model at the base
// revision, three slots with slot 1 read-only, activation after a power cycle.
Drive DefaultDrive();

// Fills in defaults, resolves references and builds the device tree. On failure
// `error` holds the problem as "<place>: <problem>" (without the source name).
bool AssembleMachine(ScenarioDraft draft, Machine& out, std::string& error);

}  // namespace sim
