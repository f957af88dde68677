// The read-only preflight on a simulated machine, and what every test of it reads: the
// requests that reached the drivers, whether each was a query, and where two runs part.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "probe/probe.h"
#include "run_support.h"
#include "sim/models/text.h"
#include "test_support.h"

namespace probetest {

namespace fs = std::filesystem;

inline ProgramRun RunProbe(sim::Machine& machine, std::vector<std::wstring> args = {}) {
    return RunProgram(machine, std::move(args), ProbeMain, L"fwprobe.exe");
}

// The six requests the preflight may send, by the bytes that make each what it is;
// empty for any other request. Written from the public definitions, not from drivers/.
inline std::string QueryName(const nlohmann::json& call) {
    const std::int64_t code = As<std::int64_t>(call, "code");
    const std::string in = As<std::string>(call, "in");
    if (code == 0x2D1080) {
        return "device number";
    }
    if (code == 0x2D1400 && HexField(in, 0, 4) == 49 && HexField(in, 12, 4) == 1 &&
        HexField(in, 16, 4) == 1) {
        return "Identify query";
    }
    if (code != 0x4D008 || in.size() < 2 * 28) {
        return "";
    }
    const std::string signature = in.substr(8, 16);
    if (signature == "4649524d57415245" && HexField(in, 16, 4) == 0x1B0780 &&
        HexField(in, 36, 4) == 1) {
        return "FIRMWARE get-info";
    }
    if (signature == "43534d4941525900" && HexField(in, 16, 4) == 11) {
        return "CSMI RAID configuration";
    }
    if (signature == "496e74656c4e766d" && HexField(in, 16, 4) == 0xF0002808 &&
        HexField(in, 32, 4) == 0x06 && HexField(in, 72, 4) == 0x01) {
        for (std::size_t dword = 1; dword < 16; ++dword) {
            if (dword != 10 && HexField(in, 32 + 4 * dword, 4) != 0) {
                return "";
            }
        }
        return "IntelNvm Identify Controller";
    }
    if (signature == "496e74656c467720" && HexField(in, 16, 4) == 0xF0000040 &&
        HexField(in, 40, 4) == 1) {
        return "IntelFw get-info";
    }
    return "";
}

// Everything in a run that is not a query: a request outside the six, a device opened
// for anything but an existing one, a drive that received a piece or a commit.
inline std::vector<std::string> NotReadOnly(const ProgramRun& run) {
    std::vector<std::string> found;
    for (const nlohmann::json& call : run.Calls("DeviceIoControl")) {
        if (QueryName(call).empty()) {
            found.push_back("request " + std::to_string(As<std::int64_t>(call, "code")) + " " +
                            As<std::string>(call, "in").substr(0, 96));
        }
    }
    for (const nlohmann::json& open : run.Calls("CreateFileW")) {
        const std::string path = As<std::string>(open, "path");
        if (path.rfind("\\\\", 0) == 0 && As<std::int64_t>(open, "disposition") != 3) {
            found.push_back("open of " + path + " that may create or truncate");
        }
    }
    for (const nlohmann::json& drive : At(run.state, "drives")) {
        if (As<std::int64_t>(drive, "downloadRequests") != 0 ||
            As<std::int64_t>(drive, "activations") != 0) {
            found.push_back("drive " + As<std::string>(drive, "id") + " was written to");
        }
    }
    return found;
}

inline bool IsDownload(const nlohmann::json& call) {
    const std::string in = As<std::string>(call, "in");
    if (As<std::int64_t>(call, "code") != 0x4D008 || in.size() < 2 * 44) {
        return false;
    }
    const std::string signature = in.substr(8, 16);
    return (signature == "4649524d57415245" && HexField(in, 36, 4) == 2) ||
           (signature == "496e74656c467720" && HexField(in, 40, 4) == 2);
}

// The preflight's own questions, which the updater never asks: the information
// request in the public form, to either driver.
inline bool IsPublicForm(const nlohmann::json& call) {
    const std::string in = As<std::string>(call, "in");
    if (As<std::int64_t>(call, "code") != 0x4D008 || in.size() < 2 * 52) {
        return false;
    }
    const std::string signature = in.substr(8, 16);
    return (signature == "4649524d57415245" && HexField(in, 44, 4) == 56) ||
           signature == "496e74656c467720";
}

enum class Requests { All, BeforeDownload, UpdatersOnly };

// What reached the drivers: every open and control request with its answer; up to the
// first download request, or without the preflight's own questions.
inline std::vector<std::string> DriverRequests(const ProgramRun& run,
                                               Requests which = Requests::All) {
    std::vector<std::string> requests;
    for (const nlohmann::json& record : run.Trace()) {
        const std::string op = As<std::string>(record, "op");
        if (op == "DeviceIoControl" && which == Requests::BeforeDownload && IsDownload(record)) {
            break;
        }
        if (op == "DeviceIoControl" && which == Requests::UpdatersOnly && IsPublicForm(record)) {
            continue;
        }
        if (op == "CreateFileW" || op == "DeviceIoControl") {
            nlohmann::json kept = record;
            kept.erase("handle");
            kept.erase("result");
            requests.push_back(kept.dump());
        }
    }
    return requests;
}

// Where two request lists part, in a line a failure can show: the first record that
// differs on each side, cut short (a request's hex runs to megabytes).
inline std::string FirstDifference(const std::vector<std::string>& actual,
                                   const std::vector<std::string>& expected) {
    const std::size_t common = std::min(actual.size(), expected.size());
    std::size_t i = 0;
    while (i < common && actual[i] == expected[i]) {
        ++i;
    }
    if (i == common && actual.size() == expected.size()) {
        return "";
    }
    auto shown = [&](const std::vector<std::string>& list) {
        return i < list.size() ? list[i].substr(0, 400) : std::string("(nothing)");
    };
    return "request " + std::to_string(i) + " of " + std::to_string(actual.size()) + " and " +
           std::to_string(expected.size()) + ":\n  got      " + shown(actual) + "\n  expected " +
           shown(expected);
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A machine whose drives answer downloads and activations by their own rules and
// activate after a power cycle: there no query misses anything the updater meets.
inline bool QueriesForeseeEverything(const sim::Machine& machine) {
    for (const sim::Drive& drive : machine.drives) {
        if (drive.faults.download || drive.faults.activate.IsSet() ||
            drive.activation != sim::Activation::PowerCycle) {
            return false;
        }
    }
    return true;
}

// A fresh, empty folder for capture files.
inline fs::path CaptureFolder(const std::string& name) {
    const fs::path folder = fs::temp_directory_path() / ("fwprobe-test-" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

inline std::wstring Wide(const fs::path& path) {
    return sim::Utf8ToUtf16(path.string());
}

// The capture's machine, failing the test when it does not load.
inline sim::Machine Replayed(const std::string& capture, const std::string& name) {
    sim::Machine replayed;
    std::string error;
    EXPECT_TRUE(sim::LoadScenarioText(capture, "capture", replayed, error))
        << name << ": " << error << "\n"
        << capture.substr(0, 2000);
    return replayed;
}

}  // namespace probetest
