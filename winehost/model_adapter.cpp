// The only file of the Wine host that uses the models' calling convention (IoCall).
#include "winehost/model_adapter.h"

#include <algorithm>
#include <string>

#include "sim/models/io.h"

namespace winehost {

Bytes CallerBefore(std::span<const std::uint8_t> in, DWORD outSize) {
    Bytes view(outSize, 0);
    std::copy_n(in.begin(), std::min<std::size_t>(in.size(), outSize), view.begin());
    return view;
}

DeviceAnswer CallDevice(sim::Machine& machine, const sim::DeviceTarget& target,
                        std::wstring_view path, DWORD code, std::span<const std::uint8_t> in,
                        DWORD outSize) {
    DeviceAnswer answer;
    answer.callerView = CallerBefore(in, outSize);
    const sim::BufferedResult result =
        sim::CallBuffered(machine, target, path, code, in, answer.callerView);
    answer.error = result.error;
    if (answer.error != ERROR_SUCCESS) {
        return answer;
    }
    answer.reported = result.bytesReturned;
    const auto replied = static_cast<std::ptrdiff_t>(std::min(result.bytesReturned, outSize));
    answer.reply.assign(answer.callerView.begin(), answer.callerView.begin() + replied);
    return answer;
}

}  // namespace winehost
