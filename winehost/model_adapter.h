// The Wine host's one door into the simulated machine's device models: how an open is
// answered and how a control request reaches the drive and driver models.
//
// Everything the host knows of the models' calling convention (sim/models/io.h) is in
// model_adapter.cpp, so that a change to that convention changes one file here.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "drivers/byte_layout.h"
#include "platform/win32.h"
#include "sim/models/machine.h"

namespace winehost {

// One METHOD_BUFFERED request as the models answered it.
struct DeviceAnswer {
    DWORD error = ERROR_SUCCESS;
    // The bytes that go back to the caller: the first min(reported, output size) of
    // the reply; empty when the request failed.
    Bytes reply;
    // The byte count the device reported, which a lying device may put past the
    // output buffer; 0 when the request failed.
    DWORD reported = 0;
    // The caller's output buffer as it reads after the call: the reply over what the
    // caller passed, which the program always fills with the request itself or zeros.
    Bytes callerView;
};

// What the caller's output buffer holds before the call: the program passes one
// buffer both ways, or a zeroed reply buffer with no input.
Bytes CallerBefore(std::span<const std::uint8_t> in, DWORD outSize);

// Hands the request to the device behind `target`, as the simulated binding does.
DeviceAnswer CallDevice(sim::Machine& machine, const sim::DeviceTarget& target,
                        std::wstring_view path, DWORD code, std::span<const std::uint8_t> in,
                        DWORD outSize);

}  // namespace winehost
