#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "drivers/csmi_raid_config.h"
#include "drivers/device_io.h"
#include "report/console.h"
#include "rst/rst.h"

namespace {

// A set with more members than the first request has room for is asked for again,
// with room for all of them. A controller that keeps announcing more than it fits is
// asked a few times, then believed no further.
constexpr int kMaxRaidConfigQueries = 3;

// Sends the RAID configuration request; prints why when the controller does not
// answer it. The reply is what the controller returned, never more.
std::optional<std::span<const std::uint8_t>> AskRaidConfig(HANDLE controller, Bytes& request) {
    const ControlReply reply =
        SendControlRequest(controller, csmi::kRequest.ioControlCode, request);
    if (!reply) {
        console::WideFormatted(L"  [ERROR] CSMI GET RAID CONFIG IOCTL failed: 0x" +
                               utf8::FromLatin1(console::HexUpper(win::GetLastError())) + L"\n\n");
        return std::nullopt;
    }
    const std::uint32_t returnCode = srb::ReturnCodeOrFailure(reply.bytes);
    if (returnCode != csmi::kStatusSuccess) {
        console::Narrow("  [ERROR] CSMI GET RAID CONFIG ReturnCode: 0x" +
                        console::HexLower(returnCode) + "\n\n");
        return std::nullopt;
    }
    return reply.bytes;
}

// The members' path numbers, in member order; nothing when the controller's replies
// never held every member they announced. A RAID set is updated whole or not at all:
// a mirror with one member left at the old firmware is worse than none updated.
std::optional<std::vector<std::uint8_t>> ListMembers(HANDLE controller,
                                                     std::uint32_t raidSetIndex) {
    Bytes request = csmi::BuildRaidConfigRequest(raidSetIndex);
    for (int query = 0; query < kMaxRaidConfigQueries; ++query) {
        const auto reply = AskRaidConfig(controller, request);
        if (!reply) {
            return std::nullopt;
        }
        const std::optional<std::uint8_t> announced = csmi::DriveCount(*reply);
        if (announced && csmi::IsMemberCount(*announced) &&
            *announced <= csmi::MemberRecordCapacity(reply->size())) {
            std::vector<std::uint8_t> members;
            for (std::size_t i = 0; i < *announced; ++i) {
                members.push_back(*csmi::MemberPathNumber(*reply, i));
            }
            return members;
        }
        // Room for every announced member; for a list that did not fit (or was
        // withheld) without a count, room for the most a count can name; when the reply
        // fell short of the count itself, the same question again.
        std::size_t room = csmi::kDefaultMemberRecords;
        if (announced) {
            room = csmi::IsMemberCount(*announced) ? *announced : csmi::kMaxDriveCount;
        }
        request = csmi::BuildRaidConfigRequest(
            raidSetIndex, std::max<std::size_t>(room, csmi::kDefaultMemberRecords));
    }
    console::Narrow("  [ERROR] CSMI GET RAID CONFIG returned an incomplete member list\n\n");
    return std::nullopt;
}

}  // namespace

std::int32_t QueryRaidMembers(DiskInfo raidEntry, std::uint32_t raidSetIndex,
                              DiskList& identifiedDisks, RaidQueryResult* result) {
    RaidQueryResult ignored;
    RaidQueryResult& outcome = result != nullptr ? *result : ignored;
    outcome = RaidQueryResult{};
    DeviceHandle controller = DeviceHandle::Open(raidEntry.devicePath, 0, 0);
    if (!controller.IsOpen()) {
        return kIdentified;  // a controller that cannot be opened lists no members
    }
    outcome.controllerOpened = true;
    const std::optional<std::vector<std::uint8_t>> members =
        ListMembers(controller.Get(), raidSetIndex);
    if (!members) {
        return kIdentifyRequestFailed;
    }
    outcome.listed = true;
    outcome.members = *members;
    for (const std::uint8_t pathNumber : *members) {
        DiskInfo member;
        member.devicePath = raidEntry.devicePath;
        member.pathId = pathNumber;
        member.driverKind = RstRaid;
        IdentifyRstDisk(member, identifiedDisks);
    }
    return kIdentified;
}
