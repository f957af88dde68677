#include "sim/models/nvme_drive.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "drivers/byte_layout.h"

namespace sim {
namespace {

// Identify Controller offsets beyond the ones the program reads.
constexpr std::size_t kVidOffset = 0;
constexpr std::size_t kSsvidOffset = 2;
constexpr std::size_t kRabOffset = 72;
constexpr std::size_t kIeeeOffset = 73;
constexpr std::size_t kMdtsOffset = 77;
constexpr std::size_t kCntlidOffset = 78;
constexpr std::size_t kVerOffset = 80;
constexpr std::size_t kRtd3rOffset = 84;
constexpr std::size_t kRtd3eOffset = 88;
constexpr std::size_t kOaesOffset = 92;
constexpr std::size_t kCntrltypeOffset = 111;
constexpr std::size_t kOacsOffset = 256;
constexpr std::size_t kAclOffset = 258;
constexpr std::size_t kAerlOffset = 259;
constexpr std::size_t kFrmwOffset = 260;
constexpr std::size_t kLpaOffset = 261;
constexpr std::size_t kElpeOffset = 262;
constexpr std::size_t kNpssOffset = 263;
constexpr std::size_t kAvsccOffset = 264;
constexpr std::size_t kApstaOffset = 265;
constexpr std::size_t kWctempOffset = 266;
constexpr std::size_t kCctempOffset = 268;
constexpr std::size_t kTnvmcapOffset = 280;
constexpr std::size_t kSqesOffset = 512;
constexpr std::size_t kCqesOffset = 513;
constexpr std::size_t kNnOffset = 516;
constexpr std::size_t kOncsOffset = 520;
constexpr std::size_t kVwcOffset = 525;
constexpr std::size_t kSubnqnOffset = 768;
constexpr std::size_t kSubnqnLength = 256;
constexpr std::size_t kPowerStatesOffset = 2048;
constexpr std::size_t kPowerStateLength = 32;

// FRMW: bit 0 slot 1 read-only, bits 3:1 slot count, bit 4 activation without reset.
constexpr std::uint8_t kFrmwSlot1ReadOnly = 0x01;
constexpr std::uint8_t kFrmwActivationWithoutReset = 0x10;
constexpr std::uint8_t kFrmwMaxSlots = 7;

constexpr std::uint64_t kCapacityBytes = 1000204886016;  // a 1 TB drive

struct PowerState {
    std::uint16_t maxPowerCentiwatts;
    bool nonOperational;
    std::uint32_t entryLatencyUs;
    std::uint32_t exitLatencyUs;
    std::uint8_t relative;  // RRT = RRL = RWT = RWL
};

constexpr PowerState kPowerStates[] = {
    {800, false, 0, 0, 0},    {650, false, 0, 0, 1},      {500, false, 0, 0, 2},
    {5, true, 2000, 2000, 3}, {1, true, 10000, 45000, 4},
};

void PutBytes(std::span<std::uint8_t> data, std::size_t at, std::span<const std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(at));
}

std::string Number(std::uint64_t value) {
    return std::to_string(value);
}

FirmwareAnswer Forced(const ForcedAnswer& forced) {
    return forced.kind == ForcedAnswer::Kind::Fail
               ? FirmwareAnswer::Failed(forced.FailureError(kForcedFailureError))
               : FirmwareAnswer::Status(forced.returnCode);
}

const FirmwareSlot* FindSlot(const Drive& drive, std::uint8_t number) {
    for (const FirmwareSlot& slot : drive.slots) {
        if (slot.number == number) {
            return &slot;
        }
    }
    return nullptr;
}

}  // namespace

IdentifyData IdentifyControllerData(const Drive& drive, std::uint16_t vendorId) {
    IdentifyData data{};
    const std::span<std::uint8_t> out(data);
    layout::PutU16(out, kVidOffset, vendorId);
    layout::PutU16(out, kSsvidOffset, vendorId);
    PutBytes(out, nvme::kSerialNumber.offset, drive.serialNumber);
    PutBytes(out, nvme::kModelNumber.offset, drive.modelNumber);
    PutBytes(out, nvme::kFirmwareRevision.offset, drive.firmwareRevision);
    layout::PutU8(out, kRabOffset, 6);
    layout::PutU8(out, kIeeeOffset, static_cast<std::uint8_t>(vendorId));
    layout::PutU8(out, kIeeeOffset + 1, static_cast<std::uint8_t>(vendorId >> 8));
    layout::PutU8(out, kIeeeOffset + 2, 0x38);
    layout::PutU8(out, kMdtsOffset, 9);  // 2 MiB transfers with 4 KiB pages
    layout::PutU16(out, kCntlidOffset, 1);
    layout::PutU32(out, kVerOffset, drive.version);
    layout::PutU32(out, kRtd3rOffset, 500000);
    layout::PutU32(out, kRtd3eOffset, 2000000);
    layout::PutU32(out, kOaesOffset, 0x200);  // firmware activation notices
    layout::PutU8(out, kCntrltypeOffset, 1);  // I/O controller
    // Security send/receive, Format NVM, Firmware Commit and Image Download, self-test.
    layout::PutU16(out, kOacsOffset, 0x0017);
    layout::PutU8(out, kAclOffset, 3);
    layout::PutU8(out, kAerlOffset, 7);

    // FRMW can only say "slots 1 to N, N from 1 to 7"; the table may list anything, so
    // N covers the highest of its numbers NVMe can express, and slot 1 is read-only
    // when its first entry is (the entry a commit would go to).
    std::uint8_t slotCount = 1;
    for (const FirmwareSlot& slot : drive.slots) {
        if (slot.number >= 1 && slot.number <= kFrmwMaxSlots) {
            slotCount = std::max(slotCount, slot.number);
        }
    }
    std::uint8_t frmw = static_cast<std::uint8_t>(slotCount << 1);
    if (const FirmwareSlot* slot1 = FindSlot(drive, 1); slot1 != nullptr && slot1->readOnly) {
        frmw |= kFrmwSlot1ReadOnly;
    }
    if (drive.activation == Activation::Immediate) {
        frmw |= kFrmwActivationWithoutReset;
    }
    layout::PutU8(out, kFrmwOffset, frmw);
    layout::PutU8(out, kLpaOffset, 0x02);
    layout::PutU8(out, kElpeOffset, 63);
    layout::PutU8(out, kNpssOffset, static_cast<std::uint8_t>(std::size(kPowerStates) - 1));
    layout::PutU8(out, kAvsccOffset, 1);
    layout::PutU8(out, kApstaOffset, 1);
    layout::PutU16(out, kWctempOffset, 353);  // kelvin
    layout::PutU16(out, kCctempOffset, 358);
    layout::PutU64(out, kTnvmcapOffset, kCapacityBytes);
    layout::PutU8(out, offsetof(nvme::IdentifyControllerHead, FWUG), drive.fwug);
    layout::PutU8(out, kSqesOffset, 0x66);
    layout::PutU8(out, kCqesOffset, 0x44);
    layout::PutU32(out, kNnOffset, 1);
    layout::PutU16(out, kOncsOffset, 0x005F);
    layout::PutU8(out, kVwcOffset, 1);

    // The NQN a controller without an assigned one reports: vendor IDs, SN and MN.
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x%04x", vendorId, vendorId);
    std::string nqn = std::string("nqn.2014.08.org.nvmexpress:") + ids;
    nqn.append(drive.serialNumber.begin(), drive.serialNumber.end());
    nqn.append(drive.modelNumber.begin(), drive.modelNumber.end());
    nqn.resize(std::min(nqn.size(), kSubnqnLength - 1));
    std::copy(nqn.begin(), nqn.end(), data.begin() + kSubnqnOffset);

    for (std::size_t i = 0; i < std::size(kPowerStates); ++i) {
        const PowerState& state = kPowerStates[i];
        const std::size_t at = kPowerStatesOffset + i * kPowerStateLength;
        layout::PutU16(out, at + 0, state.maxPowerCentiwatts);
        layout::PutU8(out, at + 3, state.nonOperational ? 0x02 : 0x00);
        layout::PutU32(out, at + 4, state.entryLatencyUs);
        layout::PutU32(out, at + 8, state.exitLatencyUs);
        for (std::size_t r = 12; r < 16; ++r) {
            layout::PutU8(out, at + r, state.relative);
        }
    }
    return data;
}

DWORD IdentifyError(const Drive& drive) {
    const ForcedAnswer& forced = drive.faults.identify.answer;
    return forced.kind == ForcedAnswer::Kind::Fail ? forced.FailureError(kForcedFailureError)
                                                   : ERROR_SUCCESS;
}

std::uint32_t EnforcedGranularity(const Drive& drive) {
    const auto major = static_cast<std::uint16_t>(drive.version >> 16);
    const auto minor = static_cast<std::uint8_t>(drive.version >> 8);
    return nvme::RequiredGranularity(major, minor, drive.fwug).value_or(0) *
           static_cast<std::uint32_t>(nvme::kGranularityUnit);
}

FirmwareAnswer QueryFirmwareInfo(const Drive& drive, fwreq::FirmwareInfo& info) {
    if (drive.faults.firmwareInfo.answer.IsSet()) {
        return Forced(drive.faults.firmwareInfo.answer);
    }
    info = fwreq::FirmwareInfo{};
    info.upgradeSupport = drive.upgradeSupport;
    info.activeSlot = drive.activeSlot;
    info.pendingActivateSlot = drive.pendingSlot;
    for (const FirmwareSlot& slot : drive.slots) {
        info.slots.push_back(fwreq::FirmwareSlot{slot.number, slot.readOnly, slot.revision});
    }
    return FirmwareAnswer::Status(fwreq::kStatusSuccess);
}

std::string DownloadRuleBreach(const Drive& drive, std::uint64_t offset, std::uint64_t size) {
    if (size == 0) {
        return "an empty piece";
    }
    if (offset % 4 != 0 || size % 4 != 0) {
        return "not dword-aligned";
    }
    if (offset > kFirmwareImageSize || size > kFirmwareImageSize - offset) {
        return "reaches past the end of the " + Number(kFirmwareImageSize) + "-byte image";
    }
    const std::uint32_t granularity = EnforcedGranularity(drive);
    if (granularity != 0) {
        const bool endsTheImage = offset + size == kFirmwareImageSize;
        if (offset % granularity != 0) {
            return "offset not a multiple of the drive's " + Number(granularity) +
                   "-byte granularity";
        }
        if (size % granularity != 0 && !endsTheImage) {
            return "size not a multiple of the drive's " + Number(granularity) +
                   "-byte granularity, and the piece does not end the image";
        }
    }
    return {};
}

FirmwareAnswer DownloadFirmwarePiece(Drive& drive, std::uint64_t offset,
                                     std::span<const std::uint8_t> bytes) {
    const std::uint32_t number = drive.downloadRequests++;
    if (drive.faults.download && drive.faults.download->Hits(number) &&
        drive.faults.download->fault.answer.IsSet()) {
        return Forced(drive.faults.download->fault.answer);
    }
    if (!DownloadRuleBreach(drive, offset, bytes.size()).empty()) {
        return FirmwareAnswer::Status(fwreq::kStatusInvalidParameter);
    }
    DownloadState& download = drive.download;
    download.image.resize(kFirmwareImageSize, 0);
    std::copy(bytes.begin(), bytes.end(),
              download.image.begin() + static_cast<std::ptrdiff_t>(offset));
    download.pieces.push_back(DownloadPiece{offset, bytes.size()});
    return FirmwareAnswer::Status(fwreq::kStatusSuccess);
}

bool DownloadComplete(const DownloadState& download) {
    if (download.image.size() != kFirmwareImageSize) {
        return false;
    }
    std::vector<DownloadPiece> pieces = download.pieces;
    std::sort(pieces.begin(), pieces.end(),
              [](const DownloadPiece& a, const DownloadPiece& b) { return a.offset < b.offset; });
    std::uint64_t covered = 0;  // every byte below it was received
    for (const DownloadPiece& piece : pieces) {
        if (piece.offset > covered) {
            return false;
        }
        covered = std::max(covered, piece.offset + piece.size);
    }
    return covered >= kFirmwareImageSize;
}

FirmwareAnswer CommitFirmware(Drive& drive, std::uint8_t slotNumber) {
    if (drive.faults.activate.answer.IsSet()) {
        return Forced(drive.faults.activate.answer);
    }
    const FirmwareSlot* found = FindSlot(drive, slotNumber);
    if (found == nullptr || found->readOnly) {
        return FirmwareAnswer::Status(fwreq::kStatusInvalidSlot);
    }
    const DownloadState& download = drive.download;
    if (!DownloadComplete(download) ||
        !std::equal(kImageSignature.begin(), kImageSignature.end(),
                    download.image.begin() + kImageSignatureOffset)) {
        return FirmwareAnswer::Status(fwreq::kStatusInvalidImage);
    }

    FirmwareSlot& slot =
        *std::find_if(drive.slots.begin(), drive.slots.end(),
                      [&](const FirmwareSlot& s) { return s.number == slotNumber; });
    std::copy_n(download.image.begin() + kImageRevisionOffset, slot.revision.size(),
                slot.revision.begin());
    slot.image = std::move(drive.download.image);
    drive.download = DownloadState{};
    ++drive.activations;
    if (drive.activation == Activation::Immediate) {
        drive.activeSlot = slotNumber;
        drive.pendingSlot = 0xFF;
        drive.firmwareRevision = slot.revision;
        drive.revisionAfterPowerCycle = slot.revision;
        return FirmwareAnswer::Status(fwreq::kStatusSuccess);
    }
    drive.pendingSlot = slotNumber;
    drive.revisionAfterPowerCycle = slot.revision;
    return FirmwareAnswer::Status(fwreq::kStatusPowerCycleRequired);
}

std::uint64_t OwnChunkSize(const Drive& drive) {
    const auto major = static_cast<std::uint16_t>(drive.version >> 16);
    const auto minor = static_cast<std::uint8_t>(drive.version >> 8);
    const std::int32_t units = nvme::DownloadGranularity(major, minor, drive.fwug);
    return static_cast<std::uint64_t>(units) * nvme::kGranularityUnit;
}

std::uint64_t ProgramChunkSize(const Drive& drive) {
    return drive.identifiedChunkSize.value_or(OwnChunkSize(drive));
}

void NoteIdentifyData(Drive& drive, std::span<const std::uint8_t> identifyData) {
    // The caller's buffer always holds the whole data area, so the fields are there;
    // what a cut reply left of them reads as the request sent them.
    const std::int32_t units = nvme::DownloadGranularityOf(identifyData).value_or(1);
    drive.identifiedChunkSize = static_cast<std::uint64_t>(units) * nvme::kGranularityUnit;
}

std::uint64_t ExpectedPieceSize(const Drive& drive, std::uint64_t offset) {
    if (offset >= kFirmwareImageSize) {
        return 0;
    }
    return std::min(ProgramChunkSize(drive), kFirmwareImageSize - offset);
}

std::optional<std::uint8_t> FirstWritableSlot(const Drive& drive) {
    for (const FirmwareSlot& slot : drive.slots) {
        if (!slot.readOnly) {
            return slot.number;
        }
    }
    return std::nullopt;
}

std::uint64_t ExpectedNextOffset(const Drive& drive) {
    return drive.nextDownloadOffset;
}

void StartDownload(Drive& drive) {
    drive.nextDownloadOffset = 0;
}

void AdvanceDownload(Drive& drive, std::uint64_t offset, std::uint64_t size) {
    drive.nextDownloadOffset = offset + size;
}

}  // namespace sim
