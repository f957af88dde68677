#include "drivers/miniport_firmware.h"

#include <algorithm>

#include "drivers/byte_layout.h"

namespace inbox_fw {

bool WriteRequestHeader(std::span<std::uint8_t> buffer, std::uint32_t function) {
    if (buffer.size() < kMinimumRequestSize) {
        return false;
    }
    // The data area starts right behind the request block, not at the next 8-byte
    // boundary.
    return srb::WriteSrbIoControl(buffer, kSignature, kTimeout, kControlCode,
                                  srb::LengthFor(buffer.size())) &&
           fwreq::WriteRequestBlock(buffer, kRequestBlockOffset, function,
                                    static_cast<std::uint32_t>(kDataAreaOffset),
                                    static_cast<std::uint32_t>(buffer.size() - kDataAreaOffset));
}

bool FillGetInfoRequest(std::span<std::uint8_t> buffer) {
    if (buffer.size() < kMinimumRequestSize) {
        return false;
    }
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    return WriteRequestHeader(buffer, fwreq::kFunctionGetInfo);
}

Bytes BuildPublicGetInfoRequest() {
    Bytes request(kPublicGetInfoRequestSize, 0);
    // Sized for the whole request above: neither writer can refuse it.
    static_cast<void>(srb::WriteSrbIoControl(request, kSignature, kTimeout, kControlCode,
                                             srb::LengthFor(request.size())) &&
                      fwreq::WriteRequestBlock(
                          request, kRequestBlockOffset, fwreq::kFunctionGetInfo,
                          static_cast<std::uint32_t>(kPublicDataAreaOffset),
                          static_cast<std::uint32_t>(request.size() - kPublicDataAreaOffset)) &&
                      fwreq::WriteInfoV2Request(request, kPublicDataAreaOffset));
    return request;
}

namespace {

// An information structure of a reply, at the DataBufferOffset its request block names:
// `read` or `write` it there, nothing when the reply is too short to name one.
std::optional<fwreq::FirmwareInfo> ReadAtDataOffset(
    std::span<const std::uint8_t> reply,
    std::optional<fwreq::FirmwareInfo> (*read)(std::span<const std::uint8_t>, std::uint64_t)) {
    const auto dataOffset = layout::GetU32(reply, kDataBufferOffsetOffset);
    return dataOffset ? read(reply, *dataOffset) : std::nullopt;
}

bool WriteAtDataOffset(std::span<std::uint8_t> reply, const fwreq::FirmwareInfo& info,
                       bool (*write)(std::span<std::uint8_t>, std::size_t,
                                     const fwreq::FirmwareInfo&)) {
    const auto dataOffset = layout::GetU32(reply, kDataBufferOffsetOffset);
    return dataOffset && write(reply, *dataOffset, info);
}

}  // namespace

std::optional<fwreq::FirmwareInfo> ParseFirmwareInfo(std::span<const std::uint8_t> reply) {
    return ReadAtDataOffset(reply, fwreq::ReadFirmwareInfo);
}

bool WriteFirmwareInfoReply(std::span<std::uint8_t> reply, const fwreq::FirmwareInfo& info) {
    return WriteAtDataOffset(reply, info, fwreq::WriteFirmwareInfo);
}

std::optional<fwreq::FirmwareInfo> ParsePublicFirmwareInfo(std::span<const std::uint8_t> reply) {
    return ReadAtDataOffset(reply, fwreq::ReadFirmwareInfoV2);
}

bool WritePublicFirmwareInfoReply(std::span<std::uint8_t> reply, const fwreq::FirmwareInfo& info) {
    return WriteAtDataOffset(reply, info, fwreq::WriteFirmwareInfoV2);
}

std::optional<fwreq::RequestBlock> ReadRequestBlock(std::span<const std::uint8_t> request) {
    return fwreq::ReadRequestBlock(request, kRequestBlockOffset);
}

std::optional<fwreq::Download> ReadDownload(std::span<const std::uint8_t> request) {
    return fwreq::ReadDownload(request, kDataAreaOffset);
}

std::optional<fwreq::Activate> ReadActivate(std::span<const std::uint8_t> request) {
    return fwreq::ReadActivate(request, kDataAreaOffset);
}

}  // namespace inbox_fw
