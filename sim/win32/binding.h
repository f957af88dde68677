// The binding of namespace win over the simulated machine: the machine the platform
// calls see, and what a test reads after them (open handles, trace, state).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/models/machine.h"

namespace sim {
// Installs a machine for the platform calls for the lifetime of the object, with a
// fresh trace, no open handles and last error 0. The machine must outlive it.
// Installs nest: the previous machine comes back when the object goes, though its
// handles and trace do not. The trace stays readable after the object is gone.
class MachineInstall {
  public:
    explicit MachineInstall(Machine& machine);
    ~MachineInstall();
    MachineInstall(const MachineInstall&) = delete;
    MachineInstall& operator=(const MachineInstall&) = delete;

  private:
    Machine* previous_;
};

// The installed machine, or nullptr. Platform calls made without one see an empty
// machine.
Machine* InstalledMachine();

// File handles and device-information sets opened since the install and not yet
// released.
std::size_t OpenHandleCount();

// The trace since the install: one JSON object per platform call, one per line.
std::string TraceJsonLines();

// The state file: the exit code and every drive of the installed machine.
std::string StateJson(std::int32_t exitCode);

// Windows command-line quoting of one argument, as GetCommandLineW shows it.
std::wstring QuoteArgument(const std::wstring& argument);

}  // namespace sim
