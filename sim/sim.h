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
//
// The rooms: sim/models (the machine records and the device models), sim/win32 (the
// binding) and sim/scenario (the loader); sim/README.md says what each holds.
#pragma once

#include "sim/scenario/scenario.h"
#include "sim/win32/binding.h"
