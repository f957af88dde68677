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

void WriteDownloadCommon(std::span<std::uint8_t> buffer, std::size_t at, std::uint32_t version,
                         std::uint32_t fixedLength, std::uint64_t offset,
                         std::span<const std::uint8_t> chunk) {
    layout::PutU32(buffer, at + kDownloadVersionOffset, version);
    layout::PutU32(buffer, at + kDownloadSizeOffset, fixedLength);
    layout::PutU64(buffer, at + kDownloadOffsetOffset, offset);
    layout::PutU64(buffer, at + kDownloadBufferSizeOffset, chunk.size());
    std::copy(chunk.begin(), chunk.end(), buffer.begin() + at + fixedLength);
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

bool WriteDownload(std::span<std::uint8_t> buffer, std::size_t at, std::uint64_t offset,
                   std::span<const std::uint8_t> chunk) {
    if (!Fits(buffer, at, kDownloadFixedLength) ||
        !Fits(buffer, at + kDownloadFixedLength, chunk.size())) {
        return false;
    }
    WriteDownloadCommon(buffer, at, kDownloadVersion,
                        static_cast<std::uint32_t>(kDownloadFixedLength), offset, chunk);
    return true;
}

bool WriteDownloadV2(std::span<std::uint8_t> buffer, std::size_t at, std::uint64_t offset,
                     std::span<const std::uint8_t> chunk, std::uint8_t slot) {
    if (!Fits(buffer, at, kDownloadV2FixedLength) ||
        !Fits(buffer, at + kDownloadV2FixedLength, chunk.size())) {
        return false;
    }
    WriteDownloadCommon(buffer, at, kDownloadV2Version,
                        static_cast<std::uint32_t>(kDownloadV2FixedLength), offset, chunk);
    layout::PutU8(buffer, at + kDownloadV2SlotOffset, slot);
    layout::PutU32(buffer, at + kDownloadV2ImageSizeOffset, 0);
    return true;
}

bool WriteActivate(std::span<std::uint8_t> buffer, std::size_t at, std::uint8_t slot) {
    if (!Fits(buffer, at, kActivateLength)) {
        return false;
    }
    layout::PutU32(buffer, at + kActivateVersionOffset, kActivateVersion);
    layout::PutU32(buffer, at + kActivateSizeOffset, static_cast<std::uint32_t>(kActivateLength));
    layout::PutU8(buffer, at + kActivateSlotOffset, slot);
    return true;
}

bool WriteFirmwareInfo(std::span<std::uint8_t> buffer, std::size_t at, const FirmwareInfo& info) {
    const std::size_t count = info.slots.size();
    if (count > std::numeric_limits<std::uint8_t>::max() || !Fits(buffer, at, InfoLength(count))) {
        return false;
    }
    layout::PutU32(buffer, at + kInfoVersionOffset, kInfoVersion);
    layout::PutU32(buffer, at + kInfoSizeOffset, static_cast<std::uint32_t>(kInfoFixedLength));
    layout::PutU8(buffer, at + kInfoUpgradeSupportOffset, info.upgradeSupport ? 1 : 0);
    layout::PutU8(buffer, at + kInfoSlotCountOffset, static_cast<std::uint8_t>(count));
    layout::PutU8(buffer, at + kInfoActiveSlotOffset, info.activeSlot);
    layout::PutU8(buffer, at + kInfoPendingActivateSlotOffset, info.pendingActivateSlot);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = at + InfoLength(i);
        const FirmwareSlot& slot = info.slots[i];
        layout::PutU8(buffer, entry + kSlotNumberOffset, slot.number);
        layout::PutU8(buffer, entry + kSlotReadOnlyOffset, slot.readOnly ? 1 : 0);
        std::copy(slot.revision.begin(), slot.revision.end(),
                  buffer.begin() + entry + kSlotRevisionOffset);
    }
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
    if (!Fits(buffer, at, kInfoFixedLength)) {
        return std::nullopt;
    }
    const std::uint8_t count = *layout::GetU8(buffer, at + kInfoSlotCountOffset);
    if (!Fits(buffer, at, InfoLength(count))) {
        return std::nullopt;
    }
    FirmwareInfo info;
    info.upgradeSupport = *layout::GetU8(buffer, at + kInfoUpgradeSupportOffset) != 0;
    info.activeSlot = *layout::GetU8(buffer, at + kInfoActiveSlotOffset);
    info.pendingActivateSlot = *layout::GetU8(buffer, at + kInfoPendingActivateSlotOffset);
    info.slots.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t entry = at + InfoLength(i);
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

}  // namespace fwreq
