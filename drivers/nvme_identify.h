// The NVMe Identify Controller data, as both identify paths receive it: the inbox
// storage query (at byte 48 of its reply) and the Intel RST pass-through (at byte 164).
// Offsets count from the start of the 4096-byte Identify data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#ifdef _WIN32
// mingw-w64's nvme.h needs the Windows types first.
#include "platform/win32.h"
// To check the record below against mingw-w64's own.
#include <nvme.h>
#endif

namespace nvme {

inline constexpr std::size_t kIdentifyDataLength = 4096;

// Identify admin command: opcode in CDW0, CNS in CDW10.
inline constexpr std::uint32_t kIdentifyOpcode = 0x06;
inline constexpr std::uint32_t kCnsController = 0x01;

// The Identify Controller data up to FWUG: every field the program reads lies in it. A
// reply that returns less has not given the program the drive's identity.
struct IdentifyControllerHead {
    std::uint16_t VID;
    std::uint16_t SSVID;
    std::uint8_t SN[20];
    std::uint8_t MN[40];
    std::uint8_t FR[8];
    std::uint8_t RAB;
    std::uint8_t IEEE[3];
    std::uint8_t CMIC;
    std::uint8_t MDTS;
    std::uint16_t CNTLID;
    std::uint32_t VER;  // MJR in bits 31:16, MNR in 15:8, TER in 7:0
    std::uint8_t Unread[235];
    std::uint8_t FWUG;  // firmware update granularity in 4096-byte units
};
static_assert(sizeof(IdentifyControllerHead) == 320);
static_assert(offsetof(IdentifyControllerHead, SN) == 4 &&
              offsetof(IdentifyControllerHead, MN) == 24 &&
              offsetof(IdentifyControllerHead, FR) == 64 &&
              offsetof(IdentifyControllerHead, VER) == 80 &&
              offsetof(IdentifyControllerHead, FWUG) == 319);
inline constexpr std::size_t kIdentifyBytesRead = sizeof(IdentifyControllerHead);

inline constexpr std::size_t kGranularityUnit = 4096;

// A text field of the Identify data.
struct IdentifyField {
    std::size_t offset;
    std::size_t width;
};
inline constexpr IdentifyField kSerialNumber{offsetof(IdentifyControllerHead, SN),
                                             sizeof(IdentifyControllerHead::SN)};
inline constexpr IdentifyField kModelNumber{offsetof(IdentifyControllerHead, MN),
                                            sizeof(IdentifyControllerHead::MN)};
inline constexpr IdentifyField kFirmwareRevision{offsetof(IdentifyControllerHead, FR),
                                                 sizeof(IdentifyControllerHead::FR)};

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

// The same fields where mingw-w64 declares the whole structure.
#ifdef _WIN32
#define FWUPDATE_SAME_IDENTIFY_FIELD(field)                             \
    static_assert(offsetof(nvme::IdentifyControllerHead, field) ==      \
                      offsetof(NVME_IDENTIFY_CONTROLLER_DATA, field) && \
                  sizeof(nvme::IdentifyControllerHead::field) ==        \
                      sizeof(NVME_IDENTIFY_CONTROLLER_DATA::field))
FWUPDATE_SAME_IDENTIFY_FIELD(SN);
FWUPDATE_SAME_IDENTIFY_FIELD(MN);
FWUPDATE_SAME_IDENTIFY_FIELD(FR);
FWUPDATE_SAME_IDENTIFY_FIELD(VER);
FWUPDATE_SAME_IDENTIFY_FIELD(FWUG);
#undef FWUPDATE_SAME_IDENTIFY_FIELD
static_assert(sizeof(NVME_IDENTIFY_CONTROLLER_DATA) == nvme::kIdentifyDataLength);
#endif
