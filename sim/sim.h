// The simulated Windows machine: the binding of namespace win used by the tests and
// by the runner fwupdate-sim.
//
// A test loads or builds a Machine, installs it for a scope, runs system code and
// reads the trace of platform calls, the open handles and the drive state:
//
//   sim::Machine machine;
//   std::string error;
//   ASSERT_TRUE(sim::LoadScenarioText(R"({"disks": [{"attach": "inbox"}]})", "test", machine,
//                                     error)) << error;
//   sim::MachineInstall install(machine);
//   ... run system code ...
//   EXPECT_EQ(sim::OpenHandleCount(), 0u);
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/machine.h"

namespace sim {

// Reads a scenario (the format the README documents). On failure `error` holds one line
// naming the problem and its place, prefixed with `sourceName`, and `out` is unchanged.
// The line is printable whatever the text holds (sim/text.h, PrintableLine).
bool LoadScenarioText(std::string_view json, std::string_view sourceName, Machine& out,
                      std::string& error);
// The same for a file, read whole; a directory or a file that cannot be read is named
// as such rather than taken for invalid JSON.
bool LoadScenarioFile(const std::string& path, Machine& out, std::string& error);

// The built-in default machine, and the scenario text it is loaded from.
Machine DefaultMachine();
std::string_view DefaultScenarioText();

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
