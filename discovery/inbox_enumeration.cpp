#include <cstdio>
#include <string>

#include "discovery/device_setup.h"
#include "discovery/discovery.h"
#include "discovery/disk_walk.h"
#include "drivers/device_io.h"
#include "drivers/storage_requests.h"

namespace {

constexpr wchar_t kMakerVendorToken[] = L"VEN_7C1E";
constexpr wchar_t kNvmeHardwareIdToken[] = L"NVMe";

std::wstring PhysicalDrivePath(std::uint32_t deviceNumber) {
    wchar_t path[260];
    std::swprintf(path, 260, L"\\\\.\\PHYSICALDRIVE%d", static_cast<int>(deviceNumber));
    return path;
}

}  // namespace

bool EnumerateInboxDisks(DiskList& disks) {
    return ForEachDiskBelow(kMakerVendorToken, [&](HDEVINFO set, SP_DEVINFO_DATA& element) {
        const auto hardwareIds = ReadHardwareIds(set, &element);
        if (!hardwareIds) {
            return true;
        }
        for (const std::wstring& hardwareId : *hardwareIds) {
            if (!Contains(hardwareId, kNvmeHardwareIdToken)) {
                continue;
            }
            std::wstring instanceId;
            if (!ReadDevicePropertyText(set, &element, win::DEVPKEY_Device_InstanceId,
                                        instanceId)) {
                continue;
            }
            const auto interfacePath =
                ReadElementInterfacePath(set, element, win::GUID_DEVINTERFACE_DISK);
            if (!interfacePath) {
                continue;
            }
            DeviceHandle disk =
                DeviceHandle::Open(*interfacePath, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
            if (!disk.IsOpen()) {
                // Without the right to open disks none of the later ones would open
                // either: stop here.
                return false;
            }
            std::uint32_t deviceNumber = 0;
            if (QueryDeviceNumber(disk.Get(), deviceNumber)) {
                DiskInfo found;
                found.devicePath = PhysicalDrivePath(deviceNumber);
                found.pathId = -1;
                found.driverKind = Inbox;
                disks.push_back(found);
            }
            break;
        }
        return true;
    });
}
