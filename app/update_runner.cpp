#include <cstdint>
#include <map>
#include <string>

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

void UpdateRunner::RunUpdates(DiskList& updateList) {
    RstController controller;
    if (DetectRstController(controller)) {
        EnumerateRstDisks(controller, discoveredDisks);
    }
    EnumerateInboxDisks(discoveredDisks);
    if (discoveredDisks.empty()) {
        return;
    }

    // Each RAID volume of a controller stands for its own RAID set: the k-th volume
    // entry of a controller path asks for set k.
    std::map<std::wstring, std::uint32_t> raidVolumesSeen;
    for (const DiskInfo& disk : discoveredDisks) {
        switch (disk.driverKind) {
            case RstNvme:
                IdentifyRstDisk(disk, identifiedDisks);
                break;
            case RstRaid:
                QueryRaidMembers(disk, raidVolumesSeen[disk.devicePath]++, identifiedDisks);
                break;
            case Inbox:
                IdentifyInboxDisk(disk, identifiedDisks);
                break;
            default:
                break;
        }
    }

    SelectEligibleDisks(*this, updateList);

    for (DiskInfo& disk : updateList) {
        std::int32_t code = kUpdateAlreadyAtTarget;
        if (!SameRevision(disk.firmwareRevision, targetRevision)) {
            const std::uint32_t imageSize = kFirmwareImageSize;
            if (disk.driverKind == Inbox) {
                code = UpdateInboxDisk(disk, imageSize);
                if (code == kUpdateSucceeded) {
                    code = kUpdateNeedsReboot;
                }
            } else {
                code = UpdateRstDisk(disk, imageSize);
            }
        }
        disk.updateResult = code;
    }
}
