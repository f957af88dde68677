// The final report, the exit code, and the text helpers it shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/disk_info.h"

std::int32_t WriteReport(UpdateSession& session);

// DD-MM-YYYY(hh:mm:ss) in local time.
std::string FormatLocalTime();

std::wstring Utf8ToWide(const char* text, std::size_t length);
