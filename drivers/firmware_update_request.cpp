// The writers of the requests that change a drive: a download piece and an activation.
// Kept apart from the readers and the information writers, which the read-only
// preflight also links.
#include <algorithm>

#include "drivers/byte_layout.h"
#include "drivers/firmware_request.h"

namespace fwreq {

namespace {

// The fixed part `fixed` at `at`, then the chunk behind it; BufferSize is the chunk's
// own length.
template <typename Fixed>
bool WriteDownloadWith(std::span<std::uint8_t> buffer, std::size_t at, Fixed fixed,
                       std::uint64_t offset, std::span<const std::uint8_t> chunk) {
    if (!layout::FieldFits(buffer.size(), at, sizeof fixed) ||
        !layout::FieldFits(buffer.size(), at + sizeof fixed, chunk.size())) {
        return false;
    }
    fixed.Size = static_cast<std::uint32_t>(sizeof fixed);
    fixed.Offset = offset;
    fixed.BufferSize = chunk.size();
    std::copy(chunk.begin(), chunk.end(), buffer.begin() + at + sizeof fixed);
    return layout::WriteAs(buffer, at, fixed);
}

}  // namespace

bool WriteDownload(std::span<std::uint8_t> buffer, std::size_t at, std::uint64_t offset,
                   std::span<const std::uint8_t> chunk) {
    sdk::STORAGE_FIRMWARE_DOWNLOAD fixed{};
    fixed.Version = kDownloadVersion;
    return WriteDownloadWith(buffer, at, fixed, offset, chunk);
}

bool WriteDownloadV2(std::span<std::uint8_t> buffer, std::size_t at, std::uint64_t offset,
                     std::span<const std::uint8_t> chunk, std::uint8_t slot) {
    sdk::STORAGE_FIRMWARE_DOWNLOAD_V2 fixed{};
    fixed.Version = kDownloadV2Version;
    fixed.Slot = slot;
    return WriteDownloadWith(buffer, at, fixed, offset, chunk);
}

bool WriteActivate(std::span<std::uint8_t> buffer, std::size_t at, std::uint8_t slot) {
    sdk::STORAGE_FIRMWARE_ACTIVATE activate{};
    activate.Version = kActivateVersion;
    activate.Size = static_cast<std::uint32_t>(sizeof activate);
    activate.SlotToActivate = slot;
    return layout::WriteAs(buffer, at, activate);
}

}  // namespace fwreq
