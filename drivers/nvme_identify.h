// The NVMe Identify Controller data, as both identify paths receive it: the inbox
// storage query (at byte 48 of its reply) and the Intel RST pass-through (at byte 164).
// Offsets count from the start of the 4096-byte Identify data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace nvme {

inline constexpr std::size_t kIdentifyDataLength = 4096;

// Identify admin command: opcode in CDW0, CNS in CDW10.
inline constexpr std::uint32_t kIdentifyOpcode = 0x06;
inline constexpr std::uint32_t kCnsController = 0x01;

struct IdentifyField {
    std::size_t offset;
    std::size_t width;
};

inline constexpr IdentifyField kSerialNumber{4, 20};
inline constexpr IdentifyField kModelNumber{24, 40};
inline constexpr IdentifyField kFirmwareRevision{64, 8};
// VER: minor version (MNR) in byte 81, major version (MJR) in bytes 82..83.
inline constexpr std::size_t kMinorVersionOffset = 81;
inline constexpr std::size_t kMajorVersionOffset = 82;
// FWUG: firmware update granularity in 4096-byte units.
inline constexpr std::size_t kFirmwareUpdateGranularityOffset = 319;

inline constexpr std::size_t kGranularityUnit = 4096;

// How much of the Identify data the program reads: every field above lies before it.
// A reply that returns less has not given the program the drive's identity.
inline constexpr std::size_t kIdentifyBytesRead = kFirmwareUpdateGranularityOffset + 1;
static_assert(kSerialNumber.offset + kSerialNumber.width <= kIdentifyBytesRead &&
              kModelNumber.offset + kModelNumber.width <= kIdentifyBytesRead &&
              kFirmwareRevision.offset + kFirmwareRevision.width <= kIdentifyBytesRead &&
              kMajorVersionOffset + 2 <= kIdentifyBytesRead);

// FWUG values that name no granularity: 0 (not reported) and 0xFF (no restriction).
inline constexpr std::uint8_t kFwugNotReported = 0x00;
inline constexpr std::uint8_t kFwugNoRestriction = 0xFF;

// FWUG is a field from NVMe 1.3 on. VER compares as a version: 2.0 is past 1.3.
constexpr bool ReportsFwug(std::uint16_t majorVersion, std::uint8_t minorVersion) {
    return majorVersion > 1 || (majorVersion == 1 && minorVersion >= 3);
}

// The granularity FWUG asks for, in 4096-byte units; nothing when it asks for none.
constexpr std::optional<std::uint8_t> RequiredGranularity(std::uint16_t majorVersion,
                                                          std::uint8_t minorVersion,
                                                          std::uint8_t fwug) {
    if (!ReportsFwug(majorVersion, minorVersion) || fwug == kFwugNotReported ||
        fwug == kFwugNoRestriction) {
        return std::nullopt;
    }
    return fwug;
}

// The program's download granularity in 4096-byte units: what FWUG asks for, or one
// unit when it asks for nothing. One unit keeps a drive without restriction at 4 KiB
// pieces, well inside what any driver takes in one request.
constexpr std::int32_t DownloadGranularity(std::uint16_t majorVersion, std::uint8_t minorVersion,
                                           std::uint8_t fwug) {
    return RequiredGranularity(majorVersion, minorVersion, fwug).value_or(1);
}

// The bytes of a text field; empty when the data is too short to hold the field.
std::span<const std::uint8_t> FieldBytes(std::span<const std::uint8_t> identifyData,
                                         IdentifyField field);

// The granularity rule applied to the VER and FWUG bytes of the data; nothing when
// the data is too short to hold them.
std::optional<std::int32_t> DownloadGranularityOf(std::span<const std::uint8_t> identifyData);

// An Identify text field as wide text. Each byte becomes one UTF-16 unit by sign
// extension of the byte taken as signed (0x80..0xFF become 0xFF80..0xFFFF). With
// `stopAtNul` the text ends at the field's first NUL; otherwise every byte counts.
std::wstring IdentifyText(std::span<const std::uint8_t> identifyData, IdentifyField field,
                          bool stopAtNul);

}  // namespace nvme
