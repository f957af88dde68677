// What the system asks the platform, and what comes back, for a watcher that writes
// the machine down: the read-only preflight's capture. The updater installs none, and a
// hook without a watcher costs one pointer test; with one, the calls, their order and
// their arguments stay exactly as they are.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

namespace watch {

// The device properties discovery reads.
enum class Property { Parent, InstanceId, LocationInfo, DriverDescription, Other };

class Watcher {
  public:
    virtual ~Watcher() = default;
    // CreateFileW of a device path; `handle` INVALID_HANDLE_VALUE when it failed with `error`.
    virtual void Opened(HANDLE handle, std::wstring_view path, DWORD shareMode, DWORD flags,
                        DWORD error) = 0;
    // One DeviceIoControl: the request as sent (empty for a request without input), and
    // the caller's output buffer as it reads after the call.
    virtual void Controlled(HANDLE device, DWORD code, std::span<const std::uint8_t> request,
                            bool completed, DWORD error, DWORD bytesReturned,
                            std::span<const std::uint8_t> output) = 0;
    // Element `index` of a device-information set of `classGuid` and `flags`; nullptr
    // past the last one.
    virtual void Element(const GUID& classGuid, DWORD flags, DWORD index,
                         const SP_DEVINFO_DATA* element) = 0;
    // A property of the device `devInst` as the platform stores it; unset when it could
    // not be read.
    virtual void PropertyRead(DEVINST devInst, Property property,
                              const std::optional<std::wstring>& value) = 0;
    virtual void HardwareIdsRead(DEVINST devInst,
                                 const std::optional<std::vector<std::wstring>>& ids) = 0;
    // The path of an interface of class `interfaceClass` of `devInst` (0 when the element
    // it belongs to is not known); unset when it could not be read.
    virtual void InterfacePathRead(DEVINST devInst, const GUID& interfaceClass,
                                   const std::optional<std::wstring>& path) = 0;
};

// The watcher, or nullptr.
Watcher* Current();
// Installs `watcher` (nullptr removes it).
void Install(Watcher* watcher);

Property PropertyOf(const DEVPROPKEY& key);

}  // namespace watch
