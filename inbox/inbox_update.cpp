#include <algorithm>
#include <optional>
#include <string>

#include "drivers/device_io.h"
#include "drivers/miniport_firmware.h"
#include "drivers/srb_io_control.h"
#include "firmware/firmware_package.h"
#include "inbox/inbox.h"
#include "inbox/inbox_messages.h"
#include "report/console.h"

namespace {

constexpr std::uint32_t kPowerCycleRequired = 0x20;

// Why a request failed goes to the diagnostic channel, never to the console.
void Diagnose(const std::string& text) {
    win::OutputDebugStringW(console::Widen(text + "\n").c_str());
}

// The first writable slot the drive reports, or nothing when it takes no update.
std::optional<std::uint8_t> ChooseSlot(const fwreq::FirmwareInfo& info) {
    if (!info.upgradeSupport) {
        return std::nullopt;
    }
    for (const fwreq::FirmwareSlot& slot : info.slots) {
        if (!slot.readOnly) {
            return slot.number;
        }
    }
    return std::nullopt;
}

std::int32_t RunFirmwareRequests(HANDLE drive, RequestBuffer& buffer, std::size_t chunkSize,
                                 std::uint32_t imageSize) {
    if (!inbox_fw::FillGetInfoRequest(buffer)) {
        return kUpdateDriveUnreachable;
    }
    if (!SendControlRequest(drive, inbox_fw::kIoControlCode, buffer)) {
        Diagnose("Get device Information Failed: 0x" + console::HexLower(win::GetLastError()));
        return kUpdateDriveUnreachable;
    }
    const std::uint32_t infoStatus = srb::ReturnCodeOrFailure(buffer);
    if (infoStatus != 0) {
        Diagnose("Get device info failed. ReturnCode: 0x" + console::HexLower(infoStatus));
        return kUpdateDriveUnreachable;
    }
    // A reply that places the slot table outside the buffer is a failed request.
    const std::optional<fwreq::FirmwareInfo> info = inbox_fw::ParseFirmwareInfo(buffer);
    if (!info) {
        Diagnose("Get device info failed: slot table outside the reply");
        return kUpdateDriveUnreachable;
    }
    const std::optional<std::uint8_t> slot = ChooseSlot(*info);
    if (!slot) {
        return kUpdateFailed;
    }

    // Chunks follow each other from offset 0; the last one is shorter when the
    // chunk size does not divide the image, and nothing past the image is sent.
    const std::span<const std::uint8_t> image =
        FirmwareWorkingBuffer().first(std::min<std::size_t>(imageSize, kFirmwareImageSize));
    for (std::size_t offset = 0; offset < image.size(); offset += chunkSize) {
        const std::size_t length = std::min(chunkSize, image.size() - offset);
        if (!inbox_fw::FillDownloadRequest(buffer, offset, image.subspan(offset, length))) {
            return kUpdateDriveUnreachable;
        }
        if (!SendControlRequest(drive, inbox_fw::kIoControlCode, buffer)) {
            Diagnose("DeviceIO failed. Function: 0x" + console::HexLower(win::GetLastError()));
            return kUpdateDriveUnreachable;
        }
        const std::uint32_t status = srb::ReturnCodeOrFailure(buffer);
        if (status != 0) {
            Diagnose("DeviceIO failed. ReturnCode: 0x" + console::HexLower(status));
            return kUpdateDriveUnreachable;
        }
    }

    if (!inbox_fw::FillActivateRequest(buffer, *slot)) {
        return kUpdateDriveUnreachable;
    }
    if (!SendControlRequest(drive, inbox_fw::kIoControlCode, buffer)) {
        Diagnose("DeviceIO failed. activate failed: 0x" + console::HexLower(win::GetLastError()));
        return kUpdateDriveUnreachable;
    }
    const std::uint32_t status = srb::ReturnCodeOrFailure(buffer);
    return status == 0 || status == kPowerCycleRequired ? kUpdateSucceeded : kUpdateFailed;
}

}  // namespace

std::int32_t UpdateInboxDisk(const DiskInfo& disk, const std::uint32_t& imageSize) {
    PrintTargetTable(disk, L" Update FW : ");

    const std::size_t chunkSize =
        static_cast<std::size_t>(std::clamp(disk.downloadGranularity, 1, 255)) * 4096;
    RequestBuffer buffer(inbox_fw::RequestSize(chunkSize), 0);

    DeviceHandle drive = DeviceHandle::Open(disk.devicePath, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
    if (!drive.IsOpen()) {
        PrintOpenFailure(drive.OpenError());
        return kUpdateDriveUnreachable;
    }
    return RunFirmwareRequests(drive.Get(), buffer, chunkSize, imageSize);
}
