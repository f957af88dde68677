#include "report/text.h"

#include "platform/win32.h"

std::wstring Utf8ToWide(const char* text, std::size_t length) {
    if (text == nullptr || length == 0 || length > 0x7FFFFFFF) {
        return {};
    }
    const int byteCount = static_cast<int>(length);
    const int wideCount = win::MultiByteToWideChar(CP_UTF8, 0, text, byteCount, nullptr, 0);
    if (wideCount <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(wideCount), L'\0');
    const int written =
        win::MultiByteToWideChar(CP_UTF8, 0, text, byteCount, wide.data(), wideCount);
    wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return wide;
}
