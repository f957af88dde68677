// Text helpers of the simulated machine: printable message lines, Windows' case
// folding of object names, and the way Windows writes GUIDs. Conversions between
// encodings are base/utf8.h's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace sim {

// Text fit to print as one line of a message: control characters (C0, DEL, C1 and the
// Unicode line and paragraph separators) are escaped as JSON escapes them ("\n", "\t",
// "\u0000"), each byte that is not part of well-formed UTF-8 shows as "\xff", and
// everything else is kept as it is. Nothing is dropped, a NUL and what follows it
// included.
std::string PrintableLine(std::string_view text);

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
