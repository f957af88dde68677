#include "drivers/csmi_raid_config.h"

namespace csmi {

namespace {

// The lone fields a reply is read for, each on its own: a reply cut short after one
// still answers it.
constexpr std::size_t kRaidSetIndexAt = offsetof(RaidConfigHead, config.uRaidSetIndex);
constexpr std::size_t kDriveCountAt = offsetof(RaidConfigHead, config.bDriveCount);

constexpr std::size_t PathNumberAt(std::size_t member) {
    return kDrivesOffset + kDriveRecordLength * member +
           offsetof(sdk::CSMI_SAS_RAID_DRIVES, bSASAddress) + kPathNumberInAddress;
}

}  // namespace

Bytes BuildRaidConfigRequest(std::uint32_t raidSetIndex, std::size_t memberRecords) {
    Bytes request(RequestSize(memberRecords), 0);
    RaidConfigHead head{srb::Header(kRequest, request.size()), {}};
    head.config.uRaidSetIndex = raidSetIndex;
    // Sized for the whole request above: the head always fits.
    static_cast<void>(layout::WriteAs(request, 0, head));
    return request;
}

std::optional<std::uint8_t> DriveCount(std::span<const std::uint8_t> reply) {
    return layout::GetU8(reply, kDriveCountAt);
}

std::optional<std::uint8_t> MemberPathNumber(std::span<const std::uint8_t> reply,
                                             std::size_t member) {
    if (member >= MemberRecordCapacity(reply.size())) {
        return std::nullopt;
    }
    return layout::GetU8(reply, PathNumberAt(member));
}

std::optional<std::uint32_t> RaidSetIndex(std::span<const std::uint8_t> request) {
    return layout::GetU32(request, kRaidSetIndexAt);
}

bool WriteDriveCount(std::span<std::uint8_t> reply, std::uint8_t driveCount) {
    if (!layout::FieldFits(reply.size(), kDriveCountAt, 1)) {
        return false;
    }
    layout::PutU8(reply, kDriveCountAt, driveCount);
    return true;
}

bool WriteMemberPathNumber(std::span<std::uint8_t> reply, std::size_t member,
                           std::uint8_t pathNumber) {
    if (member >= MemberRecordCapacity(reply.size())) {
        return false;
    }
    layout::PutU8(reply, PathNumberAt(member), pathNumber);
    return true;
}

}  // namespace csmi
