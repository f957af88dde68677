// Turning a read scenario into a machine: defaults that make a short scenario a real
// machine, references resolved, and the PnP device tree with the property values a
// Windows machine shows for each kind of disk.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "sim/models/text.h"
#include "sim/scenario/scenario_draft.h"

namespace sim {
namespace {

constexpr std::string_view kMakerModel = "KORVANE QZRX4C7 1TB";
constexpr std::string_view kBaseRevision = "QZT2VKLA";
// The model another maker's disk shows in its identifiers when it has no drive record.
constexpr std::string_view kOtherModel = "ALDERWEN NV3 512GB";

constexpr std::wstring_view kRstDescription = L"Intel(R) Chipset SATA/PCIe RST Premium Controller";
constexpr std::wstring_view kPciRoot = L"ACPI\\PNP0A08\\0";

std::wstring Hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return utf8::FromLatin1(text);
}

std::wstring Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return utf8::FromLatin1(text);
}

std::wstring Decimal(std::uint64_t value) {
    return utf8::FromLatin1(std::to_string(value));
}

// The symbolic link Windows derives from an instance ID for an interface class.
std::wstring InterfacePath(const std::wstring& instanceId, const GUID& interfaceClass) {
    std::wstring body = instanceId;
    std::replace(body.begin(), body.end(), L'\\', L'#');
    return L"\\\\?\\" + LowerCase(body) + L"#" +
           LowerCase(utf8::FromLatin1(GuidText(interfaceClass)));
}

// A model text as identifiers carry it: trailing blanks dropped, inner blanks as '_'.
std::wstring IdentifierToken(std::wstring text, std::size_t maxLength) {
    if (text.size() > maxLength) {
        text.resize(maxLength);
    }
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\0')) {
        text.pop_back();
    }
    // As Windows builds device identifiers from inquiry data: anything that is not a
    // printable ASCII character, and the comma, becomes an underscore.
    for (wchar_t& c : text) {
        if (c <= L' ' || c > L'~' || c == L',') {
            c = L'_';
        }
    }
    return text;
}

std::wstring ControllerInstanceId(std::size_t index) {
    // Intel's storage controller on PCI device 23, function 0.
    return L"PCI\\VEN_8086&DEV_2822&SUBSYS_0A8C8086&REV_00\\3&" +
           Hex8(0x11583659u + static_cast<std::uint32_t>(index)) + L"&0&B8";
}

std::vector<std::wstring> PciHardwareIds(const std::wstring& instanceId) {
    const std::wstring full = instanceId.substr(0, instanceId.find(L'\\'));
    std::vector<std::wstring> ids{full};
    const std::size_t rev = full.find(L"&REV_");
    if (rev != std::wstring::npos) {
        ids.push_back(full.substr(0, rev));
    }
    return ids;
}

struct DiskTexts {
    std::wstring parent;
    std::wstring instanceId;
    std::wstring locationInfo;
    std::vector<std::wstring> hardwareIds;
};

std::vector<std::wstring> NvmeDiskHardwareIds(const std::wstring& model,
                                              const std::wstring& revision) {
    const std::wstring product = IdentifierToken(model, model.size());
    const std::wstring rev4 = IdentifierToken(revision.substr(0, 4), 4);
    const std::wstring rev1 = revision.substr(0, 1);
    return {L"SCSI\\DiskNVMe____" + product + rev4,
            L"SCSI\\DiskNVMe____" + product,
            L"SCSI\\DiskNVMe____",
            L"SCSI\\NVMe____" + product + rev1,
            L"NVMe____" + product + rev1,
            L"GenDisk"};
}

DiskTexts DefaultDiskTexts(const Machine& machine, const Disk& disk, std::size_t diskIndex,
                           const std::vector<std::wstring>& controllerIds) {
    DiskTexts texts;
    const std::wstring unique =
        Hex8(0x2B6A5E0Cu + 0x01F3A7B1u * static_cast<std::uint32_t>(diskIndex));
    std::wstring model = utf8::FromLatin1(kOtherModel);
    std::wstring revision = L"2B0QALD1";
    if (disk.drive) {
        const Drive& drive = machine.drives[*disk.drive];
        model = utf8::FromLatin1(drive.modelNumber);
        revision = utf8::FromLatin1(drive.firmwareRevision);
    } else if (disk.attach != Attach::Other) {
        model = utf8::FromLatin1(kMakerModel);
        revision = utf8::FromLatin1(kBaseRevision);
    }
    const std::wstring product = UpperCase(IdentifierToken(model, 16));
    texts.locationInfo = L"Bus Number 0, Target Id 0, LUN 0";
    // Every kind but a RAID volume shows the NVMe drive it reaches.
    texts.instanceId = L"SCSI\\DISK&VEN_NVME&PROD_" + product + L"\\5&" + unique + L"&0&000000";
    texts.hardwareIds = NvmeDiskHardwareIds(model, revision);
    const std::uint32_t parentStep = 0x010F2E3Du * static_cast<std::uint32_t>(diskIndex);
    const std::wstring controllerId = disk.controller ? controllerIds[*disk.controller] : L"";
    switch (disk.attach) {
        case Attach::Inbox:
            texts.parent = L"PCI\\VEN_7C1E&DEV_5216&SUBSYS_52161C7E&REV_01\\4&" +
                           Hex8(0x1A2B3C4Du + parentStep) + L"&0&00E8";
            break;
        case Attach::Other:
            texts.parent = L"PCI\\VEN_1F3B&DEV_0E21&SUBSYS_00011F3B&REV_03\\4&" +
                           Hex8(0x3C4D5E6Fu + parentStep) + L"&0&0008";
            break;
        case Attach::Rst:
            texts.parent = controllerId;
            texts.instanceId = L"SCSI\\DISK&VEN_NVME&PROD_" + product + L"\\5&" + unique + L"&0&" +
                               Hex2(static_cast<unsigned>(disk.pathId)) + L"0000";
            texts.locationInfo = L"Bus Number " + Decimal(static_cast<std::uint64_t>(disk.pathId)) +
                                 L", Target Id 0, LUN 0";
            break;
        case Attach::RaidVolume: {
            const bool mirror = disk.controller && disk.raidSet >= 0 &&
                                machine.controllers[*disk.controller]
                                        .raidSets[static_cast<std::size_t>(disk.raidSet)]
                                        .size() == 2;
            const std::wstring name = mirror ? L"Raid_1_Volume" : L"Raid_0_Volume";
            texts.parent = controllerId;
            texts.instanceId = L"SCSI\\DISK&VEN_INTEL&PROD_" + UpperCase(name) + L"\\5&" + unique +
                               L"&0&0" + Hex2(static_cast<unsigned>(std::max(disk.raidSet, 0))) +
                               L"000";
            texts.hardwareIds = {L"SCSI\\DiskIntel___" + name + L"____1.0.",
                                 L"SCSI\\DiskIntel___" + name + L"____",
                                 L"SCSI\\DiskIntel___",
                                 L"SCSI\\Intel___" + name + L"____1",
                                 L"Intel___" + name + L"____1",
                                 L"GenDisk"};
            break;
        }
    }
    return texts;
}

template <typename T>
std::optional<T> Resolve(const Override<T>& override, T fallback) {
    if (override.given) {
        return override.value;
    }
    return fallback;
}

class Assembler {
  public:
    std::string error;

    bool Run(ScenarioDraft& draft, Machine& m) {
        m.localTime = draft.localTime;
        m.moduleHandleFails = draft.moduleHandleFails;
        return ResolveControllers(draft) && ControllerDrives(draft) && Drives(draft, m) &&
               DeviceNumbers(draft, m) && Devices(draft, m);
    }

  private:
    bool Fail(const std::string& place, const std::string& problem) {
        error = place + ": " + problem;
        return false;
    }

    bool ResolveControllers(const ScenarioDraft& draft) {
        std::map<std::string, std::size_t> byId;
        for (std::size_t c = 0; c < draft.controllers.size(); ++c) {
            byId.emplace(draft.controllers[c].id, c);
        }
        diskController_.assign(draft.disks.size(), std::nullopt);
        disksOf_.assign(draft.controllers.size(), {});
        for (std::size_t d = 0; d < draft.disks.size(); ++d) {
            const DiskDraft& disk = draft.disks[d];
            if (!disk.controllerId) {
                continue;
            }
            const auto found = byId.find(*disk.controllerId);
            if (found == byId.end()) {
                return Fail(disk.place + ".controller",
                            "no controller with id \"" + *disk.controllerId + "\"");
            }
            diskController_[d] = found->second;
            disksOf_[found->second].push_back(d);
        }
        return true;
    }

    // How a controller's path numbers are taken while its drives are settled.
    struct PathUse {
        std::set<std::uint8_t> members;
        std::map<std::uint8_t, std::string> singles;  // path -> the disk using it
        std::vector<std::size_t> volumes;             // its RAID volume disks, in order

        // The lowest path of a given drive not used yet, else the lowest unused path.
        std::optional<std::uint8_t> Free(const ControllerDraft& controller) const {
            for (const auto& [path, drive] : controller.drives) {
                if (members.count(path) == 0 && singles.count(path) == 0) {
                    return path;
                }
            }
            for (unsigned path = 0; path <= 255; ++path) {
                const auto p = static_cast<std::uint8_t>(path);
                if (members.count(p) == 0 && singles.count(p) == 0 &&
                    controller.drives.count(p) == 0) {
                    return p;
                }
            }
            return std::nullopt;
        }
    };

    // Path numbers of single disks, RAID sets and the drives behind each controller;
    // drives a scenario leaves out are added with defaults, where the draft wants them.
    bool ControllerDrives(ScenarioDraft& draft) {
        pathIds_.assign(draft.disks.size(), -1);
        raidSetOf_.assign(draft.disks.size(), -1);
        for (std::size_t c = 0; c < draft.controllers.size(); ++c) {
            ControllerDraft& controller = draft.controllers[c];
            PathUse use;
            if (!GivenPaths(draft, c, use) || !DefaultRaidSets(draft, controller, use) ||
                !FreeSinglePaths(draft, c, use)) {
                return false;
            }
            for (std::size_t v = 0; v < use.volumes.size() && v < controller.raidSets->size();
                 ++v) {
                raidSetOf_[use.volumes[v]] = static_cast<std::int32_t>(v);
            }
            if (!MoveInlineDrives(draft, c)) {
                return false;
            }
            if (controller.defaultDrives) {
                AddDefaultDrives(controller, use);
            }
        }
        return true;
    }

    // The RAID members a scenario gives, its volumes, and the paths its single disks name.
    bool GivenPaths(const ScenarioDraft& draft, std::size_t c, PathUse& use) {
        const ControllerDraft& controller = draft.controllers[c];
        if (controller.raidSets) {
            for (const auto& set : *controller.raidSets) {
                use.members.insert(set.begin(), set.end());
            }
        }
        for (const std::size_t d : disksOf_[c]) {
            const DiskDraft& disk = draft.disks[d];
            if (disk.attach == Attach::RaidVolume) {
                use.volumes.push_back(d);
            }
            if (disk.attach != Attach::Rst || !disk.pathId) {
                continue;
            }
            if (use.singles.count(*disk.pathId) != 0 && !draft.pathsMayRepeat) {
                return Fail(disk.place + ".pathId", "path " + std::to_string(*disk.pathId) +
                                                        " of controller \"" + controller.id +
                                                        "\" is already used by " +
                                                        use.singles[*disk.pathId]);
            }
            use.singles[*disk.pathId] = disk.place;
            pathIds_[d] = *disk.pathId;
        }
        return true;
    }

    bool NoFreePath(const std::string& place, const ControllerDraft& controller) {
        return Fail(place, "controller \"" + controller.id + "\" has no free path number left");
    }

    // Without RAID sets given, each volume is a mirror of two drives: given drives not
    // used otherwise first, then new ones.
    bool DefaultRaidSets(const ScenarioDraft& draft, ControllerDraft& controller, PathUse& use) {
        if (controller.raidSets) {
            return true;
        }
        controller.raidSets.emplace();
        for (const std::size_t volume : use.volumes) {
            std::vector<std::uint8_t> set;
            for (int k = 0; k < 2; ++k) {
                const auto path = use.Free(controller);
                if (!path) {
                    return NoFreePath(draft.disks[volume].place, controller);
                }
                use.members.insert(*path);
                set.push_back(*path);
            }
            controller.raidSets->push_back(std::move(set));
        }
        return true;
    }

    // A single disk that names no path takes a free one.
    bool FreeSinglePaths(const ScenarioDraft& draft, std::size_t c, PathUse& use) {
        const ControllerDraft& controller = draft.controllers[c];
        for (const std::size_t d : disksOf_[c]) {
            const DiskDraft& disk = draft.disks[d];
            if (disk.attach != Attach::Rst || disk.pathId) {
                continue;
            }
            const auto path = use.Free(controller);
            if (!path) {
                return NoFreePath(disk.place, controller);
            }
            use.singles[*path] = disk.place;
            pathIds_[d] = *path;
        }
        return true;
    }

    // A single disk's inline drive is the controller's drive at its path.
    bool MoveInlineDrives(ScenarioDraft& draft, std::size_t c) {
        ControllerDraft& controller = draft.controllers[c];
        for (const std::size_t d : disksOf_[c]) {
            DiskDraft& disk = draft.disks[d];
            if (disk.attach != Attach::Rst || !disk.drive) {
                continue;
            }
            const auto path = static_cast<std::uint8_t>(pathIds_[d]);
            if (controller.drives.count(path) != 0) {
                return Fail(disk.place + ".drive",
                            "controller \"" + controller.id + "\" already has a drive at path " +
                                std::to_string(path) + " (" + controller.drives[path].place + ")");
            }
            controller.drives.emplace(path, std::move(*disk.drive));
            disk.drive.reset();
        }
        return true;
    }

    void AddDefaultDrives(ControllerDraft& controller, const PathUse& use) {
        std::set<std::uint8_t> needed = use.members;
        for (const auto& [path, place] : use.singles) {
            needed.insert(path);
        }
        for (std::uint8_t path : needed) {
            if (controller.drives.count(path) == 0) {
                DriveDraft drive;
                drive.place = controller.place + ".drives." + std::to_string(path);
                drive.drive = DefaultDrive();
                controller.drives.emplace(path, std::move(drive));
            }
        }
    }

    bool AddDrive(DriveDraft& draft, const std::string& defaultId, Machine& m) {
        if (!draft.hasId) {
            draft.drive.id = defaultId;
        }
        const auto [earlier, fresh] = driveIds_.emplace(draft.drive.id, draft.place);
        if (!fresh) {
            return Fail(
                draft.hasId ? draft.place + ".id" : draft.place,
                "drive id \"" + draft.drive.id + "\" is already used by " + earlier->second);
        }
        if (!draft.hasSerial) {
            char serial[24];
            std::snprintf(serial, sizeof serial, "KV2311%06u",
                          static_cast<unsigned>(m.drives.size() + 1));
            FillText(draft.drive.serialNumber, serial);
        }
        m.drives.push_back(std::move(draft.drive));
        return true;
    }

    bool Drives(ScenarioDraft& draft, Machine& m) {
        for (std::size_t c = 0; c < draft.controllers.size(); ++c) {
            ControllerDraft& given = draft.controllers[c];
            Controller& controller = m.controllers.emplace_back();
            controller.id = given.id;
            controller.openable = given.openable;
            controller.raidSets = *given.raidSets;
            controller.raidConfigFaults = given.raidConfigFaults;
            for (auto& [path, drive] : given.drives) {
                if (!AddDrive(drive, given.id + ":" + std::to_string(path), m)) {
                    return false;
                }
                controller.drives[path] = m.drives.size() - 1;
            }
        }
        for (std::size_t d = 0; d < draft.disks.size(); ++d) {
            DiskDraft& given = draft.disks[d];
            Disk& disk = m.disks.emplace_back();
            disk.attach = given.attach;
            disk.controller = diskController_[d];
            disk.pathId = pathIds_[d];
            disk.raidSet = raidSetOf_[d];
            disk.openable = given.openable;
            disk.deviceNumberFault = given.deviceNumberFault;
            if (!given.drive && given.attach == Attach::Inbox && given.defaultDrive) {
                given.drive.emplace();
                given.drive->place = given.place;
                given.drive->drive = DefaultDrive();
            }
            if (given.drive) {
                if (!AddDrive(*given.drive, given.place, m)) {
                    return false;
                }
                disk.drive = m.drives.size() - 1;
            } else if (given.attach == Attach::Rst && disk.controller) {
                const auto& drives = m.controllers[*disk.controller].drives;
                const auto found = drives.find(static_cast<std::uint8_t>(disk.pathId));
                if (found != drives.end()) {
                    disk.drive = found->second;
                }
            }
        }
        return true;
    }

    bool DeviceNumbers(const ScenarioDraft& draft, Machine& m) {
        std::map<DWORD, std::string> used;
        for (std::size_t d = 0; d < draft.disks.size(); ++d) {
            const auto& number = draft.disks[d].deviceNumber;
            if (!number.given || !number.value) {
                continue;
            }
            if (used.count(*number.value) != 0 && !draft.deviceNumbersMayRepeat) {
                return Fail(
                    draft.disks[d].place + ".deviceNumber",
                    std::to_string(*number.value) + " is already used by " + used[*number.value]);
            }
            used[*number.value] = draft.disks[d].place;
            m.disks[d].deviceNumber = *number.value;
        }
        DWORD next = 0;
        for (std::size_t d = 0; d < draft.disks.size(); ++d) {
            if (draft.disks[d].deviceNumber.given) {
                continue;
            }
            while (used.count(next) != 0) {
                ++next;
            }
            used[next] = draft.disks[d].place;
            m.disks[d].deviceNumber = next;
        }
        return true;
    }

    bool Devices(const ScenarioDraft& draft, Machine& m) {
        ControllerDevices(draft, m);
        std::vector<DiskTexts> texts;
        for (std::size_t d = 0; d < draft.disks.size(); ++d) {
            texts.push_back(DefaultDiskTexts(m, m.disks[d], d, controllerIds_));
        }
        ParentNodes(draft, texts, m);
        DiskDevices(draft, texts, m);
        return true;
    }

    void ControllerDevices(const ScenarioDraft& draft, Machine& m) {
        for (std::size_t c = 0; c < draft.controllers.size(); ++c) {
            const ControllerDraft& given = draft.controllers[c];
            const std::wstring defaultId = ControllerInstanceId(c);
            const std::optional<std::wstring> instanceId = Resolve(given.instanceId, defaultId);
            controllerIds_.push_back(instanceId.value_or(defaultId));
            controllerSet_.insert(controllerIds_.back());
            if (instanceId) {
                instances_.insert(UpperCase(*instanceId));
            }
            Device& device = AddDevice(m, GUID_DEVCLASS_SCSIADAPTER);
            SetProperty(device, win::DEVPKEY_Device_InstanceId, instanceId);
            SetProperty(device, win::DEVPKEY_Device_DriverDesc,
                        Resolve(given.driverDescription, std::wstring(kRstDescription)));
            SetProperty(device, win::DEVPKEY_Device_Parent, std::wstring(kPciRoot));
            SetProperty(device, win::DEVPKEY_Device_LocationInfo,
                        std::wstring(L"PCI bus 0, device 23, function 0"));
            device.hardwareIds = PciHardwareIds(controllerIds_.back());
            device.interfaces.push_back(
                {win::GUID_DEVINTERFACE_STORAGEPORT,
                 Resolve(given.path, InterfacePath(controllerIds_.back(),
                                                   win::GUID_DEVINTERFACE_STORAGEPORT))});
            device.target = {DeviceTarget::Kind::Controller, c};
            device.propertyFaults = given.propertyFaults;
            m.controllers[c].device = m.devices.size() - 1;
        }
    }

    // The controllers the inbox and other-maker disks hang from: device nodes without
    // a storage-port interface of their own here.
    void ParentNodes(const ScenarioDraft& draft, const std::vector<DiskTexts>& texts, Machine& m) {
        for (std::size_t d = 0; d < draft.disks.size(); ++d) {
            const std::optional<std::wstring> parent =
                Resolve(draft.disks[d].parent, texts[d].parent);
            if (!parent || parent->empty() || controllerSet_.count(*parent) != 0 ||
                !instances_.insert(UpperCase(*parent)).second) {
                continue;
            }
            Device& node = AddDevice(m, GUID_DEVCLASS_SCSIADAPTER);
            SetProperty(node, win::DEVPKEY_Device_InstanceId, *parent);
            SetProperty(node, win::DEVPKEY_Device_DriverDesc,
                        std::wstring(L"Standard NVM Express Controller"));
            SetProperty(node, win::DEVPKEY_Device_Parent, std::wstring(kPciRoot));
            SetProperty(node, win::DEVPKEY_Device_LocationInfo,
                        L"PCI bus " + Decimal(m.devices.size()) + L", device 0, function 0");
            node.hardwareIds = PciHardwareIds(*parent);
        }
    }

    void DiskDevices(const ScenarioDraft& draft, const std::vector<DiskTexts>& texts, Machine& m) {
        for (std::size_t d = 0; d < draft.disks.size(); ++d) {
            const DiskDraft& given = draft.disks[d];
            const std::optional<std::wstring> instanceId =
                Resolve(given.instanceId, texts[d].instanceId);
            Device& device = AddDevice(m, GUID_DEVCLASS_DISKDRIVE);
            SetProperty(device, win::DEVPKEY_Device_InstanceId, instanceId);
            SetProperty(device, win::DEVPKEY_Device_Parent, Resolve(given.parent, texts[d].parent));
            SetProperty(device, win::DEVPKEY_Device_LocationInfo,
                        Resolve(given.locationInfo, texts[d].locationInfo));
            SetProperty(device, win::DEVPKEY_Device_DriverDesc, std::wstring(L"Disk drive"));
            device.hardwareIds = Resolve(given.hardwareIds, texts[d].hardwareIds);
            device.interfaces.push_back(
                {win::GUID_DEVINTERFACE_DISK,
                 Resolve(given.interfacePath,
                         InterfacePath(instanceId.value_or(texts[d].instanceId),
                                       win::GUID_DEVINTERFACE_DISK))});
            device.target = {DeviceTarget::Kind::Disk, d};
            device.propertyFaults = given.propertyFaults;
            m.disks[d].device = m.devices.size() - 1;
        }
    }

    std::vector<std::optional<std::size_t>> diskController_;
    std::vector<std::int32_t> pathIds_;
    std::vector<std::int32_t> raidSetOf_;
    std::vector<std::vector<std::size_t>> disksOf_;  // by controller: its disks, in order
    std::map<std::string, std::string> driveIds_;    // drive id -> where it was given
    // Controllers' instance IDs: also the parents of the disks behind them, readable
    // or not; and as a set.
    std::vector<std::wstring> controllerIds_;
    std::unordered_set<std::wstring> controllerSet_;
    // Instance IDs of the devices so far as Windows compares them (without regard to
    // case).
    std::unordered_set<std::wstring> instances_;
};

}  // namespace

void FillText(std::span<std::uint8_t> field, std::string_view text) {
    for (std::size_t i = 0; i < field.size(); ++i) {
        field[i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0x20;
    }
}

Drive DefaultDrive() {
    Drive drive;
    FillText(drive.serialNumber, "");
    FillText(drive.modelNumber, kMakerModel);
    FillText(drive.firmwareRevision, kBaseRevision);
    drive.version = 0x00010300;
    drive.fwug = 8;
    drive.upgradeSupport = true;
    drive.slots = {FirmwareSlot{1, true, {}, std::nullopt},
                   FirmwareSlot{2, false, {}, std::nullopt},
                   FirmwareSlot{3, false, {}, std::nullopt}};
    drive.activeSlot = 1;
    drive.slots[0].revision = drive.firmwareRevision;
    drive.activation = Activation::PowerCycle;
    drive.revisionAfterPowerCycle = drive.firmwareRevision;
    return drive;
}

bool AssembleMachine(ScenarioDraft draft, Machine& out, std::string& error) {
    Assembler assembler;
    Machine machine;
    if (!assembler.Run(draft, machine)) {
        error = assembler.error;
        return false;
    }
    out = std::move(machine);
    return true;
}

}  // namespace sim
