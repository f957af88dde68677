#include "drivers/rst_firmware.h"

namespace rst_fw {

Envelope EnvelopeFor(std::size_t requestSize, std::uint8_t pathNumber, std::uint32_t function) {
    return {srb::Header(kRequest, requestSize), rst_address::Address(pathNumber),
            fwreq::RequestBlock(function, static_cast<std::uint32_t>(kPayloadOffset),
                                static_cast<std::uint32_t>(requestSize - kPayloadOffset))};
}

Bytes BuildGetInfoRequest(std::uint8_t pathNumber) {
    Bytes request(kGetInfoRequestSize, 0);
    // Sized for the whole request above: neither writer can refuse it.
    static_cast<void>(layout::WriteAs(
        request, 0, EnvelopeFor(request.size(), pathNumber, fwreq::kFunctionGetInfo)));
    static_cast<void>(fwreq::WriteInfoV2Request(request, kPayloadOffset));
    return request;
}

std::optional<fwreq::FirmwareInfo> ParseFirmwareInfo(std::span<const std::uint8_t> reply) {
    return fwreq::ReadNamedInfo(reply, offsetof(Envelope, block), fwreq::InfoLayout::Version2);
}

bool WriteFirmwareInfoReply(std::span<std::uint8_t> reply, const fwreq::FirmwareInfo& info) {
    return fwreq::WriteNamedInfo(reply, offsetof(Envelope, block), fwreq::InfoLayout::Version2,
                                 info);
}

std::optional<sdk::FIRMWARE_REQUEST_BLOCK> ReadRequestBlock(std::span<const std::uint8_t> request) {
    return fwreq::ReadRequestBlock(request, offsetof(Envelope, block));
}

std::optional<fwreq::Download> ReadDownload(std::span<const std::uint8_t> request) {
    return fwreq::ReadDownloadV2(request, kPayloadOffset);
}

std::optional<sdk::STORAGE_FIRMWARE_ACTIVATE> ReadActivate(std::span<const std::uint8_t> request) {
    return fwreq::ReadActivate(request, kPayloadOffset);
}

}  // namespace rst_fw
