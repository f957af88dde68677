// UTF-8 to wide text through the platform's own converter: the report and the
// device identifiers discovery reads both pass through it.
#pragma once

#include <cstddef>
#include <string>

// Malformed UTF-8 gets the platform's own substitution; empty input gives empty text.
std::wstring Utf8ToWide(const char* text, std::size_t length);
