#include <algorithm>
#include <string>

#include "drivers/device_io.h"
#include "drivers/firmware_request.h"
#include "drivers/rst_address.h"
#include "drivers/rst_firmware.h"
#include "drivers/srb_io_control.h"
#include "firmware/firmware_package.h"
#include "inbox/inbox.h"
#include "inbox/inbox_messages.h"
#include "report/console.h"
#include "rst/rst.h"

namespace {

std::wstring HexUpper(DWORD value) {
    return console::Widen(console::HexUpper(value));
}

// "%d" of a status word.
std::wstring SignedDecimal(std::uint32_t value) {
    return console::Widen(console::Decimal(static_cast<std::int32_t>(value)));
}

// The console line for an activation status, and the result it gives.
std::int32_t ReportActivationStatus(std::uint32_t status) {
    switch (status) {
        case 0x00:
            console::WideFormatted(L"  [PASS] Firmware activation is succeeded.\n\n");
            return 0;
        case 0x01:
        case 0x10:
            console::WideFormatted(L"  [ERROR] Firmware activate failed: error returned\n\n");
            return 1;
        case 0x02:
        case 0x03:
        case 0x04:
            console::WideFormatted(
                L"  [ERROR] Firmware activate parameter error: srbControl->ReturnCode " +
                SignedDecimal(status) + L"\n\n");
            return 1;
        case 0x06:
            console::WideFormatted(L"  [ERROR] Firmware activate failed: invalid slot number\n\n");
            return 1;
        case 0x07:
            console::WideFormatted(
                L"  [ERROR] Firmware activate failed: invalid firmware image\n\n");
            return 1;
        case 0x20:
            console::WideFormatted(
                L"  [PASS] Firmware activate succeeded. PLEASE SHUTDOWN COMPUTER.\n\n\n");
            return kUpdateNeedsReboot;
        default:
            console::WideFormatted(
                L"  [ERROR] Firmware activate failed: unexpected error, srbControl->ReturnCode " +
                SignedDecimal(status) + L"\n\n");
            return 1;
    }
}

}  // namespace

std::int32_t DownloadRstFirmware(HANDLE controller, const DiskInfo& disk,
                                 const std::uint32_t& imageSize) {
    const std::size_t chunkSize =
        static_cast<std::size_t>(std::clamp(disk.downloadGranularity, 1, 255)) * 4096;
    const std::uint8_t pathNumber = rst_address::PathNumberByte(disk.pathId);
    const std::span<const std::uint8_t> image =
        FirmwareWorkingBuffer().first(std::min<std::size_t>(imageSize, kFirmwareImageSize));

    // One buffer serves every chunk. The last chunk is shorter when the chunk size
    // does not divide the image, so the image's tail reaches the drive too.
    RequestBuffer request;
    request.reserve(rst_fw::DownloadRequestSize(chunkSize));
    bool downloaded = true;
    for (std::size_t offset = 0; offset < image.size(); offset += chunkSize) {
        const std::size_t length = std::min(chunkSize, image.size() - offset);
        if (!rst_fw::FillDownloadRequest(request, pathNumber, offset,
                                         image.subspan(offset, length))) {
            downloaded = false;
            break;
        }
        if (!SendControlRequest(controller, rst_fw::kIoControlCode, request)) {
            console::WideFormatted(L"  [ERROR] Firmware download IOCTL failed: 0x" +
                                   HexUpper(win::GetLastError()) + L"\n");
            downloaded = false;
            break;
        }
        const std::uint32_t returnCode = srb::ReturnCodeOrFailure(request);
        if (returnCode != 0) {
            console::WideFormatted(L"  [ERROR] Firmware download failed: srbControl->ReturnCode " +
                                   SignedDecimal(returnCode) + L"\n");
            downloaded = false;
            break;
        }
    }

    console::WideLine(L"");
    if (!downloaded) {
        console::WideLine(L"  [FAIL] Firmware download failed.");
        return 1;
    }
    console::WideLine(L"  [PASS] Firmware download is succeeded.");
    return 0;
}

std::int32_t ActivateRstFirmware(HANDLE controller, std::int64_t pathId) {
    RequestBuffer request = rst_fw::BuildActivateRequest(rst_address::PathNumberByte(pathId));
    if (!SendControlRequest(controller, rst_fw::kIoControlCode, request)) {
        console::WideFormatted(L"  [ERROR] Firmware activate IOCTL failed: 0x" +
                               HexUpper(win::GetLastError()) + L"\n");
        return 1;
    }
    return ReportActivationStatus(srb::ReturnCodeOrFailure(request));
}

std::int32_t UpdateRstDisk(const DiskInfo& disk, const std::uint32_t& imageSize) {
    PrintTargetTable(disk, L" Updated FW : ");
    DeviceHandle controller = DeviceHandle::Open(disk.devicePath, 0, 0);
    if (!controller.IsOpen()) {
        PrintOpenFailure(controller.OpenError());
        return kUpdateDriveUnreachable;
    }
    if (DownloadRstFirmware(controller.Get(), disk, imageSize) != 0) {
        return 1;
    }
    return ActivateRstFirmware(controller.Get(), disk.pathId);
}
