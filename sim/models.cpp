// Where a request on a handle goes when the device has no handler of its own, and
// the disk class driver's own request, the device number.
#include "drivers/byte_layout.h"
#include "sim/io.h"

namespace sim {
namespace {

// STORAGE_DEVICE_NUMBER: DeviceType, DeviceNumber, PartitionNumber.
constexpr std::size_t kDeviceNumberSize = 12;

DWORD DeviceNumberIo(IoCall& call, const Disk& disk) {
    if (call.out.size() < kDeviceNumberSize) {
        call.ProtocolError(call.TargetDrive(), "IOCTL_STORAGE_GET_DEVICE_NUMBER with a " +
                                                   std::to_string(call.out.size()) +
                                                   "-byte reply buffer, 12 needed");
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (!disk.deviceNumber || disk.deviceNumberFault.answer.kind == ForcedAnswer::Kind::Fail) {
        return ERROR_INVALID_FUNCTION;
    }
    layout::PutU32(call.out, 0, FILE_DEVICE_DISK);
    layout::PutU32(call.out, 4, *disk.deviceNumber);
    layout::PutU32(call.out, 8, 0);  // the whole disk, not a partition
    call.bytesReturned = kDeviceNumberSize;
    return ERROR_SUCCESS;
}

}  // namespace

DWORD StandardIo(IoCall& call) {
    switch (call.file.target.kind) {
        case DeviceTarget::Kind::Disk:
            return DiskStackIo(call);
        case DeviceTarget::Kind::Controller:
            return RstDriverIo(call);
        case DeviceTarget::Kind::Unset:
            break;
    }
    return ERROR_INVALID_FUNCTION;
}

DWORD DiskStackIo(IoCall& call) {
    const Disk* disk = call.TargetDisk();
    if (disk == nullptr) {
        return ERROR_INVALID_FUNCTION;
    }
    if (call.code == IOCTL_STORAGE_GET_DEVICE_NUMBER) {
        return DeviceNumberIo(call, *disk);
    }
    switch (disk->attach) {
        case Attach::Inbox:
        case Attach::Other:
            return InboxStackIo(call);
        case Attach::Rst:
        case Attach::RaidVolume:
            // The program reaches drives behind Intel RST through the controller only.
            break;
    }
    return ERROR_INVALID_FUNCTION;
}

}  // namespace sim
