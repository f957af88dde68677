#include "drivers/rst_firmware.h"

#include <limits>

namespace rst_fw {

namespace {

// Header, address bytes and request block, all sized by the buffer.
void WriteRequestHeader(std::span<std::uint8_t> buffer, std::uint8_t pathNumber,
                        std::uint32_t function) {
    srb::WriteSrbIoControl(buffer, kSignature, kTimeout, kControlCode,
                           srb::LengthFor(buffer.size()));
    rst_address::WriteAddress(buffer, pathNumber);
    fwreq::WriteRequestBlock(buffer, kRequestBlockOffset, function,
                             static_cast<std::uint32_t>(kPayloadOffset),
                             static_cast<std::uint32_t>(buffer.size() - kPayloadOffset));
}

}  // namespace

bool FillDownloadRequest(RequestBuffer& buffer, std::uint8_t pathNumber, std::uint64_t imageOffset,
                         std::span<const std::uint8_t> chunk) {
    if (chunk.size() > std::numeric_limits<std::uint32_t>::max() - kImageOffset) {
        return false;
    }
    buffer.assign(DownloadRequestSize(chunk.size()), 0);
    WriteRequestHeader(buffer, pathNumber, fwreq::kFunctionDownload);
    return fwreq::WriteDownloadV2(buffer, kPayloadOffset, imageOffset, chunk,
                                  fwreq::kSlotUnspecified);
}

RequestBuffer BuildActivateRequest(std::uint8_t pathNumber, std::uint8_t slot) {
    RequestBuffer request(kActivateRequestSize, 0);
    WriteRequestHeader(request, pathNumber, fwreq::kFunctionActivate);
    fwreq::WriteActivate(request, kPayloadOffset, slot);
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
