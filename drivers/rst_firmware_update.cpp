// The Intel RST requests that change a drive: download pieces and the activation. Kept
// apart from the information request, which the read-only preflight also links.
#include <limits>

#include "drivers/rst_firmware.h"

namespace rst_fw {

bool FillDownloadRequest(Bytes& buffer, std::uint8_t pathNumber, std::uint64_t imageOffset,
                         std::span<const std::uint8_t> chunk) {
    if (chunk.size() > std::numeric_limits<std::uint32_t>::max() - kImageOffset) {
        return false;
    }
    buffer.assign(DownloadRequestSize(chunk.size()), 0);
    // Sized for the request above: the envelope and the chunk always fit.
    static_cast<void>(layout::WriteAs(
        buffer, 0, EnvelopeFor(buffer.size(), pathNumber, fwreq::kFunctionDownload)));
    return fwreq::WriteDownloadV2(buffer, kPayloadOffset, imageOffset, chunk,
                                  fwreq::kSlotUnspecified);
}

Bytes BuildActivateRequest(std::uint8_t pathNumber, std::uint8_t slot) {
    Bytes request(sizeof(ActivateRequest), 0);
    // Sized for the whole request above: neither writer can refuse it.
    static_cast<void>(layout::WriteAs(
        request, 0, EnvelopeFor(request.size(), pathNumber, fwreq::kFunctionActivate)));
    static_cast<void>(fwreq::WriteActivate(request, kPayloadOffset, slot));
    return request;
}

}  // namespace rst_fw
