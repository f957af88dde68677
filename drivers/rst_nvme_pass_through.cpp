#include "drivers/rst_nvme_pass_through.h"

namespace rst_nvme {

Bytes BuildIdentifyControllerRequest(std::uint8_t pathNumber) {
    PassThroughRequest head{
        srb::Header(kRequest, kRequestSize), rst_address::Address(pathNumber), {}};
    // CDW0: opcode only (command identifier 0); CDW1 (namespace) 0; CDW10: CNS.
    head.parameters.Command[0] = nvme::kIdentifyOpcode;
    head.parameters.Command[10] = nvme::kCnsController;
    head.parameters.DataBufferOffset = static_cast<std::uint32_t>(kDataAreaOffset);
    head.parameters.DataBufferLength = static_cast<std::uint32_t>(kDataAreaLength);
    Bytes request(kRequestSize, 0);
    // Sized for the whole request above: the head always fits.
    static_cast<void>(layout::WriteAs(request, 0, head));
    return request;
}

std::span<const std::uint8_t> IdentifyData(std::span<const std::uint8_t> reply) {
    return layout::Area(reply, kDataAreaOffset, kDataAreaLength);
}

std::span<std::uint8_t> MutableIdentifyData(std::span<std::uint8_t> reply) {
    return layout::Area(reply, kDataAreaOffset, kDataAreaLength);
}

std::optional<PassThroughRequest> ReadPassThroughRequest(std::span<const std::uint8_t> request) {
    return layout::ReadAs<PassThroughRequest>(request, 0);
}

}  // namespace rst_nvme
