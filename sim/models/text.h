// Text helpers of the simulated machine: UTF-8 and UTF-16 (one code unit per
// wchar_t on every platform), the Latin-1 bytes of Identify texts, and the way
// Windows writes GUIDs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace sim {

// UTF-8 to UTF-16 code units as MultiByteToWideChar(CP_UTF8, 0) converts: every
// maximal ill-formed subpart (an invalid byte, an overlong form, an encoded surrogate,
// a code point past U+10FFFF or a truncated sequence) becomes one U+FFFD.
std::wstring Utf8ToUtf16(std::string_view utf8);

// Text fit to print as one line of a message: control characters (C0, DEL, C1 and the
// Unicode line and paragraph separators) are escaped as JSON escapes them ("\n", "\t",
// "\u0000"), each byte that is not part of well-formed UTF-8 shows as "\xff", and
// everything else is kept as it is. Nothing is dropped, a NUL and what follows it
// included.
std::string PrintableLine(std::string_view text);

// UTF-16 code units to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::wstring_view utf16);

// Bytes taken as the characters U+0000 to U+00FF, as UTF-8.
std::string Latin1ToUtf8(std::span<const std::uint8_t> bytes);
// Bytes taken as the characters U+0000 to U+00FF, as UTF-16.
std::wstring Latin1ToUtf16(std::span<const std::uint8_t> bytes);

std::wstring WidenAscii(std::string_view ascii);

// Case-insensitive comparison as Windows compares object names (ASCII and Latin-1
// letters).
bool SameTextIgnoringCase(std::wstring_view a, std::wstring_view b);
std::wstring LowerCase(std::wstring_view text);
std::wstring UpperCase(std::wstring_view text);

// "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}"
std::string GuidText(const GUID& guid);

// Lower-case hex of every byte.
std::string HexBytes(std::span<const std::uint8_t> bytes);

}  // namespace sim
