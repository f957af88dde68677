#include "bench/timing_platform.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cwchar>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/utf8.h"
#include "drivers/byte_layout.h"
#include "drivers/csmi_raid_config.h"
#include "drivers/firmware_request.h"
#include "drivers/miniport_firmware.h"
#include "drivers/nvme_identify.h"
#include "drivers/rst_firmware.h"
#include "drivers/rst_nvme_pass_through.h"
#include "drivers/srb_io_control.h"
#include "drivers/storage_requests.h"
#include "platform/win32.h"

namespace bench {
namespace {

constexpr std::uintptr_t kDiskHandleBase = 0x10000;
constexpr std::uintptr_t kControllerHandle = 0x20000;
// Device-information sets, by what they list.
constexpr std::uintptr_t kDiskInterfaceSet = 0x100;
constexpr std::uintptr_t kPortInterfaceSet = 0x200;
constexpr std::uintptr_t kAllDevicesSet = 0x300;
constexpr DEVINST kControllerDevInst = 500;
constexpr DEVINST kFirstDiskDevInst = 1000;
// SP_DEVINFO_DATA.Reserved of the controller's element; disks carry their index.
constexpr ULONG_PTR kControllerElement = 0xFFFF;

const wchar_t kControllerPath[] =
    L"\\\\?\\pci#ven_8086&dev_2822&subsys_0a8c8086&rev_00#3&11583659&0&b8#"
    L"{2accfe60-c130-11d2-b082-00a0c91efb8b}";
const wchar_t kControllerInstanceId[] =
    L"PCI\\VEN_8086&DEV_2822&SUBSYS_0A8C8086&REV_00\\3&11583659&0&B8";

struct BenchDisk {
    std::wstring parent;
    std::wstring instanceId;
    std::wstring hardwareIds;  // REG_MULTI_SZ, with its closing NUL
    std::wstring locationInfo;
    std::wstring interfacePath;
    DWORD deviceNumber = 0;
};

struct State {
    MachineShape shape;
    std::vector<BenchDisk> disks;
    std::vector<std::uint8_t> raidMembers;  // path numbers of RAID set 0
    std::unordered_map<std::wstring, std::uintptr_t> paths;
    Bytes identifyReply;  // the whole 4144-byte inbox query reply
    std::array<std::uint8_t, nvme::kIdentifyDataLength> identify{};
    Bytes firmwareInfo;  // STORAGE_FIRMWARE_INFO with its slot table
    Counts counts;
    DWORD lastError = 0;
    std::wstring commandLine = L"fwupdate.exe";
};

State& Machine() {
    static State state;
    return state;
}

std::wstring Hex8(std::uint32_t value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%08X", value);
    return text;
}

void Prepare(State& m) {
    const MachineShape& shape = m.shape;
    m.disks.clear();
    m.paths.clear();
    m.raidMembers.clear();
    m.counts = {};

    // Identify data: the maker's drive at the base revision, NVMe 1.3 with the shape's
    // granularity. Every drive answers the same bytes.
    m.identify.fill(0);
    auto put = [&](nvme::IdentifyField field, const char* text) {
        std::memset(m.identify.data() + field.offset, ' ', field.width);
        std::memcpy(m.identify.data() + field.offset, text, std::strlen(text));
    };
    put(nvme::kSerialNumber, "KV2311000001");
    put(nvme::kModelNumber, "KORVANE QZRX4C7 1TB");
    put(nvme::kFirmwareRevision, "QZT2VKLA");
    layout::PutU32(m.identify, offsetof(nvme::IdentifyControllerHead, VER), 0x00010300);  // 1.3
    layout::PutU8(m.identify, offsetof(nvme::IdentifyControllerHead, FWUG), shape.granularity);
    m.identifyReply = storage::BuildIdentifyQuery();
    std::copy(m.identify.begin(), m.identify.end(),
              storage::MutableIdentifyData(m.identifyReply).begin());

    fwreq::FirmwareInfo info;
    info.upgradeSupport = true;
    info.activeSlot = 1;
    info.pendingActivateSlot = 0xFF;
    info.slots = {{1, true, {}}, {2, false, {}}, {3, false, {}}};
    // Sized for the information: never refused, and left empty if it were.
    m.firmwareInfo.assign(fwreq::InfoLength(info.slots.size()), 0);
    if (!fwreq::WriteFirmwareInfo(m.firmwareInfo, 0, info)) {
        m.firmwareInfo.clear();
    }

    const std::size_t members = shape.path == Path::Rst ? RaidMembers(shape.drives) : 0;
    for (std::size_t i = 0; i < members; ++i) {
        m.raidMembers.push_back(static_cast<std::uint8_t>(i));
    }
    // One disk per inbox drive; behind RST, the RAID volume stands for its members.
    const std::size_t diskCount =
        shape.path == Path::Inbox ? shape.drives : shape.drives - members + (members > 0 ? 1 : 0);
    for (std::size_t i = 0; i < diskCount; ++i) {
        BenchDisk disk;
        const std::wstring unique = Hex8(0x2B6A5E0Cu + 0x01F3A7B1u * static_cast<std::uint32_t>(i));
        disk.deviceNumber = static_cast<DWORD>(i + 1);
        disk.locationInfo = L"Bus Number 0, Target Id 0, LUN 0";
        if (shape.path == Path::Inbox) {
            disk.parent =
                L"PCI\\VEN_7C1E&DEV_5216&SUBSYS_52161C7E&REV_01\\4&" + unique + L"&0&00E8";
            disk.instanceId =
                L"SCSI\\DISK&VEN_NVME&PROD_KORVANE_QZRX4C7\\5&" + unique + L"&0&000000";
        } else if (members > 0 && i == 0) {
            disk.parent = kControllerInstanceId;
            disk.instanceId =
                L"SCSI\\DISK&VEN_INTEL&PROD_RAID_1_VOLUME\\5&" + unique + L"&0&000000";
        } else {
            const std::size_t path = members + i - (members > 0 ? 1 : 0);
            disk.parent = kControllerInstanceId;
            disk.instanceId =
                L"SCSI\\DISK&VEN_NVME&PROD_KORVANE_QZRX4C7\\5&" + unique + L"&0&000000";
            disk.locationInfo = L"Bus Number " + std::to_wstring(path) + L", Target Id 0, LUN 0";
        }
        disk.hardwareIds = L"SCSI\\DiskNVMe____KORVANE_QZRX4C7QZT2";
        disk.hardwareIds.push_back(L'\0');
        disk.hardwareIds += L"GenDisk";
        disk.hardwareIds.push_back(L'\0');
        disk.hardwareIds.push_back(L'\0');
        disk.interfacePath = L"\\\\?\\scsi#disk&ven_nvme#5&" + unique + L"#" +
                             L"{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
        m.paths.emplace(disk.interfacePath, kDiskHandleBase + i);
        m.paths.emplace(L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(disk.deviceNumber),
                        kDiskHandleBase + i);
        m.disks.push_back(std::move(disk));
    }
    if (shape.path == Path::Rst) {
        m.paths.emplace(kControllerPath, kControllerHandle);
    }
}

BOOL Fail(DWORD error) {
    Machine().lastError = error;
    return FALSE;
}

// The disk or controller an element of one of the sets stands for.
const BenchDisk* ElementDisk(const SP_DEVINFO_DATA* element) {
    State& m = Machine();
    if (element == nullptr || element->Reserved >= m.disks.size()) {
        return nullptr;
    }
    return &m.disks[element->Reserved];
}

BOOL CopyText(const std::wstring& text, bool withNul, BYTE* buffer, DWORD size, DWORD* required) {
    const DWORD bytes = static_cast<DWORD>((text.size() + (withNul ? 1 : 0)) * sizeof(wchar_t));
    if (required != nullptr) {
        *required = bytes;
    }
    if (size < bytes || buffer == nullptr) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, text.c_str(), bytes);
    Machine().lastError = ERROR_SUCCESS;
    return TRUE;
}

// The answers of both drivers, each a status write or a prepared copy.
DWORD Miniport(std::span<std::uint8_t> buffer) {
    State& m = Machine();
    const auto header = srb::ReadSrbIoControl(buffer);
    if (!header) {
        return 0;
    }
    std::uint32_t status = fwreq::kStatusSuccess;
    if (srb::HasSignature(*header, inbox_fw::kRequest.signature)) {
        const auto block = inbox_fw::ReadRequestBlock(buffer);
        const std::uint32_t function = block ? block->Function : 0;
        if (function == fwreq::kFunctionGetInfo) {
            std::copy(m.firmwareInfo.begin(), m.firmwareInfo.end(),
                      buffer.begin() + inbox_fw::kDataAreaOffset);
        } else if (function == fwreq::kFunctionDownload) {
            ++m.counts.downloads;
        } else {
            ++m.counts.activations;
            status = fwreq::kStatusPowerCycleRequired;
        }
    } else if (srb::HasSignature(*header, rst_fw::kRequest.signature)) {
        const auto block = rst_fw::ReadRequestBlock(buffer);
        if (block && block->Function == fwreq::kFunctionDownload) {
            ++m.counts.downloads;
        } else {
            ++m.counts.activations;
            status = fwreq::kStatusPowerCycleRequired;
        }
    } else if (srb::HasSignature(*header, rst_nvme::kRequest.signature)) {
        std::copy(m.identify.begin(), m.identify.end(),
                  rst_nvme::MutableIdentifyData(buffer).begin());
    } else if (srb::HasSignature(*header, csmi::kRequest.signature)) {
        if (csmi::WriteDriveCount(buffer, static_cast<std::uint8_t>(m.raidMembers.size()))) {
            for (std::size_t i = 0; i < m.raidMembers.size(); ++i) {
                if (!csmi::WriteMemberPathNumber(buffer, i, m.raidMembers[i])) {
                    break;  // the asker made room for fewer: the count tells it to ask again
                }
            }
        }
    }
    // The header was read, so the buffer carries the status.
    return srb::SetReturnCode(buffer, status) ? static_cast<DWORD>(buffer.size()) : 0;
}

}  // namespace

std::size_t RaidMembers(std::size_t drives) {
    return drives < 2 ? 0 : drives / 2;
}

void Install(const MachineShape& shape) {
    Machine().shape = shape;
    Prepare(Machine());
}

Counts RequestCounts() {
    return Machine().counts;
}

}  // namespace bench

namespace win {

using bench::Machine;

HMODULE GetModuleHandleW(const wchar_t*) {
    return reinterpret_cast<HMODULE>(std::uintptr_t{0x400000});
}

wchar_t* GetCommandLineW() {
    return Machine().commandLine.data();
}

DWORD GetLastError() {
    return Machine().lastError;
}

void SetLastError(DWORD error) {
    Machine().lastError = error;
}

void GetLocalTime(SYSTEMTIME* time) {
    *time = SYSTEMTIME{};
    time->wYear = 2026;
    time->wMonth = 12;
    time->wDay = 7;
}

void OutputDebugStringW(const wchar_t*) {}

// Standard output is redirected: the program writes bytes, which the benchmark sinks.
HANDLE GetStdHandle(DWORD) {
    return INVALID_HANDLE_VALUE;
}

BOOL GetConsoleMode(HANDLE, DWORD*) {
    return bench::Fail(ERROR_INVALID_HANDLE);
}

BOOL WriteConsoleW(HANDLE, const wchar_t*, DWORD, DWORD*, void*) {
    return bench::Fail(ERROR_INVALID_HANDLE);
}

HANDLE CreateFileW(const wchar_t* fileName, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD, DWORD,
                   HANDLE) {
    const auto found = Machine().paths.find(fileName);
    if (found == Machine().paths.end()) {
        Machine().lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(found->second);
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, void*, DWORD, void* outBuffer,
                     DWORD outBufferSize, DWORD* bytesReturned, OVERLAPPED*) {
    bench::State& m = Machine();
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(device);
    const std::span<std::uint8_t> out(static_cast<std::uint8_t*>(outBuffer), outBufferSize);
    DWORD returned = 0;
    if (ioControlCode == IOCTL_STORAGE_GET_DEVICE_NUMBER && value >= bench::kDiskHandleBase &&
        value - bench::kDiskHandleBase < m.disks.size()) {
        if (!storage::WriteDeviceNumber(
                out, {FILE_DEVICE_DISK, m.disks[value - bench::kDiskHandleBase].deviceNumber, 0})) {
            return bench::Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        returned = static_cast<DWORD>(sizeof(sdk::STORAGE_DEVICE_NUMBER));
    } else if (ioControlCode == IOCTL_STORAGE_QUERY_PROPERTY &&
               outBufferSize >= m.identifyReply.size()) {
        std::copy(m.identifyReply.begin(), m.identifyReply.end(), out.begin());
        returned = static_cast<DWORD>(m.identifyReply.size());
    } else if (ioControlCode == IOCTL_SCSI_MINIPORT) {
        returned = bench::Miniport(out);
    } else {
        return bench::Fail(ERROR_INVALID_PARAMETER);
    }
    *bytesReturned = returned;
    return TRUE;
}

BOOL CloseHandle(HANDLE) {
    return TRUE;
}

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const wchar_t*, HWND, DWORD flags) {
    std::uintptr_t set = bench::kAllDevicesSet;
    if ((flags & DIGCF_DEVICEINTERFACE) != 0) {
        set = SameGuid(*classGuid, GUID_DEVINTERFACE_STORAGEPORT) ? bench::kPortInterfaceSet
                                                                  : bench::kDiskInterfaceSet;
    }
    return reinterpret_cast<HDEVINFO>(set);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, SP_DEVINFO_DATA* data) {
    bench::State& m = Machine();
    const std::uintptr_t kind = reinterpret_cast<std::uintptr_t>(set);
    const bool rst = m.shape.path == bench::Path::Rst;
    if (kind == bench::kPortInterfaceSet ||
        (kind == bench::kAllDevicesSet && rst && memberIndex == 0)) {
        if (!rst || (kind == bench::kPortInterfaceSet && memberIndex > 0)) {
            return bench::Fail(ERROR_NO_MORE_ITEMS);
        }
        data->DevInst = bench::kControllerDevInst;
        data->Reserved = bench::kControllerElement;
        return TRUE;
    }
    const DWORD disk = kind == bench::kAllDevicesSet && rst ? memberIndex - 1 : memberIndex;
    if (disk >= m.disks.size()) {
        return bench::Fail(ERROR_NO_MORE_ITEMS);
    }
    data->DevInst = bench::kFirstDiskDevInst + disk;
    data->Reserved = disk;
    return TRUE;
}

BOOL SetupDiGetDevicePropertyW(HDEVINFO, SP_DEVINFO_DATA* data, const DEVPROPKEY* key,
                               DEVPROPTYPE* type, BYTE* buffer, DWORD size, DWORD* required,
                               DWORD) {
    *type = DEVPROP_TYPE_STRING;
    if (data != nullptr && data->Reserved == bench::kControllerElement) {
        if (SameKey(*key, DEVPKEY_Device_DriverDesc)) {
            return bench::CopyText(L"Intel RST Controller", true, buffer, size, required);
        }
        if (SameKey(*key, DEVPKEY_Device_InstanceId)) {
            return bench::CopyText(bench::kControllerInstanceId, true, buffer, size, required);
        }
        return bench::Fail(ERROR_NOT_FOUND);
    }
    const bench::BenchDisk* disk = bench::ElementDisk(data);
    if (disk == nullptr) {
        return bench::Fail(ERROR_INVALID_PARAMETER);
    }
    if (SameKey(*key, DEVPKEY_Device_Parent)) {
        return bench::CopyText(disk->parent, true, buffer, size, required);
    }
    if (SameKey(*key, DEVPKEY_Device_InstanceId)) {
        return bench::CopyText(disk->instanceId, true, buffer, size, required);
    }
    if (SameKey(*key, DEVPKEY_Device_LocationInfo)) {
        return bench::CopyText(disk->locationInfo, true, buffer, size, required);
    }
    return bench::Fail(ERROR_NOT_FOUND);
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO, SP_DEVINFO_DATA* data, DWORD, DWORD* type,
                                       BYTE* buffer, DWORD size, DWORD* required) {
    const bench::BenchDisk* disk = bench::ElementDisk(data);
    if (disk == nullptr) {
        return bench::Fail(ERROR_NOT_FOUND);
    }
    if (type != nullptr) {
        *type = REG_MULTI_SZ;
    }
    return bench::CopyText(disk->hardwareIds, false, buffer, size, required);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* data, const GUID*,
                                 DWORD memberIndex, SP_DEVICE_INTERFACE_DATA* interfaceData) {
    if (reinterpret_cast<std::uintptr_t>(set) == bench::kPortInterfaceSet) {
        if (memberIndex > 0 || Machine().shape.path != bench::Path::Rst) {
            return bench::Fail(ERROR_NO_MORE_ITEMS);
        }
        interfaceData->Reserved = bench::kControllerElement;
        return TRUE;
    }
    // A disk's interface is asked of its element; each disk has one.
    const ULONG_PTR disk =
        data != nullptr ? (memberIndex == 0 ? data->Reserved : ~ULONG_PTR{0}) : memberIndex;
    if (disk >= Machine().disks.size()) {
        return bench::Fail(ERROR_NO_MORE_ITEMS);
    }
    interfaceData->Reserved = disk;
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO, SP_DEVICE_INTERFACE_DATA* interfaceData,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detailSize,
                                      DWORD* required, SP_DEVINFO_DATA* data) {
    const ULONG_PTR element = interfaceData->Reserved;
    const bool controller = element == bench::kControllerElement;
    if (!controller && element >= Machine().disks.size()) {
        return bench::Fail(ERROR_INVALID_PARAMETER);
    }
    const std::wstring path =
        controller ? std::wstring(bench::kControllerPath) : Machine().disks[element].interfacePath;
    const DWORD bytes = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                           (path.size() + 1) * sizeof(wchar_t));
    if (required != nullptr) {
        *required = bytes;
    }
    if (detail == nullptr || detailSize < bytes) {
        return bench::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    if (data != nullptr) {
        data->DevInst = controller ? bench::kControllerDevInst
                                   : bench::kFirstDiskDevInst + static_cast<DEVINST>(element);
        data->Reserved = element;
    }
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO) {
    return TRUE;
}

int MultiByteToWideChar(UINT, DWORD, const char* text, int count, wchar_t* wide, int wideCount) {
    if (count <= 0) {
        return 0;
    }
    const std::wstring units =
        utf8::ToUtf16(std::string_view(text, static_cast<std::size_t>(count)));
    if (wide != nullptr) {
        if (units.size() > static_cast<std::size_t>(wideCount)) {
            return 0;
        }
        std::copy(units.begin(), units.end(), wide);
    }
    return static_cast<int>(units.size());
}

}  // namespace win
