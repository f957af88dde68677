#include "sim/models/text.h"

#include <cstdio>
#include <optional>

namespace sim {
namespace {

void AppendUtf16(std::wstring& out, std::uint32_t codePoint) {
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
    } else {
        out.push_back(static_cast<wchar_t>(codePoint));
    }
}

void AppendUtf8(std::string& out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

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

// One step through UTF-8 text: the code point of the sequence at `at` and its length,
// or, for a maximal ill-formed subpart, no code point and the subpart's length.
struct Utf8Step {
    std::optional<std::uint32_t> codePoint;
    std::size_t length = 1;
};

Utf8Step DecodeUtf8(std::string_view utf8, std::size_t at) {
    const std::uint8_t lead = static_cast<std::uint8_t>(utf8[at]);
    if (lead < 0x80) {
        return {lead, 1};
    }
    // The length of the sequence and the range its second byte must fall in; the
    // narrowed ranges exclude overlong forms, surrogates and values past U+10FFFF.
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    std::uint32_t codePoint = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return {std::nullopt, 1};
    }
    std::size_t taken = 1;
    while (taken < length && at + taken < utf8.size()) {
        const std::uint8_t next = static_cast<std::uint8_t>(utf8[at + taken]);
        const std::uint8_t lo = taken == 1 ? low : 0x80;
        const std::uint8_t hi = taken == 1 ? high : 0xBF;
        if (next < lo || next > hi) {
            break;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
        ++taken;
    }
    if (taken != length) {
        return {std::nullopt, taken};
    }
    return {codePoint, taken};
}

}  // namespace

std::wstring Utf8ToUtf16(std::string_view utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const Utf8Step step = DecodeUtf8(utf8, i);
        if (step.codePoint) {
            AppendUtf16(out, *step.codePoint);
        } else {
            out.push_back(static_cast<wchar_t>(0xFFFD));
        }
        i += step.length;
    }
    return out;
}

std::string PrintableLine(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Step step = DecodeUtf8(text, i);
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

std::string Utf16ToUtf8(std::wstring_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        std::uint32_t unit = Unit(utf16[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size()) {
            const std::uint32_t next = Unit(utf16[i + 1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            unit = 0xFFFD;
        }
        AppendUtf8(out, unit);
    }
    return out;
}

std::string Latin1ToUtf8(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::uint8_t b : bytes) {
        AppendUtf8(out, b);
    }
    return out;
}

std::wstring Latin1ToUtf16(std::span<const std::uint8_t> bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (std::uint8_t b : bytes) {
        out.push_back(static_cast<wchar_t>(b));
    }
    return out;
}

std::wstring WidenAscii(std::string_view ascii) {
    std::wstring out;
    out.reserve(ascii.size());
    for (char c : ascii) {
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
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
