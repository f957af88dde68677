// The Windows entry point. -municode makes the runtime call wmain with the command
// line as UTF-16; everything else happens in ToolMain, which the simulated-machine
// runner calls the same way.
#include "app/entry.h"

int wmain(int argc, wchar_t* argv[]) {
    return ToolMain(argc, argv);
}
