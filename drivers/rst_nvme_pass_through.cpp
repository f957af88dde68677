#include "drivers/rst_nvme_pass_through.h"

namespace rst_nvme {

Bytes BuildIdentifyControllerRequest(std::uint8_t pathNumber) {
    Bytes request(kRequestSize, 0);
    // Sized for the whole request above: neither writer can refuse it.
    static_cast<void>(srb::WriteSrbIoControl(request, kSignature, kTimeout, kControlCode,
                                             srb::LengthFor(kRequestSize)) &&
                      rst_address::WriteAddress(request, pathNumber));
    // CDW0: opcode only (command identifier 0); CDW1 (namespace) 0; CDW10: CNS.
    layout::PutU32(request, CommandDwordOffset(0), nvme::kIdentifyOpcode);
    layout::PutU32(request, CommandDwordOffset(10), nvme::kCnsController);
    layout::PutU32(request, kDataBufferOffsetOffset, static_cast<std::uint32_t>(kDataAreaOffset));
    layout::PutU32(request, kDataBufferLengthOffset, static_cast<std::uint32_t>(kDataAreaLength));
    return request;
}

std::span<const std::uint8_t> IdentifyData(std::span<const std::uint8_t> reply) {
    if (!layout::FieldFits(reply.size(), kDataAreaOffset, kDataAreaLength)) {
        return {};
    }
    return reply.subspan(kDataAreaOffset, kDataAreaLength);
}

std::span<std::uint8_t> MutableIdentifyData(std::span<std::uint8_t> reply) {
    if (!layout::FieldFits(reply.size(), kDataAreaOffset, kDataAreaLength)) {
        return {};
    }
    return reply.subspan(kDataAreaOffset, kDataAreaLength);
}

std::optional<PassThroughRequest> ReadPassThroughRequest(std::span<const std::uint8_t> request) {
    if (request.size() < kDataAreaOffset) {
        return std::nullopt;
    }
    PassThroughRequest read;
    read.address = *rst_address::ReadAddress(request);
    for (std::size_t n = 0; n < kCommandDwords; ++n) {
        read.commandDwords[n] = *layout::GetU32(request, CommandDwordOffset(n));
    }
    read.dataOffset = *layout::GetU32(request, kDataBufferOffsetOffset);
    read.dataLength = *layout::GetU32(request, kDataBufferLengthOffset);
    return read;
}

}  // namespace rst_nvme
