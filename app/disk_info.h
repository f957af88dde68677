// One drive as the run knows it, and the run that finds, identifies, selects and
// updates the drives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum DriverKind : std::int32_t {
    RstRaid = 1,
    RstNvme = 2,
    Inbox = 3,
};

// Per-drive result codes left by the run for the report.
enum UpdateCode : std::int32_t {
    kUpdateSucceeded = 0,
    kUpdateFailed = 1,
    kUpdateDriveUnreachable = 5,
    kUpdateAlreadyAtTarget = 20,
    kUpdateNeedsReboot = 1602,
    kUpdateLatestFirmware = 4000,
};

// What the identify operations return, the RAID member query among them. Nobody acts
// on it: a drive that is not identified is simply missing from identifiedDisks.
enum IdentifyCode : std::int32_t {
    kIdentified = 0,
    kIdentifyOpenFailed = 2,     // the inbox drive could not be opened
    kIdentifyRequestFailed = 5,  // the request failed, or its reply fell short
    kIdentifyUnreachable = 8,    // the Intel RST controller could not be opened
};

struct DiskInfo {
    std::wstring devicePath;
    std::int64_t pathId = -1;
    std::int32_t driverKind = 0;
    std::wstring modelNumber;
    std::wstring serialNumber;
    std::wstring firmwareRevision;
    std::int32_t downloadGranularity = 1;
    std::int32_t updateResult = 0;
};

using DiskList = std::vector<DiskInfo>;

// Same length and the same UTF-16 code unit at every position: case-sensitive,
// nothing trimmed.
inline bool SameRevision(const std::wstring& a, const std::wstring& b) {
    return a == b;
}

// What one RAID volume entry's member query came to, for a caller that reports it.
struct RaidQueryResult {
    bool controllerOpened = false;
    bool listed = false;                // the controller listed every member it announced
    std::vector<std::uint8_t> members;  // path numbers, in member order
};

// One RAID volume entry as the identify step asked its controller about it.
struct RaidVolumeSeen {
    DiskInfo entry;
    std::uint32_t raidSetIndex = 0;
    RaidQueryResult result;
};

struct UpdateRunner {
    DiskList discoveredDisks;
    DiskList identifiedDisks;
    std::vector<RaidVolumeSeen> raidVolumes;

    // Finds the drives on both paths and identifies each, in discovery order: the
    // requests every run sends before it changes anything. False when no drive was
    // found at all.
    bool IdentifyDisks();
    void RunUpdates(DiskList& updateList);
};

void SelectEligibleDisks(const UpdateRunner& runner, DiskList& updateList);

struct UpdateSession {
    DiskList updateList;
    std::unique_ptr<UpdateRunner> runner = std::make_unique<UpdateRunner>();
    std::wstring startTime;
    std::wstring endTime;
    std::int32_t finalResult = 0;

    // The runner and its lists go first, before the texts and the update list.
    ~UpdateSession() { runner.reset(); }
    UpdateSession() = default;
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;
};
