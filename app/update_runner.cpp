#include <cstdint>
#include <string>

#include "app/disk_info.h"
#include "firmware/firmware_package.h"
#include "inbox/inbox.h"
#include "rst/rst.h"

void UpdateRunner::RunUpdates(DiskList& updateList) {
    if (!IdentifyDisks()) {
        return;
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
