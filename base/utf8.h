// The text codec: UTF-8, UTF-16 (one code unit per wchar_t, whatever its width) and
// Latin-1, for the console, the preflight's capture, the simulated machine and the Wine
// host alike. Every conversion between them has one name, here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace utf8 {

// The UTF-8 bytes of a code point up to U+10FFFF.
void AppendCodePoint(std::string& out, std::uint32_t codePoint);

// One step through UTF-16 text: the code point of the surrogate pair or single unit at
// `at` and how many units it took; a lone surrogate gives U+FFFD and one unit.
struct Utf16Step {
    std::uint32_t codePoint = 0;
    std::size_t length = 1;
};
Utf16Step DecodeUtf16(std::wstring_view utf16, std::size_t at);

// UTF-16 code units to UTF-8; a lone surrogate becomes U+FFFD.
std::string FromUtf16(std::wstring_view utf16);

// The same units with each lone surrogate replaced by U+FFFD, as FromUtf16 reads them.
std::wstring WellFormedUtf16(std::wstring_view utf16);

// One step through UTF-8 text: the code point of the well-formed sequence at `at` and
// its length, or, for a maximal ill-formed subpart (an invalid byte, an overlong form,
// an encoded surrogate, a code point past U+10FFFF or a truncated sequence), no code
// point and the subpart's length. Unicode's "maximal subpart" rule: a subpart is the
// longest start of a well-formed sequence found there, or one byte.
struct Step {
    std::optional<std::uint32_t> codePoint;
    std::size_t length = 1;
};
Step Decode(std::string_view text, std::size_t at);

// How many U+FFFD stand for one maximal ill-formed subpart.
enum class Replacement {
    PerSubpart,  // one, as MultiByteToWideChar(CP_UTF8, 0) gives
    PerByte,     // one for each of its bytes
};

// Bytes taken as the characters U+0000 to U+00FF (ASCII and Latin-1 texts), as UTF-16.
std::wstring FromLatin1(std::string_view bytes);
std::wstring FromLatin1(std::span<const std::uint8_t> bytes);

// UTF-8 to UTF-16 code units, ill-formed input replaced as `replacement` says.
std::wstring ToUtf16(std::string_view text, Replacement replacement = Replacement::PerSubpart);

}  // namespace utf8
