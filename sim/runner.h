// The simulated-machine runner of a program of this tree: fwupdate-sim for the updater,
// fwprobe-sim for the read-only preflight.
//
//   <runner> [--platform windows|wine] [--trace FILE] [--state FILE] [SCENARIO.json]
//            [-- TOOL-ARG ...]
#pragma once

#include <cstdint>

namespace sim {

struct RunnerProgram {
    const char* runnerName;      // for the runner's own messages
    const wchar_t* programName;  // the program's argv[0] and command line
    std::int32_t (*entry)(int argc, wchar_t* argv[]);
};

// Runs `program` once as the command line asks; returns the runner's exit status.
int RunSimulated(int argc, char* argv[], const RunnerProgram& program);

}  // namespace sim
