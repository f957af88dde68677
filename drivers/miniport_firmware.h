// The inbox NVMe driver's firmware interface: IOCTL_SCSI_MINIPORT requests whose
// SRB_IO_CONTROL carries "FIRMWARE" and IOCTL_SCSI_MINIPORT_FIRMWARE.
//
// Buffer: SRB_IO_CONTROL (0..27), FIRMWARE_REQUEST_BLOCK (28..51), data area from 52.
// One buffer of B = K + 76 bytes (K the full chunk size) serves all three requests of
// an update; Length (B - 28) and DataBufferLength (B - 52) follow the buffer, whatever
// the function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "drivers/firmware_request.h"
#include "drivers/srb_io_control.h"

namespace inbox_fw {

inline constexpr srb::RequestFamily kRequest{IOCTL_SCSI_MINIPORT, "FIRMWARE",
                                             IOCTL_SCSI_MINIPORT_FIRMWARE, 30};

// What every request opens with. The data area starts right behind it, not at the
// next 8-byte boundary.
struct Envelope {
    sdk::SRB_IO_CONTROL srb;
    sdk::FIRMWARE_REQUEST_BLOCK block;
};
// STORAGE_FIRMWARE_DOWNLOAD and STORAGE_FIRMWARE_ACTIVATE sit at the data area, the
// download's 8-byte fields 4 bytes off their natural boundary: it is read and written
// by copy, never in place.
struct ActivateRequest {
    Envelope envelope;
    sdk::STORAGE_FIRMWARE_ACTIVATE activate;
};
inline constexpr std::size_t kDataAreaOffset = sizeof(Envelope);
inline constexpr std::size_t kImageOffset =
    kDataAreaOffset + sizeof(sdk::STORAGE_FIRMWARE_DOWNLOAD);
// The smallest buffer the request block and an activation fit in.
inline constexpr std::size_t kMinimumRequestSize = sizeof(ActivateRequest);
static_assert(sizeof(Envelope) == 52 && kImageOffset == 76);
static_assert(offsetof(Envelope, block) + offsetof(sdk::FIRMWARE_REQUEST_BLOCK, Function) == 36);
static_assert(offsetof(Envelope, block) + offsetof(sdk::FIRMWARE_REQUEST_BLOCK, DataBufferOffset) ==
              44);
static_assert(kDataAreaOffset + offsetof(sdk::STORAGE_FIRMWARE_DOWNLOAD, Offset) == 60 &&
              kDataAreaOffset + offsetof(sdk::STORAGE_FIRMWARE_DOWNLOAD, BufferSize) == 68);
static_assert(offsetof(ActivateRequest, activate) +
                  offsetof(sdk::STORAGE_FIRMWARE_ACTIVATE, SlotToActivate) ==
              60);

// The public form of the information request, as the SDK describes it: the data area
// at ALIGN_UP(sizeof(SRB_IO_CONTROL) + sizeof(FIRMWARE_REQUEST_BLOCK), PVOID), 56 on x64,
// naming STORAGE_FIRMWARE_INFO_V2 (Version 2, Size 24), with room for every slot a
// SlotCount can announce. The updater sends its own form (data area at 52, body zero);
// the preflight sends this one where a driver refuses that.
// The program is x64 in both worlds: a PVOID is 8 bytes.
inline constexpr std::size_t kPointerAlignment = 8;
inline constexpr std::size_t kPublicDataAreaOffset =
    (sizeof(Envelope) + kPointerAlignment - 1) / kPointerAlignment * kPointerAlignment;
inline constexpr std::size_t kPublicGetInfoRequestSize =
    kPublicDataAreaOffset + fwreq::InfoV2Length(fwreq::kMaxSlotCount);
static_assert(kPublicDataAreaOffset == 56 && kPublicGetInfoRequestSize == 6200);
static_assert(sizeof(void*) == kPointerAlignment);

// B for chunks of `chunkSize` bytes.
constexpr std::size_t RequestSize(std::size_t chunkSize) {
    return chunkSize + kImageOffset;
}

// SRB_IO_CONTROL and FIRMWARE_REQUEST_BLOCK for `function`, sized by the buffer; only
// the envelope's bytes are written. The buffer holds at least kMinimumRequestSize bytes.
void WriteEnvelope(std::span<std::uint8_t> buffer, std::uint32_t function);
// STORAGE_FIRMWARE_DOWNLOAD at the data area, the chunk behind it; BufferSize is the
// chunk's own length, so a shorter last chunk is sent as it is. False when the chunk
// does not fit the buffer.
[[nodiscard]] bool WriteDownloadPayload(std::span<std::uint8_t> buffer, std::uint64_t imageOffset,
                                        std::span<const std::uint8_t> chunk);
// STORAGE_FIRMWARE_ACTIVATE at the data area.
[[nodiscard]] bool WriteActivatePayload(std::span<std::uint8_t> buffer, std::uint8_t slot);

// Whole requests: each clears the buffer, then writes the header and its payload.
[[nodiscard]] bool FillGetInfoRequest(std::span<std::uint8_t> buffer);
[[nodiscard]] bool FillDownloadRequest(std::span<std::uint8_t> buffer, std::uint64_t imageOffset,
                                       std::span<const std::uint8_t> chunk);
[[nodiscard]] bool FillActivateRequest(std::span<std::uint8_t> buffer, std::uint8_t slot);

// The public-form information request, zero-filled but for its header and body.
Bytes BuildPublicGetInfoRequest();

// The STORAGE_FIRMWARE_INFO of an information reply, found at the DataBufferOffset
// the reply's own request block names. Nothing when that offset, the fixed part or
// any of the SlotCount entries reaches past the buffer.
std::optional<fwreq::FirmwareInfo> ParseFirmwareInfo(std::span<const std::uint8_t> reply);
// How the driver answers: the information at the DataBufferOffset the request names.
[[nodiscard]] bool WriteFirmwareInfoReply(std::span<std::uint8_t> reply,
                                          const fwreq::FirmwareInfo& info);

// The same for a reply to the public form: STORAGE_FIRMWARE_INFO_V2 at the reply's
// DataBufferOffset.
std::optional<fwreq::FirmwareInfo> ParsePublicFirmwareInfo(std::span<const std::uint8_t> reply);
[[nodiscard]] bool WritePublicFirmwareInfoReply(std::span<std::uint8_t> reply,
                                                const fwreq::FirmwareInfo& info);

// The request as a driver reads it.
std::optional<sdk::FIRMWARE_REQUEST_BLOCK> ReadRequestBlock(std::span<const std::uint8_t> request);
std::optional<fwreq::Download> ReadDownload(std::span<const std::uint8_t> request);
std::optional<sdk::STORAGE_FIRMWARE_ACTIVATE> ReadActivate(std::span<const std::uint8_t> request);

}  // namespace inbox_fw
