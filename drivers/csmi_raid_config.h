// CSMI CC_CSMI_SAS_GET_RAID_CONFIG to the Intel RST driver: which drives make up a
// RAID set.
//
// Buffer: SRB_IO_CONTROL (0..27), CSMI_SAS_RAID_CONFIG (28..63), then 136-byte
// CSMI_SAS_RAID_DRIVES member records from 64, as many as the asker made room for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "drivers/byte_layout.h"
#include "drivers/sdk_structs.h"
#include "drivers/srb_io_control.h"

namespace csmi {

inline constexpr srb::RequestFamily kRequest{IOCTL_SCSI_MINIPORT, "CSMIARY\0",
                                             CC_CSMI_SAS_GET_RAID_CONFIG, 30};
// CSMI_SAS_STATUS_SUCCESS, as the driver leaves it in SRB_IO_CONTROL.ReturnCode.
inline constexpr std::uint32_t kStatusSuccess = 0;

// The fixed part of request and reply; the member records follow it.
struct RaidConfigHead {
    sdk::SRB_IO_CONTROL srb;
    sdk::CSMI_SAS_RAID_CONFIG config;
};
inline constexpr std::size_t kDrivesOffset = sizeof(RaidConfigHead);
inline constexpr std::size_t kDriveRecordLength = sizeof(sdk::CSMI_SAS_RAID_DRIVES);
static_assert(kDrivesOffset == 64 && kDriveRecordLength == 136);
static_assert(offsetof(RaidConfigHead, config) + offsetof(sdk::CSMI_SAS_RAID_CONFIG, bDriveCount) ==
              43);
// bSASAddress[2] carries the member's RST path number: byte 90 of a record, 154 of the
// first.
inline constexpr std::size_t kPathNumberInAddress = 2;
static_assert(kDrivesOffset + offsetof(sdk::CSMI_SAS_RAID_DRIVES, bSASAddress) +
                  kPathNumberInAddress ==
              154);
inline constexpr std::size_t kDefaultMemberRecords = 2;

// bDriveCount values from 0xF1 on are not counts: CSMI_SAS_RAID_DRIVE_COUNT_TOO_BIG
// (the list did not fit the buffer) and CSMI_SAS_RAID_DRIVE_COUNT_SUPRESSED. So a count
// names at most 0xF0 members.
inline constexpr std::uint8_t kDriveCountTooBig = 0xF1;
inline constexpr std::uint8_t kDriveCountSuppressed = 0xF2;
inline constexpr std::uint8_t kMaxDriveCount = 0xF0;

constexpr bool IsMemberCount(std::uint8_t driveCount) {
    return driveCount <= kMaxDriveCount;
}

constexpr std::size_t RequestSize(std::size_t memberRecords) {
    return kDrivesOffset + kDriveRecordLength * memberRecords;
}

inline constexpr std::size_t kDefaultRequestSize = RequestSize(kDefaultMemberRecords);

static_assert(kDefaultRequestSize == 336);

// The zero-filled request for RAID set `raidSetIndex`, with room for `memberRecords`
// member records; Length is the buffer size less the header.
Bytes BuildRaidConfigRequest(std::uint32_t raidSetIndex,
                             std::size_t memberRecords = kDefaultMemberRecords);

// How many whole member records a buffer of `bufferSize` bytes holds.
constexpr std::size_t MemberRecordCapacity(std::size_t bufferSize) {
    return bufferSize < kDrivesOffset ? 0 : (bufferSize - kDrivesOffset) / kDriveRecordLength;
}

// Readers of the reply; nothing when the field lies outside the buffer. A member
// whose whole record does not lie inside the buffer is never read, whatever
// bDriveCount announced.
std::optional<std::uint8_t> DriveCount(std::span<const std::uint8_t> reply);
std::optional<std::uint8_t> MemberPathNumber(std::span<const std::uint8_t> reply,
                                             std::size_t member);

// The request as a driver reads it.
std::optional<std::uint32_t> RaidSetIndex(std::span<const std::uint8_t> request);

// How the driver answers: the member count and each member's path number.
[[nodiscard]] bool WriteDriveCount(std::span<std::uint8_t> reply, std::uint8_t driveCount);
[[nodiscard]] bool WriteMemberPathNumber(std::span<std::uint8_t> reply, std::size_t member,
                                         std::uint8_t pathNumber);

}  // namespace csmi
