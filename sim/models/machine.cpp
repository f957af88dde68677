#include "sim/models/machine.h"

#include <algorithm>

namespace sim {

Device* FindDevice(Machine& machine, DEVINST devInst) {
    for (Device& device : machine.devices) {
        if (device.devInst == devInst) {
            return &device;
        }
    }
    return nullptr;
}

Device& AddDevice(Machine& machine, const GUID& classGuid) {
    // Device-node handles are small numbers without meaning; spacing them apart keeps
    // a DevInst from ever equalling an element's position by accident. Numbers rise in
    // device order, so the last device holds the highest: searching every device for
    // it made building a large machine quadratic.
    const DEVINST next = machine.devices.empty()
                             ? 0x21
                             : std::max<DEVINST>(0x21, machine.devices.back().devInst + 7);
    Device& device = machine.devices.emplace_back();
    device.devInst = next;
    device.classGuid = classGuid;
    return device;
}

const std::wstring* FindProperty(const Device& device, const DEVPROPKEY& key) {
    for (const DeviceProperty& property : device.properties) {
        if (win::SameKey(property.key, key)) {
            return &property.text;
        }
    }
    return nullptr;
}

void SetProperty(Device& device, const DEVPROPKEY& key, std::optional<std::wstring> text) {
    auto found = std::find_if(device.properties.begin(), device.properties.end(),
                              [&](const DeviceProperty& p) { return win::SameKey(p.key, key); });
    if (!text) {
        if (found != device.properties.end()) {
            device.properties.erase(found);
        }
        return;
    }
    if (found != device.properties.end()) {
        found->text = std::move(*text);
    } else {
        device.properties.push_back(DeviceProperty{key, std::move(*text)});
    }
}

Drive* DriveOfDisk(Machine& machine, const Disk& disk) {
    if (!disk.drive || *disk.drive >= machine.drives.size()) {
        return nullptr;
    }
    return &machine.drives[*disk.drive];
}

Drive* DriveAtPath(Machine& machine, const Controller& controller, std::uint8_t pathNumber) {
    auto found = controller.drives.find(pathNumber);
    if (found == controller.drives.end() || found->second >= machine.drives.size()) {
        return nullptr;
    }
    return &machine.drives[found->second];
}

void RecordProtocolError(Machine& machine, Drive* drive, std::string text) {
    if (drive != nullptr) {
        drive->protocolErrors.push_back(std::move(text));
    } else {
        machine.protocolErrors.push_back(std::move(text));
    }
}

DWORD OpenRefusal(Machine& machine, const DeviceTarget& target, bool physicalDrivePath) {
    switch (target.kind) {
        case DeviceTarget::Kind::Disk: {
            if (target.index >= machine.disks.size()) {
                return ERROR_FILE_NOT_FOUND;
            }
            const Disk& disk = machine.disks[target.index];
            const Drive* drive = DriveOfDisk(machine, disk);
            if (!disk.openable ||
                (physicalDrivePath && drive != nullptr && drive->faults.denyOpen)) {
                return ERROR_ACCESS_DENIED;
            }
            return ERROR_SUCCESS;
        }
        case DeviceTarget::Kind::Controller:
            if (target.index >= machine.controllers.size()) {
                return ERROR_FILE_NOT_FOUND;
            }
            return machine.controllers[target.index].openable ? 0 : ERROR_ACCESS_DENIED;
        case DeviceTarget::Kind::Unset:
            return ERROR_SUCCESS;
    }
    return ERROR_SUCCESS;
}

}  // namespace sim
