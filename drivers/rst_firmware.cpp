#include "drivers/rst_firmware.h"

namespace rst_fw {

bool WriteRequestHeader(std::span<std::uint8_t> buffer, std::uint8_t pathNumber,
                        std::uint32_t function) {
    return srb::WriteSrbIoControl(buffer, kSignature, kTimeout, kControlCode,
                                  srb::LengthFor(buffer.size())) &&
           rst_address::WriteAddress(buffer, pathNumber) &&
           fwreq::WriteRequestBlock(buffer, kRequestBlockOffset, function,
                                    static_cast<std::uint32_t>(kPayloadOffset),
                                    static_cast<std::uint32_t>(buffer.size() - kPayloadOffset));
}

Bytes BuildGetInfoRequest(std::uint8_t pathNumber) {
    Bytes request(kGetInfoRequestSize, 0);
    // Sized for the whole request above: neither writer can refuse it.
    static_cast<void>(WriteRequestHeader(request, pathNumber, fwreq::kFunctionGetInfo) &&
                      fwreq::WriteInfoV2Request(request, kPayloadOffset));
    return request;
}

std::optional<fwreq::FirmwareInfo> ParseFirmwareInfo(std::span<const std::uint8_t> reply) {
    const auto block = ReadRequestBlock(reply);
    if (!block) {
        return std::nullopt;
    }
    return fwreq::ReadFirmwareInfoV2(reply, block->dataBufferOffset);
}

bool WriteFirmwareInfoReply(std::span<std::uint8_t> reply, const fwreq::FirmwareInfo& info) {
    const auto block = ReadRequestBlock(reply);
    return block && fwreq::WriteFirmwareInfoV2(reply, block->dataBufferOffset, info);
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
