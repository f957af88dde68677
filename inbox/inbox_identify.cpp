#include <algorithm>
#include <string>

#include "drivers/device_io.h"
#include "drivers/nvme_identify.h"
#include "drivers/storage_requests.h"
#include "inbox/inbox.h"
#include "inbox/inbox_messages.h"

namespace {

// Two disk interfaces whose device-number replies name one disk lead to one physical
// drive: it is identified, updated and reported once.
bool IsIdentifiedInboxDrive(const DiskList& identifiedDisks, const std::wstring& devicePath) {
    return std::any_of(identifiedDisks.begin(), identifiedDisks.end(), [&](const DiskInfo& d) {
        return d.driverKind == Inbox && d.devicePath == devicePath;
    });
}

}  // namespace

std::int32_t IdentifyInboxDisk(DiskInfo disk, DiskList& identifiedDisks) {
    if (IsIdentifiedInboxDrive(identifiedDisks, disk.devicePath)) {
        return kIdentified;
    }
    DeviceHandle drive = DeviceHandle::Open(disk.devicePath, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
    if (!drive.IsOpen()) {
        PrintOpenFailure(drive.OpenError());
        return kIdentifyOpenFailed;
    }

    Bytes query = storage::BuildIdentifyQuery();
    const ControlReply reply = SendControlRequest(drive.Get(), IOCTL_STORAGE_QUERY_PROPERTY, query);
    if (!reply) {
        return kIdentifyRequestFailed;
    }
    // Beyond what the driver returned the buffer still holds the query's zeros, which
    // would read as a drive without identity.
    if (reply.bytes.size() < storage::kIdentifyDataOffset + nvme::kIdentifyBytesRead) {
        return kIdentifyRequestFailed;
    }

    // The Identify data sits where the query asked for it; the reply's descriptor is
    // not consulted. Only what the driver returned is read, which the check above
    // makes reach every field.
    const std::span<const std::uint8_t> identify =
        reply.bytes.subspan(storage::kIdentifyDataOffset);
    disk.serialNumber = nvme::IdentifyText(identify, nvme::kSerialNumber, true);
    disk.modelNumber = nvme::IdentifyText(identify, nvme::kModelNumber, true);
    disk.firmwareRevision = nvme::IdentifyText(identify, nvme::kFirmwareRevision, true);
    disk.downloadGranularity = nvme::DownloadGranularityOf(identify).value_or(1);
    disk.pathId = -1;
    identifiedDisks.push_back(disk);
    return kIdentified;
}
