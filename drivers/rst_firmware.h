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

inline constexpr DWORD kIoControlCode = IOCTL_SCSI_MINIPORT;
inline constexpr std::uint32_t kControlCode = RST_IOCTL_FIRMWARE;
inline constexpr std::string_view kSignature{"IntelFw ", srb::kSignatureLength};
inline constexpr std::uint32_t kTimeout = 30;
// The slot the activation commits to; the download leaves the slot to the driver.
inline constexpr std::uint8_t kActivateSlot = 2;

inline constexpr std::size_t kRequestBlockOffset = rst_address::kOffset + rst_address::kLength;
inline constexpr std::size_t kPayloadOffset = kRequestBlockOffset + fwreq::kBlockLength;
inline constexpr std::size_t kFunctionOffset = kRequestBlockOffset + fwreq::kBlockFunctionOffset;
inline constexpr std::size_t kDownloadOffsetOffset = kPayloadOffset + fwreq::kDownloadOffsetOffset;
inline constexpr std::size_t kDownloadBufferSizeOffset =
    kPayloadOffset + fwreq::kDownloadBufferSizeOffset;
inline constexpr std::size_t kDownloadSlotOffset = kPayloadOffset + fwreq::kDownloadV2SlotOffset;
inline constexpr std::size_t kDownloadImageSizeOffset =
    kPayloadOffset + fwreq::kDownloadV2ImageSizeOffset;
inline constexpr std::size_t kImageOffset = kPayloadOffset + fwreq::kDownloadV2FixedLength;
inline constexpr std::size_t kActivateSlotOffset = kPayloadOffset + fwreq::kActivateSlotOffset;
inline constexpr std::size_t kActivateRequestSize = kPayloadOffset + fwreq::kActivateLength;

static_assert(kRequestBlockOffset == 32 && kFunctionOffset == 40 && kPayloadOffset == 56);
static_assert(kDownloadOffsetOffset == 64 && kDownloadBufferSizeOffset == 72);
static_assert(kDownloadSlotOffset == 80 && kDownloadImageSizeOffset == 84 && kImageOffset == 88);
static_assert(kActivateSlotOffset == 64 && kActivateRequestSize == 68);

// The information request, in the form the Intel RST driver takes (version 2 only):
// STORAGE_FIRMWARE_INFO_V2 (Version 2, Size 24) at 56, with room for every slot a
// SlotCount can announce. The updater does not send it; the preflight does, to see the
// slot the updater activates.
inline constexpr std::size_t kGetInfoRequestSize =
    kPayloadOffset + fwreq::InfoV2Length(fwreq::kMaxSlotCount);
static_assert(kGetInfoRequestSize == 6200);

// Header, address bytes and request block, all sized by the buffer; false when the
// buffer cannot hold them.
[[nodiscard]] bool WriteRequestHeader(std::span<std::uint8_t> buffer, std::uint8_t pathNumber,
                                      std::uint32_t function);

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

// The zero-filled 68-byte activation request.
Bytes BuildActivateRequest(std::uint8_t pathNumber, std::uint8_t slot = kActivateSlot);

// The request as the driver reads it.
std::optional<fwreq::RequestBlock> ReadRequestBlock(std::span<const std::uint8_t> request);
std::optional<fwreq::Download> ReadDownload(std::span<const std::uint8_t> request);
std::optional<fwreq::Activate> ReadActivate(std::span<const std::uint8_t> request);

}  // namespace rst_fw
