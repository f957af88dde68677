#include "drivers/miniport_firmware.h"

#include <algorithm>

#include "drivers/byte_layout.h"

namespace inbox_fw {

void WriteEnvelope(std::span<std::uint8_t> buffer, std::uint32_t function) {
    const Envelope envelope{
        srb::Header(kRequest, buffer.size()),
        fwreq::RequestBlock(function, static_cast<std::uint32_t>(kDataAreaOffset),
                            static_cast<std::uint32_t>(buffer.size() - kDataAreaOffset))};
    static_cast<void>(layout::WriteAs(buffer, 0, envelope));
}

bool FillGetInfoRequest(std::span<std::uint8_t> buffer) {
    if (buffer.size() < kMinimumRequestSize) {
        return false;
    }
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    WriteEnvelope(buffer, fwreq::kFunctionGetInfo);
    return true;
}

Bytes BuildPublicGetInfoRequest() {
    Bytes request(kPublicGetInfoRequestSize, 0);
    const Envelope envelope{
        srb::Header(kRequest, request.size()),
        fwreq::RequestBlock(fwreq::kFunctionGetInfo,
                            static_cast<std::uint32_t>(kPublicDataAreaOffset),
                            static_cast<std::uint32_t>(request.size() - kPublicDataAreaOffset))};
    // Sized for the whole request above: neither writer can refuse it.
    static_cast<void>(layout::WriteAs(request, 0, envelope));
    static_cast<void>(fwreq::WriteInfoV2Request(request, kPublicDataAreaOffset));
    return request;
}

std::optional<fwreq::FirmwareInfo> ParseFirmwareInfo(std::span<const std::uint8_t> reply) {
    return fwreq::ReadNamedInfo(reply, offsetof(Envelope, block), fwreq::InfoLayout::Version1);
}

bool WriteFirmwareInfoReply(std::span<std::uint8_t> reply, const fwreq::FirmwareInfo& info) {
    return fwreq::WriteNamedInfo(reply, offsetof(Envelope, block), fwreq::InfoLayout::Version1,
                                 info);
}

std::optional<fwreq::FirmwareInfo> ParsePublicFirmwareInfo(std::span<const std::uint8_t> reply) {
    return fwreq::ReadNamedInfo(reply, offsetof(Envelope, block), fwreq::InfoLayout::Version2);
}

bool WritePublicFirmwareInfoReply(std::span<std::uint8_t> reply, const fwreq::FirmwareInfo& info) {
    return fwreq::WriteNamedInfo(reply, offsetof(Envelope, block), fwreq::InfoLayout::Version2,
                                 info);
}

std::optional<sdk::FIRMWARE_REQUEST_BLOCK> ReadRequestBlock(std::span<const std::uint8_t> request) {
    return fwreq::ReadRequestBlock(request, offsetof(Envelope, block));
}

std::optional<fwreq::Download> ReadDownload(std::span<const std::uint8_t> request) {
    return fwreq::ReadDownload(request, kDataAreaOffset);
}

std::optional<sdk::STORAGE_FIRMWARE_ACTIVATE> ReadActivate(std::span<const std::uint8_t> request) {
    return fwreq::ReadActivate(request, kDataAreaOffset);
}

}  // namespace inbox_fw
