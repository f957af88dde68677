#include "drivers/firmware_request.h"

#include <algorithm>
#include <limits>

#include "drivers/byte_layout.h"

namespace fwreq {

namespace {

bool Fits(std::span<const std::uint8_t> buffer, std::uint64_t at, std::uint64_t length) {
    return layout::FieldFits(buffer.size(), at, length);
}

// The leading fields both download versions share, and the image behind the fixed part.
std::optional<Download> ReadDownloadCommon(std::span<const std::uint8_t> buffer, std::uint64_t at,
                                           std::size_t fixedLength) {
    if (!Fits(buffer, at, fixedLength)) {
        return std::nullopt;
    }
    Download download;
    download.version = *layout::GetU32(buffer, at + kDownloadVersionOffset);
    download.size = *layout::GetU32(buffer, at + kDownloadSizeOffset);
    download.offset = *layout::GetU64(buffer, at + kDownloadOffsetOffset);
    download.bufferSize = *layout::GetU64(buffer, at + kDownloadBufferSizeOffset);
    const std::uint64_t imageAt = at + fixedLength;
    if (Fits(buffer, imageAt, download.bufferSize)) {
        download.image = buffer.subspan(static_cast<std::size_t>(imageAt),
                                        static_cast<std::size_t>(download.bufferSize));
    }
    return download;
}

// The two information layouts differ in their version, the length of the fixed part
// and of a slot entry; the fields both read and write lie at the same places.
struct InfoLayout {
    std::uint32_t version;
    std::size_t fixedLength;
    std::size_t entryLength;
    bool hasPayloadLimits;

    std::size_t Length(std::size_t slotCount) const {
        return fixedLength + entryLength * slotCount;
    }
};
constexpr InfoLayout kInfoV1{kInfoVersion, kInfoFixedLength, kSlotEntryLength, false};
constexpr InfoLayout kInfoV2{kInfoVersionV2, kInfoV2FixedLength, kSlotEntryV2Length, true};

bool WriteInfo(std::span<std::uint8_t> buffer, std::size_t at, const FirmwareInfo& info,
               const InfoLayout& form) {
    const std::size_t count = info.slots.size();
    if (count > kMaxSlotCount || !Fits(buffer, at, form.Length(count))) {
        return false;
    }
    layout::PutU32(buffer, at + kInfoVersionOffset, form.version);
    layout::PutU32(buffer, at + kInfoSizeOffset, static_cast<std::uint32_t>(form.fixedLength));
    layout::PutU8(buffer, at + kInfoUpgradeSupportOffset, info.upgradeSupport ? 1 : 0);
    layout::PutU8(buffer, at + kInfoSlotCountOffset, static_cast<std::uint8_t>(count));
    layout::PutU8(buffer, at + kInfoActiveSlotOffset, info.activeSlot);
    layout::PutU8(buffer, at + kInfoPendingActivateSlotOffset, info.pendingActivateSlot);
    if (form.hasPayloadLimits) {
        layout::PutU32(buffer, at + kInfoV2ImagePayloadAlignmentOffset, info.imagePayloadAlignment);
        layout::PutU32(buffer, at + kInfoV2ImagePayloadMaxSizeOffset, info.imagePayloadMaxSize);
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = at + form.Length(i);
        const FirmwareSlot& slot = info.slots[i];
        layout::PutU8(buffer, entry + kSlotNumberOffset, slot.number);
        layout::PutU8(buffer, entry + kSlotReadOnlyOffset, slot.readOnly ? 1 : 0);
        std::copy(slot.revision.begin(), slot.revision.end(),
                  buffer.begin() + static_cast<std::ptrdiff_t>(entry + kSlotRevisionOffset));
    }
    return true;
}

std::optional<FirmwareInfo> ReadInfo(std::span<const std::uint8_t> buffer, std::uint64_t at,
                                     const InfoLayout& form) {
    if (!Fits(buffer, at, form.fixedLength)) {
        return std::nullopt;
    }
    const std::uint8_t count = *layout::GetU8(buffer, at + kInfoSlotCountOffset);
    if (!Fits(buffer, at, form.Length(count))) {
        return std::nullopt;
    }
    FirmwareInfo info;
    info.version = *layout::GetU32(buffer, at + kInfoVersionOffset);
    info.size = *layout::GetU32(buffer, at + kInfoSizeOffset);
    info.upgradeSupport = *layout::GetU8(buffer, at + kInfoUpgradeSupportOffset) != 0;
    info.activeSlot = *layout::GetU8(buffer, at + kInfoActiveSlotOffset);
    info.pendingActivateSlot = *layout::GetU8(buffer, at + kInfoPendingActivateSlotOffset);
    if (form.hasPayloadLimits) {
        info.imagePayloadAlignment =
            *layout::GetU32(buffer, at + kInfoV2ImagePayloadAlignmentOffset);
        info.imagePayloadMaxSize = *layout::GetU32(buffer, at + kInfoV2ImagePayloadMaxSizeOffset);
    }
    info.slots.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t entry = at + form.Length(i);
        FirmwareSlot slot;
        slot.number = *layout::GetU8(buffer, entry + kSlotNumberOffset);
        slot.readOnly = *layout::GetU8(buffer, entry + kSlotReadOnlyOffset) != 0;
        for (std::size_t b = 0; b < slot.revision.size(); ++b) {
            slot.revision[b] = *layout::GetU8(buffer, entry + kSlotRevisionOffset + b);
        }
        info.slots.push_back(slot);
    }
    return info;
}

}  // namespace

bool WriteRequestBlock(std::span<std::uint8_t> buffer, std::size_t at, std::uint32_t function,
                       std::uint32_t dataBufferOffset, std::uint32_t dataBufferLength) {
    if (!Fits(buffer, at, kBlockLength)) {
        return false;
    }
    layout::PutU32(buffer, at + kBlockVersionOffset, kRequestBlockVersion);
    layout::PutU32(buffer, at + kBlockSizeOffset, static_cast<std::uint32_t>(kBlockLength));
    layout::PutU32(buffer, at + kBlockFunctionOffset, function);
    layout::PutU32(buffer, at + kBlockFlagsOffset, kFlagController);
    layout::PutU32(buffer, at + kBlockDataBufferOffsetOffset, dataBufferOffset);
    layout::PutU32(buffer, at + kBlockDataBufferLengthOffset, dataBufferLength);
    return true;
}

bool WriteFirmwareInfo(std::span<std::uint8_t> buffer, std::size_t at, const FirmwareInfo& info) {
    return WriteInfo(buffer, at, info, kInfoV1);
}

bool WriteFirmwareInfoV2(std::span<std::uint8_t> buffer, std::size_t at, const FirmwareInfo& info) {
    return WriteInfo(buffer, at, info, kInfoV2);
}

bool WriteInfoV2Request(std::span<std::uint8_t> buffer, std::size_t at) {
    if (!Fits(buffer, at, kInfoV2FixedLength)) {
        return false;
    }
    layout::PutU32(buffer, at + kInfoVersionOffset, kInfoVersionV2);
    layout::PutU32(buffer, at + kInfoSizeOffset, static_cast<std::uint32_t>(kInfoV2FixedLength));
    return true;
}

std::optional<RequestBlock> ReadRequestBlock(std::span<const std::uint8_t> buffer,
                                             std::uint64_t at) {
    if (!Fits(buffer, at, kBlockLength)) {
        return std::nullopt;
    }
    RequestBlock block;
    block.version = *layout::GetU32(buffer, at + kBlockVersionOffset);
    block.size = *layout::GetU32(buffer, at + kBlockSizeOffset);
    block.function = *layout::GetU32(buffer, at + kBlockFunctionOffset);
    block.flags = *layout::GetU32(buffer, at + kBlockFlagsOffset);
    block.dataBufferOffset = *layout::GetU32(buffer, at + kBlockDataBufferOffsetOffset);
    block.dataBufferLength = *layout::GetU32(buffer, at + kBlockDataBufferLengthOffset);
    return block;
}

std::optional<Download> ReadDownload(std::span<const std::uint8_t> buffer, std::uint64_t at) {
    return ReadDownloadCommon(buffer, at, kDownloadFixedLength);
}

std::optional<Download> ReadDownloadV2(std::span<const std::uint8_t> buffer, std::uint64_t at) {
    auto download = ReadDownloadCommon(buffer, at, kDownloadV2FixedLength);
    if (download) {
        download->slot = *layout::GetU8(buffer, at + kDownloadV2SlotOffset);
        download->imageSize = *layout::GetU32(buffer, at + kDownloadV2ImageSizeOffset);
    }
    return download;
}

std::optional<Activate> ReadActivate(std::span<const std::uint8_t> buffer, std::uint64_t at) {
    if (!Fits(buffer, at, kActivateLength)) {
        return std::nullopt;
    }
    Activate activate;
    activate.version = *layout::GetU32(buffer, at + kActivateVersionOffset);
    activate.size = *layout::GetU32(buffer, at + kActivateSizeOffset);
    activate.slotToActivate = *layout::GetU8(buffer, at + kActivateSlotOffset);
    return activate;
}

std::optional<FirmwareInfo> ReadFirmwareInfo(std::span<const std::uint8_t> buffer,
                                             std::uint64_t at) {
    return ReadInfo(buffer, at, kInfoV1);
}

std::optional<FirmwareInfo> ReadFirmwareInfoV2(std::span<const std::uint8_t> buffer,
                                               std::uint64_t at) {
    return ReadInfo(buffer, at, kInfoV2);
}

}  // namespace fwreq
