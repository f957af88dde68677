#include "drivers/device_io.h"
#include "drivers/nvme_identify.h"
#include "drivers/rst_address.h"
#include "drivers/rst_nvme_pass_through.h"
#include "rst/rst.h"

bool IsIdentifiedRstDrive(const DiskList& identifiedDisks, const std::wstring& controllerPath,
                          std::int64_t pathId) {
    const std::uint8_t pathNumber = rst_address::PathNumberByte(pathId);
    for (const DiskInfo& disk : identifiedDisks) {
        if ((disk.driverKind == RstRaid || disk.driverKind == RstNvme) &&
            disk.devicePath == controllerPath &&
            rst_address::PathNumberByte(disk.pathId) == pathNumber) {
            return true;
        }
    }
    return false;
}

std::int32_t IdentifyRstDisk(DiskInfo disk, DiskList& identifiedDisks) {
    // The driver knows a drive by controller and path number alone. A disk that is
    // also a RAID member (or a path listed twice) is one drive: identified, updated and
    // reported once.
    if (IsIdentifiedRstDrive(identifiedDisks, disk.devicePath, disk.pathId)) {
        return kIdentified;
    }
    Bytes request =
        rst_nvme::BuildIdentifyControllerRequest(rst_address::PathNumberByte(disk.pathId));
    DeviceHandle controller =
        DeviceHandle::Open(disk.devicePath, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
    if (!controller.IsOpen()) {
        return kIdentifyUnreachable;
    }
    // Success of the request is success of the identify: the driver's ReturnCode and
    // the NVMe completion are not examined. What it returned must reach the fields
    // read, though: beyond it the buffer holds only the request's zeros.
    const ControlReply reply =
        SendControlRequest(controller.Get(), rst_nvme::kRequest.ioControlCode, request);
    if (!reply || reply.bytes.size() < rst_nvme::kDataAreaOffset + nvme::kIdentifyBytesRead) {
        return kIdentifyRequestFailed;
    }

    // Fixed-width texts: every byte of each field counts, blanks and zeros included.
    const std::span<const std::uint8_t> identify = reply.bytes.subspan(rst_nvme::kDataAreaOffset);
    disk.serialNumber += nvme::IdentifyText(identify, nvme::kSerialNumber, false);
    disk.modelNumber += nvme::IdentifyText(identify, nvme::kModelNumber, false);
    disk.firmwareRevision += nvme::IdentifyText(identify, nvme::kFirmwareRevision, false);
    disk.downloadGranularity = nvme::DownloadGranularityOf(identify).value_or(1);
    identifiedDisks.push_back(disk);
    return kIdentified;
}
