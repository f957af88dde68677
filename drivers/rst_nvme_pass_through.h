// The Intel RST "IntelNvm" pass-through, carrying the NVMe Identify Controller command
// to the drive with a given path number.
//
// Buffer (4260 bytes): SRB_IO_CONTROL, the address bytes, NVME_PASS_THROUGH_PARAMETERS
// (the 64-byte command, the completion, DataBufferOffset and DataBufferLength), then
// the data area at 164.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "drivers/byte_layout.h"
#include "drivers/nvme_identify.h"
#include "drivers/rst_address.h"
#include "drivers/sdk_structs.h"
#include "drivers/srb_io_control.h"

namespace rst_nvme {

inline constexpr srb::RequestFamily kRequest{IOCTL_SCSI_MINIPORT, "IntelNvm",
                                             RST_IOCTL_NVME_PASS_THROUGH, 10};

// Everything before the data area, as the driver reads it.
struct PassThroughRequest {
    sdk::SRB_IO_CONTROL srb;
    sdk::RST_ADDRESS address;
    sdk::NVME_PASS_THROUGH_PARAMETERS parameters;
};
inline constexpr std::size_t kDataAreaOffset = sizeof(PassThroughRequest);
inline constexpr std::size_t kDataAreaLength = nvme::kIdentifyDataLength;
inline constexpr std::size_t kRequestSize = kDataAreaOffset + kDataAreaLength;
static_assert(offsetof(PassThroughRequest, parameters) == 32);
static_assert(offsetof(PassThroughRequest, parameters) +
                  offsetof(sdk::NVME_PASS_THROUGH_PARAMETERS, DataBufferOffset) ==
              116);
static_assert(kDataAreaOffset == 164 && kRequestSize == 4260);

// The zero-filled 4260-byte Identify Controller request for the drive at `pathNumber`
// (see rst_address::PathNumberByte).
Bytes BuildIdentifyControllerRequest(std::uint8_t pathNumber);

// The Identify data of a reply; empty when the reply is too short.
std::span<const std::uint8_t> IdentifyData(std::span<const std::uint8_t> reply);
std::span<std::uint8_t> MutableIdentifyData(std::span<std::uint8_t> reply);

std::optional<PassThroughRequest> ReadPassThroughRequest(std::span<const std::uint8_t> request);

}  // namespace rst_nvme
