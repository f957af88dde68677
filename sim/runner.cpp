// The simulated-machine runner both programs share: reads the runner's flags and a
// scenario, installs the machine, runs the program's entry once with the tool
// arguments, and writes the trace and the state.
//
// --platform wine shows the machine to the program as Wine 8 does
// (sim/win32/wine_platform.h), which is what scripts/wine-run compares with.
//
// Standard output is the program's alone; the runner speaks only on standard error.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "sim/models/text.h"
#include "sim/runner.h"
#include "sim/sim.h"
#include "sim/win32/wine_platform.h"

namespace {

using sim::RunnerProgram;

constexpr int kRunnerError = 2;

// One line on standard error, written whole: a message may quote anything a file or
// path holds, so it goes through PrintableLine and never through "%s", which would
// stop at a NUL.
void Complain(const std::string& message) {
    const std::string line = sim::PrintableLine(message) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

int Usage(const RunnerProgram& program) {
    const std::string line = "usage: " + std::string(program.runnerName) +
                             " [--platform windows|wine] [--trace FILE] [--state FILE] "
                             "[SCENARIO.json] [-- TOOL-ARG ...]\n";
    std::fputs(line.c_str(), stderr);
    return kRunnerError;
}

struct Options {
    std::string tracePath;
    std::string statePath;
    std::optional<std::string> scenarioPath;
    std::vector<std::string> toolArgs;
    std::optional<sim::Platform> platform;
};

// "windows" or "wine"; given once at most.
bool ParsePlatform(const std::string& name, Options& options) {
    if (options.platform) {
        return false;
    }
    if (name == "windows") {
        options.platform = sim::Platform::Windows;
    } else if (name == "wine") {
        options.platform = sim::Platform::Wine;
    } else {
        return false;
    }
    return true;
}

bool ParseOptions(int argc, char* argv[], Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            options.toolArgs.assign(argv + i + 1, argv + argc);
            return true;
        }
        if (arg == "--trace" || arg == "--state") {
            std::string& path = arg == "--trace" ? options.tracePath : options.statePath;
            if (i + 1 >= argc || !path.empty() || argv[i + 1][0] == '\0') {
                return false;
            }
            path = argv[++i];
            continue;
        }
        if (arg == "--platform") {
            if (i + 1 >= argc || !ParsePlatform(argv[++i], options)) {
                return false;
            }
            continue;
        }
        if ((arg.size() > 1 && arg[0] == '-') || options.scenarioPath) {
            return false;
        }
        options.scenarioPath = arg;
    }
    return true;
}

// Opened before the program runs, so that an unwritable path stops the runner
// before anything happens to the machine.
bool OpenOutput(const RunnerProgram& program, const std::string& path, std::ofstream& file) {
    if (path.empty()) {
        return true;
    }
    file.open(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        Complain(std::string(program.runnerName) + ": " + path + ": cannot write the file");
        return false;
    }
    return true;
}

bool WriteOutput(const RunnerProgram& program, const std::string& path, std::ofstream& file,
                 const std::string& content) {
    if (path.empty()) {
        return true;
    }
    file << content;
    file.close();
    if (!file) {
        Complain(std::string(program.runnerName) + ": " + path + ": cannot write the file");
        return false;
    }
    return true;
}

}  // namespace

namespace sim {

int RunSimulated(int argc, char* argv[], const RunnerProgram& program) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        return Usage(program);
    }

    sim::Machine machine;
    if (!options.scenarioPath) {
        machine = sim::DefaultMachine();
    } else {
        std::string error;
        if (!sim::LoadScenarioFile(*options.scenarioPath, machine, error)) {
            Complain(error);
            return kRunnerError;
        }
    }

    if (options.platform == sim::Platform::Wine) {
        sim::UseWinePlatform(machine);
    }

    std::ofstream traceFile;
    std::ofstream stateFile;
    if (!OpenOutput(program, options.tracePath, traceFile) ||
        !OpenOutput(program, options.statePath, stateFile)) {
        return kRunnerError;
    }

    // The argument vector the program sees: its own name, then the tool arguments as
    // UTF-16, an empty one included.
    std::vector<std::wstring> arguments{program.programName};
    for (const std::string& arg : options.toolArgs) {
        arguments.push_back(utf8::ToUtf16(arg));
    }
    std::vector<wchar_t*> argvWide;
    std::wstring commandLine;
    for (std::wstring& arg : arguments) {
        argvWide.push_back(arg.data());
        commandLine += (commandLine.empty() ? L"" : L" ") + sim::QuoteArgument(arg);
    }
    argvWide.push_back(nullptr);
    machine.commandLine = commandLine;
    machine.recordTrace = !options.tracePath.empty();

    std::int32_t exitCode = 0;
    bool written = true;
    {
        sim::MachineInstall install(machine);
        exitCode = program.entry(static_cast<int>(arguments.size()), argvWide.data());
        std::fflush(stdout);
        written = WriteOutput(program, options.tracePath, traceFile, sim::TraceJsonLines()) &&
                  WriteOutput(program, options.statePath, stateFile, sim::StateJson(exitCode));
    }
    if (!written) {
        return kRunnerError;
    }
    return static_cast<int>(static_cast<std::uint32_t>(exitCode) & 0xFFu);
}

}  // namespace sim
