// The read-only preflight on a simulated machine, and what every test of it reads: the
// requests that reached the drivers, whether each was a query, and where two runs part.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/utf8.h"
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

// A control request's input as its trace line carries it: the hex after "in", read
// straight from the line (a download's line runs to megabytes, too long to parse for
// a few bytes). Empty for a line of another call.
inline std::string_view RequestHex(std::string_view line) {
    if (line.rfind(R"({"op":"DeviceIoControl",)", 0) != 0) {
        return {};
    }
    const std::size_t start = line.find(R"("in":")");
    if (start == std::string_view::npos) {
        return {};
    }
    const std::string_view rest = line.substr(start + 6);
    return rest.substr(0, rest.find('"'));
}

// A miniport request's signature and the little-endian dword at `offset`, from its hex.
inline bool MiniportHas(std::string_view hex, std::string_view signature, std::size_t offset,
                        std::uint32_t value) {
    if (hex.size() < 2 * (offset + 4) || hex.substr(8, 16) != signature) {
        return false;
    }
    std::uint32_t field = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::string byte(hex.substr(2 * (offset + i), 2));
        field |= static_cast<std::uint32_t>(std::stoul(byte, nullptr, 16)) << (8 * i);
    }
    return field == value;
}

constexpr std::string_view kFirmwareSignature = "4649524d57415245";  // "FIRMWARE"
constexpr std::string_view kIntelFwSignature = "496e74656c467720";   // "IntelFw "

// Function 2 of either firmware interface (offset 36 inbox, 40 Intel RST).
inline bool IsDownload(std::string_view line) {
    const std::string_view in = RequestHex(line);
    return MiniportHas(in, kFirmwareSignature, 36, 2) || MiniportHas(in, kIntelFwSignature, 40, 2);
}

// The preflight's own questions, which the updater never asks: the information
// request in the public form, to either driver.
inline bool IsPublicForm(std::string_view line) {
    const std::string_view in = RequestHex(line);
    return MiniportHas(in, kFirmwareSignature, 44, 56) || MiniportHas(in, kIntelFwSignature, 40, 1);
}

// A trace line without `"key":<number>` (the handle numbers, which are the run's own).
inline std::string WithoutNumber(std::string line, std::string_view key) {
    // Built up piece by piece: GCC 12 at -O3 takes "\"" + std::string for an overlapping
    // copy and stops the Windows build.
    std::string field(1, '"');
    field.append(key).append("\":");
    const std::size_t at = line.find(field);
    if (at == std::string::npos) {
        return line;
    }
    std::size_t end = at + field.size();
    while (end < line.size() &&
           (std::isdigit(static_cast<unsigned char>(line[end])) != 0 || line[end] == '-')) {
        ++end;
    }
    if (end < line.size() && line[end] == ',') {
        ++end;
    }
    return line.erase(at, end - at);
}

enum class Requests { All, BeforeDownload, UpdatersOnly };

// What reached the drivers: every open and control request with its answer; up to the
// first download request, or without the preflight's own questions. Read from the trace
// lines as they are: the records keep the runner's key order.
inline std::vector<std::string> DriverRequests(const ProgramRun& run,
                                               Requests which = Requests::All) {
    std::vector<std::string> requests;
    std::string_view text = run.traceLines;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        const bool open = line.rfind(R"({"op":"CreateFileW",)", 0) == 0;
        const bool control = line.rfind(R"({"op":"DeviceIoControl",)", 0) == 0;
        if (control && which == Requests::BeforeDownload && IsDownload(line)) {
            break;
        }
        if (control && which == Requests::UpdatersOnly && IsPublicForm(line)) {
            continue;
        }
        if (open || control) {
            requests.push_back(WithoutNumber(WithoutNumber(std::string(line), "handle"), "result"));
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
    return utf8::ToUtf16(path.string());
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
