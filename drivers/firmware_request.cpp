#include "drivers/firmware_request.h"

#include <algorithm>

#include "drivers/byte_layout.h"

namespace fwreq {

namespace {

// The two information layouts: the fixed part and the slot entry of each version.
// Their shared fields lie at the same places, so one reader and one writer serve both.
template <typename Fixed, typename Entry>
struct InfoForm {
    std::uint32_t version;
};
constexpr InfoForm<sdk::STORAGE_FIRMWARE_INFO, sdk::STORAGE_FIRMWARE_SLOT_INFO> kInfoV1{
    kInfoVersion};
constexpr InfoForm<sdk::STORAGE_FIRMWARE_INFO_V2, sdk::STORAGE_FIRMWARE_SLOT_INFO_V2> kInfoV2{
    kInfoVersionV2};

template <typename Fixed, typename Entry>
std::uint64_t EntryAt(std::uint64_t at, std::size_t index) {
    return at + sizeof(Fixed) + sizeof(Entry) * index;
}

template <typename Fixed, typename Entry>
bool WriteInfo(std::span<std::uint8_t> buffer, std::size_t at, const FirmwareInfo& info,
               InfoForm<Fixed, Entry> form) {
    const std::size_t count = info.slots.size();
    if (count > kMaxSlotCount ||
        !layout::FieldFits(buffer.size(), at, sizeof(Fixed) + sizeof(Entry) * count)) {
        return false;
    }
    Fixed fixed{};
    fixed.Version = form.version;
    fixed.Size = static_cast<std::uint32_t>(sizeof(Fixed));
    fixed.UpgradeSupport = info.upgradeSupport ? 1 : 0;
    fixed.SlotCount = static_cast<std::uint8_t>(count);
    fixed.ActiveSlot = info.activeSlot;
    fixed.PendingActivateSlot = info.pendingActivateSlot;
    if constexpr (requires { fixed.ImagePayloadAlignment; }) {
        fixed.ImagePayloadAlignment = info.imagePayloadAlignment;
        fixed.ImagePayloadMaxSize = info.imagePayloadMaxSize;
    }
    bool written = layout::WriteAs(buffer, at, fixed);
    for (std::size_t i = 0; i < count; ++i) {
        const FirmwareSlot& slot = info.slots[i];
        Entry entry{};
        entry.SlotNumber = slot.number;
        entry.ReadOnly = slot.readOnly ? 1 : 0;
        std::copy(slot.revision.begin(), slot.revision.end(), entry.Revision);
        written = written && layout::WriteAs(buffer, EntryAt<Fixed, Entry>(at, i), entry);
    }
    return written;
}

template <typename Fixed, typename Entry>
std::optional<FirmwareInfo> ReadInfo(std::span<const std::uint8_t> buffer, std::uint64_t at,
                                     InfoForm<Fixed, Entry>) {
    const auto fixed = layout::ReadAs<Fixed>(buffer, at);
    if (!fixed ||
        !layout::FieldFits(buffer.size(), at, sizeof(Fixed) + sizeof(Entry) * fixed->SlotCount)) {
        return std::nullopt;
    }
    FirmwareInfo info;
    info.version = fixed->Version;
    info.size = fixed->Size;
    info.upgradeSupport = fixed->UpgradeSupport != 0;
    info.activeSlot = fixed->ActiveSlot;
    info.pendingActivateSlot = fixed->PendingActivateSlot;
    if constexpr (requires { fixed->ImagePayloadAlignment; }) {
        info.imagePayloadAlignment = fixed->ImagePayloadAlignment;
        info.imagePayloadMaxSize = fixed->ImagePayloadMaxSize;
    }
    info.slots.reserve(fixed->SlotCount);
    for (std::size_t i = 0; i < fixed->SlotCount; ++i) {
        // Inside the buffer: the whole table was checked above.
        const Entry entry = *layout::ReadAs<Entry>(buffer, EntryAt<Fixed, Entry>(at, i));
        FirmwareSlot slot;
        slot.number = entry.SlotNumber;
        slot.readOnly = entry.ReadOnly != 0;
        std::copy_n(entry.Revision, slot.revision.size(), slot.revision.begin());
        info.slots.push_back(slot);
    }
    return info;
}

// The image behind a download's fixed part of `fixedLength` bytes, when it lies inside.
std::span<const std::uint8_t> ImageBehind(std::span<const std::uint8_t> buffer, std::uint64_t at,
                                          std::size_t fixedLength, std::uint64_t bufferSize) {
    const std::uint64_t imageAt = at + fixedLength;
    if (!layout::FieldFits(buffer.size(), imageAt, bufferSize)) {
        return {};
    }
    return buffer.subspan(static_cast<std::size_t>(imageAt), static_cast<std::size_t>(bufferSize));
}

}  // namespace

bool WriteFirmwareInfo(std::span<std::uint8_t> buffer, std::size_t at, const FirmwareInfo& info) {
    return WriteInfo(buffer, at, info, kInfoV1);
}

bool WriteFirmwareInfoV2(std::span<std::uint8_t> buffer, std::size_t at, const FirmwareInfo& info) {
    return WriteInfo(buffer, at, info, kInfoV2);
}

bool WriteInfoV2Request(std::span<std::uint8_t> buffer, std::size_t at) {
    auto fixed = layout::ReadAs<sdk::STORAGE_FIRMWARE_INFO_V2>(buffer, at);
    if (!fixed) {
        return false;
    }
    fixed->Version = kInfoVersionV2;
    fixed->Size = static_cast<std::uint32_t>(sizeof(sdk::STORAGE_FIRMWARE_INFO_V2));
    return layout::WriteAs(buffer, at, *fixed);
}

std::optional<sdk::FIRMWARE_REQUEST_BLOCK> ReadRequestBlock(std::span<const std::uint8_t> buffer,
                                                            std::uint64_t at) {
    return layout::ReadAs<sdk::FIRMWARE_REQUEST_BLOCK>(buffer, at);
}

std::optional<Download> ReadDownload(std::span<const std::uint8_t> buffer, std::uint64_t at) {
    const auto fixed = layout::ReadAs<sdk::STORAGE_FIRMWARE_DOWNLOAD>(buffer, at);
    if (!fixed) {
        return std::nullopt;
    }
    Download download;
    download.fixed.Version = fixed->Version;
    download.fixed.Size = fixed->Size;
    download.fixed.Offset = fixed->Offset;
    download.fixed.BufferSize = fixed->BufferSize;
    download.image = ImageBehind(buffer, at, sizeof *fixed, fixed->BufferSize);
    return download;
}

std::optional<Download> ReadDownloadV2(std::span<const std::uint8_t> buffer, std::uint64_t at) {
    const auto fixed = layout::ReadAs<sdk::STORAGE_FIRMWARE_DOWNLOAD_V2>(buffer, at);
    if (!fixed) {
        return std::nullopt;
    }
    return Download{*fixed, ImageBehind(buffer, at, sizeof *fixed, fixed->BufferSize)};
}

std::optional<sdk::STORAGE_FIRMWARE_ACTIVATE> ReadActivate(std::span<const std::uint8_t> buffer,
                                                           std::uint64_t at) {
    return layout::ReadAs<sdk::STORAGE_FIRMWARE_ACTIVATE>(buffer, at);
}

std::optional<FirmwareInfo> ReadFirmwareInfo(std::span<const std::uint8_t> buffer,
                                             std::uint64_t at) {
    return ReadInfo(buffer, at, kInfoV1);
}

std::optional<FirmwareInfo> ReadFirmwareInfoV2(std::span<const std::uint8_t> buffer,
                                               std::uint64_t at) {
    return ReadInfo(buffer, at, kInfoV2);
}

std::optional<FirmwareInfo> ReadNamedInfo(std::span<const std::uint8_t> reply, std::size_t blockAt,
                                          InfoLayout form) {
    const auto block = ReadRequestBlock(reply, blockAt);
    if (!block) {
        return std::nullopt;
    }
    return form == InfoLayout::Version1 ? ReadInfo(reply, block->DataBufferOffset, kInfoV1)
                                        : ReadInfo(reply, block->DataBufferOffset, kInfoV2);
}

bool WriteNamedInfo(std::span<std::uint8_t> reply, std::size_t blockAt, InfoLayout form,
                    const FirmwareInfo& info) {
    const auto block = ReadRequestBlock(reply, blockAt);
    if (!block) {
        return false;
    }
    return form == InfoLayout::Version1 ? WriteInfo(reply, block->DataBufferOffset, info, kInfoV1)
                                        : WriteInfo(reply, block->DataBufferOffset, info, kInfoV2);
}

}  // namespace fwreq
