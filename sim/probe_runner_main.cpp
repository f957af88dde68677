// fwprobe-sim: runs the read-only preflight once against a simulated machine
// (sim/runner.h); a capture it writes lands on the host's file system.
#include "probe/probe.h"
#include "sim/runner.h"

int main(int argc, char* argv[]) {
    return sim::RunSimulated(argc, argv, {"fwprobe-sim", L"fwprobe.exe", ProbeMain});
}
