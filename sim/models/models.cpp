// Where a request on a handle goes when the device has no handler of its own, what
// every device model shares about a call, and the disk class driver's own request,
// the device number.
#include <algorithm>

#include "drivers/byte_layout.h"
#include "drivers/storage_requests.h"
#include "sim/models/io.h"

namespace sim {
namespace {

DWORD DeviceNumberIo(IoCall& call, const Disk& disk) {
    if (call.outSize < sizeof(sdk::STORAGE_DEVICE_NUMBER)) {
        call.ProtocolError(call.TargetDrive(), "IOCTL_STORAGE_GET_DEVICE_NUMBER with a " +
                                                   std::to_string(call.outSize) +
                                                   "-byte reply buffer, 12 needed");
        return ERROR_INSUFFICIENT_BUFFER;
    }
    const RequestFault& fault = disk.deviceNumberFault;
    if (fault.answer.kind == ForcedAnswer::Kind::Fail) {
        return fault.answer.FailureError(ERROR_INVALID_FUNCTION);
    }
    if (!disk.deviceNumber) {
        return ERROR_INVALID_FUNCTION;
    }
    // The reply has no status field to carry a forced code: such a fault completes the
    // request with nothing in it.
    if (fault.answer.kind != ForcedAnswer::Kind::ReturnCode) {
        // Partition 0: the whole disk.
        static_cast<void>(storage::WriteDeviceNumber(
            call.out, {FILE_DEVICE_DISK, static_cast<std::uint32_t>(*disk.deviceNumber), 0}));
        call.bytesReturned = static_cast<DWORD>(sizeof(sdk::STORAGE_DEVICE_NUMBER));
    }
    return AlterReply(call, ERROR_SUCCESS, &fault.reply);
}

}  // namespace

Disk* IoCall::TargetDisk() const {
    if (target.kind != DeviceTarget::Kind::Disk || target.index >= machine.disks.size()) {
        return nullptr;
    }
    return &machine.disks[target.index];
}

Controller* IoCall::TargetController() const {
    if (target.kind != DeviceTarget::Kind::Controller ||
        target.index >= machine.controllers.size()) {
        return nullptr;
    }
    return &machine.controllers[target.index];
}

Drive* IoCall::TargetDrive() const {
    const Disk* disk = TargetDisk();
    return disk == nullptr ? nullptr : DriveOfDisk(machine, *disk);
}

void IoCall::ProtocolError(Drive* drive, std::string text) const {
    RecordProtocolError(machine, drive, std::move(text));
}

DWORD AlterReply(IoCall& call, DWORD error, const ReplyAlteration* alteration) {
    if (error != ERROR_SUCCESS || alteration == nullptr) {
        return error;
    }
    for (const auto& [offset, bytes] : alteration->patch) {
        if (offset >= call.out.size()) {
            continue;
        }
        const std::size_t fit = std::min(bytes.size(), call.out.size() - offset);
        std::copy_n(bytes.begin(), fit, call.out.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    if (alteration->returned) {
        call.bytesReturned = *alteration->returned;
    }
    return error;
}

std::span<const std::uint8_t> ReturnedBytes(const IoCall& call) {
    const std::size_t returned =
        std::min<std::size_t>({call.bytesReturned, call.outSize, call.out.size()});
    return std::span<const std::uint8_t>(call.out).first(returned);
}

Bytes CallerView(const IoCall& call) {
    Bytes view(call.outSize, 0);
    std::copy_n(call.in.begin(), std::min<std::size_t>(call.in.size(), view.size()), view.begin());
    const std::span<const std::uint8_t> returned = ReturnedBytes(call);
    std::copy(returned.begin(), returned.end(), view.begin());
    return view;
}

DWORD StandardIo(IoCall& call) {
    switch (call.target.kind) {
        case DeviceTarget::Kind::Disk:
            return DiskStackIo(call);
        case DeviceTarget::Kind::Controller:
            return RstDriverIo(call);
        case DeviceTarget::Kind::Unset:
            break;
    }
    return ERROR_INVALID_FUNCTION;
}

BufferedResult CallBuffered(Machine& machine, const DeviceTarget& target, std::wstring_view path,
                            DWORD code, std::span<const std::uint8_t> in,
                            std::span<std::uint8_t> callerOut) {
    const Bytes request(in.begin(), in.end());
    Bytes system(std::max(request.size(), callerOut.size()), 0);
    std::copy(request.begin(), request.end(), system.begin());
    IoCall call{.machine = machine,
                .target = target,
                .path = path,
                .code = code,
                .in = request,
                .out = system,
                .outSize = static_cast<DWORD>(callerOut.size())};
    IoHandler* handler = nullptr;
    if (Disk* disk = call.TargetDisk(); disk != nullptr && disk->io) {
        handler = &disk->io;
    } else if (Controller* controller = call.TargetController();
               controller != nullptr && controller->io) {
        handler = &controller->io;
    }
    const DWORD error = handler != nullptr ? (*handler)(call) : StandardIo(call);
    if (error != ERROR_SUCCESS) {
        return {error, 0};
    }
    const std::span<const std::uint8_t> returned = ReturnedBytes(call);
    std::copy(returned.begin(), returned.end(), callerOut.begin());
    return {error, call.bytesReturned};
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
