// RAID membership, identify, download and activation through the Intel RST driver.
#pragma once

#include <cstdint>
#include <string>

#include "app/disk_info.h"
#include "platform/win32.h"

// Expands RAID volume entry number `raidSetIndex` of its controller (counted from 0
// in discovery order) into its member drives, each identified through the
// pass-through. `result`, when given, receives what the query came to.
std::int32_t QueryRaidMembers(DiskInfo raidEntry, std::uint32_t raidSetIndex,
                              DiskList& identifiedDisks, RaidQueryResult* result = nullptr);
std::int32_t IdentifyRstDisk(DiskInfo disk, DiskList& identifiedDisks);
// True when identifiedDisks already holds an Intel RST drive of that controller at
// that path number (the low byte of pathId, as the driver is told).
bool IsIdentifiedRstDrive(const DiskList& identifiedDisks, const std::wstring& controllerPath,
                          std::int64_t pathId);

std::int32_t UpdateRstDisk(const DiskInfo& disk, const std::uint32_t& imageSize);
std::int32_t DownloadRstFirmware(HANDLE controller, const DiskInfo& disk,
                                 const std::uint32_t& imageSize);
std::int32_t ActivateRstFirmware(HANDLE controller, std::int64_t pathId);
