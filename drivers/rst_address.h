// The four address bytes that follow SRB_IO_CONTROL in the Intel RST pass-through and
// firmware requests: 1, the drive's path number, then two zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "drivers/byte_layout.h"
#include "drivers/srb_io_control.h"

namespace rst_address {

inline constexpr std::size_t kOffset = srb::kHeaderLength;
inline constexpr std::size_t kLength = 4;
inline constexpr std::size_t kConstantOffset = kOffset;
inline constexpr std::size_t kPathNumberOffset = kOffset + 1;
inline constexpr std::size_t kReservedOffset = kOffset + 2;
inline constexpr std::uint8_t kConstant = 1;

// Only the low byte of a pathId travels: -1 becomes 0xFF.
constexpr std::uint8_t PathNumberByte(std::int64_t pathId) {
    return static_cast<std::uint8_t>(static_cast<std::uint64_t>(pathId) & 0xFF);
}

struct Address {
    std::uint8_t constant = 0;
    std::uint8_t pathNumber = 0;
    std::uint16_t reserved = 0;
};

// Writes 1, the path number and two zero bytes; false when the buffer is too short.
[[nodiscard]] inline bool WriteAddress(std::span<std::uint8_t> buffer, std::uint8_t pathNumber) {
    if (!layout::FieldFits(buffer.size(), kOffset, kLength)) {
        return false;
    }
    layout::PutU8(buffer, kConstantOffset, kConstant);
    layout::PutU8(buffer, kPathNumberOffset, pathNumber);
    layout::PutU16(buffer, kReservedOffset, 0);
    return true;
}

inline std::optional<Address> ReadAddress(std::span<const std::uint8_t> buffer) {
    if (!layout::FieldFits(buffer.size(), kOffset, kLength)) {
        return std::nullopt;
    }
    return Address{*layout::GetU8(buffer, kConstantOffset),
                   *layout::GetU8(buffer, kPathNumberOffset),
                   *layout::GetU16(buffer, kReservedOffset)};
}

}  // namespace rst_address
