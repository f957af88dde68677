// The final report and the exit code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/disk_info.h"

std::int32_t WriteReport(UpdateSession& session);

// DD-MM-YYYY(hh:mm:ss) in local time.
std::string FormatLocalTime();
