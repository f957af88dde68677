#include "base/utf8.h"

namespace utf8 {
namespace {

constexpr std::uint32_t kReplacementCharacter = 0xFFFD;

std::uint32_t Unit(wchar_t c) {
    return static_cast<std::uint32_t>(c) & 0xFFFF;
}

bool IsHighSurrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(std::uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The well-formed sequence a lead byte opens, as Unicode's table of well-formed UTF-8
// byte sequences gives it: its length, the lead's bits of the code point, and the range
// its second byte must fall in, narrowed where the lead alone would allow an overlong
// form, a surrogate or a value past U+10FFFF. Every later byte is 80..BF. Length 0 for
// a byte that opens none.
struct Sequence {
    std::size_t length = 0;
    std::uint8_t leadBits = 0;
    std::uint8_t secondLow = 0x80;
    std::uint8_t secondHigh = 0xBF;
};

constexpr Sequence SequenceOf(std::uint8_t lead) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        return {2, 0x1F};
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return {3, 0x0F, lead == 0xE0 ? std::uint8_t{0xA0} : std::uint8_t{0x80},
                lead == 0xED ? std::uint8_t{0x9F} : std::uint8_t{0xBF}};
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return {4, 0x07, lead == 0xF0 ? std::uint8_t{0x90} : std::uint8_t{0x80},
                lead == 0xF4 ? std::uint8_t{0x8F} : std::uint8_t{0xBF}};
    }
    return {};
}

void AppendUtf16(std::wstring& out, std::uint32_t codePoint) {
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
    } else {
        out.push_back(static_cast<wchar_t>(codePoint));
    }
}

}  // namespace

void AppendCodePoint(std::string& out, std::uint32_t codePoint) {
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

std::wstring FromLatin1(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return out;
}

std::wstring FromLatin1(std::span<const std::uint8_t> bytes) {
    return FromLatin1(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Utf16Step DecodeUtf16(std::wstring_view utf16, std::size_t at) {
    const std::uint32_t unit = Unit(utf16[at]);
    if (IsHighSurrogate(unit) && at + 1 < utf16.size()) {
        const std::uint32_t next = Unit(utf16[at + 1]);
        if (IsLowSurrogate(next)) {
            return {0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), 2};
        }
    }
    if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
        return {kReplacementCharacter, 1};
    }
    return {unit, 1};
}

std::string FromUtf16(std::wstring_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size();) {
        const Utf16Step step = DecodeUtf16(utf16, i);
        AppendCodePoint(out, step.codePoint);
        i += step.length;
    }
    return out;
}

std::wstring WellFormedUtf16(std::wstring_view utf16) {
    std::wstring out;
    out.reserve(utf16.size() + 1);
    for (std::size_t i = 0; i < utf16.size();) {
        const Utf16Step step = DecodeUtf16(utf16, i);
        AppendUtf16(out, step.codePoint);
        i += step.length;
    }
    return out;
}

Step Decode(std::string_view text, std::size_t at) {
    const auto lead = static_cast<std::uint8_t>(text[at]);
    if (lead < 0x80) {
        return {lead, 1};
    }
    const Sequence sequence = SequenceOf(lead);
    if (sequence.length == 0) {
        return {std::nullopt, 1};
    }
    std::uint32_t codePoint = lead & sequence.leadBits;
    std::size_t taken = 1;
    while (taken < sequence.length && at + taken < text.size()) {
        const auto next = static_cast<std::uint8_t>(text[at + taken]);
        const std::uint8_t low = taken == 1 ? sequence.secondLow : 0x80;
        const std::uint8_t high = taken == 1 ? sequence.secondHigh : 0xBF;
        if (next < low || next > high) {
            break;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
        ++taken;
    }
    if (taken != sequence.length) {
        return {std::nullopt, taken};
    }
    return {codePoint, taken};
}

std::wstring ToUtf16(std::string_view text, Replacement replacement) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Step step = Decode(text, i);
        if (step.codePoint) {
            AppendUtf16(out, *step.codePoint);
        } else {
            out.append(replacement == Replacement::PerByte ? step.length : 1,
                       static_cast<wchar_t>(kReplacementCharacter));
        }
        i += step.length;
    }
    return out;
}

}  // namespace utf8
