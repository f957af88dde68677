#include "drivers/rst_firmware.h"

#include <limits>

namespace rst_fw {

namespace {

// Header, address bytes and request block, all sized by the buffer; false when the
// buffer cannot hold them.
[[nodiscard]] bool WriteRequestHeader(std::span<std::uint8_t> buffer, std::uint8_t pathNumber,
                                      std::uint32_t function) {
    return srb::WriteSrbIoControl(buffer, kSignature, kTimeout, kControlCode,
                                  srb::LengthFor(buffer.size())) &&
           rst_address::WriteAddress(buffer, pathNumber) &&
           fwreq::WriteRequestBlock(buffer, kRequestBlockOffset, function,
                                    static_cast<std::uint32_t>(kPayloadOffset),
                                    static_cast<std::uint32_t>(buffer.size() - kPayloadOffset));
}

}  // namespace

bool FillDownloadRequest(Bytes& buffer, std::uint8_t pathNumber, std::uint64_t imageOffset,
                         std::span<const std::uint8_t> chunk) {
    if (chunk.size() > std::numeric_limits<std::uint32_t>::max() - kImageOffset) {
        return false;
    }
    buffer.assign(DownloadRequestSize(chunk.size()), 0);
    return WriteRequestHeader(buffer, pathNumber, fwreq::kFunctionDownload) &&
           fwreq::WriteDownloadV2(buffer, kPayloadOffset, imageOffset, chunk,
                                  fwreq::kSlotUnspecified);
}

Bytes BuildActivateRequest(std::uint8_t pathNumber, std::uint8_t slot) {
    Bytes request(kActivateRequestSize, 0);
    // Never refused: the buffer is sized for the whole request.
    if (!WriteRequestHeader(request, pathNumber, fwreq::kFunctionActivate) ||
        !fwreq::WriteActivate(request, kPayloadOffset, slot)) {
        return {};
    }
    return request;
}

std::optional<fwreq::RequestBlock> ReadRequestBlock(std::span<const std::uint8_t> request) {
    return fwreq::ReadRequestBlock(request, kRequestBlockOffset);
}

std::optional<fwreq::Download> ReadDownload(std::span<const std::uint8_t> request) {
    return fwreq::ReadDownloadV2(request, kPayloadOffset);
}

std::optional<fwreq::Activate> ReadActivate(std::span<const std::uint8_t> request) {
    return fwreq::ReadActivate(request, kPayloadOffset);
}

}  // namespace rst_fw
