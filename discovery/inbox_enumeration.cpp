#include <cstdio>
#include <string>

#include "discovery/device_setup.h"
#include "discovery/discovery.h"
#include "drivers/device_io.h"
#include "drivers/storage_requests.h"
#include "report/report.h"

namespace {

constexpr wchar_t kMakerVendorToken[] = L"VEN_7C1E";
constexpr wchar_t kNvmeHardwareIdToken[] = L"NVMe";

// The identifiers read here are plain ASCII; the text passes through the 8-bit form
// the rest of the tool's identifiers take. A character outside ASCII has no 8-bit
// form and becomes '?', and a text is cut at 255 characters.
std::string NarrowIdentifier(const std::wstring& text) {
    constexpr std::size_t kMaxCharacters = 255;
    std::string narrow;
    for (wchar_t unit : text) {
        if (unit == L'\0' || narrow.size() == kMaxCharacters) {
            break;
        }
        narrow.push_back(static_cast<std::uint32_t>(unit) < 0x80 ? static_cast<char>(unit) : '?');
    }
    return narrow;
}

std::wstring PhysicalDrivePath(std::uint32_t deviceNumber) {
    wchar_t path[260];
    std::swprintf(path, 260, L"\\\\.\\PHYSICALDRIVE%d", static_cast<int>(deviceNumber));
    return path;
}

}  // namespace

bool ReadDevicePropertyText(HDEVINFO set, SP_DEVINFO_DATA* element, const DEVPROPKEY& key,
                            std::wstring& text) {
    const std::optional<std::wstring> raw = ReadRawDeviceProperty(set, element, key);
    if (!raw) {
        return false;
    }
    const std::string narrow = NarrowIdentifier(*raw);
    text = Utf8ToWide(narrow.data(), narrow.size());
    return true;
}

bool EnumerateInboxDisks(DiskList& disks) {
    return ForEachDiskBelow(kMakerVendorToken, [&](HDEVINFO set, SP_DEVINFO_DATA& element,
                                                   DWORD index) {
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
            // The set holds one disk interface per disk, so the interface has the
            // element's index.
            const auto interfacePath = ReadInterfacePath(set, win::GUID_DEVINTERFACE_DISK, index);
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
