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

bool WriteDownloadPayload(std::span<std::uint8_t> buffer, std::uint64_t imageOffset,
                          std::span<const std::uint8_t> chunk) {
    return fwreq::WriteDownload(buffer, kDataAreaOffset, imageOffset, chunk);
}

bool WriteActivatePayload(std::span<std::uint8_t> buffer, std::uint8_t slot) {
    return fwreq::WriteActivate(buffer, kDataAreaOffset, slot);
}

bool FillGetInfoRequest(std::span<std::uint8_t> buffer) {
    if (buffer.size() < kMinimumRequestSize) {
        return false;
    }
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    return WriteRequestHeader(buffer, fwreq::kFunctionGetInfo);
}

bool FillDownloadRequest(std::span<std::uint8_t> buffer, std::uint64_t imageOffset,
                         std::span<const std::uint8_t> chunk) {
    if (buffer.size() < RequestSize(chunk.size())) {
        return false;
    }
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    return WriteRequestHeader(buffer, fwreq::kFunctionDownload) &&
           WriteDownloadPayload(buffer, imageOffset, chunk);
}

bool FillActivateRequest(std::span<std::uint8_t> buffer, std::uint8_t slot) {
    if (buffer.size() < kMinimumRequestSize) {
        return false;
    }
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    return WriteRequestHeader(buffer, fwreq::kFunctionActivate) &&
           WriteActivatePayload(buffer, slot);
}

std::optional<fwreq::FirmwareInfo> ParseFirmwareInfo(std::span<const std::uint8_t> reply) {
    const auto dataOffset = layout::GetU32(reply, kDataBufferOffsetOffset);
    if (!dataOffset) {
        return std::nullopt;
    }
    return fwreq::ReadFirmwareInfo(reply, *dataOffset);
}

bool WriteFirmwareInfoReply(std::span<std::uint8_t> reply, const fwreq::FirmwareInfo& info) {
    const auto dataOffset = layout::GetU32(reply, kDataBufferOffsetOffset);
    return dataOffset && fwreq::WriteFirmwareInfo(reply, *dataOffset, info);
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
