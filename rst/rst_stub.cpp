#include "rst/rst.h"

std::int32_t QueryRaidMembers(DiskInfo /*raidEntry*/, DiskList& /*identifiedDisks*/) {
    return 0;
}
std::int32_t IdentifyRstDisk(DiskInfo /*disk*/, DiskList& /*identifiedDisks*/) {
    return 8;
}
std::int32_t UpdateRstDisk(const DiskInfo& /*disk*/, const std::uint32_t& /*imageSize*/) {
    return kUpdateDriveUnreachable;
}
std::int32_t DownloadRstFirmware(HANDLE /*controller*/, const DiskInfo& /*disk*/,
                                 const std::uint32_t& /*imageSize*/) {
    return 1;
}
std::int32_t ActivateRstFirmware(HANDLE /*controller*/, std::int64_t /*pathId*/) {
    return 1;
}
