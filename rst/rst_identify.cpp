#include "drivers/device_io.h"
#include "drivers/nvme_identify.h"
#include "drivers/rst_address.h"
#include "drivers/rst_nvme_pass_through.h"
#include "rst/rst.h"

std::int32_t IdentifyRstDisk(DiskInfo disk, DiskList& identifiedDisks) {
    RequestBuffer request =
        rst_nvme::BuildIdentifyControllerRequest(rst_address::PathNumberByte(disk.pathId));
    DeviceHandle controller =
        DeviceHandle::Open(disk.devicePath, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
    if (!controller.IsOpen()) {
        return 8;
    }
    // Success of the request is success of the identify: the driver's ReturnCode and
    // the NVMe completion are not examined.
    if (!SendControlRequest(controller.Get(), rst_nvme::kIoControlCode, request)) {
        return 5;
    }

    // Fixed-width texts: every byte of each field counts, blanks and zeros included.
    const std::span<const std::uint8_t> identify = rst_nvme::IdentifyData(request);
    disk.serialNumber += nvme::IdentifyText(identify, nvme::kSerialNumber, false);
    disk.modelNumber += nvme::IdentifyText(identify, nvme::kModelNumber, false);
    disk.firmwareRevision += nvme::IdentifyText(identify, nvme::kFirmwareRevision, false);
    disk.downloadGranularity = nvme::DownloadGranularityOf(identify).value_or(1);
    identifiedDisks.push_back(disk);
    return 0;
}
