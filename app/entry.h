// The program's entry: the run sequence that both the Windows entry point and the
// simulated-machine runner call.
#pragma once

#include <cstdint>

std::int32_t ToolMain(int argc, wchar_t* argv[]);
