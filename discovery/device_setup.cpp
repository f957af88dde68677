#include "discovery/device_setup.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "drivers/watch.h"
#include "report/text.h"

namespace {

// Wide text from a zero-filled byte area that the platform wrote: up to the first
// NUL, and never past the area, whatever sizes were reported.
std::wstring TextFromUnits(const std::vector<wchar_t>& units, std::size_t first = 0) {
    std::wstring text;
    for (std::size_t i = first; i < units.size() && units[i] != L'\0'; ++i) {
        text.push_back(units[i]);
    }
    return text;
}

// Device identifiers and interface paths are a few hundred characters. A platform
// that asks for room for more than 32K characters is not believed: nothing that large
// is allocated.
constexpr DWORD kMaxPlatformBytes = 32 * 1024 * sizeof(wchar_t);

// A platform that answers every read with "more room" and the same size would keep a
// size-query loop going for ever. Honest answers take one retry; a few more allow for a
// value that grew in between. Beyond that the read fails.
constexpr int kMaxSizedReads = 4;

std::size_t UnitsFor(DWORD bytes) {
    return (static_cast<std::size_t>(bytes) + sizeof(wchar_t) - 1) / sizeof(wchar_t);
}

// A property's bytes: the size query first; then, as long as the platform says the
// room was too small, a zero-filled area twice the size it asked for.
template <typename Fetch>
std::optional<std::vector<wchar_t>> FetchDoubling(Fetch fetch) {
    DWORD required = 0;
    if (fetch(nullptr, 0, &required)) {
        return std::nullopt;  // an empty value: nothing to read
    }
    std::optional<std::vector<wchar_t>> units;
    for (int read = 0; read < kMaxSizedReads && win::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
         ++read) {
        if (required == 0 || required > kMaxPlatformBytes) {
            return std::nullopt;
        }
        const DWORD bytes = required * 2;
        units.emplace(UnitsFor(bytes), L'\0');
        if (fetch(reinterpret_cast<BYTE*>(units->data()), bytes, &required)) {
            return units;
        }
    }
    return std::nullopt;
}

// The identifiers read here are plain ASCII; the text passes through the 8-bit form
// the rest of the tool's identifiers take. A character outside ASCII has no 8-bit
// form and becomes '?', and a text is cut at 255 characters (it ends at its first NUL
// already).
std::string NarrowIdentifier(const std::wstring& text) {
    constexpr std::size_t kMaxCharacters = 255;
    std::string narrow;
    for (wchar_t unit : text) {
        if (narrow.size() == kMaxCharacters) {
            break;
        }
        narrow.push_back(static_cast<std::uint32_t>(unit) < 0x80 ? static_cast<char>(unit) : '?');
    }
    return narrow;
}

}  // namespace

DeviceInfoSet::DeviceInfoSet(const GUID& classGuid, DWORD flags)
    : set_(win::SetupDiGetClassDevsW(&classGuid, nullptr, nullptr, flags)),
      classGuid_(classGuid),
      flags_(flags) {}

DeviceInfoSet::~DeviceInfoSet() {
    if (IsOpen()) {
        win::SetupDiDestroyDeviceInfoList(set_);
    }
}

bool DeviceInfoSet::Element(DWORD index, SP_DEVINFO_DATA& element) const {
    element = {};
    element.cbSize = sizeof(SP_DEVINFO_DATA);
    const bool found = win::SetupDiEnumDeviceInfo(set_, index, &element) != FALSE;
    if (watch::Watcher* watcher = watch::Current()) {
        watcher->Element(classGuid_, flags_, index, found ? &element : nullptr);
    }
    return found;
}

std::optional<std::wstring> ReadRawDeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* element,
                                                  const DEVPROPKEY& key) {
    const auto units = FetchDoubling([&](BYTE* buffer, DWORD size, DWORD* required) {
        DEVPROPTYPE type = 0;
        return win::SetupDiGetDevicePropertyW(set, element, &key, &type, buffer, size, required,
                                              0) != FALSE;
    });
    std::optional<std::wstring> text;
    if (units) {
        text = TextFromUnits(*units);
    }
    if (watch::Watcher* watcher = watch::Current(); watcher != nullptr && element != nullptr) {
        watcher->PropertyRead(element->DevInst, watch::PropertyOf(key), text);
    }
    return text;
}

std::optional<std::vector<std::wstring>> ReadHardwareIds(HDEVINFO set, SP_DEVINFO_DATA* element) {
    const auto units = FetchDoubling([&](BYTE* buffer, DWORD size, DWORD* required) {
        DWORD type = 0;
        return win::SetupDiGetDeviceRegistryPropertyW(set, element, SPDRP_HARDWAREID, &type, buffer,
                                                      size, required) != FALSE;
    });
    std::optional<std::vector<std::wstring>> ids;
    if (units) {
        ids.emplace();
        std::size_t position = 0;
        while (position < units->size() && (*units)[position] != L'\0') {
            std::wstring id = TextFromUnits(*units, position);
            position += id.size() + 1;
            ids->push_back(std::move(id));
        }
    }
    if (watch::Watcher* watcher = watch::Current(); watcher != nullptr && element != nullptr) {
        watcher->HardwareIdsRead(element->DevInst, ids);
    }
    return ids;
}

bool EnumInterface(HDEVINFO set, const GUID& interfaceClass, DWORD index,
                   SP_DEVICE_INTERFACE_DATA& interfaceData) {
    interfaceData = {};
    interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    return win::SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, index, &interfaceData) !=
           FALSE;
}

std::optional<std::wstring> ReadElementInterfacePath(HDEVINFO set, SP_DEVINFO_DATA& element,
                                                     const GUID& interfaceClass,
                                                     SP_DEVINFO_DATA* interfaceElement) {
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    std::optional<std::wstring> path;
    if (win::SetupDiEnumDeviceInterfaces(set, &element, &interfaceClass, 0, &interfaceData)) {
        path = ReadInterfaceDetail(set, interfaceData, interfaceElement);
    }
    if (watch::Watcher* watcher = watch::Current()) {
        watcher->InterfacePathRead(element.DevInst, interfaceClass, path);
    }
    return path;
}

std::optional<std::wstring> ReadInterfaceDetail(HDEVINFO set,
                                                SP_DEVICE_INTERFACE_DATA& interfaceData,
                                                SP_DEVINFO_DATA* element, DetailRead mode) {
    DWORD required = 0;
    const bool sized = win::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0,
                                                             &required, nullptr) != FALSE;
    if (mode == DetailRead::RetryWhileShort
            ? sized || win::GetLastError() != ERROR_INSUFFICIENT_BUFFER
            : !sized && win::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return std::nullopt;
    }
    std::vector<wchar_t> units;
    int reads = 0;
    do {
        if (required == 0 || required > kMaxPlatformBytes) {
            return std::nullopt;
        }
        // The area is never smaller than the record's fixed part, so cbSize always has
        // its place, and is kept in wchar_t units so the record and its path are
        // aligned; the platform is told the size it reported.
        const DWORD bytes = required;
        units.assign(
            UnitsFor(std::max<DWORD>(bytes, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))) + 1, L'\0');
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(units.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (element != nullptr) {
            *element = {};
            element->cbSize = sizeof(SP_DEVINFO_DATA);
        }
        if (win::SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, bytes, &required,
                                                  element)) {
            const std::size_t pathStart =
                offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) / sizeof(wchar_t);
            // The path ends at its NUL or at the end of the area the platform was given.
            units.resize(std::max(UnitsFor(bytes), pathStart));
            return TextFromUnits(units, pathStart);
        }
    } while (mode == DetailRead::RetryWhileShort && ++reads < kMaxSizedReads &&
             win::GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    return std::nullopt;
}

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
