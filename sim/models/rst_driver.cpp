// The Intel RST driver, as seen through a controller handle: CSMI RAID configuration,
// the "IntelNvm" NVMe pass-through and the "IntelFw " firmware requests, carried to
// the controller's drives by path number.
//
// Strict like the inbox stack, and held to the same rules (sim/README.md, "The
// storage drivers and the drive"); its own are the addressing by path number (a path
// with no drive behind it is no protocol error: the program asks for whatever path a
// disk reports), a piece at offset 0 starting a new download, and slot 2 to activate.
// Its information request, which the updater never sends, has one fixed form.
#include <algorithm>
#include <cstddef>
#include <string>

#include "drivers/csmi_raid_config.h"
#include "drivers/rst_address.h"
#include "drivers/rst_firmware.h"
#include "drivers/rst_nvme_pass_through.h"
#include "drivers/sdk_structs.h"
#include "drivers/srb_io_control.h"
#include "sim/models/firmware_checks.h"
#include "sim/models/io.h"
#include "sim/models/nvme_drive.h"
#include "sim/models/request_check.h"

namespace sim {
namespace {

// CSMI statuses and codes of the RAID configuration reply.
constexpr std::uint32_t kCsmiRaidSetOutOfRange = 1000;  // CSMI_SAS_RAID_SET_OUT_OF_RANGE
constexpr std::uint8_t kCsmiRaidType0 = 1;
constexpr std::uint8_t kCsmiRaidType1 = 2;
constexpr std::uint8_t kCsmiRaidType10 = 3;
constexpr std::uint8_t kCsmiRaidType5 = 4;
constexpr std::uint8_t kCsmiRaidStatusOk = 0;
constexpr std::uint8_t kCsmiDriveStatusOk = 0;
constexpr std::uint8_t kCsmiDriveConfigMember = 1;
constexpr std::uint32_t kCsmiStripeSizeKb = 128;
constexpr std::uint32_t kMemberCapacityMb = 953869;  // a 1 TB drive

constexpr std::size_t kConfigCapacity =
    offsetof(csmi::RaidConfigHead, config) + offsetof(sdk::CSMI_SAS_RAID_CONFIG, uCapacity);
constexpr std::size_t kConfigStripeSize =
    offsetof(csmi::RaidConfigHead, config) + offsetof(sdk::CSMI_SAS_RAID_CONFIG, uStripeSize);
constexpr std::size_t kConfigRaidType =
    offsetof(csmi::RaidConfigHead, config) + offsetof(sdk::CSMI_SAS_RAID_CONFIG, bRaidType);
constexpr std::size_t kConfigStatus =
    offsetof(csmi::RaidConfigHead, config) + offsetof(sdk::CSMI_SAS_RAID_CONFIG, bStatus);
constexpr std::size_t kRecordModel = offsetof(sdk::CSMI_SAS_RAID_DRIVES, bModel);
constexpr std::size_t kRecordFirmware = offsetof(sdk::CSMI_SAS_RAID_DRIVES, bFirmware);
constexpr std::size_t kRecordSerial = offsetof(sdk::CSMI_SAS_RAID_DRIVES, bSerialNumber);
constexpr std::size_t kRecordDriveStatus = offsetof(sdk::CSMI_SAS_RAID_DRIVES, bDriveStatus);
constexpr std::size_t kRecordDriveUsage = offsetof(sdk::CSMI_SAS_RAID_DRIVES, bDriveUsage);

std::string OnController(const Controller& controller) {
    return " on controller " + controller.id;
}

std::string ForPath(std::span<const std::uint8_t> in) {
    const auto address = rst_address::ReadAddress(in);
    return address ? " for path " + std::to_string(address->PathNumber) : std::string();
}

// The drive the request's path number reaches; nullptr when the request is too short
// to carry one or no drive sits at that path.
Drive* AddressedDrive(IoCall& call, const Controller& controller) {
    const auto address = rst_address::ReadAddress(call.in);
    return address ? DriveAtPath(call.machine, controller, address->PathNumber) : nullptr;
}

void CheckAddress(RequestCheck& check, std::span<const std::uint8_t> in) {
    if (const auto address = rst_address::ReadAddress(in)) {
        check.Equal("address byte 28", address->Constant, rst_address::kConstant);
        check.Equal("address bytes 30-31", address->Reserved[0] | address->Reserved[1], 0);
    }
}

// ---- CSMI RAID configuration

std::uint8_t RaidType(std::size_t members) {
    if (members == 2) {
        return kCsmiRaidType1;
    }
    if (members >= 4 && members % 2 == 0) {
        return kCsmiRaidType10;
    }
    return members >= 3 ? kCsmiRaidType5 : kCsmiRaidType0;
}

std::uint32_t RaidCapacityMb(std::size_t members) {
    switch (RaidType(members)) {
        case kCsmiRaidType1:
            return kMemberCapacityMb;
        case kCsmiRaidType10:
            return static_cast<std::uint32_t>(kMemberCapacityMb * (members / 2));
        case kCsmiRaidType5:
            return static_cast<std::uint32_t>(kMemberCapacityMb * (members - 1));
        default:
            return static_cast<std::uint32_t>(kMemberCapacityMb * members);
    }
}

// Only for a member whose whole record the system buffer holds.
void WriteMemberRecord(IoCall& call, std::size_t member, std::uint8_t pathNumber) {
    const std::span<std::uint8_t> out = call.out;
    const std::size_t at = csmi::kDrivesOffset + csmi::kDriveRecordLength * member;
    std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(at), csmi::kDriveRecordLength,
                std::uint8_t{0});
    const Controller& controller = *call.TargetController();
    if (const Drive* drive = DriveAtPath(call.machine, controller, pathNumber)) {
        std::copy(drive->modelNumber.begin(), drive->modelNumber.end(),
                  out.begin() + static_cast<std::ptrdiff_t>(at + kRecordModel));
        std::copy(drive->firmwareRevision.begin(), drive->firmwareRevision.end(),
                  out.begin() + static_cast<std::ptrdiff_t>(at + kRecordFirmware));
        std::copy(drive->serialNumber.begin(), drive->serialNumber.end(),
                  out.begin() + static_cast<std::ptrdiff_t>(at + kRecordSerial));
    }
    layout::PutU8(
        out, at + offsetof(sdk::CSMI_SAS_RAID_DRIVES, bSASAddress) + csmi::kPathNumberInAddress,
        pathNumber);
    layout::PutU8(out, at + kRecordDriveStatus, kCsmiDriveStatusOk);
    layout::PutU8(out, at + kRecordDriveUsage, kCsmiDriveConfigMember);
}

DWORD RaidConfig(IoCall& call, Controller& controller, const sdk::SRB_IO_CONTROL& header) {
    RequestCheck check("CSMI RAID configuration request" + OnController(controller));
    const std::span<const std::uint8_t> in = call.in;
    CheckSrbHeader(check, call, header, csmi::kRequest);
    if (in.size() < csmi::kDrivesOffset) {
        check.Add(std::to_string(in.size()) + " bytes, too short for CSMI_SAS_RAID_CONFIG");
    } else if (in.size() < csmi::kDefaultRequestSize ||
               (in.size() - csmi::kDrivesOffset) % csmi::kDriveRecordLength != 0) {
        // The program asks with room for two member records, and again with room for
        // every member when a set has more: always whole records, never fewer than two.
        check.Add("request of " + std::to_string(in.size()) + " bytes, expected " +
                  std::to_string(csmi::kDrivesOffset) + " + " +
                  std::to_string(csmi::kDriveRecordLength) +
                  " x n with n >= " + std::to_string(csmi::kDefaultMemberRecords));
    }
    check.Zero(in, offsetof(csmi::RaidConfigHead, config.uCapacity), in.size(),
               "everything after uRaidSetIndex");
    if (!check.Ok()) {
        call.ProtocolError(nullptr, check.Text());
        return ERROR_INVALID_PARAMETER;
    }
    const std::uint32_t number = controller.raidConfigRequests++;
    const auto fault =
        std::find_if(controller.raidConfigFaults.begin(), controller.raidConfigFaults.end(),
                     [&](const RaidConfigFault& f) { return f.Hits(number); });
    const bool hit = fault != controller.raidConfigFaults.end();
    const ReplyAlteration* reply = hit ? &fault->fault.reply : nullptr;
    if (hit && fault->fault.answer.IsSet()) {
        if (fault->fault.answer.kind == ForcedAnswer::Kind::Fail) {
            return fault->fault.answer.FailureError(kForcedFailureError);
        }
        CompleteMiniport(call, fault->fault.answer.returnCode);
        return AlterReply(call, ERROR_SUCCESS, reply);
    }
    const std::uint32_t index = *csmi::RaidSetIndex(in);
    if (index >= controller.raidSets.size()) {
        CompleteMiniport(call, kCsmiRaidSetOutOfRange);
        return AlterReply(call, ERROR_SUCCESS, reply);
    }
    const std::vector<std::uint8_t>& members = controller.raidSets[index];
    CompleteMiniport(call, 0);
    const std::span<std::uint8_t> out = call.out;
    layout::PutU32(out, kConfigCapacity, RaidCapacityMb(members.size()));
    layout::PutU32(out, kConfigStripeSize,
                   RaidType(members.size()) == kCsmiRaidType1 ? 0 : kCsmiStripeSizeKb);
    layout::PutU8(out, kConfigRaidType, RaidType(members.size()));
    layout::PutU8(out, kConfigStatus, kCsmiRaidStatusOk);
    // A count names at most 0xF0 members; a larger set is one CSMI can only call too big.
    const bool countable = members.size() <= csmi::kMaxDriveCount;
    if (!csmi::WriteDriveCount(
            out, countable ? static_cast<std::uint8_t>(members.size()) : csmi::kDriveCountTooBig)) {
        return AlterReply(call, ERROR_SUCCESS, reply);
    }
    // Only the records the buffer holds; bDriveCount tells the asker how many more.
    const std::size_t fit = std::min(members.size(), csmi::MemberRecordCapacity(call.outSize));
    for (std::size_t i = 0; i < fit; ++i) {
        WriteMemberRecord(call, i, members[i]);
    }
    return AlterReply(call, ERROR_SUCCESS, reply);
}

// ---- "IntelNvm" pass-through

DWORD PassThrough(IoCall& call, const Controller& controller, const sdk::SRB_IO_CONTROL& header) {
    const std::span<const std::uint8_t> in = call.in;
    Drive* drive = AddressedDrive(call, controller);
    RequestCheck check("IntelNvm pass-through" + ForPath(in) + OnController(controller));
    CheckSrbHeader(check, call, header, rst_nvme::kRequest);
    if (in.size() != rst_nvme::kRequestSize) {
        check.Add("request of " + std::to_string(in.size()) + " bytes, expected " +
                  std::to_string(rst_nvme::kRequestSize));
    }
    if (const auto request = rst_nvme::ReadPassThroughRequest(in)) {
        CheckAddress(check, in);
        for (std::size_t n = 0; n < std::size(request->parameters.Command); ++n) {
            const std::uint32_t expected = n == 0    ? nvme::kIdentifyOpcode
                                           : n == 10 ? nvme::kCnsController
                                                     : 0;
            check.EqualHex("CDW" + std::to_string(n), request->parameters.Command[n], expected);
        }
        constexpr std::size_t kAfterCommand =
            offsetof(rst_nvme::PassThroughRequest, parameters.IsIOCommandSet);
        check.Zero(in, kAfterCommand,
                   offsetof(rst_nvme::PassThroughRequest, parameters.DataBufferOffset),
                   "the bytes after the command");
        check.Equal("data offset", request->parameters.DataBufferOffset, rst_nvme::kDataAreaOffset);
        check.Equal("data length", request->parameters.DataBufferLength, rst_nvme::kDataAreaLength);
        check.Zero(in, offsetof(rst_nvme::PassThroughRequest, parameters.Reserved), in.size(),
                   "the bytes after the data length, data area included");
    } else {
        check.Add("too short for the command and the data area");
    }
    if (!check.Ok()) {
        call.ProtocolError(drive, check.Text());
        return ERROR_INVALID_PARAMETER;
    }
    if (drive == nullptr) {
        return ERROR_IO_DEVICE;
    }
    if (const DWORD error = IdentifyError(*drive); error != ERROR_SUCCESS) {
        return error;
    }
    const ForcedAnswer& forced = drive->faults.identify.answer;
    if (forced.kind == ForcedAnswer::Kind::ReturnCode) {
        CompleteMiniport(call, forced.returnCode);  // no data: the data area stays as sent
    } else {
        CompleteMiniport(call, 0);
        const IdentifyData data = IdentifyControllerData(*drive, kMakerVendorId);
        std::copy(data.begin(), data.end(), rst_nvme::MutableIdentifyData(call.out).begin());
    }
    AlterReply(call, ERROR_SUCCESS, &drive->faults.identify.reply);
    NoteIdentifyReply(*drive, call, rst_nvme::kDataAreaOffset);
    return ERROR_SUCCESS;
}

// ---- "IntelFw " firmware requests

std::string FirmwareRequestName(std::span<const std::uint8_t> in) {
    const auto block = rst_fw::ReadRequestBlock(in);
    const std::uint32_t function = block ? block->Function : 0;
    if (function == fwreq::kFunctionDownload) {
        return "IntelFw download request";
    }
    if (function == fwreq::kFunctionActivate) {
        return "IntelFw activation request";
    }
    if (function == fwreq::kFunctionGetInfo) {
        return "IntelFw information request";
    }
    return "IntelFw request";
}

// `drive`: the addressed drive, nullptr when none is there.
void CheckFirmwarePayload(RequestCheck& check, std::span<const std::uint8_t> in,
                          std::uint32_t function, const Drive* drive) {
    const std::size_t size = in.size();
    if (function == fwreq::kFunctionGetInfo) {
        if (size != rst_fw::kGetInfoRequestSize) {
            check.Add("request of " + std::to_string(size) + " bytes, expected " +
                      std::to_string(rst_fw::kGetInfoRequestSize));
        }
        CheckInfoV2Body(check, in, rst_fw::kPayloadOffset);
        return;
    }
    if (function == fwreq::kFunctionDownload) {
        const auto download = rst_fw::ReadDownload(in);
        if (!download) {
            check.Add(std::to_string(size) + " bytes, too short for STORAGE_FIRMWARE_DOWNLOAD_V2");
            return;
        }
        check.Equal("STORAGE_FIRMWARE_DOWNLOAD_V2.Version", download->fixed.Version,
                    fwreq::kDownloadV2Version);
        check.Equal("STORAGE_FIRMWARE_DOWNLOAD_V2.Size", download->fixed.Size,
                    sizeof(sdk::STORAGE_FIRMWARE_DOWNLOAD_V2));
        if (drive == nullptr) {
            check.Equal("BufferSize", download->fixed.BufferSize, size - rst_fw::kImageOffset);
        } else {
            // The piece's own size for this drive, and the request sized to it: together
            // they hold BufferSize to the request's size too.
            CheckPiece(check, *drive, download->fixed.Offset, download->fixed.BufferSize, true);
            const std::uint64_t expected =
                ExpectedPieceSize(*drive, download->fixed.Offset) + rst_fw::kImageOffset;
            if (download->fixed.Offset < kFirmwareImageSize && size != expected) {
                check.Add("request of " + std::to_string(size) + " bytes, expected " +
                          std::to_string(expected) + " (the piece, plus " +
                          std::to_string(rst_fw::kImageOffset) + ")");
            }
        }
        check.EqualHex("Slot", download->fixed.Slot, fwreq::kSlotUnspecified);
        check.Zero(in, offsetof(rst_fw::DownloadHead, download.Reserved),
                   offsetof(rst_fw::DownloadHead, download.ImageSize),
                   "the reserved bytes after Slot");
        check.Equal("ImageSize", download->fixed.ImageSize, 0);
        return;
    }
    if (function == fwreq::kFunctionActivate) {
        if (size != sizeof(rst_fw::ActivateRequest)) {
            check.Add("request of " + std::to_string(size) + " bytes, expected " +
                      std::to_string(sizeof(rst_fw::ActivateRequest)));
        }
        CheckActivatePayload(check, in, rst_fw::kPayloadOffset);
        // This driver's slot rule: the program always activates slot 2.
        if (const auto activate = rst_fw::ReadActivate(in)) {
            check.Equal("SlotToActivate", activate->SlotToActivate, rst_fw::kActivateSlot);
        }
        return;
    }
    check.Add("Function is " + std::to_string(function) + ", expected 1, 2 or 3");
}

DWORD Firmware(IoCall& call, const Controller& controller, const sdk::SRB_IO_CONTROL& header) {
    const std::span<const std::uint8_t> in = call.in;
    const std::size_t size = in.size();
    Drive* drive = AddressedDrive(call, controller);
    RequestCheck check(FirmwareRequestName(in) + ForPath(in) + OnController(controller));
    CheckSrbHeader(check, call, header, rst_fw::kRequest);
    CheckAddress(check, in);
    const auto block = rst_fw::ReadRequestBlock(in);
    if (!block) {
        check.Add(std::to_string(size) + " bytes, too short for FIRMWARE_REQUEST_BLOCK");
    } else {
        CheckRequestBlock(check, *block, size, rst_fw::kPayloadOffset);
        CheckFirmwarePayload(check, in, block->Function, drive);
    }
    if (!check.Ok()) {
        call.ProtocolError(drive, check.Text());
        return ERROR_INVALID_PARAMETER;
    }
    if (drive == nullptr) {
        return ERROR_IO_DEVICE;
    }
    if (block->Function == fwreq::kFunctionGetInfo) {
        return AnswerInfoV2(call, *drive, rst_fw::kPayloadOffset);
    }
    if (block->Function == fwreq::kFunctionDownload) {
        return AnswerMiniport(call, DeliverPiece(*drive, *rst_fw::ReadDownload(in)));
    }
    return AnswerMiniport(call, DeliverCommit(*drive, rst_fw::ReadActivate(in)->SlotToActivate));
}

}  // namespace

DWORD RstDriverIo(IoCall& call) {
    Controller* controller = call.TargetController();
    if (controller == nullptr) {
        return ERROR_INVALID_FUNCTION;
    }
    if (call.code != IOCTL_SCSI_MINIPORT) {
        call.ProtocolError(nullptr, "control code " + RequestCheck::Hex(call.code) +
                                        OnController(*controller) +
                                        ": the program sends the Intel RST driver only "
                                        "IOCTL_SCSI_MINIPORT");
        return ERROR_INVALID_FUNCTION;
    }
    const auto header = srb::ReadSrbIoControl(call.in);
    if (!header) {
        call.ProtocolError(nullptr, "IOCTL_SCSI_MINIPORT" + OnController(*controller) + ": " +
                                        std::to_string(call.in.size()) +
                                        " bytes, too short for SRB_IO_CONTROL");
        return ERROR_INVALID_PARAMETER;
    }
    if (srb::HasSignature(*header, csmi::kRequest.signature)) {
        return RaidConfig(call, *controller, *header);
    }
    if (srb::HasSignature(*header, rst_nvme::kRequest.signature)) {
        return PassThrough(call, *controller, *header);
    }
    if (srb::HasSignature(*header, rst_fw::kRequest.signature)) {
        return Firmware(call, *controller, *header);
    }
    call.ProtocolError(nullptr, "IOCTL_SCSI_MINIPORT" + OnController(*controller) + ": Signature " +
                                    RequestCheck::Signature(header->Signature) +
                                    " is none the Intel RST driver serves");
    return ERROR_INVALID_FUNCTION;
}

}  // namespace sim
