// The Intel RST "IntelNvm" pass-through, carrying the NVMe Identify Controller command
// to the drive with a given path number.
//
// Buffer (4260 bytes): SRB_IO_CONTROL (0..27), address bytes (28..31), the 64-byte
// NVMe command CDW0..CDW15 (32..95), 20 bytes left zero (96..115), DataBufferOffset
// (116) and DataBufferLength (120), 40 zero bytes (124..163), the data area (164..4259).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "drivers/byte_layout.h"
#include "drivers/nvme_identify.h"
#include "drivers/rst_address.h"
#include "drivers/sdk_structs.h"
#include "drivers/srb_io_control.h"

namespace rst_nvme {

inline constexpr DWORD kIoControlCode = IOCTL_SCSI_MINIPORT;
inline constexpr std::uint32_t kControlCode = RST_IOCTL_NVME_PASS_THROUGH;
inline constexpr std::string_view kSignature{"IntelNvm", srb::kSignatureLength};
inline constexpr std::uint32_t kTimeout = 10;

inline constexpr std::size_t kCommandOffset = rst_address::kOffset + rst_address::kLength;
inline constexpr std::size_t kCommandDwords = 16;
inline constexpr std::size_t kCommandLength = kCommandDwords * 4;
// Buffer offset of command dword n.
constexpr std::size_t CommandDwordOffset(std::size_t n) {
    return kCommandOffset + 4 * n;
}
// NVME_PASS_THROUGH_PARAMETERS.DataBufferOffset and DataBufferLength.
inline constexpr std::size_t kDataBufferOffsetOffset = 116;
inline constexpr std::size_t kDataBufferLengthOffset = 120;
inline constexpr std::size_t kDataAreaOffset = 164;
inline constexpr std::size_t kDataAreaLength = nvme::kIdentifyDataLength;
inline constexpr std::size_t kRequestSize = kDataAreaOffset + kDataAreaLength;

static_assert(kCommandOffset == 32 && CommandDwordOffset(10) == 72);
static_assert(kDataBufferOffsetOffset >= kCommandOffset + kCommandLength);
static_assert(kRequestSize == 4260);

// The zero-filled 4260-byte Identify Controller request for the drive at `pathNumber`
// (see rst_address::PathNumberByte).
Bytes BuildIdentifyControllerRequest(std::uint8_t pathNumber);

// The Identify data of a reply; empty when the reply is too short.
std::span<const std::uint8_t> IdentifyData(std::span<const std::uint8_t> reply);
std::span<std::uint8_t> MutableIdentifyData(std::span<std::uint8_t> reply);

// The request as the driver reads it.
struct PassThroughRequest {
    rst_address::Address address;
    std::array<std::uint32_t, kCommandDwords> commandDwords{};
    std::uint32_t dataOffset = 0;
    std::uint32_t dataLength = 0;
};

std::optional<PassThroughRequest> ReadPassThroughRequest(std::span<const std::uint8_t> request);

}  // namespace rst_nvme
