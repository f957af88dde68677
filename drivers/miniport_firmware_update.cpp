// The inbox driver's requests that change a drive: download pieces and the activation.
// Kept apart from the information request, which the read-only preflight also links.
#include <algorithm>

#include "drivers/miniport_firmware.h"

namespace inbox_fw {

bool WriteDownloadPayload(std::span<std::uint8_t> buffer, std::uint64_t imageOffset,
                          std::span<const std::uint8_t> chunk) {
    return fwreq::WriteDownload(buffer, kDataAreaOffset, imageOffset, chunk);
}

bool WriteActivatePayload(std::span<std::uint8_t> buffer, std::uint8_t slot) {
    return fwreq::WriteActivate(buffer, kDataAreaOffset, slot);
}

bool FillDownloadRequest(std::span<std::uint8_t> buffer, std::uint64_t imageOffset,
                         std::span<const std::uint8_t> chunk) {
    if (buffer.size() < RequestSize(chunk.size())) {
        return false;
    }
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    WriteEnvelope(buffer, fwreq::kFunctionDownload);
    return WriteDownloadPayload(buffer, imageOffset, chunk);
}

bool FillActivateRequest(std::span<std::uint8_t> buffer, std::uint8_t slot) {
    if (buffer.size() < kMinimumRequestSize) {
        return false;
    }
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    WriteEnvelope(buffer, fwreq::kFunctionActivate);
    return WriteActivatePayload(buffer, slot);
}

}  // namespace inbox_fw
