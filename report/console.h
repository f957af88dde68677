// Console output: everything the program shows goes to standard output through here.
// When standard output is a console, the text is handed to it as UTF-16
// (WriteConsoleW), so every character shows as itself whatever the console's code page;
// narrow text is read as UTF-8 for that. When it is redirected to a file or a pipe, it
// is written as bytes, wide text as UTF-8. The three kinds of output the drive
// operations use are kept apart by name so that each call site says which it is:
//
//   WideLine       a line of wide text, followed by a line end and a flush
//   Narrow         bytes on the narrow stream, exactly as given
//   WideFormatted  wide text that carries its own line ends (printf-style messages)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace console {

void WideLine(std::wstring_view text);
void Narrow(std::string_view text);
void WideFormatted(std::wstring_view text);

// Tests collect the output here, as the bytes a redirected standard output gets,
// instead of standard output; nullptr restores it.
void CaptureInto(std::string* sink);

// Number texts as the messages show them.
std::string HexLower(std::uint32_t value);  // "1a": a stream's hex, no leading zeros
std::string HexUpper(std::uint32_t value);  // "1A": a "%X" format
std::string Decimal(std::int64_t value);    // "%d"

}  // namespace console
