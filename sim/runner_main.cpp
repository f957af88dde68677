// fwupdate-sim: runs the updater once against a simulated machine (sim/runner.h).
#include "app/entry.h"
#include "sim/runner.h"

int main(int argc, char* argv[]) {
    return sim::RunSimulated(argc, argv, {"fwupdate-sim", L"fwupdate.exe", ToolMain});
}
