#include <string>

#include "drivers/csmi_raid_config.h"
#include "drivers/device_io.h"
#include "report/console.h"
#include "rst/rst.h"

namespace {

constexpr std::int32_t kQueryFailed = 5;

bool AlreadyIdentified(const DiskList& identifiedDisks, const std::wstring& controllerPath,
                       std::int64_t pathId) {
    for (const DiskInfo& disk : identifiedDisks) {
        if ((disk.driverKind == RstRaid || disk.driverKind == RstNvme) &&
            disk.devicePath == controllerPath && disk.pathId == pathId) {
            return true;
        }
    }
    return false;
}

// Sends the RAID configuration request; prints why when the controller does not
// answer it.
bool AskRaidConfig(HANDLE controller, RequestBuffer& request) {
    if (!SendControlRequest(controller, csmi::kIoControlCode, request)) {
        console::WideFormatted(L"  [ERROR] CSMI GET RAID CONFIG IOCTL failed: 0x" +
                               console::Widen(console::HexUpper(win::GetLastError())) + L"\n\n");
        return false;
    }
    const std::uint32_t returnCode = srb::ReturnCodeOrFailure(request);
    if (returnCode != 0) {
        console::Narrow("  [ERROR] CSMI GET RAID CONFIG ReturnCode: 0x" +
                        console::HexLower(returnCode) + "\n\n");
        return false;
    }
    return true;
}

}  // namespace

std::int32_t QueryRaidMembers(DiskInfo raidEntry, std::uint32_t raidSetIndex,
                              DiskList& identifiedDisks) {
    RequestBuffer request = csmi::BuildRaidConfigRequest(raidSetIndex);
    DeviceHandle controller = DeviceHandle::Open(raidEntry.devicePath, 0, 0);
    if (!controller.IsOpen()) {
        return 0;
    }
    if (!AskRaidConfig(controller.Get(), request)) {
        return kQueryFailed;
    }

    // The first request has room for two member records. A set with more members is
    // asked for again with room for all of them, so that every member is updated.
    std::size_t members = csmi::DriveCount(request).value_or(0);
    if (members > csmi::MemberRecordCapacity(request.size())) {
        request = csmi::BuildRaidConfigRequest(raidSetIndex, members);
        if (!AskRaidConfig(controller.Get(), request)) {
            return kQueryFailed;
        }
        members = csmi::DriveCount(request).value_or(0);
    }

    for (std::size_t i = 0; i < members; ++i) {
        // A record the reply does not hold is never read.
        const std::optional<std::uint8_t> pathNumber = csmi::MemberPathNumber(request, i);
        if (!pathNumber) {
            break;
        }
        DiskInfo member;
        member.devicePath = raidEntry.devicePath;
        member.pathId = *pathNumber;
        member.driverKind = RstRaid;
        if (AlreadyIdentified(identifiedDisks, member.devicePath, member.pathId)) {
            continue;
        }
        IdentifyRstDisk(member, identifiedDisks);
    }
    return 0;
}
