// The Windows firmware request structures: FIRMWARE_REQUEST_BLOCK and the
// STORAGE_FIRMWARE_* payloads behind it. The inbox driver's "FIRMWARE" requests and
// the Intel RST "IntelFw " requests carry the same structures at different places in
// their buffers, so everything here works at a given base offset; the two request
// headers (miniport_firmware.h, rst_firmware.h) supply the offsets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "drivers/nvme_identify.h"
#include "drivers/sdk_structs.h"

namespace fwreq {

inline constexpr std::uint32_t kRequestBlockVersion = 1;
inline constexpr std::uint32_t kFunctionGetInfo = 1;
inline constexpr std::uint32_t kFunctionDownload = 2;
inline constexpr std::uint32_t kFunctionActivate = 3;
inline constexpr std::uint32_t kFlagController = 0x1;

// Firmware statuses, as the driver leaves them in SRB_IO_CONTROL.ReturnCode.
inline constexpr std::uint32_t kStatusSuccess = 0x00;
inline constexpr std::uint32_t kStatusError = 0x01;
inline constexpr std::uint32_t kStatusIllegalRequest = 0x02;
inline constexpr std::uint32_t kStatusInvalidParameter = 0x03;
inline constexpr std::uint32_t kStatusInputBufferTooBig = 0x04;
inline constexpr std::uint32_t kStatusOutputBufferTooSmall = 0x05;
inline constexpr std::uint32_t kStatusInvalidSlot = 0x06;
inline constexpr std::uint32_t kStatusInvalidImage = 0x07;
inline constexpr std::uint32_t kStatusControllerError = 0x10;
inline constexpr std::uint32_t kStatusPowerCycleRequired = 0x20;

inline constexpr std::uint32_t kDownloadVersion = 1;
inline constexpr std::uint32_t kDownloadV2Version = 2;
// Slot value that leaves the choice of slot to the driver.
inline constexpr std::uint8_t kSlotUnspecified = 0xFF;
inline constexpr std::uint32_t kActivateVersion = 1;
inline constexpr std::uint32_t kInfoVersion = 1;
// STORAGE_FIRMWARE_INFO_V2, the form the SDK asks a get-info request to name: a 24-byte
// fixed part and 24-byte slot entries with a 16-byte revision.
inline constexpr std::uint32_t kInfoVersionV2 = 2;

// The two download versions, and the two information versions with their slot
// entries, share their leading fields: a reader of either finds them in one place.
static_assert(offsetof(sdk::STORAGE_FIRMWARE_DOWNLOAD_V2, BufferSize) ==
                  offsetof(sdk::STORAGE_FIRMWARE_DOWNLOAD, BufferSize) &&
              offsetof(sdk::STORAGE_FIRMWARE_INFO_V2, PendingActivateSlot) ==
                  offsetof(sdk::STORAGE_FIRMWARE_INFO, PendingActivateSlot) &&
              offsetof(sdk::STORAGE_FIRMWARE_SLOT_INFO_V2, Revision) ==
                  offsetof(sdk::STORAGE_FIRMWARE_SLOT_INFO, Revision));

// Bytes a STORAGE_FIRMWARE_INFO with `slotCount` entries takes.
constexpr std::size_t InfoLength(std::size_t slotCount) {
    return sizeof(sdk::STORAGE_FIRMWARE_INFO) + sizeof(sdk::STORAGE_FIRMWARE_SLOT_INFO) * slotCount;
}

constexpr std::size_t InfoV2Length(std::size_t slotCount) {
    return sizeof(sdk::STORAGE_FIRMWARE_INFO_V2) +
           sizeof(sdk::STORAGE_FIRMWARE_SLOT_INFO_V2) * slotCount;
}

// The most slot entries a SlotCount can announce.
inline constexpr std::size_t kMaxSlotCount = 255;

// The bytes of one download request: `granularity` 4096-byte units, as the identify
// operations derived it from the drive (1 to 255; anything else is held to that range).
constexpr std::size_t ChunkSizeFor(std::int32_t granularity) {
    const std::int32_t units = granularity < 1 ? 1 : granularity > 255 ? 255 : granularity;
    return static_cast<std::size_t>(units) * nvme::kGranularityUnit;
}

// Hands `send(offset, chunk)` the image in consecutive chunks of `chunkSize` bytes from
// offset 0; the last chunk is shorter when the chunk size does not divide the image,
// so nothing past the image is ever sent. Stops at the first chunk `send` refuses
// (returns false). True when every chunk went through.
template <typename Send>
bool ForEachChunk(std::span<const std::uint8_t> image, std::size_t chunkSize, Send send) {
    if (chunkSize == 0) {
        return image.empty();
    }
    for (std::size_t offset = 0; offset < image.size(); offset += chunkSize) {
        const std::size_t length =
            chunkSize < image.size() - offset ? chunkSize : image.size() - offset;
        if (!send(static_cast<std::uint64_t>(offset), image.subspan(offset, length))) {
            return false;
        }
    }
    return true;
}

// A download payload as a driver reads it: the fixed part in the version 2 layout (a
// version 1 payload reads with Slot and ImageSize 0), and `image`, the BufferSize bytes
// after the fixed part when they lie inside the buffer, otherwise empty.
struct Download {
    sdk::STORAGE_FIRMWARE_DOWNLOAD_V2 fixed{};
    std::span<const std::uint8_t> image;
};

struct FirmwareSlot {
    std::uint8_t number = 0;
    bool readOnly = false;
    // The first 8 bytes of the revision; a version 2 entry's other 8 are not kept.
    std::array<std::uint8_t, 8> revision{};
};

struct FirmwareInfo {
    // As the reply carries them; a writer puts its own version's values.
    std::uint32_t version = 0;
    std::uint32_t size = 0;
    bool upgradeSupport = false;
    std::uint8_t activeSlot = 0;
    std::uint8_t pendingActivateSlot = 0;
    std::vector<FirmwareSlot> slots;  // SlotCount entries, in reply order
    // Version 2 only.
    std::uint32_t imagePayloadAlignment = 0;
    std::uint32_t imagePayloadMaxSize = 0;
};

// The request block every request of the firmware interface carries: Version 1, Size
// 24, FIRMWARE_REQUEST_FLAG_CONTROLLER.
constexpr sdk::FIRMWARE_REQUEST_BLOCK RequestBlock(std::uint32_t function,
                                                   std::uint32_t dataBufferOffset,
                                                   std::uint32_t dataBufferLength) {
    return {kRequestBlockVersion,
            static_cast<std::uint32_t>(sizeof(sdk::FIRMWARE_REQUEST_BLOCK)),
            function,
            kFlagController,
            dataBufferOffset,
            dataBufferLength};
}

// Writers: each writes its structure at `at`, and is false, writing nothing, when the
// structure does not fit the buffer.
// Version 1: the fixed part, then the chunk; BufferSize is the chunk's own length.
[[nodiscard]] bool WriteDownload(std::span<std::uint8_t> buffer, std::size_t at,
                                 std::uint64_t offset, std::span<const std::uint8_t> chunk);
// Version 2, with the given slot and an ImageSize of 0.
[[nodiscard]] bool WriteDownloadV2(std::span<std::uint8_t> buffer, std::size_t at,
                                   std::uint64_t offset, std::span<const std::uint8_t> chunk,
                                   std::uint8_t slot);
[[nodiscard]] bool WriteActivate(std::span<std::uint8_t> buffer, std::size_t at, std::uint8_t slot);
// How a driver answers an information request. SlotCount is one byte: more than 255
// entries are refused.
[[nodiscard]] bool WriteFirmwareInfo(std::span<std::uint8_t> buffer, std::size_t at,
                                     const FirmwareInfo& info);
// The same in the version 2 layout (Version 2, Size 24, FirmwareShared 0).
[[nodiscard]] bool WriteFirmwareInfoV2(std::span<std::uint8_t> buffer, std::size_t at,
                                       const FirmwareInfo& info);
// The body of a version 2 get-info request: Version 2 and Size 24, the rest left as it is.
[[nodiscard]] bool WriteInfoV2Request(std::span<std::uint8_t> buffer, std::size_t at);

// Readers: nothing when the structure (and for the information, every slot entry it
// announces) does not lie wholly inside the buffer. `at` may come from a reply.
std::optional<sdk::FIRMWARE_REQUEST_BLOCK> ReadRequestBlock(std::span<const std::uint8_t> buffer,
                                                            std::uint64_t at);
std::optional<Download> ReadDownload(std::span<const std::uint8_t> buffer, std::uint64_t at);
std::optional<Download> ReadDownloadV2(std::span<const std::uint8_t> buffer, std::uint64_t at);
std::optional<sdk::STORAGE_FIRMWARE_ACTIVATE> ReadActivate(std::span<const std::uint8_t> buffer,
                                                           std::uint64_t at);
std::optional<FirmwareInfo> ReadFirmwareInfo(std::span<const std::uint8_t> buffer,
                                             std::uint64_t at);
std::optional<FirmwareInfo> ReadFirmwareInfoV2(std::span<const std::uint8_t> buffer,
                                               std::uint64_t at);

// An information reply, whichever family: the structure lies at the DataBufferOffset
// that the reply's own request block, at `blockAt`, names. Nothing (false) when the
// reply is too short for its request block, or the structure does not fit there.
enum class InfoLayout { Version1, Version2 };
std::optional<FirmwareInfo> ReadNamedInfo(std::span<const std::uint8_t> reply, std::size_t blockAt,
                                          InfoLayout form);
[[nodiscard]] bool WriteNamedInfo(std::span<std::uint8_t> reply, std::size_t blockAt,
                                  InfoLayout form, const FirmwareInfo& info);

}  // namespace fwreq
