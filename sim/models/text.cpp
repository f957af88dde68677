#include "sim/models/text.h"

#include <cstdio>

#include "base/utf8.h"

namespace sim {
namespace {

std::uint32_t Unit(wchar_t c) {
    return static_cast<std::uint32_t>(c) & 0xFFFF;
}

wchar_t FoldUpper(wchar_t c) {
    std::uint32_t u = Unit(c);
    if ((u >= 'a' && u <= 'z') || (u >= 0xE0 && u <= 0xFE && u != 0xF7)) {
        return static_cast<wchar_t>(u - 0x20);
    }
    return c;
}

wchar_t FoldLower(wchar_t c) {
    std::uint32_t u = Unit(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7)) {
        return static_cast<wchar_t>(u + 0x20);
    }
    return c;
}

}  // namespace

std::string PrintableLine(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const utf8::Step step = utf8::Decode(text, i);
        if (!step.codePoint) {
            for (std::size_t k = 0; k < step.length; ++k) {
                const auto byte = static_cast<std::uint8_t>(text[i + k]);
                out += "\\x";
                out.push_back(kDigits[byte >> 4]);
                out.push_back(kDigits[byte & 0x0F]);
            }
            i += step.length;
            continue;
        }
        const std::uint32_t c = *step.codePoint;
        // C0 and C1 controls, DEL, and the two separators some terminals break lines at.
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
        if (!control) {
            out.append(text.substr(i, step.length));
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) {
                out.push_back(kDigits[(c >> shift) & 0x0F]);
            }
        }
        i += step.length;
    }
    return out;
}

bool SameTextIgnoringCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Unit(FoldUpper(a[i])) != Unit(FoldUpper(b[i]))) {
            return false;
        }
    }
    return true;
}

std::wstring LowerCase(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) {
        c = FoldLower(c);
    }
    return out;
}

std::wstring UpperCase(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) {
        c = FoldUpper(c);
    }
    return out;
}

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
                  static_cast<unsigned>(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.resize(bytes.size() * 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return out;
}

}  // namespace sim
