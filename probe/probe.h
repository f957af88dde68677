// The read-only preflight: the entry that both the Windows program (fwprobe.exe) and
// the simulated-machine runner (fwprobe-sim) call.
#pragma once

#include <cstdint>

std::int32_t ProbeMain(int argc, wchar_t* argv[]);
