#include "sim/win32/wine_platform.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "base/utf8.h"
#include "sim/models/io.h"
#include "sim/models/text.h"

namespace sim {
namespace {

// The characters device IDs are made of on Windows, less those an object name or a
// registry key would take differently; '\' separates the components.
bool IsIdCharacter(wchar_t c) {
    if ((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z')) {
        return true;
    }
    return std::wstring_view(L"&_-.{}()+!~@=$%'").find(c) != std::wstring_view::npos;
}

// An ID Wine can create a device under: a device ID and an instance part at least,
// no component empty.
bool UsableInstanceId(std::wstring_view id) {
    if (id.empty() || id.size() > kWineMaxInstanceIdLength || id.front() == L'\\' ||
        id.back() == L'\\') {
        return false;
    }
    std::size_t separators = 0;
    for (std::size_t i = 0; i < id.size(); ++i) {
        if (id[i] == L'\\') {
            if (id[i - 1] == L'\\') {
                return false;
            }
            ++separators;
        } else if (!IsIdCharacter(id[i])) {
            return false;
        }
    }
    return separators > 0;
}

std::wstring GuidSuffix(const GUID& interfaceClass) {
    return L"#" + LowerCase(utf8::FromLatin1(GuidText(interfaceClass)));
}

// The instance ID a path was derived from, when it is a path Wine could have given an
// interface of this class.
std::optional<std::wstring> InstanceIdOfPath(std::wstring_view path, const GUID& interfaceClass) {
    if (path.size() < 4 || path[0] != L'\\' || path[1] != L'\\' ||
        (path[2] != L'?' && path[2] != L'.') || path[3] != L'\\') {
        return std::nullopt;
    }
    const std::wstring suffix = GuidSuffix(interfaceClass);
    const std::wstring_view rest = path.substr(4);
    if (rest.size() <= suffix.size() ||
        !SameTextIgnoringCase(rest.substr(rest.size() - suffix.size()), suffix)) {
        return std::nullopt;
    }
    std::wstring id(rest.substr(0, rest.size() - suffix.size()));
    std::replace(id.begin(), id.end(), L'#', L'\\');
    if (!UsableInstanceId(id)) {
        return std::nullopt;
    }
    return id;
}

// Wine's registry keeps subkeys sorted by name, compared character by character in
// upper case; an interface's key is named after its path.
std::wstring SortKey(std::wstring_view instanceId, const GUID& interfaceClass) {
    return UpperCase(WineInterfacePath(instanceId, interfaceClass));
}

// "\\.\PHYSICALDRIVE<n>" (either prefix, any letter case), as the binding resolves
// the physical-drive links.
bool IsPhysicalDrivePath(std::wstring_view path) {
    constexpr std::wstring_view kName = L"PHYSICALDRIVE";
    if (path.size() <= 4 + kName.size() || path[0] != L'\\' || path[1] != L'\\' ||
        (path[2] != L'.' && path[2] != L'?') || path[3] != L'\\' ||
        !SameTextIgnoringCase(path.substr(4, kName.size()), kName)) {
        return false;
    }
    const std::wstring_view digits = path.substr(4 + kName.size());
    return std::all_of(digits.begin(), digits.end(),
                       [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

std::wstring OrdinalName(std::size_t index, std::size_t width,
                         const std::optional<std::wstring>& natural) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%0*zu", static_cast<int>(width), index);
    const std::wstring ordinal = utf8::FromLatin1(digits);
    if (natural && ordinal.size() + 1 + natural->size() <= kWineMaxInstanceIdLength) {
        return ordinal + L"\\" + *natural;
    }
    return ordinal + L"\\FWSIM";
}

// The name each device is created under: its natural one, or an ordinal one where the
// natural names cannot stand.
struct Naming {
    std::vector<std::optional<std::wstring>> natural;
    std::vector<bool> ordinal;
    std::size_t width = 4;  // of the ordinal numbers

    std::wstring Name(std::size_t i) const {
        return ordinal[i] ? OrdinalName(i, width, natural[i]) : *natural[i];
    }
};

// A device's natural name: the instance ID its first interface's path was derived
// from, else its own instance ID, where Wine could create a device under it.
Naming NaturalNames(const Machine& machine) {
    const std::size_t count = machine.devices.size();
    Naming naming;
    naming.natural.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Device& device = machine.devices[i];
        for (const DeviceInterface& iface : device.interfaces) {
            if (iface.path) {
                naming.natural[i] = InstanceIdOfPath(*iface.path, iface.classGuid);
            }
            break;
        }
        if (!naming.natural[i]) {
            const std::wstring* id = FindProperty(device, win::DEVPKEY_Device_InstanceId);
            if (id != nullptr && UsableInstanceId(*id)) {
                naming.natural[i] = *id;
            }
        }
    }
    for (std::size_t n = count; n >= 10000; n /= 10) {
        ++naming.width;
    }
    naming.ordinal.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        naming.ordinal[i] = !naming.natural[i];
    }
    return naming;
}

using InterfaceClasses = std::vector<std::pair<GUID, std::vector<std::size_t>>>;

// The interface classes, each with its devices in machine order.
InterfaceClasses ClassesOf(const Machine& machine) {
    InterfaceClasses classes;
    for (std::size_t i = 0; i < machine.devices.size(); ++i) {
        for (const DeviceInterface& iface : machine.devices[i].interfaces) {
            auto found = std::find_if(classes.begin(), classes.end(), [&](const auto& entry) {
                return win::SameGuid(entry.first, iface.classGuid);
            });
            if (found == classes.end()) {
                classes.push_back({iface.classGuid, {}});
                found = classes.end() - 1;
            }
            if (found->second.empty() || found->second.back() != i) {
                found->second.push_back(i);
            }
        }
    }
    return classes;
}

// A class whose devices' names would not list them in machine order takes ordinal
// names for all of them. True when a name changed.
bool OrdinalWhereOutOfOrder(Naming& naming, const InterfaceClasses& classes) {
    bool changed = false;
    for (const auto& [interfaceClass, members] : classes) {
        bool inOrder = true;
        for (std::size_t k = 0; k < members.size() && inOrder; ++k) {
            inOrder = !naming.ordinal[members[k]] &&
                      (k == 0 || SortKey(naming.Name(members[k - 1]), interfaceClass) <
                                     SortKey(naming.Name(members[k]), interfaceClass));
        }
        const bool allOrdinal = std::all_of(members.begin(), members.end(),
                                            [&](std::size_t i) { return naming.ordinal[i]; });
        if (!inOrder && !allOrdinal) {
            for (std::size_t i : members) {
                naming.ordinal[i] = true;
            }
            changed = true;
        }
    }
    return changed;
}

// Wine tells devices apart by ID without regard to case. Ordinal names differ among
// themselves, so a name taken twice always has a natural holder. True when a name
// changed.
bool OrdinalWhereTaken(Naming& naming) {
    bool changed = false;
    std::map<std::wstring, std::vector<std::size_t>> holders;
    for (std::size_t i = 0; i < naming.ordinal.size(); ++i) {
        holders[UpperCase(naming.Name(i))].push_back(i);
    }
    for (const auto& [key, indices] : holders) {
        for (std::size_t i : indices) {
            if (indices.size() > 1 && !naming.ordinal[i]) {
                naming.ordinal[i] = true;
                changed = true;
            }
        }
    }
    return changed;
}

}  // namespace

std::wstring WineInterfacePath(std::wstring_view instanceId, const GUID& interfaceClass) {
    std::wstring body(instanceId);
    std::replace(body.begin(), body.end(), L'\\', L'#');
    return L"\\\\?\\" + LowerCase(body) + GuidSuffix(interfaceClass);
}

std::vector<WineDeviceName> WineDeviceNames(const Machine& machine) {
    Naming naming = NaturalNames(machine);
    const InterfaceClasses classes = ClassesOf(machine);
    // Each pass only moves devices to ordinal names, so this ends within one pass per
    // device.
    for (bool changed = true; changed;) {
        changed = OrdinalWhereOutOfOrder(naming, classes);
        changed = OrdinalWhereTaken(naming) || changed;
    }
    std::vector<WineDeviceName> names(machine.devices.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        names[i].instanceId = naming.Name(i);
        for (const DeviceInterface& iface : machine.devices[i].interfaces) {
            if (iface.path) {
                names[i].interfacePath = WineInterfacePath(names[i].instanceId, iface.classGuid);
            }
            break;
        }
    }
    return names;
}

void UseWineInterfacePaths(Machine& machine) {
    const std::vector<WineDeviceName> names = WineDeviceNames(machine);
    for (std::size_t i = 0; i < machine.devices.size(); ++i) {
        for (DeviceInterface& iface : machine.devices[i].interfaces) {
            if (iface.path) {
                iface.path = WineInterfacePath(names[i].instanceId, iface.classGuid);
            }
        }
    }
}

void UseWinePlatform(Machine& machine) {
    UseWineInterfacePaths(machine);
    for (Disk& disk : machine.disks) {
        Drive* drive = DriveOfDisk(machine, disk);
        const bool refuseAll = !disk.openable;
        const bool refusePhysical = drive != nullptr && drive->faults.denyOpen;
        if (!refuseAll && !refusePhysical) {
            continue;
        }
        disk.openable = true;
        if (drive != nullptr) {
            drive->faults.denyOpen = false;
        }
        disk.io = [refuseAll, refusePhysical](IoCall& call) {
            if (refuseAll || (refusePhysical && IsPhysicalDrivePath(call.path))) {
                return static_cast<DWORD>(ERROR_ACCESS_DENIED);
            }
            return StandardIo(call);
        };
    }
    for (Controller& controller : machine.controllers) {
        if (!controller.openable) {
            controller.openable = true;
            controller.io = [](IoCall&) { return static_cast<DWORD>(ERROR_ACCESS_DENIED); };
        }
    }
    machine.platform = Platform::Wine;
}

}  // namespace sim
