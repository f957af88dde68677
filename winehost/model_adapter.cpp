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

    sim::OpenFile file;
    file.path = std::wstring(path);
    file.target = target;
    const sim::Bytes request(in.begin(), in.end());
    std::vector<std::uint8_t> buffer = answer.callerView;
    sim::IoCall call{machine, file, code, request, buffer, 0};
    answer.error = sim::StandardIo(call);
    if (answer.error != ERROR_SUCCESS) {
        return answer;
    }
    const DWORD returned = std::min<DWORD>(call.bytesReturned, outSize);
    answer.reply.assign(buffer.begin(), buffer.begin() + returned);
    std::copy(answer.reply.begin(), answer.reply.end(), answer.callerView.begin());
    return answer;
}

}  // namespace winehost
