// The NVMe drive behind both storage paths: its Identify Controller data, its
// firmware slots, and the NVMe rules for Firmware Image Download and Firmware
// Commit. The inbox stack and the Intel RST driver decode their own request layouts
// and hand the drive the plain operation; the drive answers with what a controller
// would report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "drivers/firmware_request.h"
#include "drivers/nvme_identify.h"
#include "platform/win32.h"
#include "sim/models/machine.h"

#ifndef ERROR_NOT_SUPPORTED
#define ERROR_NOT_SUPPORTED 50u
#endif
#ifndef ERROR_IO_DEVICE
#define ERROR_IO_DEVICE 1117u
#endif

namespace sim {

// The firmware image slot of this model: every image it takes is this long.
inline constexpr std::uint64_t kFirmwareImageSize = 2097152;
// The metadata block that makes an image acceptable, and the revision it carries.
inline constexpr std::size_t kImageSignatureOffset = 0x3000;
inline constexpr std::string_view kImageSignature = "FW_IMAGE_META_SIGNATURE_________";
inline constexpr std::size_t kImageRevisionOffset = 0x3020;

// PCI vendor IDs the Identify data reports: the maker's, and the other maker's whose
// disks the default machine carries.
inline constexpr std::uint16_t kMakerVendorId = 0x7C1E;
inline constexpr std::uint16_t kOtherMakerVendorId = 0x1F3B;

// How a request fails when a scenario fault says "fail": the controller reports a
// device error and the storage stack turns it into a failed control request.
inline constexpr DWORD kForcedFailureError = ERROR_GEN_FAILURE;

// A drive's answer to one firmware request: either the control request fails with a
// Win32 error, or it completes with a firmware status for ReturnCode.
struct FirmwareAnswer {
    DWORD error = ERROR_SUCCESS;
    std::uint32_t status = fwreq::kStatusSuccess;

    static FirmwareAnswer Failed(DWORD error) { return {error, 0}; }
    static FirmwareAnswer Status(std::uint32_t status) { return {ERROR_SUCCESS, status}; }
    bool Completed() const { return error == ERROR_SUCCESS; }
};

using IdentifyData = std::array<std::uint8_t, nvme::kIdentifyDataLength>;

// The Identify Controller data structure the drive returns.
IdentifyData IdentifyControllerData(const Drive& drive, std::uint16_t vendorId);

// 0 when the drive answers Identify, else the error the request fails with.
DWORD IdentifyError(const Drive& drive);

// The download granularity the drive enforces, in bytes; 0 when it asks only for
// dword alignment. FWUG is a field of NVMe 1.3 and later (2.x included): the drive
// enforces it when its VER is at least 1.3 and FWUG is neither 0 (not reported) nor
// 0xFF (no restriction), as nvme::RequiredGranularity reads it.
std::uint32_t EnforcedGranularity(const Drive& drive);

// Firmware information (slots, active and pending slot). A forced answer replaces it.
FirmwareAnswer QueryFirmwareInfo(const Drive& drive, fwreq::FirmwareInfo& info);

// One Firmware Image Download piece of `bytes.size()` bytes at `offset`. Counts the
// request; a scenario's forced answer on this request number replaces the drive's
// handling (the piece is then not stored). A piece that breaks the download rules is
// refused with FIRMWARE_STATUS_INVALID_PARAMETER. That is no protocol error: the
// drivers let through only what the replies told the program to send, which keeps
// these rules unless a reply lied about the drive.
FirmwareAnswer DownloadFirmwarePiece(Drive& drive, std::uint64_t offset,
                                     std::span<const std::uint8_t> bytes);

// Why a piece breaks the drive's download rules; empty when it keeps them.
std::string DownloadRuleBreach(const Drive& drive, std::uint64_t offset, std::uint64_t size);

// Firmware Commit of the downloaded image into `slot`, activated as the drive's
// activation mode says. A forced answer replaces the drive's handling (nothing is
// committed).
FirmwareAnswer CommitFirmware(Drive& drive, std::uint8_t slot);

// True when the pieces received cover every byte of the image slot.
bool DownloadComplete(const DownloadState& download);

// ---- What the storage drivers hold the program to, above the drive's own rules

// The chunk size the program derives from the drive's own Identify fields: the
// download granularity by the program's rule (nvme::DownloadGranularity over VER and
// FWUG) times 4096. Unlike EnforcedGranularity it never means "no restriction": a
// drive that asks for no granularity gives one unit.
std::uint64_t OwnChunkSize(const Drive& drive);

// The chunk size the program must use: the one the last Identify reply that reached it
// gives, or the drive's own before any.
std::uint64_t ProgramChunkSize(const Drive& drive);

// An Identify reply reached the program with `identifyData` (the data as the caller's
// buffer holds it after the call): its chunk size is the one to hold it to.
void NoteIdentifyData(Drive& drive, std::span<const std::uint8_t> identifyData);

// The BufferSize the program sends for the piece at `offset`: a whole chunk, or the
// bytes left of the image when fewer remain. Meaningful for offsets inside the image.
std::uint64_t ExpectedPieceSize(const Drive& drive, std::uint64_t offset);

// The first writable entry of the drive's own slot table; nothing when every slot is
// read-only.
std::optional<std::uint8_t> FirstWritableSlot(const Drive& drive);

// Download order, as the drivers track it for each drive: the program sends its
// pieces from offset 0 on, each where the previous one ended.
//
// The offset the next piece must start at; 0 when no download is under way.
std::uint64_t ExpectedNextOffset(const Drive& drive);
// A new download starts: the next piece must start at offset 0.
void StartDownload(Drive& drive);
// A piece at `offset` of `size` bytes went to the drive (whatever the drive made of
// it; call after DownloadFirmwarePiece): the next one starts where it ends.
void AdvanceDownload(Drive& drive, std::uint64_t offset, std::uint64_t size);

}  // namespace sim
