#include <algorithm>
#include <string>

#include "base/utf8.h"
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
    return utf8::FromLatin1(console::HexUpper(value));
}

// "%d" of a status word.
std::wstring SignedDecimal(std::uint32_t value) {
    return utf8::FromLatin1(console::Decimal(static_cast<std::int32_t>(value)));
}

// The console line for an activation status, and the result it gives.
std::int32_t ReportActivationStatus(std::uint32_t status) {
    switch (status) {
        case fwreq::kStatusSuccess:
            console::WideFormatted(L"  [PASS] Firmware activation is succeeded.\n\n");
            return kUpdateSucceeded;
        case fwreq::kStatusError:
        case fwreq::kStatusControllerError:
            console::WideFormatted(L"  [ERROR] Firmware activate failed: error returned\n\n");
            return kUpdateFailed;
        case fwreq::kStatusIllegalRequest:
        case fwreq::kStatusInvalidParameter:
        case fwreq::kStatusInputBufferTooBig:
            console::WideFormatted(
                L"  [ERROR] Firmware activate parameter error: srbControl->ReturnCode " +
                SignedDecimal(status) + L"\n\n");
            return kUpdateFailed;
        case fwreq::kStatusInvalidSlot:
            console::WideFormatted(L"  [ERROR] Firmware activate failed: invalid slot number\n\n");
            return kUpdateFailed;
        case fwreq::kStatusInvalidImage:
            console::WideFormatted(
                L"  [ERROR] Firmware activate failed: invalid firmware image\n\n");
            return kUpdateFailed;
        case fwreq::kStatusPowerCycleRequired:
            console::WideFormatted(
                L"  [PASS] Firmware activate succeeded. PLEASE SHUTDOWN COMPUTER.\n\n\n");
            return kUpdateNeedsReboot;
        default:
            console::WideFormatted(
                L"  [ERROR] Firmware activate failed: unexpected error, srbControl->ReturnCode " +
                SignedDecimal(status) + L"\n\n");
            return kUpdateFailed;
    }
}

}  // namespace

std::int32_t DownloadRstFirmware(HANDLE controller, const DiskInfo& disk,
                                 const std::uint32_t& imageSize) {
    const std::size_t chunkSize = fwreq::ChunkSizeFor(disk.downloadGranularity);
    const std::uint8_t pathNumber = rst_address::PathNumberByte(disk.pathId);
    const std::span<const std::uint8_t> image =
        FirmwareWorkingBuffer().first(std::min<std::size_t>(imageSize, kFirmwareImageSize));

    // One buffer serves every chunk; a shorter last chunk sizes the request to itself.
    Bytes request;
    request.reserve(rst_fw::DownloadRequestSize(chunkSize));
    const bool downloaded =
        fwreq::ForEachChunk(image, chunkSize, [&](std::uint64_t offset, auto chunk) {
            if (!rst_fw::FillDownloadRequest(request, pathNumber, offset, chunk)) {
                return false;
            }
            const ControlReply reply =
                SendControlRequest(controller, rst_fw::kRequest.ioControlCode, request);
            if (!reply) {
                console::WideFormatted(L"  [ERROR] Firmware download IOCTL failed: 0x" +
                                       HexUpper(win::GetLastError()) + L"\n");
                return false;
            }
            // A reply that stops short of ReturnCode has not accepted the chunk.
            const std::uint32_t returnCode = srb::ReturnCodeOrFailure(reply.bytes);
            if (returnCode != fwreq::kStatusSuccess) {
                console::WideFormatted(
                    L"  [ERROR] Firmware download failed: srbControl->ReturnCode " +
                    SignedDecimal(returnCode) + L"\n");
                return false;
            }
            return true;
        });

    console::WideLine(L"");
    if (!downloaded) {
        console::WideLine(L"  [FAIL] Firmware download failed.");
        return kUpdateFailed;
    }
    console::WideLine(L"  [PASS] Firmware download is succeeded.");
    return kUpdateSucceeded;
}

std::int32_t ActivateRstFirmware(HANDLE controller, std::int64_t pathId) {
    Bytes request = rst_fw::BuildActivateRequest(rst_address::PathNumberByte(pathId));
    const ControlReply reply =
        SendControlRequest(controller, rst_fw::kRequest.ioControlCode, request);
    if (!reply) {
        console::WideFormatted(L"  [ERROR] Firmware activate IOCTL failed: 0x" +
                               HexUpper(win::GetLastError()) + L"\n");
        return kUpdateFailed;
    }
    return ReportActivationStatus(srb::ReturnCodeOrFailure(reply.bytes));
}

std::int32_t UpdateRstDisk(const DiskInfo& disk, const std::uint32_t& imageSize) {
    PrintTargetTable(disk, L" Updated FW : ");
    DeviceHandle controller = DeviceHandle::Open(disk.devicePath, 0, 0);
    if (!controller.IsOpen()) {
        PrintOpenFailure(controller.OpenError());
        return kUpdateDriveUnreachable;
    }
    if (DownloadRstFirmware(controller.Get(), disk, imageSize) != kUpdateSucceeded) {
        return kUpdateFailed;
    }
    return ActivateRstFirmware(controller.Get(), disk.pathId);
}
