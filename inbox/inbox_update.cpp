#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "base/utf8.h"
#include "drivers/device_io.h"
#include "drivers/miniport_firmware.h"
#include "drivers/srb_io_control.h"
#include "firmware/firmware_package.h"
#include "inbox/firmware_info.h"
#include "inbox/inbox.h"
#include "inbox/inbox_messages.h"
#include "report/console.h"

namespace {

// Why a request failed goes to the diagnostic channel, never to the console.
void Diagnose(const std::string& text) {
    win::OutputDebugStringW(utf8::FromLatin1(text + "\n").c_str());
}

// The driver's status, read only from what it returned: a reply that stops short of
// ReturnCode is no answer, whatever the buffer still holds of the request.
std::uint32_t StatusOf(const ControlReply& reply) {
    return srb::ReturnCodeOrFailure(reply.bytes);
}

// Sends the request in `buffer`; a call that fails is diagnosed as `failure` followed by
// GetLastError.
ControlReply Send(HANDLE drive, Bytes& buffer, std::string_view failure) {
    const ControlReply reply = SendControlRequest(drive, inbox_fw::kRequest.ioControlCode, buffer);
    if (!reply) {
        Diagnose(std::string(failure) + console::HexLower(win::GetLastError()));
    }
    return reply;
}

std::int32_t RunFirmwareRequests(HANDLE drive, Bytes& buffer, std::size_t chunkSize,
                                 std::uint32_t imageSize) {
    const InboxInfoAnswer answer = AskInboxFirmwareInfo(drive, buffer);
    switch (answer.kind) {
        case InboxInfoAnswer::Kind::NotSent:
            return kUpdateDriveUnreachable;
        case InboxInfoAnswer::Kind::CallFailed:
            Diagnose("Get device Information Failed: 0x" + console::HexLower(answer.error));
            return kUpdateDriveUnreachable;
        case InboxInfoAnswer::Kind::Refused:
            Diagnose("Get device info failed. ReturnCode: 0x" + console::HexLower(answer.status));
            return kUpdateDriveUnreachable;
        // A reply that places the slot table outside what it returned is a failed request.
        case InboxInfoAnswer::Kind::TableOutside:
            Diagnose("Get device info failed: slot table outside the reply");
            return kUpdateDriveUnreachable;
        case InboxInfoAnswer::Kind::NoUpgrade:
        case InboxInfoAnswer::Kind::NoWritableSlot:
            return kUpdateFailed;
        case InboxInfoAnswer::Kind::Usable:
            break;
    }
    const std::uint8_t slot = answer.slot;

    const std::span<const std::uint8_t> image =
        FirmwareWorkingBuffer().first(std::min<std::size_t>(imageSize, kFirmwareImageSize));
    const bool downloaded =
        fwreq::ForEachChunk(image, chunkSize, [&](std::uint64_t offset, auto chunk) {
            if (!inbox_fw::FillDownloadRequest(buffer, offset, chunk)) {
                return false;
            }
            const ControlReply reply = Send(drive, buffer, "DeviceIO failed. Function: 0x");
            if (!reply) {
                return false;
            }
            if (const std::uint32_t status = StatusOf(reply); status != fwreq::kStatusSuccess) {
                Diagnose("DeviceIO failed. ReturnCode: 0x" + console::HexLower(status));
                return false;
            }
            return true;
        });
    if (!downloaded) {
        return kUpdateDriveUnreachable;
    }

    if (!inbox_fw::FillActivateRequest(buffer, slot)) {
        return kUpdateDriveUnreachable;
    }
    const ControlReply reply = Send(drive, buffer, "DeviceIO failed. activate failed: 0x");
    if (!reply) {
        return kUpdateDriveUnreachable;
    }
    const std::uint32_t status = StatusOf(reply);
    return status == fwreq::kStatusSuccess || status == fwreq::kStatusPowerCycleRequired
               ? kUpdateSucceeded
               : kUpdateFailed;
}

}  // namespace

std::int32_t UpdateInboxDisk(const DiskInfo& disk, const std::uint32_t& imageSize) {
    PrintTargetTable(disk, L" Update FW : ");

    const std::size_t chunkSize = fwreq::ChunkSizeFor(disk.downloadGranularity);
    Bytes buffer = InboxRequestBuffer(disk);

    DeviceHandle drive = DeviceHandle::Open(disk.devicePath, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
    if (!drive.IsOpen()) {
        PrintOpenFailure(drive.OpenError());
        return kUpdateDriveUnreachable;
    }
    return RunFirmwareRequests(drive.Get(), buffer, chunkSize, imageSize);
}
