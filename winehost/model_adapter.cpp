// The only file of the Wine host that uses the models' calling convention (IoCall).
#include "winehost/model_adapter.h"

#include <algorithm>
#include <string>

#include "sim/io.h"

namespace winehost {

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
