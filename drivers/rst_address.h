// The four address bytes that follow SRB_IO_CONTROL in the Intel RST pass-through and
// firmware requests: 1, the drive's path number, then two zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "drivers/byte_layout.h"
#include "drivers/sdk_structs.h"
#include "drivers/srb_io_control.h"

namespace rst_address {

inline constexpr std::uint8_t kConstant = 1;

// Only the low byte of a pathId travels: -1 becomes 0xFF.
constexpr std::uint8_t PathNumberByte(std::int64_t pathId) {
    return static_cast<std::uint8_t>(static_cast<std::uint64_t>(pathId) & 0xFF);
}

constexpr sdk::RST_ADDRESS Address(std::uint8_t pathNumber) {
    return {kConstant, pathNumber, {0, 0}};
}

// The address bytes of a request, right behind its header.
inline constexpr std::size_t kOffset = srb::kHeaderLength;
inline std::optional<sdk::RST_ADDRESS> ReadAddress(std::span<const std::uint8_t> request) {
    return layout::ReadAs<sdk::RST_ADDRESS>(request, kOffset);
}

}  // namespace rst_address
