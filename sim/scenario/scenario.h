// The scenario loader: a machine from the scenario format the README documents, and
// the built-in default machine. It builds the records of sim/models and nothing of the
// Win32 binding.
#pragma once

#include <string>
#include <string_view>

#include "sim/models/machine.h"

namespace sim {

// Reads a scenario (the format the README documents). On failure `error` holds one line
// naming the problem and its place, prefixed with `sourceName`, and `out` is unchanged.
// The line is printable whatever the text holds (sim/models/text.h, PrintableLine).
bool LoadScenarioText(std::string_view json, std::string_view sourceName, Machine& out,
                      std::string& error);
// The same for a file, read whole; a directory or a file that cannot be read is named
// as such rather than taken for invalid JSON.
bool LoadScenarioFile(const std::string& path, Machine& out, std::string& error);

// The built-in default machine, and the scenario text it is loaded from.
Machine DefaultMachine();
std::string_view DefaultScenarioText();

}  // namespace sim
