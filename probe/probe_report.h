// The preflight's console report: the RAID volumes the updater asked about, one block
// per drive the updater would update with what its driver answered, and the result.
#pragma once

#include <cstdint>
#include <vector>

#include "app/disk_info.h"
#include "probe/drive_answers.h"

namespace probe {

// The exit codes the preflight gives, which predict the updater's.
inline constexpr std::int32_t kReady = 0;        // the updater would end with 0 or 1602
inline constexpr std::int32_t kWouldFail = 1;    // the updater would end with 1
inline constexpr std::int32_t kBadUsage = 2;     // bad command line, or no capture written
inline constexpr std::int32_t kUpToDate = 4000;  // the updater would end with 4000

// The updater's verdict over the drives, by its rule: a failure sticks; otherwise a
// drive that is updated outweighs one already up to date; no drive at all fails.
std::int32_t PredictedExitCode(const std::vector<DriveReport>& drives);

void PrintReport(const std::vector<RaidVolumeSeen>& raidVolumes,
                 const std::vector<DriveReport>& drives, std::int32_t exitCode);

}  // namespace probe
