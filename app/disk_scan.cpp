// The part of a run that only asks: discovery, identify and the choice of drives. The
// updater and the read-only preflight both take it, so that they send the same requests
// in the same order before the first one that changes a drive.
#include <map>
#include <string>
#include <utility>

#include "app/disk_info.h"
#include "discovery/discovery.h"
#include "firmware/firmware_package.h"
#include "inbox/inbox.h"
#include "rst/rst.h"

void SelectEligibleDisks(const UpdateRunner& runner, DiskList& updateList) {
    for (const DiskInfo& disk : runner.identifiedDisks) {
        if (SameRevision(disk.firmwareRevision, baseRevision) ||
            SameRevision(disk.firmwareRevision, targetRevision)) {
            updateList.push_back(disk);
        }
    }
}

bool UpdateRunner::IdentifyDisks() {
    RstController controller;
    if (DetectRstController(controller)) {
        EnumerateRstDisks(controller, discoveredDisks);
    }
    EnumerateInboxDisks(discoveredDisks);
    if (discoveredDisks.empty()) {
        return false;
    }

    // Each RAID volume of a controller stands for its own RAID set: the k-th volume
    // entry of a controller path asks for set k.
    std::map<std::wstring, std::uint32_t> raidVolumesSeen;
    for (const DiskInfo& disk : discoveredDisks) {
        switch (disk.driverKind) {
            case RstNvme:
                IdentifyRstDisk(disk, identifiedDisks);
                break;
            case RstRaid: {
                RaidVolumeSeen seen;
                seen.entry = disk;
                seen.raidSetIndex = raidVolumesSeen[disk.devicePath]++;
                QueryRaidMembers(disk, seen.raidSetIndex, identifiedDisks, &seen.result);
                raidVolumes.push_back(std::move(seen));
                break;
            }
            case Inbox:
                IdentifyInboxDisk(disk, identifiedDisks);
                break;
        }
    }
    return true;
}
