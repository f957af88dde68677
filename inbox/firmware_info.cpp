#include "inbox/firmware_info.h"

#include "drivers/device_io.h"
#include "drivers/miniport_firmware.h"
#include "drivers/srb_io_control.h"

Bytes InboxRequestBuffer(const DiskInfo& disk) {
    return Bytes(inbox_fw::RequestSize(fwreq::ChunkSizeFor(disk.downloadGranularity)), 0);
}

std::optional<std::uint8_t> SlotToActivate(const fwreq::FirmwareInfo& info) {
    for (const fwreq::FirmwareSlot& slot : info.slots) {
        if (!slot.readOnly) {
            return slot.number;
        }
    }
    return std::nullopt;
}

InboxInfoAnswer AskInboxFirmwareInfo(HANDLE drive, Bytes& buffer) {
    InboxInfoAnswer answer;
    if (!inbox_fw::FillGetInfoRequest(buffer)) {
        return answer;
    }
    const ControlReply reply = SendControlRequest(drive, inbox_fw::kRequest.ioControlCode, buffer);
    if (!reply) {
        answer.kind = InboxInfoAnswer::Kind::CallFailed;
        answer.error = win::GetLastError();
        return answer;
    }
    answer.returned = reply.bytes.size();
    // The status counts only when the driver returned it: beyond what it returned the
    // buffer still holds the request's zero, which would read as success.
    answer.status = srb::ReturnCodeOrFailure(reply.bytes);
    if (answer.status != fwreq::kStatusSuccess) {
        answer.kind = InboxInfoAnswer::Kind::Refused;
        return answer;
    }
    answer.info = inbox_fw::ParseFirmwareInfo(reply.bytes);
    if (!answer.info) {
        answer.kind = InboxInfoAnswer::Kind::TableOutside;
        return answer;
    }
    if (!answer.info->upgradeSupport) {
        answer.kind = InboxInfoAnswer::Kind::NoUpgrade;
        return answer;
    }
    const std::optional<std::uint8_t> slot = SlotToActivate(*answer.info);
    if (!slot) {
        answer.kind = InboxInfoAnswer::Kind::NoWritableSlot;
        return answer;
    }
    answer.kind = InboxInfoAnswer::Kind::Usable;
    answer.slot = *slot;
    return answer;
}
