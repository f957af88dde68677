// The writers of the requests that change a drive: a download piece and an activation.
// Kept apart from the readers and the information writers, which the read-only
// preflight also links.
#include <algorithm>

#include "drivers/byte_layout.h"
#include "drivers/firmware_request.h"

namespace fwreq {

namespace {

bool Fits(std::span<const std::uint8_t> buffer, std::uint64_t at, std::uint64_t length) {
    return layout::FieldFits(buffer.size(), at, length);
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

}  // namespace fwreq
