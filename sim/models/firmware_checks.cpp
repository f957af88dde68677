#include "sim/models/firmware_checks.h"

#include "drivers/byte_layout.h"
#include "drivers/nvme_identify.h"

namespace sim {

void CheckSrbHeader(RequestCheck& check, const IoCall& call, const sdk::SRB_IO_CONTROL& header,
                    const srb::RequestFamily& family) {
    const std::size_t size = call.in.size();
    if (call.outSize != size) {
        check.Add("input of " + std::to_string(size) + " bytes but output of " +
                  std::to_string(call.outSize) + "; one buffer goes both ways");
    }
    check.Equal("HeaderLength", header.HeaderLength, srb::kHeaderLength);
    check.Equal("Timeout", header.Timeout, family.timeout);
    check.EqualHex("ControlCode", header.ControlCode, family.controlCode);
    check.Equal("ReturnCode", header.ReturnCode, 0);
    check.Equal("Length", header.Length, size - srb::kHeaderLength);
}

void CheckRequestBlock(RequestCheck& check, const sdk::FIRMWARE_REQUEST_BLOCK& block,
                       std::size_t requestSize, std::size_t payloadOffset) {
    check.Equal("FIRMWARE_REQUEST_BLOCK.Version", block.Version, fwreq::kRequestBlockVersion);
    check.Equal("FIRMWARE_REQUEST_BLOCK.Size", block.Size, sizeof(sdk::FIRMWARE_REQUEST_BLOCK));
    check.Equal("Flags", block.Flags, fwreq::kFlagController);
    check.Equal("DataBufferOffset", block.DataBufferOffset, payloadOffset);
    check.Equal("DataBufferLength", block.DataBufferLength,
                requestSize >= payloadOffset ? requestSize - payloadOffset : 0);
}

void CheckActivatePayload(RequestCheck& check, std::span<const std::uint8_t> in, std::size_t at) {
    const auto activate = fwreq::ReadActivate(in, at);
    if (!activate) {
        check.Add(std::to_string(in.size()) + " bytes, too short for STORAGE_FIRMWARE_ACTIVATE");
        return;
    }
    check.Equal("STORAGE_FIRMWARE_ACTIVATE.Version", activate->Version, fwreq::kActivateVersion);
    check.Equal("STORAGE_FIRMWARE_ACTIVATE.Size", activate->Size,
                sizeof(sdk::STORAGE_FIRMWARE_ACTIVATE));
    check.Zero(in, at + offsetof(sdk::STORAGE_FIRMWARE_ACTIVATE, SlotToActivate) + 1, in.size(),
               "the bytes after SlotToActivate");
}

void CheckInfoV2Body(RequestCheck& check, std::span<const std::uint8_t> in, std::size_t at) {
    const auto version = layout::GetU32(in, at + offsetof(sdk::STORAGE_FIRMWARE_INFO_V2, Version));
    const auto size = layout::GetU32(in, at + offsetof(sdk::STORAGE_FIRMWARE_INFO_V2, Size));
    if (!version || !size) {
        check.Add(std::to_string(in.size()) + " bytes, too short for STORAGE_FIRMWARE_INFO_V2");
        return;
    }
    check.Equal("STORAGE_FIRMWARE_INFO_V2.Version", *version, fwreq::kInfoVersionV2);
    check.Equal("STORAGE_FIRMWARE_INFO_V2.Size", *size, sizeof(sdk::STORAGE_FIRMWARE_INFO_V2));
    check.Zero(in, at + offsetof(sdk::STORAGE_FIRMWARE_INFO_V2, Size) + 4, in.size(),
               "the bytes after Size");
}

std::string GranularityText(const Drive& drive) {
    const std::uint64_t chunk = ProgramChunkSize(drive);
    const std::string units = std::to_string(chunk / nvme::kGranularityUnit) + " x " +
                              std::to_string(nvme::kGranularityUnit);
    return chunk == OwnChunkSize(drive) ? "the drive's granularity " + units
                                        : "the granularity " + units + " its Identify reply gave";
}

void CheckPiece(RequestCheck& check, const Drive& drive, std::uint64_t offset,
                std::uint64_t bufferSize, bool zeroStartsAnew) {
    const std::uint64_t expectedOffset = ExpectedNextOffset(drive);
    if (offset != expectedOffset && !(zeroStartsAnew && offset == 0)) {
        check.Add("Offset is " + std::to_string(offset) + ", expected " +
                  std::to_string(expectedOffset) +
                  (expectedOffset == 0 ? " (a download starts at offset 0)"
                                       : " (where the previous piece ended)"));
    }
    if (offset >= kFirmwareImageSize) {
        check.Add("Offset " + std::to_string(offset) + " is not inside the " +
                  std::to_string(kFirmwareImageSize) + "-byte image");
        return;
    }
    const std::uint64_t expectedSize = ExpectedPieceSize(drive, offset);
    if (bufferSize != expectedSize) {
        check.Add(
            "BufferSize is " + std::to_string(bufferSize) + ", expected " +
            std::to_string(expectedSize) + " (" +
            (expectedSize == ProgramChunkSize(drive)
                 ? GranularityText(drive)
                 : "the bytes left of the " + std::to_string(kFirmwareImageSize) + "-byte image") +
            ")");
    }
}

Delivery DeliverPiece(Drive& drive, const fwreq::Download& download) {
    // A fault's `chunk` counts download requests as the drive does, this one included.
    const std::uint32_t number = drive.downloadRequests;
    Delivery delivery;
    delivery.answer = DownloadFirmwarePiece(drive, download.fixed.Offset, download.image);
    AdvanceDownload(drive, download.fixed.Offset, download.fixed.BufferSize);
    if (drive.faults.download && drive.faults.download->Hits(number)) {
        delivery.reply = &drive.faults.download->fault.reply;
    }
    return delivery;
}

Delivery DeliverCommit(Drive& drive, std::uint8_t slot) {
    Delivery delivery;
    delivery.answer = CommitFirmware(drive, slot);
    StartDownload(drive);
    delivery.reply = &drive.faults.activate.reply;
    return delivery;
}

DWORD AnswerInfoV2(IoCall& call, const Drive& drive, std::size_t at) {
    fwreq::FirmwareInfo info;
    const FirmwareAnswer answer = QueryFirmwareInfo(drive, info);
    if (!answer.Completed()) {
        return answer.error;
    }
    std::uint32_t status = answer.status;
    if (status == fwreq::kStatusSuccess && !drive.faults.firmwareInfo.answer.IsSet()) {
        info.imagePayloadAlignment = kImagePayloadAlignment;
        info.imagePayloadMaxSize = kImagePayloadMaxSize;
        if (!fwreq::WriteFirmwareInfoV2(call.out, at, info)) {
            status = fwreq::kStatusOutputBufferTooSmall;
        }
    }
    CompleteMiniport(call, status);
    return AlterReply(call, ERROR_SUCCESS, &drive.faults.firmwareInfo.reply);
}

void CompleteMiniport(IoCall& call, std::uint32_t returnCode) {
    // The system buffer already holds the request; only ReturnCode changes.
    layout::PutU32(call.out, offsetof(sdk::SRB_IO_CONTROL, ReturnCode), returnCode);
    call.bytesReturned = static_cast<DWORD>(call.in.size());
}

DWORD AnswerMiniport(IoCall& call, const Delivery& delivery) {
    if (!delivery.answer.Completed()) {
        return delivery.answer.error;
    }
    CompleteMiniport(call, delivery.answer.status);
    return AlterReply(call, ERROR_SUCCESS, delivery.reply);
}

void NoteIdentifyReply(Drive& drive, const IoCall& call, std::size_t dataOffset) {
    const Bytes view = CallerView(call);
    if (dataOffset <= view.size()) {
        NoteIdentifyData(drive, std::span<const std::uint8_t>(view).subspan(dataOffset));
    }
}

}  // namespace sim
