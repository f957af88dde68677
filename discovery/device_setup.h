// The device-setup calls discovery makes, each in one place: the set of present
// devices, their properties and the paths of their interfaces. Every size and text
// the platform reports is treated as untrusted: nothing is read past a buffer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

// A device-information set, released when it goes out of scope.
class DeviceInfoSet {
  public:
    DeviceInfoSet(const GUID& classGuid, DWORD flags);
    ~DeviceInfoSet();
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

    bool IsOpen() const { return set_ != INVALID_HANDLE_VALUE; }
    HDEVINFO Get() const { return set_; }

    // Device element number `index`; false past the last one.
    bool Element(DWORD index, SP_DEVINFO_DATA& element) const;

  private:
    HDEVINFO set_;
    GUID classGuid_;
    DWORD flags_;
};

// A property's wide text as the platform stores it, fetched by a size query and a
// retry with twice the reported size while the platform asks for more room. The text
// ends at its first NUL or at the end of what was returned.
std::optional<std::wstring> ReadRawDeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* element,
                                                  const DEVPROPKEY& key);

// The element's hardware-ID list (REG_MULTI_SZ), one string per entry.
std::optional<std::vector<std::wstring>> ReadHardwareIds(HDEVINFO set, SP_DEVINFO_DATA* element);

// One device property as text, passed through the 8-bit form the identifiers take.
bool ReadDevicePropertyText(HDEVINFO set, SP_DEVINFO_DATA* element, const DEVPROPKEY& key,
                            std::wstring& text);

// Interface number `index` of class `interfaceClass` in the set; false past the last.
bool EnumInterface(HDEVINFO set, const GUID& interfaceClass, DWORD index,
                   SP_DEVICE_INTERFACE_DATA& interfaceData);

// How an interface's detail is read after the size query.
enum class DetailRead {
    // The size query has to report that it needs room; the read is repeated while the
    // platform asks for more.
    RetryWhileShort,
    // Any size query that yields a size will do; one read, and a failed read is final.
    Once,
};

// The interface's device path, and, when asked for, the device element it belongs to,
// read into an area of the size the platform reports.
std::optional<std::wstring> ReadInterfaceDetail(HDEVINFO set,
                                                SP_DEVICE_INTERFACE_DATA& interfaceData,
                                                SP_DEVINFO_DATA* element = nullptr,
                                                DetailRead mode = DetailRead::RetryWhileShort);

// The path of the element's own first interface of class `interfaceClass`, if it can
// be had; `interfaceElement`, when given, receives the element the detail names. The
// interface is asked of the element itself, never by its place in the set: an element
// without an interface is then simply passed over, and cannot hand its place to the
// next disk's interface.
std::optional<std::wstring> ReadElementInterfacePath(HDEVINFO set, SP_DEVINFO_DATA& element,
                                                     const GUID& interfaceClass,
                                                     SP_DEVINFO_DATA* interfaceElement = nullptr);

// True when `text` contains `token` as an exact, case-sensitive substring.
inline bool Contains(const std::wstring& text, const wchar_t* token) {
    return text.find(token) != std::wstring::npos;
}
