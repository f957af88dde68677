// The Windows entry point of fwprobe.exe. -municode makes the runtime call wmain with the
// command line as UTF-16; everything else happens in ProbeMain, which the simulated
// machine's runner calls the same way.
#include "probe/probe.h"

int wmain(int argc, wchar_t* argv[]) {
    return ProbeMain(argc, argv);
}
