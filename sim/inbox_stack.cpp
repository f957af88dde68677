// The operating system's storage stack with its NVMe driver, as seen through a disk
// handle: the protocol-specific property query that carries Identify Controller, and
// the miniport "FIRMWARE" requests, carried to the drive record of the disk.
//
// Strict: each request is compared field by field with what the program must send. A
// deviation is recorded as a protocol error and the call fails with
// ERROR_INVALID_PARAMETER (ERROR_INVALID_FUNCTION for a request this stack does not
// know at all), as the stack refuses a malformed request before the drive sees it.
// What the drive itself refuses (a misaligned piece, a bad slot, an incomplete image)
// completes with a firmware status in ReturnCode.
//
// The stack also holds the program to what it must send this particular drive: every
// FIRMWARE request sized for chunks of the granularity the drive's Identify data
// gives, the pieces in order from offset 0 (an information request starts a new
// download, as the program's does), and activation of the first writable slot. These
// are looser on the drive itself (NVMe takes pieces in any order and of any multiple
// of FWUG), so a deviation is the program's fault: it fails like any malformed field,
// with ERROR_INVALID_PARAMETER, and never reaches the drive.
#include <algorithm>
#include <string>

#include "drivers/miniport_firmware.h"
#include "drivers/srb_io_control.h"
#include "drivers/storage_requests.h"
#include "sim/io.h"
#include "sim/nvme_drive.h"
#include "sim/request_check.h"
#include "sim/text.h"

namespace sim {
namespace {

// STORAGE_PROTOCOL_DATA_DESCRIPTOR: Version and Size both hold its own size.
constexpr std::uint32_t kDescriptorSize = static_cast<std::uint32_t>(storage::kIdentifyDataOffset);

std::string OnDisk(const IoCall& call) {
    return " on " + Utf16ToUtf8(call.file.path);
}

// The request as it came in, copied to the reply buffer: the stack answers in the
// caller's one buffer, so whatever it does not overwrite reads back as sent.
void EchoRequest(IoCall& call) {
    std::copy_n(call.in.begin(), std::min(call.in.size(), call.out.size()), call.out.begin());
}

DWORD IdentifyQuery(IoCall& call, const Disk& disk, Drive* drive) {
    RequestCheck check("IOCTL_STORAGE_QUERY_PROPERTY (NVMe Identify Controller)" + OnDisk(call));
    const std::span<const std::uint8_t> in = call.in;
    if (in.size() != storage::kIdentifyQuerySize) {
        check.Add("input of " + std::to_string(in.size()) + " bytes, expected " +
                  std::to_string(storage::kIdentifyQuerySize));
    }
    if (const auto query = storage::ReadProtocolQuery(in)) {
        check.Equal("PropertyId", query->propertyId,
                    storage::kStorageAdapterProtocolSpecificProperty);
        check.Equal("QueryType", query->queryType, storage::kPropertyStandardQuery);
        check.Equal("ProtocolType", query->protocolType, storage::kProtocolTypeNvme);
        check.Equal("DataType", query->dataType, storage::kNvmeDataTypeIdentify);
        check.Equal("ProtocolDataRequestValue", query->requestValue, nvme::kCnsController);
        check.Equal("ProtocolDataRequestSubValue", query->requestSubValue, 0);
        check.Equal("ProtocolDataOffset", query->protocolDataOffset,
                    storage::kIdentifyProtocolDataOffset);
        check.Equal("ProtocolDataLength", query->protocolDataLength, nvme::kIdentifyDataLength);
        check.Zero(in, storage::kProtocolDataLengthOffset + 4, in.size(), "the rest of the query");
    }
    const bool requestOk = check.Ok();
    if (call.out.size() != storage::kIdentifyQuerySize) {
        check.Add("output of " + std::to_string(call.out.size()) + " bytes, expected " +
                  std::to_string(storage::kIdentifyQuerySize));
    }
    if (!check.Ok()) {
        call.ProtocolError(drive, check.Text());
        // A reply buffer too small for the reply is the one fault the stack reports as such.
        const bool onlyShortOutput = requestOk && call.out.size() < storage::kIdentifyQuerySize;
        return onlyShortOutput ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER;
    }
    if (drive == nullptr) {
        return ERROR_NOT_SUPPORTED;  // not an NVMe device: no protocol data to query
    }
    if (const DWORD error = IdentifyError(*drive); error != ERROR_SUCCESS) {
        return error;
    }
    EchoRequest(call);
    const std::span<std::uint8_t> out = call.out;
    std::fill_n(out.begin(), storage::kIdentifyDataOffset, std::uint8_t{0});
    layout::PutU32(out, storage::kDescriptorVersionOffset, kDescriptorSize);
    layout::PutU32(out, storage::kDescriptorSizeOffset, kDescriptorSize);
    layout::PutU32(out, storage::kProtocolTypeOffset, storage::kProtocolTypeNvme);
    layout::PutU32(out, storage::kDataTypeOffset, storage::kNvmeDataTypeIdentify);
    layout::PutU32(out, storage::kRequestValueOffset, nvme::kCnsController);
    layout::PutU32(out, storage::kRequestSubValueOffset, 0);
    layout::PutU32(out, storage::kProtocolDataOffsetOffset, storage::kIdentifyProtocolDataOffset);
    layout::PutU32(out, storage::kProtocolDataLengthOffset,
                   static_cast<std::uint32_t>(nvme::kIdentifyDataLength));
    const std::uint16_t vendorId =
        disk.attach == Attach::Other ? kOtherMakerVendorId : kMakerVendorId;
    const IdentifyData data = IdentifyControllerData(*drive, vendorId);
    std::copy(data.begin(), data.end(), storage::MutableIdentifyData(out).begin());
    call.bytesReturned = static_cast<DWORD>(storage::kIdentifyQuerySize);
    return ERROR_SUCCESS;
}

std::string FunctionName(std::uint32_t function) {
    switch (function) {
        case fwreq::kFunctionGetInfo:
            return "FIRMWARE information request";
        case fwreq::kFunctionDownload:
            return "FIRMWARE download request";
        case fwreq::kFunctionActivate:
            return "FIRMWARE activation request";
        default:
            return "FIRMWARE request";
    }
}

// Checks the data area of a request by its function.
void CheckFirmwarePayload(RequestCheck& check, std::span<const std::uint8_t> in,
                          std::uint32_t function) {
    const std::size_t size = in.size();
    switch (function) {
        case fwreq::kFunctionGetInfo:
            check.Zero(in, inbox_fw::kDataAreaOffset, size, "the data area");
            return;
        case fwreq::kFunctionDownload: {
            const auto download = inbox_fw::ReadDownload(in);
            if (!download) {
                check.Add(std::to_string(size) + " bytes, too short for STORAGE_FIRMWARE_DOWNLOAD");
                return;
            }
            check.Equal("STORAGE_FIRMWARE_DOWNLOAD.Version", download->version,
                        fwreq::kDownloadVersion);
            check.Equal("STORAGE_FIRMWARE_DOWNLOAD.Size", download->size,
                        fwreq::kDownloadFixedLength);
            if (download->bufferSize > size - inbox_fw::kImageOffset) {
                check.Add("BufferSize " + std::to_string(download->bufferSize) +
                          " does not fit the " + std::to_string(size - inbox_fw::kImageOffset) +
                          " bytes after the fixed part");
                return;
            }
            check.Zero(in, inbox_fw::kImageOffset + download->bufferSize, size,
                       "the bytes after the image");
            return;
        }
        case fwreq::kFunctionActivate: {
            const auto activate = inbox_fw::ReadActivate(in);
            if (!activate) {
                check.Add(std::to_string(size) + " bytes, too short for STORAGE_FIRMWARE_ACTIVATE");
                return;
            }
            check.Equal("STORAGE_FIRMWARE_ACTIVATE.Version", activate->version,
                        fwreq::kActivateVersion);
            check.Equal("STORAGE_FIRMWARE_ACTIVATE.Size", activate->size, fwreq::kActivateLength);
            check.Zero(in, inbox_fw::kActivateSlotOffset + 1, size,
                       "the bytes after SlotToActivate");
            return;
        }
        default:
            check.Add("Function is " + std::to_string(function) + ", expected 1, 2 or 3");
    }
}

// Checks a request against what the program must send this drive: the buffer sized
// for its chunks, the piece in order and of the chunk size, the slot it must activate.
void CheckForDrive(RequestCheck& check, std::span<const std::uint8_t> in, std::uint32_t function,
                   const Drive& drive) {
    const std::uint64_t expectedSize = ProgramChunkSize(drive) + inbox_fw::kImageOffset;
    if (in.size() != expectedSize) {
        check.Add("request of " + std::to_string(in.size()) + " bytes, expected " +
                  std::to_string(expectedSize) + " (a chunk of " + GranularityText(drive) +
                  ", plus " + std::to_string(inbox_fw::kImageOffset) + ")");
    }
    if (function == fwreq::kFunctionDownload) {
        if (const auto download = inbox_fw::ReadDownload(in)) {
            CheckPiece(check, drive, download->offset, download->bufferSize, false);
        }
    } else if (function == fwreq::kFunctionActivate) {
        if (const auto activate = inbox_fw::ReadActivate(in)) {
            const std::uint8_t slot = activate->slotToActivate;
            if (const auto writable = FirstWritableSlot(drive); !writable) {
                check.Add("SlotToActivate is " + std::to_string(slot) +
                          ", but the drive reports no writable slot");
            } else if (slot != *writable) {
                check.Add("SlotToActivate is " + std::to_string(slot) + ", expected " +
                          std::to_string(*writable) +
                          " (the first writable slot the drive reports)");
            }
        }
    }
}

DWORD FirmwareRequest(IoCall& call, Drive* drive) {
    const std::span<const std::uint8_t> in = call.in;
    const std::size_t size = in.size();
    const auto header = srb::ReadSrbIoControl(in);
    const auto block = inbox_fw::ReadRequestBlock(in);
    const std::uint32_t function = block ? block->function : 0;
    RequestCheck check(FunctionName(function) + OnDisk(call));
    if (!header) {
        check.Add(std::to_string(size) + " bytes, too short for SRB_IO_CONTROL");
        call.ProtocolError(drive, check.Text());
        return ERROR_INVALID_PARAMETER;
    }
    if (!srb::HasSignature(*header, inbox_fw::kSignature)) {
        check.Add("Signature is " + RequestCheck::Signature(header->signature) +
                  ", which the inbox NVMe driver does not serve (\"FIRMWARE\" expected)");
        call.ProtocolError(drive, check.Text());
        return ERROR_INVALID_FUNCTION;
    }
    if (call.out.size() != size) {
        check.Add("input of " + std::to_string(size) + " bytes but output of " +
                  std::to_string(call.out.size()) + "; one buffer goes both ways");
    }
    check.Equal("HeaderLength", header->headerLength, srb::kHeaderLength);
    check.Equal("Timeout", header->timeout, inbox_fw::kTimeout);
    check.EqualHex("ControlCode", header->controlCode, inbox_fw::kControlCode);
    check.Equal("ReturnCode", header->returnCode, 0);
    check.Equal("Length", header->length, size - srb::kHeaderLength);
    if (!block) {
        check.Add(std::to_string(size) + " bytes, too short for FIRMWARE_REQUEST_BLOCK");
    } else {
        check.Equal("FIRMWARE_REQUEST_BLOCK.Version", block->version, fwreq::kRequestBlockVersion);
        check.Equal("FIRMWARE_REQUEST_BLOCK.Size", block->size, fwreq::kBlockLength);
        check.Equal("Flags", block->flags, fwreq::kFlagController);
        check.Equal("DataBufferOffset", block->dataBufferOffset, inbox_fw::kDataAreaOffset);
        check.Equal("DataBufferLength", block->dataBufferLength, size - inbox_fw::kDataAreaOffset);
        CheckFirmwarePayload(check, in, function);
        if (drive != nullptr) {
            CheckForDrive(check, in, function, *drive);
        }
    }
    if (!check.Ok()) {
        call.ProtocolError(drive, check.Text());
        return ERROR_INVALID_PARAMETER;
    }
    if (drive == nullptr) {
        return ERROR_INVALID_FUNCTION;  // no NVMe drive: no firmware interface
    }

    FirmwareAnswer answer;
    fwreq::FirmwareInfo info;
    if (function == fwreq::kFunctionGetInfo) {
        StartDownload(*drive);
        answer = QueryFirmwareInfo(*drive, info);
    } else if (function == fwreq::kFunctionDownload) {
        const auto download = inbox_fw::ReadDownload(in);
        answer = DownloadFirmwarePiece(*drive, download->offset, download->image, check.Request());
        AdvanceDownload(*drive, download->offset, download->bufferSize);
    } else {
        answer = CommitFirmware(*drive, inbox_fw::ReadActivate(in)->slotToActivate);
        StartDownload(*drive);
    }
    if (!answer.Completed()) {
        return answer.error;
    }
    EchoRequest(call);
    std::uint32_t status = answer.status;
    if (function == fwreq::kFunctionGetInfo && status == fwreq::kStatusSuccess &&
        !inbox_fw::WriteFirmwareInfoReply(call.out, info)) {
        status = fwreq::kStatusOutputBufferTooSmall;
    }
    srb::SetReturnCode(call.out, status);
    call.bytesReturned = static_cast<DWORD>(size);
    return ERROR_SUCCESS;
}

}  // namespace

DWORD InboxStackIo(IoCall& call) {
    const Disk* disk = call.TargetDisk();
    if (disk == nullptr) {
        return ERROR_INVALID_FUNCTION;
    }
    Drive* drive = call.TargetDrive();
    switch (call.code) {
        case IOCTL_STORAGE_QUERY_PROPERTY:
            return IdentifyQuery(call, *disk, drive);
        case IOCTL_SCSI_MINIPORT:
            return FirmwareRequest(call, drive);
        default:
            break;
    }
    call.ProtocolError(drive, "control code " + RequestCheck::Hex(call.code) + OnDisk(call) +
                                  ": not a request the program sends to a disk");
    return ERROR_INVALID_FUNCTION;
}

}  // namespace sim
