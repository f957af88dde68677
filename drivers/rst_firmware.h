// The Intel RST "IntelFw " firmware requests: information, download and activation.
//
// Buffer: SRB_IO_CONTROL (0..27), address bytes (28..31), FIRMWARE_REQUEST_BLOCK
// (32..55), then STORAGE_FIRMWARE_DOWNLOAD_V2 with the chunk behind it (download) or
// STORAGE_FIRMWARE_ACTIVATE (activation) at 56. The request is exactly as long as its
// content: Length is its size less 28 and DataBufferLength its size less 56.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "drivers/byte_layout.h"
#include "drivers/firmware_request.h"
#include "drivers/rst_address.h"
#include "drivers/sdk_structs.h"
#include "drivers/srb_io_control.h"

namespace rst_fw {

inline constexpr srb::RequestFamily kRequest{IOCTL_SCSI_MINIPORT, "IntelFw ", RST_IOCTL_FIRMWARE,
                                             30};
// The slot the activation commits to; the download leaves the slot to the driver.
inline constexpr std::uint8_t kActivateSlot = 2;

// What every request opens with; its payload follows at once.
struct Envelope {
    sdk::SRB_IO_CONTROL srb;
    sdk::RST_ADDRESS address;
    sdk::FIRMWARE_REQUEST_BLOCK block;
};
struct DownloadHead {
    Envelope envelope;
    sdk::STORAGE_FIRMWARE_DOWNLOAD_V2 download;
};
struct ActivateRequest {
    Envelope envelope;
    sdk::STORAGE_FIRMWARE_ACTIVATE activate;
};
inline constexpr std::size_t kPayloadOffset = sizeof(Envelope);
inline constexpr std::size_t kImageOffset = sizeof(DownloadHead);
static_assert(sizeof(Envelope) == 56 && sizeof(DownloadHead) == 88 &&
              sizeof(ActivateRequest) == 68);
static_assert(
    offsetof(Envelope, block) == 32 &&
    offsetof(DownloadHead, download) + offsetof(sdk::STORAGE_FIRMWARE_DOWNLOAD_V2, Offset) == 64 &&
    offsetof(DownloadHead, download) + offsetof(sdk::STORAGE_FIRMWARE_DOWNLOAD_V2, Slot) == 80 &&
    offsetof(ActivateRequest, activate) +
            offsetof(sdk::STORAGE_FIRMWARE_ACTIVATE, SlotToActivate) ==
        64);

// The information request, in the form the Intel RST driver takes (version 2 only):
// STORAGE_FIRMWARE_INFO_V2 (Version 2, Size 24) at 56, with room for every slot a
// SlotCount can announce. The updater does not send it; the preflight does, to see the
// slot the updater activates.
inline constexpr std::size_t kGetInfoRequestSize =
    kPayloadOffset + fwreq::InfoV2Length(fwreq::kMaxSlotCount);
static_assert(kGetInfoRequestSize == 6200);

// Header, address bytes and request block of a request of `requestSize` bytes.
Envelope EnvelopeFor(std::size_t requestSize, std::uint8_t pathNumber, std::uint32_t function);

// Size of the download request that carries `chunkSize` image bytes.
constexpr std::size_t DownloadRequestSize(std::size_t chunkSize) {
    return chunkSize + kImageOffset;
}

// Makes `buffer` the download request for `chunk`, taken from `imageOffset` of the
// image: the buffer is resized to DownloadRequestSize(chunk.size()) and zero-filled
// first, so one buffer allocated for the full chunk serves every chunk without
// reallocating, and a shorter last chunk sizes the whole request to itself.
[[nodiscard]] bool FillDownloadRequest(Bytes& buffer, std::uint8_t pathNumber,
                                       std::uint64_t imageOffset,
                                       std::span<const std::uint8_t> chunk);

// The zero-filled information request for the drive at `pathNumber`.
Bytes BuildGetInfoRequest(std::uint8_t pathNumber);
// STORAGE_FIRMWARE_INFO_V2 of an information reply, at the DataBufferOffset the reply's
// own request block names; nothing when it or an announced slot entry lies outside.
std::optional<fwreq::FirmwareInfo> ParseFirmwareInfo(std::span<const std::uint8_t> reply);
// How the driver answers it.
[[nodiscard]] bool WriteFirmwareInfoReply(std::span<std::uint8_t> reply,
                                          const fwreq::FirmwareInfo& info);

// The 68-byte activation request.
Bytes BuildActivateRequest(std::uint8_t pathNumber, std::uint8_t slot = kActivateSlot);

// The request as the driver reads it.
std::optional<sdk::FIRMWARE_REQUEST_BLOCK> ReadRequestBlock(std::span<const std::uint8_t> request);
std::optional<fwreq::Download> ReadDownload(std::span<const std::uint8_t> request);
std::optional<sdk::STORAGE_FIRMWARE_ACTIVATE> ReadActivate(std::span<const std::uint8_t> request);

}  // namespace rst_fw
