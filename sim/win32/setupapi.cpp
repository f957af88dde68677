// The device-setup interface (SetupAPI) over the machine's PnP device tree, with the
// argument checks and size-query behaviour of Windows, and the lying sizes a scenario
// may give a property (Device::propertyFaults).
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"
#include "sim/models/text.h"
#include "sim/win32/runtime.h"

namespace sim {
namespace {

constexpr DWORD kKnownFlags =
    DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE;

OpenDeviceSet* FindSet(HDEVINFO set) {
    auto found = State().sets.find(reinterpret_cast<std::uintptr_t>(set));
    return found == State().sets.end() ? nullptr : &found->second;
}

// SetupAPI keeps its own reference to the element in the Reserved field of the
// records it hands out; the set's number goes into the upper half so that a record
// of another set is refused as Windows refuses it.
ULONG_PTR MemberCode(HDEVINFO set, std::size_t position) {
    return (static_cast<ULONG_PTR>(reinterpret_cast<std::uintptr_t>(set)) << 32) |
           static_cast<ULONG_PTR>(position + 1);
}

std::optional<std::size_t> MemberPosition(HDEVINFO set, ULONG_PTR code, std::size_t count) {
    if ((code >> 32) != static_cast<ULONG_PTR>(reinterpret_cast<std::uintptr_t>(set))) {
        return std::nullopt;
    }
    const ULONG_PTR position = code & 0xFFFFFFFFu;
    if (position == 0 || position > count) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(position - 1);
}

// Wine 8 gives each element of a new set the lowest slot of a table of the process
// that no element of a set still open holds; destroying a set frees its slots.
void NumberElementsAsWine(OpenDeviceSet& info) {
    std::vector<bool> held;
    for (const auto& [handle, open] : State().sets) {
        for (DEVINST devInst : open.wineDevInsts) {
            if (devInst >= held.size()) {
                held.resize(devInst + 1);
            }
            held[devInst] = true;
        }
    }
    DEVINST next = 0;
    for (std::size_t e = 0; e < info.elements.size(); ++e) {
        while (next < held.size() && held[next]) {
            ++next;
        }
        info.wineDevInsts.push_back(next++);
    }
}

// The DevInst an element of the set shows.
DEVINST ElementDevInst(const OpenDeviceSet& info, std::size_t position, const Device& device) {
    return position < info.wineDevInsts.size() ? info.wineDevInsts[position] : device.devInst;
}

// The device an SP_DEVINFO_DATA of this set names; nullptr with the error set when
// the record is not one the set handed out.
Device* ElementDevice(HDEVINFO set, const OpenDeviceSet& info, const SP_DEVINFO_DATA* data) {
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        State().lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const auto position = MemberPosition(set, data->Reserved, info.elements.size());
    Machine& machine = CurrentMachine();
    if (!position || info.elements[*position] >= machine.devices.size()) {
        State().lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    Device& device = machine.devices[info.elements[*position]];
    if (ElementDevInst(info, *position, device) != data->DevInst) {
        State().lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    return &device;
}

void FillElement(HDEVINFO set, const OpenDeviceSet& info, std::size_t position,
                 const Device& device, SP_DEVINFO_DATA* data) {
    data->ClassGuid = device.classGuid;
    data->DevInst = ElementDevInst(info, position, device);
    data->Reserved = MemberCode(set, position);
}

std::string KeyName(const DEVPROPKEY& key) {
    if (win::SameKey(key, win::DEVPKEY_Device_Parent)) {
        return "DEVPKEY_Device_Parent";
    }
    if (win::SameKey(key, win::DEVPKEY_Device_InstanceId)) {
        return "DEVPKEY_Device_InstanceId";
    }
    if (win::SameKey(key, win::DEVPKEY_Device_DriverDesc)) {
        return "DEVPKEY_Device_DriverDesc";
    }
    if (win::SameKey(key, win::DEVPKEY_Device_LocationInfo)) {
        return "DEVPKEY_Device_LocationInfo";
    }
    return GuidText(key.fmtid) + "," + std::to_string(key.pid);
}

bool MatchesEnumerator(const Device& device, const wchar_t* enumerator) {
    if (enumerator == nullptr) {
        return true;
    }
    const std::wstring* instanceId = FindProperty(device, win::DEVPKEY_Device_InstanceId);
    if (instanceId == nullptr) {
        return false;
    }
    const std::wstring_view wanted(enumerator);
    if (SameTextIgnoringCase(*instanceId, wanted)) {
        return true;
    }
    return instanceId->size() > wanted.size() && (*instanceId)[wanted.size()] == L'\\' &&
           SameTextIgnoringCase(std::wstring_view(*instanceId).substr(0, wanted.size()), wanted);
}

// The property a scenario may make lie about its size, for a property key.
std::optional<PropertyName> NameOfKey(const DEVPROPKEY& key) {
    if (win::SameKey(key, win::DEVPKEY_Device_Parent)) {
        return PropertyName::Parent;
    }
    if (win::SameKey(key, win::DEVPKEY_Device_InstanceId)) {
        return PropertyName::InstanceId;
    }
    if (win::SameKey(key, win::DEVPKEY_Device_LocationInfo)) {
        return PropertyName::LocationInfo;
    }
    if (win::SameKey(key, win::DEVPKEY_Device_DriverDesc)) {
        return PropertyName::DriverDescription;
    }
    return std::nullopt;
}

// The set a call on one of the caller's records names, after the checks Windows makes
// first: the set, then the record and its cbSize. nullptr, with `error` saying which
// check failed, when one does.
template <typename Record>
OpenDeviceSet* CheckedSet(HDEVINFO set, const Record* data, DWORD& error) {
    OpenDeviceSet* info = FindSet(set);
    error = info == nullptr                  ? ERROR_INVALID_HANDLE
            : data == nullptr                ? ERROR_INVALID_PARAMETER
            : data->cbSize != sizeof(Record) ? ERROR_INVALID_USER_BUFFER
                                             : ERROR_SUCCESS;
    return error == ERROR_SUCCESS ? info : nullptr;
}

// The device of the element a property call names, or nullptr, with `error` saying
// why, when the set or the element is not one the caller holds.
const Device* DeviceOfElement(HDEVINFO set, const SP_DEVINFO_DATA* element, DWORD& error) {
    const OpenDeviceSet* info = FindSet(set);
    const Device* device = info == nullptr ? nullptr : ElementDevice(set, *info, element);
    error = info == nullptr ? ERROR_INVALID_HANDLE : State().lastError;
    return device;
}

// Whether a read with room for `room` bytes of a value of `needed` bytes succeeds, and
// the size it reports, as the device's size fault for the property has it.
struct SizeAnswer {
    bool fits = false;
    DWORD reported = 0;
};

SizeAnswer AnswerSize(const Device& device, std::optional<PropertyName> name, DWORD needed,
                      DWORD room) {
    const auto fault = name ? device.propertyFaults.find(*name) : device.propertyFaults.end();
    if (fault == device.propertyFaults.end()) {
        return {room >= needed, needed};
    }
    switch (fault->second.kind) {
        case PropertyFault::Kind::TooSmallForever:
            return {false, needed};
        case PropertyFault::Kind::RequiredSize:
            break;
    }
    return room >= needed ? SizeAnswer{true, needed}
                          : SizeAnswer{false, fault->second.requiredSize};
}

// A call on the elements of a set records the set and, when the caller names one, the
// element's DevInst first.
TraceRecord ElementRecord(std::string_view op, HDEVINFO set, const SP_DEVINFO_DATA* element) {
    TraceRecord record(op);
    record.Number("set", HandleNumber(set));
    if (element != nullptr) {
        record.Number("devInst", element->DevInst);
    }
    return record;
}

// Gives the caller the size an answer needs (where it asks for it) and records it;
// false when the answer does not fit the caller's buffer.
bool TellSize(TraceRecord& record, const SizeAnswer& size, DWORD* requiredSize) {
    if (requiredSize != nullptr) {
        *requiredSize = size.reported;
    }
    record.Number("requiredSize", size.reported);
    return size.fits;
}

// Writes wide text as the bytes a wchar_t buffer holds.
void CopyUnits(BYTE* destination, const std::wstring& units) {
    std::memcpy(destination, units.data(), units.size() * sizeof(wchar_t));
}

}  // namespace
}  // namespace sim

namespace win {

using sim::CurrentMachine;
using sim::OpenDeviceSet;
using sim::State;
using sim::TraceRecord;

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const wchar_t* enumerator, HWND parent,
                              DWORD flags) {
    (void)parent;
    TraceRecord record("SetupDiGetClassDevsW");
    record.Guid("guid", classGuid).WideOrNull("enumerator", enumerator).Number("flags", flags);
    auto fail = [&](DWORD error) {
        State().lastError = error;
        record.Number("result", sim::HandleNumber(INVALID_HANDLE_VALUE)).Commit(false);
        return INVALID_HANDLE_VALUE;
    };
    if ((flags & ~sim::kKnownFlags) != 0) {
        return fail(ERROR_INVALID_FLAGS);
    }
    const bool allClasses = (flags & DIGCF_ALLCLASSES) != 0;
    const bool interfaces = (flags & DIGCF_DEVICEINTERFACE) != 0;
    if (!allClasses && classGuid == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // Every device of the machine is present, so DIGCF_PRESENT and DIGCF_PROFILE
    // select nothing away.
    const sim::Machine& machine = CurrentMachine();
    OpenDeviceSet info;
    for (std::size_t d = 0; d < machine.devices.size(); ++d) {
        const sim::Device& device = machine.devices[d];
        if (!sim::MatchesEnumerator(device, enumerator)) {
            continue;
        }
        if (!interfaces) {
            if (allClasses || SameGuid(device.classGuid, *classGuid)) {
                info.elements.push_back(d);
            }
            continue;
        }
        bool member = false;
        for (std::size_t slot = 0; slot < device.interfaces.size(); ++slot) {
            const sim::DeviceInterface& iface = device.interfaces[slot];
            if (!allClasses && !SameGuid(iface.classGuid, *classGuid)) {
                continue;
            }
            if (!member) {
                info.elements.push_back(d);
                member = true;
            }
            if (iface.path) {
                info.interfaces.push_back({info.elements.size() - 1, slot});
            }
        }
    }
    if (machine.platform == sim::Platform::Wine) {
        sim::NumberElementsAsWine(info);
    }
    const std::uintptr_t value = sim::NewHandleValue();
    State().sets.emplace(value, std::move(info));
    State().lastError = ERROR_SUCCESS;
    HDEVINFO set = reinterpret_cast<HDEVINFO>(value);
    record.Number("result", sim::HandleNumber(set))
        .Number("count", static_cast<std::int64_t>(State().sets[value].elements.size()))
        .Commit(true);
    return set;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, SP_DEVINFO_DATA* deviceInfoData) {
    TraceRecord record("SetupDiEnumDeviceInfo");
    record.Number("set", sim::HandleNumber(set)).Number("index", memberIndex);
    DWORD error = ERROR_SUCCESS;
    OpenDeviceSet* info = sim::CheckedSet(set, deviceInfoData, error);
    if (info == nullptr) {
        return record.Fail(error);
    }
    if (memberIndex >= info->elements.size()) {
        return record.Fail(ERROR_NO_MORE_ITEMS);
    }
    const sim::Device& device = CurrentMachine().devices[info->elements[memberIndex]];
    sim::FillElement(set, *info, memberIndex, device, deviceInfoData);
    State().lastError = ERROR_SUCCESS;
    record.Number("devInst", deviceInfoData->DevInst).Commit(true);
    return TRUE;
}

BOOL SetupDiGetDevicePropertyW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData,
                               const DEVPROPKEY* propertyKey, DEVPROPTYPE* propertyType,
                               BYTE* propertyBuffer, DWORD propertyBufferSize, DWORD* requiredSize,
                               DWORD flags) {
    TraceRecord record = sim::ElementRecord("SetupDiGetDevicePropertyW", set, deviceInfoData);
    if (propertyKey != nullptr) {
        record.Text("key", sim::KeyName(*propertyKey));
    }
    record.Number("bufferSize", propertyBufferSize);
    DWORD error = ERROR_SUCCESS;
    const sim::Device* device = sim::DeviceOfElement(set, deviceInfoData, error);
    if (device == nullptr) {
        return record.Fail(error);
    }
    if (propertyKey == nullptr) {
        return record.Fail(ERROR_INVALID_PARAMETER);
    }
    if (propertyType == nullptr || (propertyBuffer == nullptr && propertyBufferSize != 0)) {
        return record.Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (flags != 0) {
        return record.Fail(ERROR_INVALID_FLAGS);
    }
    const std::wstring* text = sim::FindProperty(*device, *propertyKey);
    if (text == nullptr) {
        return record.Fail(ERROR_NOT_FOUND);
    }
    std::wstring value = *text;
    value.push_back(L'\0');
    const sim::SizeAnswer size =
        sim::AnswerSize(*device, sim::NameOfKey(*propertyKey),
                        static_cast<DWORD>(value.size() * sizeof(wchar_t)), propertyBufferSize);
    *propertyType = DEVPROP_TYPE_STRING;
    if (!sim::TellSize(record, size, requiredSize)) {
        return record.Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    sim::CopyUnits(propertyBuffer, value);
    State().lastError = ERROR_SUCCESS;
    record.Number("type", DEVPROP_TYPE_STRING).Wide("value", *text).Commit(true);
    return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData,
                                       DWORD property, DWORD* propertyRegDataType,
                                       BYTE* propertyBuffer, DWORD propertyBufferSize,
                                       DWORD* requiredSize) {
    TraceRecord record =
        sim::ElementRecord("SetupDiGetDeviceRegistryPropertyW", set, deviceInfoData);
    record.Number("property", property).Number("bufferSize", propertyBufferSize);
    DWORD error = ERROR_SUCCESS;
    const sim::Device* device = sim::DeviceOfElement(set, deviceInfoData, error);
    if (device == nullptr) {
        return record.Fail(error);
    }
    if (propertyBuffer == nullptr && propertyBufferSize != 0) {
        return record.Fail(ERROR_INVALID_PARAMETER);
    }
    // Only the hardware IDs are modelled; Windows answers a property a device does
    // not have with ERROR_INVALID_DATA.
    if (property != SPDRP_HARDWAREID || !device->hardwareIds) {
        return record.Fail(ERROR_INVALID_DATA);
    }
    std::wstring multi;
    for (const std::wstring& id : *device->hardwareIds) {
        multi += id;
        multi.push_back(L'\0');
    }
    multi.push_back(L'\0');
    const sim::SizeAnswer size =
        sim::AnswerSize(*device, sim::PropertyName::HardwareIds,
                        static_cast<DWORD>(multi.size() * sizeof(wchar_t)), propertyBufferSize);
    if (propertyRegDataType != nullptr) {
        *propertyRegDataType = REG_MULTI_SZ;
    }
    if (!sim::TellSize(record, size, requiredSize)) {
        return record.Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    sim::CopyUnits(propertyBuffer, multi);
    State().lastError = ERROR_SUCCESS;
    record.Number("type", REG_MULTI_SZ).TextList("value", *device->hardwareIds).Commit(true);
    return TRUE;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData,
                                 const GUID* interfaceClassGuid, DWORD memberIndex,
                                 SP_DEVICE_INTERFACE_DATA* deviceInterfaceData) {
    TraceRecord record = sim::ElementRecord("SetupDiEnumDeviceInterfaces", set, deviceInfoData);
    record.Guid("guid", interfaceClassGuid).Number("index", memberIndex);
    OpenDeviceSet* info = sim::FindSet(set);
    if (info == nullptr) {
        return record.Fail(ERROR_INVALID_HANDLE);
    }
    if (interfaceClassGuid == nullptr || deviceInterfaceData == nullptr) {
        return record.Fail(ERROR_INVALID_PARAMETER);
    }
    if (deviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return record.Fail(ERROR_INVALID_USER_BUFFER);
    }
    std::optional<std::size_t> onlyElement;
    if (deviceInfoData != nullptr) {
        if (sim::ElementDevice(set, *info, deviceInfoData) == nullptr) {
            return record.Fail(State().lastError);
        }
        onlyElement = static_cast<std::size_t>((deviceInfoData->Reserved & 0xFFFFFFFFu) - 1);
    }
    const sim::Machine& machine = CurrentMachine();
    DWORD seen = 0;
    for (std::size_t m = 0; m < info->interfaces.size(); ++m) {
        const OpenDeviceSet::Member& member = info->interfaces[m];
        if (onlyElement && member.element != *onlyElement) {
            continue;
        }
        const sim::Device& device = machine.devices[info->elements[member.element]];
        const sim::DeviceInterface& iface = device.interfaces[member.slot];
        if (!SameGuid(iface.classGuid, *interfaceClassGuid)) {
            continue;
        }
        if (seen++ != memberIndex) {
            continue;
        }
        deviceInterfaceData->InterfaceClassGuid = iface.classGuid;
        deviceInterfaceData->Flags = SPINT_ACTIVE;
        deviceInterfaceData->Reserved = sim::MemberCode(set, m);
        State().lastError = ERROR_SUCCESS;
        record.Wide("path", *iface.path).Commit(true);
        return TRUE;
    }
    return record.Fail(ERROR_NO_MORE_ITEMS);
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* deviceInterfaceData,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detailSize,
                                      DWORD* requiredSize, SP_DEVINFO_DATA* deviceInfoData) {
    TraceRecord record("SetupDiGetDeviceInterfaceDetailW");
    record.Number("set", sim::HandleNumber(set)).Number("detailSize", detailSize);
    if (detail != nullptr) {
        record.Number("cbSize", detail->cbSize);
    }
    DWORD error = ERROR_SUCCESS;
    OpenDeviceSet* info = sim::CheckedSet(set, deviceInterfaceData, error);
    if (info == nullptr) {
        return record.Fail(error);
    }
    if (detail != nullptr && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return record.Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (detail == nullptr && detailSize != 0) {
        return record.Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (deviceInfoData != nullptr && deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return record.Fail(ERROR_INVALID_USER_BUFFER);
    }
    const auto position =
        sim::MemberPosition(set, deviceInterfaceData->Reserved, info->interfaces.size());
    if (!position) {
        return record.Fail(ERROR_INVALID_PARAMETER);
    }
    const OpenDeviceSet::Member& member = info->interfaces[*position];
    const sim::Device& device = CurrentMachine().devices[info->elements[member.element]];
    std::wstring path = *device.interfaces[member.slot].path;
    record.Wide("path", path);
    path.push_back(L'\0');
    const sim::SizeAnswer size =
        sim::AnswerSize(device, sim::PropertyName::InterfaceDetail,
                        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                           path.size() * sizeof(wchar_t)),
                        detailSize);
    if (!sim::TellSize(record, size, requiredSize)) {
        return record.Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    sim::CopyUnits(
        reinterpret_cast<BYTE*>(detail) + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath),
        path);
    if (deviceInfoData != nullptr) {
        sim::FillElement(set, *info, member.element, device, deviceInfoData);
    }
    State().lastError = ERROR_SUCCESS;
    record.Number("devInst", sim::ElementDevInst(*info, member.element, device)).Commit(true);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    TraceRecord record("SetupDiDestroyDeviceInfoList");
    record.Number("set", sim::HandleNumber(set));
    if (State().sets.erase(reinterpret_cast<std::uintptr_t>(set)) == 0) {
        State().lastError = ERROR_INVALID_HANDLE;
        record.Commit(false);
        return FALSE;
    }
    State().lastError = ERROR_SUCCESS;
    record.Commit(true);
    return TRUE;
}

}  // namespace win
