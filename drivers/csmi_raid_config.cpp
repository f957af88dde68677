#include "drivers/csmi_raid_config.h"

namespace csmi {

Bytes BuildRaidConfigRequest(std::uint32_t raidSetIndex, std::size_t memberRecords) {
    Bytes request(RequestSize(memberRecords), 0);
    // Sized for the whole request above: the header always fits.
    static_cast<void>(srb::WriteSrbIoControl(request, kSignature, kTimeout, kControlCode,
                                             srb::LengthFor(request.size())));
    layout::PutU32(request, kRaidSetIndexOffset, raidSetIndex);
    return request;
}

std::optional<std::uint8_t> DriveCount(std::span<const std::uint8_t> reply) {
    return layout::GetU8(reply, kDriveCountOffset);
}

std::optional<std::uint8_t> MemberPathNumber(std::span<const std::uint8_t> reply,
                                             std::size_t member) {
    if (member >= MemberRecordCapacity(reply.size())) {
        return std::nullopt;
    }
    return layout::GetU8(reply, kDrivesOffset + kDriveRecordLength * member + kPathNumberInRecord);
}

std::optional<std::uint32_t> RaidSetIndex(std::span<const std::uint8_t> request) {
    return layout::GetU32(request, kRaidSetIndexOffset);
}

bool WriteDriveCount(std::span<std::uint8_t> reply, std::uint8_t driveCount) {
    if (!layout::FieldFits(reply.size(), kDriveCountOffset, 1)) {
        return false;
    }
    layout::PutU8(reply, kDriveCountOffset, driveCount);
    return true;
}

bool WriteMemberPathNumber(std::span<std::uint8_t> reply, std::size_t member,
                           std::uint8_t pathNumber) {
    if (member >= MemberRecordCapacity(reply.size())) {
        return false;
    }
    layout::PutU8(reply, kDrivesOffset + kDriveRecordLength * member + kPathNumberInRecord,
                  pathNumber);
    return true;
}

}  // namespace csmi
