// The binding's run-time state: the installed machine, handle numbers, and the
// install that gives each test a fresh start.
#include "sim/win32/runtime.h"

#include "sim/win32/binding.h"

namespace sim {

Runtime& State() {
    static Runtime runtime;
    return runtime;
}

Machine& CurrentMachine() {
    static Machine empty;
    Machine* installed = State().machine;
    return installed != nullptr ? *installed : empty;
}

std::uintptr_t NewHandleValue() {
    // Kernel handles are multiples of 4; sets share the numbering so that a handle of
    // one kind passed where the other is expected is never mistaken for a valid one.
    const std::uintptr_t value = State().nextHandle;
    State().nextHandle += 4;
    return value;
}

MachineInstall::MachineInstall(Machine& machine) : previous_(State().machine) {
    Runtime& rt = State();
    rt.machine = &machine;
    for (auto& [handle, file] : rt.files) {
        CloseHostFile(file);
    }
    rt.files.clear();
    rt.sets.clear();
    rt.nextHandle = 0x48;
    rt.lastError = 0;
    rt.trace.clear();
    rt.commandLineBuffer.clear();
}

MachineInstall::~MachineInstall() {
    State().machine = previous_;
}

Machine* InstalledMachine() {
    return State().machine;
}

std::size_t OpenHandleCount() {
    return State().files.size() + State().sets.size();
}

}  // namespace sim
