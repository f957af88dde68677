// The only file of the Wine host that uses the models' calling convention (IoCall).
#include "winehost/model_adapter.h"

#include <algorithm>
#include <string>

#include "sim/io.h"

namespace winehost {

// The rule the simulated binding applies in its CreateFileW (sim/handles.cpp): a disk
// that is not openable refuses every path to it; a drive whose open is denied refuses
// its physical-drive path only, so that the disk is still found by its interface.
DWORD OpenRefusal(sim::Machine& machine, const sim::DeviceTarget& target, bool physicalDrivePath) {
    switch (target.kind) {
        case sim::DeviceTarget::Kind::Disk: {
            if (target.index >= machine.disks.size()) {
                return ERROR_FILE_NOT_FOUND;
            }
            const sim::Disk& disk = machine.disks[target.index];
            const sim::Drive* drive = sim::DriveOfDisk(machine, disk);
            if (!disk.openable ||
                (physicalDrivePath && drive != nullptr && drive->faults.denyOpen)) {
                return ERROR_ACCESS_DENIED;
            }
            return ERROR_SUCCESS;
        }
        case sim::DeviceTarget::Kind::Controller:
            if (target.index >= machine.controllers.size()) {
                return ERROR_FILE_NOT_FOUND;
            }
            return machine.controllers[target.index].openable ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
        case sim::DeviceTarget::Kind::Unset:
            break;
    }
    return ERROR_SUCCESS;
}

std::vector<std::uint8_t> CallerBefore(std::span<const std::uint8_t> in, DWORD outSize) {
    std::vector<std::uint8_t> view(outSize, 0);
    std::copy_n(in.begin(), std::min<std::size_t>(in.size(), outSize), view.begin());
    return view;
}

DeviceAnswer CallDevice(sim::Machine& machine, const sim::DeviceTarget& target,
                        std::wstring_view path, DWORD code, std::span<const std::uint8_t> in,
                        DWORD outSize) {
    DeviceAnswer answer;
    answer.callerView = CallerBefore(in, outSize);
    // METHOD_BUFFERED as the binding does it: one system buffer that starts out as the
    // request, zero beyond it.
    const sim::Bytes request(in.begin(), in.end());
    sim::Bytes system(std::max<std::size_t>(in.size(), outSize), 0);
    std::copy(request.begin(), request.end(), system.begin());
    sim::IoCall call{.machine = machine,
                     .target = target,
                     .path = path,
                     .code = code,
                     .in = request,
                     .out = system,
                     .outSize = outSize};
    answer.error = sim::StandardIo(call);
    if (answer.error != ERROR_SUCCESS) {
        return answer;
    }
    answer.reported = call.bytesReturned;
    const std::span<const std::uint8_t> reply = sim::ReturnedBytes(call);
    answer.reply.assign(reply.begin(), reply.end());
    answer.callerView = sim::CallerView(call);
    return answer;
}

}  // namespace winehost
