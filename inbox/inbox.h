// Identify, download and activation through the operating system's NVMe driver.
#pragma once

#include <cstdint>
#include <string_view>

#include "app/disk_info.h"

std::int32_t IdentifyInboxDisk(DiskInfo disk, DiskList& identifiedDisks);

std::int32_t UpdateInboxDisk(const DiskInfo& disk, const std::uint32_t& imageSize);

// The per-drive table printed before an update; also used by the RST path.
void PrintTargetTable(const DiskInfo& disk, std::wstring_view updateLabel);
