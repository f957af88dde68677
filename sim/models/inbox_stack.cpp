// The operating system's storage stack with its NVMe driver, as seen through a disk
// handle: the protocol-specific property query that carries Identify Controller, and
// the miniport "FIRMWARE" requests, carried to the drive record of the disk.
//
// Strict: each request is compared field by field with what the program must send,
// and with what the replies so far told it to send this drive (chunk size, order,
// slot); the public information request, which the updater never sends, with its own
// fixed form. How each kind of deviation is answered, and how the drive and a scenario's
// faults answer the rest, is in sim/README.md ("The storage drivers and the drive").
#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>

#include "base/utf8.h"
#include "drivers/miniport_firmware.h"
#include "drivers/srb_io_control.h"
#include "drivers/storage_requests.h"
#include "sim/models/firmware_checks.h"
#include "sim/models/io.h"
#include "sim/models/nvme_drive.h"
#include "sim/models/request_check.h"
#include "sim/models/text.h"

namespace sim {
namespace {

// STORAGE_PROTOCOL_DATA_DESCRIPTOR: Version and Size both hold its own size.
constexpr std::uint32_t kDescriptorSize = static_cast<std::uint32_t>(storage::kIdentifyDataOffset);

std::string OnDisk(const IoCall& call) {
    return " on " + utf8::FromUtf16(call.path);
}

// STORAGE_PROTOCOL_DATA_DESCRIPTOR: the protocol data of the query, as the stack
// completed it.
// FixedProtocolReturnData is where a failed NVMe command leaves its status when there
// is no data to return.
void WriteDescriptor(std::span<std::uint8_t> out, std::uint32_t fixedReturnData) {
    sdk::STORAGE_PROTOCOL_DATA_DESCRIPTOR descriptor{};
    descriptor.Version = kDescriptorSize;
    descriptor.Size = kDescriptorSize;
    sdk::STORAGE_PROTOCOL_SPECIFIC_DATA& data = descriptor.ProtocolSpecificData;
    data.ProtocolType = storage::kProtocolTypeNvme;
    data.DataType = storage::kNvmeDataTypeIdentify;
    data.ProtocolDataRequestValue = nvme::kCnsController;
    data.ProtocolDataOffset = storage::kIdentifyProtocolDataOffset;
    data.ProtocolDataLength = static_cast<std::uint32_t>(nvme::kIdentifyDataLength);
    data.FixedProtocolReturnData = fixedReturnData;
    // The caller holds a whole reply buffer.
    static_cast<void>(layout::WriteAs(out, 0, descriptor));
}

DWORD IdentifyQuery(IoCall& call, const Disk& disk, Drive* drive) {
    RequestCheck check("IOCTL_STORAGE_QUERY_PROPERTY (NVMe Identify Controller)" + OnDisk(call));
    const std::span<const std::uint8_t> in = call.in;
    if (in.size() != storage::kIdentifyQuerySize) {
        check.Add("input of " + std::to_string(in.size()) + " bytes, expected " +
                  std::to_string(storage::kIdentifyQuerySize));
    }
    if (const auto query = storage::ReadProtocolQuery(in)) {
        check.Equal("PropertyId", query->Query.PropertyId,
                    storage::kStorageAdapterProtocolSpecificProperty);
        check.Equal("QueryType", query->Query.QueryType, storage::kPropertyStandardQuery);
        check.Equal("ProtocolType", query->ProtocolSpecific.ProtocolType,
                    storage::kProtocolTypeNvme);
        check.Equal("DataType", query->ProtocolSpecific.DataType, storage::kNvmeDataTypeIdentify);
        check.Equal("ProtocolDataRequestValue", query->ProtocolSpecific.ProtocolDataRequestValue,
                    nvme::kCnsController);
        check.Equal("ProtocolDataRequestSubValue",
                    query->ProtocolSpecific.ProtocolDataRequestSubValue, 0);
        check.Equal("ProtocolDataOffset", query->ProtocolSpecific.ProtocolDataOffset,
                    storage::kIdentifyProtocolDataOffset);
        check.Equal("ProtocolDataLength", query->ProtocolSpecific.ProtocolDataLength,
                    nvme::kIdentifyDataLength);
        check.Zero(in,
                   offsetof(sdk::STORAGE_PROTOCOL_QUERY, ProtocolSpecific.FixedProtocolReturnData),
                   in.size(), "the rest of the query");
    }
    const bool requestOk = check.Ok();
    if (call.outSize != storage::kIdentifyQuerySize) {
        check.Add("output of " + std::to_string(call.outSize) + " bytes, expected " +
                  std::to_string(storage::kIdentifyQuerySize));
    }
    if (!check.Ok()) {
        call.ProtocolError(drive, check.Text());
        // A reply buffer too small for the reply is the one fault the stack reports as such.
        const bool onlyShortOutput = requestOk && call.outSize < storage::kIdentifyQuerySize;
        return onlyShortOutput ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER;
    }
    if (drive == nullptr) {
        return ERROR_NOT_SUPPORTED;  // not an NVMe device: no protocol data to query
    }
    if (const DWORD error = IdentifyError(*drive); error != ERROR_SUCCESS) {
        return error;
    }
    const ForcedAnswer& forced = drive->faults.identify.answer;
    if (forced.kind == ForcedAnswer::Kind::ReturnCode) {
        // The command failed in the drive: the stack returns the descriptor alone.
        WriteDescriptor(call.out, forced.returnCode);
        call.bytesReturned = static_cast<DWORD>(storage::kIdentifyDataOffset);
    } else {
        WriteDescriptor(call.out, 0);
        const std::uint16_t vendorId =
            disk.attach == Attach::Other ? kOtherMakerVendorId : kMakerVendorId;
        const IdentifyData data = IdentifyControllerData(*drive, vendorId);
        std::copy(data.begin(), data.end(), storage::MutableIdentifyData(call.out).begin());
        call.bytesReturned = static_cast<DWORD>(storage::kIdentifyQuerySize);
    }
    AlterReply(call, ERROR_SUCCESS, &drive->faults.identify.reply);
    NoteIdentifyReply(*drive, call, storage::kIdentifyDataOffset);
    return ERROR_SUCCESS;
}

// The two forms of a "FIRMWARE" request, told apart by where the request block puts
// the data area: the updater's, right behind the block (52), and the public information
// request at 56, which asks what the driver reports outside an update.
bool IsPublicForm(const std::optional<sdk::FIRMWARE_REQUEST_BLOCK>& block) {
    return block && block->DataBufferOffset == inbox_fw::kPublicDataAreaOffset;
}

std::string FunctionName(std::uint32_t function, bool publicForm) {
    if (publicForm) {
        return "FIRMWARE public-form information request";
    }
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
            check.Equal("STORAGE_FIRMWARE_DOWNLOAD.Version", download->fixed.Version,
                        fwreq::kDownloadVersion);
            check.Equal("STORAGE_FIRMWARE_DOWNLOAD.Size", download->fixed.Size,
                        sizeof(sdk::STORAGE_FIRMWARE_DOWNLOAD));
            if (download->fixed.BufferSize > size - inbox_fw::kImageOffset) {
                check.Add("BufferSize " + std::to_string(download->fixed.BufferSize) +
                          " does not fit the " + std::to_string(size - inbox_fw::kImageOffset) +
                          " bytes after the fixed part");
                return;
            }
            check.Zero(in, inbox_fw::kImageOffset + download->fixed.BufferSize, size,
                       "the bytes after the image");
            return;
        }
        case fwreq::kFunctionActivate:
            CheckActivatePayload(check, in, inbox_fw::kDataAreaOffset);
            return;
        default:
            check.Add("Function is " + std::to_string(function) + ", expected 1, 2 or 3");
    }
}

// The public information request: exactly its size, data area at 56 with nothing
// between the request block and it, STORAGE_FIRMWARE_INFO_V2 naming version 2.
void CheckPublicForm(RequestCheck& check, std::span<const std::uint8_t> in,
                     const sdk::FIRMWARE_REQUEST_BLOCK& block) {
    const std::size_t size = in.size();
    if (size != inbox_fw::kPublicGetInfoRequestSize) {
        check.Add("request of " + std::to_string(size) + " bytes, expected " +
                  std::to_string(inbox_fw::kPublicGetInfoRequestSize));
    }
    CheckRequestBlock(check, block, size, inbox_fw::kPublicDataAreaOffset);
    check.Equal("Function", block.Function, fwreq::kFunctionGetInfo);
    check.Zero(in, inbox_fw::kDataAreaOffset, inbox_fw::kPublicDataAreaOffset,
               "the bytes between the request block and the data area");
    CheckInfoV2Body(check, in, inbox_fw::kPublicDataAreaOffset);
}

// What an information reply let the program read, from the bytes that reached it.
FirmwareInfoTold ReadToldInfo(std::span<const std::uint8_t> returned) {
    FirmwareInfoTold told;
    const auto returnCode = srb::ReturnCode(returned);
    const auto info = inbox_fw::ParseFirmwareInfo(returned);
    if (!returnCode) {
        told.unusable =
            "its " + std::to_string(returned.size()) + " bytes returned do not reach ReturnCode";
    } else if (*returnCode != fwreq::kStatusSuccess) {
        told.unusable = "ReturnCode " + RequestCheck::Hex(*returnCode);
    } else if (!info) {
        told.unusable = "its slot table is not inside the " + std::to_string(returned.size()) +
                        " bytes returned";
    } else if (!info->upgradeSupport) {
        told.unusable = "UpgradeSupport 0";
    } else {
        for (const fwreq::FirmwareSlot& slot : info->slots) {
            if (!slot.readOnly) {
                told.slot = slot.number;
                break;
            }
        }
        if (!told.slot) {
            told.unusable = "no writable slot";
        }
    }
    return told;
}

// The slot rule of this driver: the first writable slot of the table the program last
// read, or of the drive's own table before it read any.
void CheckActivationSlot(RequestCheck& check, std::uint8_t slot, const Drive& drive) {
    const std::string given = "SlotToActivate is " + std::to_string(slot);
    std::optional<std::uint8_t> expected = FirstWritableSlot(drive);
    if (drive.firmwareInfoTold) {
        expected = drive.firmwareInfoTold->slot;
        if (!expected) {
            check.Add(given + ", but the information reply gave no usable slot (" +
                      drive.firmwareInfoTold->unusable + ")");
            return;
        }
    }
    if (!expected) {
        check.Add(given + ", but the drive reports no writable slot");
    } else if (slot != *expected) {
        check.Add(given + ", expected " + std::to_string(*expected) +
                  " (the first writable slot the drive reports)");
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
        if (drive.firmwareInfoTold && !drive.firmwareInfoTold->slot) {
            check.Add("a download after an information reply that gave no usable slot (" +
                      drive.firmwareInfoTold->unusable + ")");
        }
        if (const auto download = inbox_fw::ReadDownload(in)) {
            CheckPiece(check, drive, download->fixed.Offset, download->fixed.BufferSize, false);
        }
    } else if (function == fwreq::kFunctionActivate) {
        if (const auto activate = inbox_fw::ReadActivate(in)) {
            CheckActivationSlot(check, activate->SlotToActivate, drive);
        }
    }
}

// The updater's information request; `refused`: the driver answers it itself with
// FIRMWARE_STATUS_INVALID_PARAMETER. Either way the program is held from now on to what
// the reply let it read.
DWORD InformationRequest(IoCall& call, Drive& drive, bool refused) {
    StartDownload(drive);
    if (refused) {
        CompleteMiniport(call, fwreq::kStatusInvalidParameter);
    } else {
        fwreq::FirmwareInfo info;
        const FirmwareAnswer answer = QueryFirmwareInfo(drive, info);
        if (!answer.Completed()) {
            return answer.error;
        }
        // A forced answer leaves the data area as the request sent it.
        std::uint32_t status = answer.status;
        if (status == fwreq::kStatusSuccess && !drive.faults.firmwareInfo.answer.IsSet() &&
            !inbox_fw::WriteFirmwareInfoReply(call.out, info)) {
            status = fwreq::kStatusOutputBufferTooSmall;
        }
        CompleteMiniport(call, status);
        AlterReply(call, ERROR_SUCCESS, &drive.faults.firmwareInfo.reply);
    }
    drive.firmwareInfoTold = ReadToldInfo(ReturnedBytes(call));
    return ERROR_SUCCESS;
}

DWORD FirmwareRequest(IoCall& call, Drive* drive) {
    const std::span<const std::uint8_t> in = call.in;
    const std::size_t size = in.size();
    const auto header = srb::ReadSrbIoControl(in);
    const auto block = inbox_fw::ReadRequestBlock(in);
    const std::uint32_t function = block ? block->Function : 0;
    const bool publicForm = IsPublicForm(block);
    RequestCheck check(FunctionName(function, publicForm) + OnDisk(call));
    if (!header) {
        check.Add(std::to_string(size) + " bytes, too short for SRB_IO_CONTROL");
        call.ProtocolError(drive, check.Text());
        return ERROR_INVALID_PARAMETER;
    }
    if (!srb::HasSignature(*header, inbox_fw::kRequest.signature)) {
        check.Add("Signature is " + RequestCheck::Signature(header->Signature) +
                  ", which the inbox NVMe driver does not serve (\"FIRMWARE\" expected)");
        call.ProtocolError(drive, check.Text());
        return ERROR_INVALID_FUNCTION;
    }
    CheckSrbHeader(check, call, *header, inbox_fw::kRequest);
    if (!block) {
        check.Add(std::to_string(size) + " bytes, too short for FIRMWARE_REQUEST_BLOCK");
    } else if (publicForm) {
        CheckPublicForm(check, in, *block);
    } else {
        CheckRequestBlock(check, *block, size, inbox_fw::kDataAreaOffset);
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
    if (publicForm) {
        return AnswerInfoV2(call, *drive, inbox_fw::kPublicDataAreaOffset);
    }
    // A driver written to the SDK's contract refuses the updater's form (its data area at
    // 52, its get-info body below version 2 and size 24) before the drive sees it. The
    // request is well formed, so this is the driver's answer, not the program's fault.
    const bool refused = drive->firmwareRequests == FirmwareRequests::PublicFormOnly;
    if (function == fwreq::kFunctionGetInfo) {
        return InformationRequest(call, *drive, refused);
    }
    if (refused) {
        CompleteMiniport(call, fwreq::kStatusInvalidParameter);
        return ERROR_SUCCESS;
    }
    if (function == fwreq::kFunctionDownload) {
        return AnswerMiniport(call, DeliverPiece(*drive, *inbox_fw::ReadDownload(in)));
    }
    return AnswerMiniport(call, DeliverCommit(*drive, inbox_fw::ReadActivate(in)->SlotToActivate));
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
