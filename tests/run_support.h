// Running the whole program once on a simulated machine, the way fwupdate-sim does,
// and reading back what it printed, returned, sent and left on the drives.
#pragma once

#include <gtest/gtest.h>

#include <charconv>
#include <nlohmann/json.hpp>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/disk_info.h"
#include "app/entry.h"
#include "firmware/firmware_package.h"
#include "sim/win32/sha256.h"
#include "test_support.h"

struct ProgramRun {
    std::int32_t exitCode = 0;
    std::string output;
    nlohmann::json state;
    std::string traceLines;  // the runner's --trace text, one JSON record a line

    // The trace, parsed on first use: it carries every request's bytes as hex, megabytes
    // for a run that downloads, and most tests never look at it.
    const nlohmann::json& Trace() const {
        if (trace_.is_null()) {
            trace_ = JsonLines(traceLines);  // an array, however empty
        }
        return trace_;
    }

    // The trace records of one platform call, in order.
    nlohmann::json Calls(std::string_view op) const { return CallsOf(Trace(), op); }

    // The state of the drive with this id; a missing one fails the test and reads as null.
    const nlohmann::json& Drive(
        const std::string& id, std::source_location where = std::source_location::current()) const {
        for (const nlohmann::json& drive : At(state, "drives")) {
            const auto found = drive.find("id");
            if (found != drive.end() && *found == id) {
                return drive;
            }
        }
        static const nlohmann::json none;
        ADD_FAILURE_AT(where.file_name(), where.line()) << "no drive " << id << " in the state";
        return none;
    }

  private:
    mutable nlohmann::json trace_;
};

using ProgramEntry = std::int32_t (*)(int argc, wchar_t* argv[]);

// Runs `entry` (the updater's ToolMain unless told otherwise) as program `name`.
inline ProgramRun RunProgram(sim::Machine& machine, std::vector<std::wstring> args = {},
                             ProgramEntry entry = ToolMain, const wchar_t* name = L"fwupdate.exe") {
    args.insert(args.begin(), name);
    std::vector<wchar_t*> argv;
    for (std::wstring& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    ProgramRun run;
    sim::MachineInstall install(machine);
    {
        ConsoleCapture console;
        run.exitCode = entry(static_cast<int>(args.size()), argv.data());
        run.output = console.Text();
    }
    EXPECT_EQ(sim::OpenHandleCount(), 0u) << "handles or sets left open";
    run.state = ParseJson(sim::StateJson(run.exitCode));
    run.traceLines = sim::TraceJsonLines();
    return run;
}

inline ProgramRun RunScenario(std::string_view scenario) {
    sim::Machine machine = MachineFrom(scenario);
    machine.localTime = FixedTime(7, 12, 2026, 21, 5, 9);
    return RunProgram(machine);
}

// The SHA-256 of the image the program carries.
inline std::string ImageSha256() {
    LoadFirmwarePackage();
    return sim::Sha256Hex(FirmwareWorkingBuffer());
}

// The per-drive table printed before an update, as the console shows it.
inline std::string TargetTable(const std::string& driver, const std::string& raid,
                               const std::string& model, const std::string& serial,
                               const std::string& current, const std::string& label) {
    const std::string rule(45, '-');
    return "\n" + rule + "\n Firmware Download | Target Disk Information \n" + rule +
           "\n Driver : " + driver + "\n Raid : " + raid + "\n Model Number : " + model +
           "\n Serial Number : " + serial + "\n Current FW : " + current + "\n" + label +
           "QZT3VKLA\n" + rule + "\n";
}

// Updates a disk at `path`, which nothing opens on an empty machine, with `update`
// (UpdateInboxDisk or UpdateRstDisk); gives what it returned and what it printed.
template <typename Update>
std::pair<std::int32_t, std::string> UpdateUnopenable(Update update, const wchar_t* path,
                                                      DriverKind kind) {
    sim::Machine machine = MachineFrom("{}");
    sim::MachineInstall install(machine);
    LoadFirmwarePackage();
    DiskInfo disk;
    disk.devicePath = path;
    disk.driverKind = kind;
    disk.modelNumber = L"M";
    disk.serialNumber = L"S";
    disk.firmwareRevision = L"QZT2VKLA";
    ConsoleCapture console;
    const std::int32_t result = update(disk, kFirmwareImageSize);
    return {result, console.Text()};
}

// What a run printed between the banner and the report: the drives' own lines.
inline std::string ConsoleAfterBanner(const ProgramRun& run) {
    const std::string banner = "rights reserved.\n" + std::string(96, '=') + "\n";
    const std::size_t start = run.output.find(banner);
    if (start == std::string::npos) {
        ADD_FAILURE() << "no banner in\n" << run.output;
        return "";
    }
    const std::size_t from = start + banner.size();
    return run.output.substr(from, run.output.find("Start Time : ", from) - from);
}

// Little-endian field of a hex-encoded request in the trace; a request too short for
// it, or not hex, fails the test and reads as 0.
inline std::uint64_t HexField(std::string_view hex, std::size_t offset, std::size_t width,
                              std::source_location where = std::source_location::current()) {
    if (hex.size() / 2 < offset + width) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "a request of " << hex.size() / 2 << " bytes has no " << width << "-byte field at "
            << offset;
        return 0;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const char* digits = hex.data() + 2 * (offset + i);
        std::uint8_t byte = 0;
        if (std::from_chars(digits, digits + 2, byte, 16).ptr != digits + 2) {
            ADD_FAILURE_AT(where.file_name(), where.line())
                << "not hex at byte " << offset + i << ": " << std::string(digits, 2);
            return 0;
        }
        value |= std::uint64_t{byte} << (8 * i);
    }
    return value;
}
