#include <climits>
#include <cstdint>
#include <string>

#include "discovery/device_setup.h"
#include "discovery/discovery.h"
#include "discovery/disk_walk.h"
#include "drivers/device_io.h"

namespace {

constexpr wchar_t kIntelVendorToken[] = L"VEN_8086";
constexpr wchar_t kRaidVendorToken[] = L"VEN_INTEL";
constexpr wchar_t kRaidProductToken[] = L"PROD_RAID";
constexpr wchar_t kBusNumberToken[] = L"Bus Number ";
constexpr DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
constexpr DWORD kAllPresentDevices = DIGCF_PRESENT | DIGCF_ALLCLASSES;

// Upper case as the "C" locale has it: a to z only.
std::wstring UpperCaseAscii(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return text;
}

bool IsRstDescription(const std::wstring& description) {
    return Contains(description, L"Intel") && Contains(description, L"Controller") &&
           (Contains(description, L"RST") || Contains(description, L"RAID"));
}

// A decimal number as the runtime's wcstol reads it in base 10: leading white space,
// an optional sign, digits up to the first other character; no digits give 0. A
// value beyond the 32-bit range saturates, as it does where long has 32 bits.
std::int32_t ParseDecimal(const std::wstring& text, std::size_t position) {
    while (position < text.size() &&
           (text[position] == L' ' || (text[position] >= L'\t' && text[position] <= L'\r'))) {
        ++position;
    }
    bool negative = false;
    if (position < text.size() && (text[position] == L'+' || text[position] == L'-')) {
        negative = text[position] == L'-';
        ++position;
    }
    std::int64_t value = 0;
    for (; position < text.size() && text[position] >= L'0' && text[position] <= L'9'; ++position) {
        value = value * 10 + (text[position] - L'0');
        if (value > static_cast<std::int64_t>(INT32_MAX) + 1) {
            value = static_cast<std::int64_t>(INT32_MAX) + 1;
        }
    }
    if (negative) {
        return static_cast<std::int32_t>(-value);
    }
    return value > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(value);
}

// "Bus Number 2, Target Id 0, LUN 0" gives 2: the number after the second blank of
// the text's first comma-separated part. A text without that second blank gives -1.
std::int32_t BusNumberFromLocation(std::wstring location) {
    const std::size_t comma = location.find(L',');
    if (comma != std::wstring::npos) {
        location.resize(comma);
    }
    const std::size_t firstBlank = location.find(L' ');
    if (firstBlank == std::wstring::npos) {
        return -1;
    }
    const std::size_t secondBlank = location.find(L' ', firstBlank + 1);
    if (secondBlank == std::wstring::npos) {
        return -1;
    }
    return ParseDecimal(location, secondBlank);
}

}  // namespace

std::int32_t ReadBusNumber(DEVINST devInst) {
    DeviceInfoSet set(win::GUID_DEVINTERFACE_DISK, kAllPresentDevices);
    if (!set.IsOpen()) {
        return -1;
    }
    SP_DEVINFO_DATA element{};
    for (DWORD index = 0; set.Element(index, element); ++index) {
        if (element.DevInst != devInst) {
            continue;
        }
        const auto location =
            ReadRawDeviceProperty(set.Get(), &element, win::DEVPKEY_Device_LocationInfo);
        if (!location || !Contains(*location, kBusNumberToken)) {
            return -1;
        }
        return BusNumberFromLocation(*location);
    }
    return -1;
}

bool DetectRstController(RstController& controller) {
    DeviceInfoSet set(win::GUID_DEVINTERFACE_STORAGEPORT, kPresentInterfaces);
    if (!set.IsOpen()) {
        return false;
    }
    SP_DEVINFO_DATA element{};
    if (!set.Element(0, element)) {
        return false;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        if (EnumInterface(set.Get(), win::GUID_DEVINTERFACE_STORAGEPORT, index, interfaceData)) {
            const auto path =
                ReadInterfaceDetail(set.Get(), interfaceData, &element, DetailRead::Once);
            if (!path) {
                return false;
            }
            if (Contains(UpperCaseAscii(*path), kIntelVendorToken)) {
                const auto description =
                    ReadRawDeviceProperty(set.Get(), &element, win::DEVPKEY_Device_DriverDesc);
                if (description && IsRstDescription(*description)) {
                    // Only the first matching controller counts. Opening it proves it
                    // answers; the handle is not kept.
                    DeviceHandle port =
                        DeviceHandle::Open(*path, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL);
                    if (!port.IsOpen()) {
                        return false;
                    }
                    controller.devicePath = *path;
                    return ReadDevicePropertyText(
                        set.Get(), &element, win::DEVPKEY_Device_InstanceId, controller.instanceId);
                }
            }
        }
        SP_DEVINFO_DATA next{};
        if (!set.Element(index + 1, next)) {
            return false;
        }
    }
}

bool EnumerateRstDisks(const RstController& controller, DiskList& disks) {
    return ForEachDiskBelow(kIntelVendorToken, [&](HDEVINFO set, SP_DEVINFO_DATA& element) {
        std::wstring instanceId;
        if (!ReadDevicePropertyText(set, &element, win::DEVPKEY_Device_InstanceId, instanceId)) {
            return true;
        }
        DiskInfo found;
        found.devicePath = controller.devicePath;
        if (Contains(instanceId, kRaidVendorToken) && Contains(instanceId, kRaidProductToken)) {
            // A RAID volume: its members are asked for later, through the controller.
            found.pathId = -1;
            found.driverKind = RstRaid;
            disks.push_back(found);
            return true;
        }

        SP_DEVINFO_DATA diskElement{};
        const auto path =
            ReadElementInterfacePath(set, element, win::GUID_DEVINTERFACE_DISK, &diskElement);
        if (!path) {
            return true;
        }
        DeviceHandle disk = DeviceHandle::Open(*path, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
        if (!disk.IsOpen()) {
            return false;
        }
        found.pathId = ReadBusNumber(diskElement.DevInst);
        found.driverKind = RstNvme;
        disks.push_back(found);
        return true;
    });
}
