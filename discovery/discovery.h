// Finding the drives: the maker's NVMe drives on the inbox driver, and the Intel
// RST controller with the RAID volumes and single disks behind it.
#pragma once

#include <cstdint>
#include <string>

#include "app/disk_info.h"
#include "platform/win32.h"

struct RstController {
    std::wstring devicePath;
    std::wstring instanceId;
};

bool EnumerateInboxDisks(DiskList& disks);

bool DetectRstController(RstController& controller);
bool EnumerateRstDisks(const RstController& controller, DiskList& disks);
std::int32_t ReadBusNumber(DEVINST devInst);
