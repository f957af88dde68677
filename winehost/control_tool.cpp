// fwsimctl.exe: the user-mode side of the Wine host; scripts/wine-run runs it under Wine.
//
//   fwsimctl install DIRECTORY
//       installs the simulated bus from DIRECTORY's fwsimbus.inf (once per prepared
//       prefix) and waits until it has started.
//   fwsimctl run --exe PROGRAM [--scenario FILE] [--state FILE] [--trace FILE]
//                [--result FILE] [-- ARG ...]
//       reads the scenario as the runner does, loads it into the bus, waits until every
//       device has started, runs PROGRAM with "fwupdate.exe" and the ARGs as its command
//       line, and writes the state file and the request record. The exit code is the
//       program's; --result receives the whole code once the program has run.
//
// Exit codes of its own: 2 an invalid scenario, 3 a scenario the host cannot show as
// the runner does (one line on standard error each), 70 the host itself failed.
// Standard output belongs to the program alone.
#include <windows.h>
// clang-format off
#include <setupapi.h>
#include <newdev.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "sim/models/text.h"
#include "sim/sim.h"
#include "winehost/host_abi.h"
#include "winehost/host_core.h"

namespace {

constexpr int kInvalidScenario = 2;
constexpr int kUnreproducible = 3;
constexpr int kHostFailed = 70;

// A cold prefix brings the bus up within a second or two; the bounds are generous so
// that a loaded machine does not fail a run, and finite so that a broken one does.
constexpr DWORD kBusWaitMs = 30000;
constexpr DWORD kStartWaitMs = 30000;
constexpr DWORD kPollMs = 5;

int Fail(int code, const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return code;
}

std::string Narrow(const std::wstring& text) {
    return utf8::FromUtf16(text);
}

// The host's paths as Wine takes them: an absolute Unix path lies on drive Z:.
std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') {
        path = L"Z:" + path;
    }
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

[[nodiscard]] bool WriteFileText(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(WindowsPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 20));
        DWORD written = 0;
        ok = WriteFile(file, text.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    return CloseHandle(file) && ok;
}

HANDLE OpenControl(DWORD waitMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        HANDLE control = CreateFileW(L"\\\\.\\FwSimControl", GENERIC_READ | GENERIC_WRITE, 0,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        if (control != INVALID_HANDLE_VALUE || GetTickCount() - start > waitMs) {
            return control;
        }
        Sleep(kPollMs * 4);
    }
}

bool Control(HANDLE control, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
             DWORD& returned) {
    returned = 0;
    return DeviceIoControl(control, code, const_cast<void*>(in), inSize, out, outSize, &returned,
                           nullptr) != FALSE;
}

// --------------------------------------------------------------------------------

int Install(const std::wstring& directory) {
    const std::wstring inf = WindowsPath(directory) + L"\\fwsimbus.inf";
    static const wchar_t kHardwareId[] = L"root\\fwsimbus\0";
    GUID none{};
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        return Fail(kHostFailed, "fwsimctl: no device information list");
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    bool ok = SetupDiCreateDeviceInfoW(set, L"ROOT\\FWSIMBUS\\0000", &none, nullptr, nullptr, 0,
                                       &device) &&
              SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                                reinterpret_cast<const BYTE*>(kHardwareId),
                                                sizeof kHardwareId) &&
              SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
    const DWORD registerError = ok ? 0 : GetLastError();
    SetupDiDestroyDeviceInfoList(set);
    if (!ok) {
        return Fail(kHostFailed, "fwsimctl: cannot create the bus device (error " +
                                     std::to_string(registerError) + ")");
    }
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, L"root\\fwsimbus", inf.c_str(),
                                            INSTALLFLAG_FORCE, &reboot)) {
        return Fail(kHostFailed, "fwsimctl: cannot install " + Narrow(inf) + " (error " +
                                     std::to_string(GetLastError()) + ")");
    }
    HANDLE control = OpenControl(kBusWaitMs);
    if (control == INVALID_HANDLE_VALUE) {
        return Fail(kHostFailed, "fwsimctl: the bus did not start");
    }
    CloseHandle(control);
    return 0;
}

// --------------------------------------------------------------------------------

struct RunOptions {
    std::wstring exe;
    std::optional<std::wstring> scenario;
    std::wstring state;
    std::wstring trace;
    std::wstring result;
    std::vector<std::wstring> toolArgs;
};

bool ParseRun(int argc, wchar_t** argv, RunOptions& options) {
    for (int i = 2; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--") {
            options.toolArgs.assign(argv + i + 1, argv + argc);
            break;
        }
        std::wstring* value = arg == L"--exe"        ? &options.exe
                              : arg == L"--state"    ? &options.state
                              : arg == L"--trace"    ? &options.trace
                              : arg == L"--result"   ? &options.result
                              : arg == L"--scenario" ? &options.scenario.emplace()
                                                     : nullptr;
        if (value == nullptr || i + 1 >= argc) {
            return false;
        }
        *value = argv[++i];
    }
    return !options.exe.empty();
}

// The scenario text and the name the runner gives it in messages.
struct Scenario {
    std::string text;
    std::string source;
};

int ReadScenario(const RunOptions& options, Scenario& scenario) {
    sim::Machine machine;
    std::string error;
    if (!options.scenario) {
        scenario.text = sim::DefaultScenarioText();
        scenario.source = "default machine";
        sim::LoadScenarioText(scenario.text, scenario.source, machine, error);
    } else {
        scenario.source = Narrow(*options.scenario);
        if (!sim::LoadScenarioFile(scenario.source, machine, error)) {
            return Fail(kInvalidScenario, error);
        }
        std::ifstream file(scenario.source, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        scenario.text = text.str();
    }
    if (const auto feature = winehost::UnreproducibleFeature(machine)) {
        return Fail(kUnreproducible, scenario.source + ": " + *feature);
    }
    return 0;
}

int LoadMachine(HANDLE control, const Scenario& scenario, bool recordRequests) {
    fwhost_load_request request{};
    request.flags = recordRequests ? FWHOST_LOAD_RECORD_REQUESTS : 0;
    request.source_name_bytes = static_cast<uint32_t>(scenario.source.size());
    request.scenario_bytes = static_cast<uint32_t>(scenario.text.size());
    std::string in(reinterpret_cast<const char*>(&request), sizeof request);
    in += scenario.source;
    in += scenario.text;
    std::vector<char> out(sizeof(uint32_t) + 4096);
    DWORD returned = 0;
    if (!Control(control, FWHOST_IOCTL_LOAD, in.data(), static_cast<DWORD>(in.size()), out.data(),
                 static_cast<DWORD>(out.size()), returned) ||
        returned < sizeof(uint32_t)) {
        return Fail(kHostFailed, "fwsimctl: the bus did not take the machine (error " +
                                     std::to_string(GetLastError()) + ")");
    }
    uint32_t error = 0;
    std::memcpy(&error, out.data(), sizeof error);
    if (error != 0) {
        return Fail(kHostFailed,
                    "fwsimctl: the host refused the machine: " +
                        std::string(out.data() + sizeof error, returned - sizeof error));
    }
    // Every device counts as there once its start has set its properties and
    // interface; Wine starts them one after another on its own thread.
    const DWORD start = GetTickCount();
    for (;;) {
        fwhost_status status{};
        if (!Control(control, FWHOST_IOCTL_STATUS, nullptr, 0, &status, sizeof status, returned) ||
            returned != sizeof status) {
            return Fail(kHostFailed, "fwsimctl: the bus does not report its devices");
        }
        if (status.failed != 0) {
            return Fail(kHostFailed,
                        "fwsimctl: " + std::to_string(status.failed) + " devices failed to start");
        }
        if (status.started == status.children) {
            return 0;
        }
        if (GetTickCount() - start > kStartWaitMs) {
            return Fail(kHostFailed, "fwsimctl: only " + std::to_string(status.started) + " of " +
                                         std::to_string(status.children) + " devices started");
        }
        Sleep(kPollMs);
    }
}

HANDLE InheritableStdHandle(DWORD which) {
    HANDLE handle = GetStdHandle(which);
    HANDLE copy = nullptr;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

// Runs the program with the command line the runner gives it: its name and the
// arguments, quoted as Windows quotes them.
bool RunProgram(const RunOptions& options, DWORD& exitCode) {
    std::wstring commandLine = sim::QuoteArgument(L"fwupdate.exe");
    for (const std::wstring& arg : options.toolArgs) {
        commandLine += L" " + sim::QuoteArgument(arg);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = InheritableStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = InheritableStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = InheritableStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const std::wstring exe = WindowsPath(options.exe);
    const BOOL started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
    if (!started) {
        return false;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    const BOOL known = GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return known != FALSE;
}

bool ReadText(HANDLE control, uint32_t which, uint64_t size, std::string& text) {
    constexpr DWORD kPiece = 1u << 20;
    text.assign(size, '\0');
    uint64_t done = 0;
    while (done < size) {
        fwhost_read_request request{};
        request.text = which;
        request.offset = done;
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(size - done, kPiece));
        DWORD returned = 0;
        if (!Control(control, FWHOST_IOCTL_READ, &request, sizeof request, text.data() + done, want,
                     returned) ||
            returned == 0) {
            return false;
        }
        done += returned;
    }
    return true;
}

int WriteRecords(HANDLE control, const RunOptions& options, DWORD exitCode) {
    if (options.state.empty() && options.trace.empty()) {
        return 0;
    }
    const int32_t code = static_cast<int32_t>(exitCode);
    fwhost_finish_reply sizes{};
    DWORD returned = 0;
    if (!Control(control, FWHOST_IOCTL_FINISH, &code, sizeof code, &sizes, sizeof sizes,
                 returned) ||
        returned != sizeof sizes) {
        return Fail(kHostFailed, "fwsimctl: the bus gave no state");
    }
    const struct {
        const std::wstring& path;
        uint32_t which;
        uint64_t size;
    } outputs[] = {{options.state, FWHOST_TEXT_STATE, sizes.state_bytes},
                   {options.trace, FWHOST_TEXT_REQUESTS, sizes.request_bytes}};
    for (const auto& output : outputs) {
        if (output.path.empty()) {
            continue;
        }
        std::string text;
        if (!ReadText(control, output.which, output.size, text) ||
            !WriteFileText(output.path, text)) {
            return Fail(kHostFailed,
                        "fwsimctl: " + Narrow(output.path) + ": cannot write the file");
        }
    }
    return 0;
}

int Run(const RunOptions& options) {
    Scenario scenario;
    if (const int refused = ReadScenario(options, scenario); refused != 0) {
        return refused;
    }
    HANDLE control = OpenControl(kBusWaitMs);
    if (control == INVALID_HANDLE_VALUE) {
        return Fail(kHostFailed, "fwsimctl: the simulated bus did not come up");
    }
    if (const int failed = LoadMachine(control, scenario, !options.trace.empty()); failed != 0) {
        CloseHandle(control);
        return failed;
    }
    DWORD exitCode = 0;
    if (!RunProgram(options, exitCode)) {
        CloseHandle(control);
        return Fail(kHostFailed, "fwsimctl: cannot run " + Narrow(options.exe) + " (error " +
                                     std::to_string(GetLastError()) + ")");
    }
    if (!options.result.empty() &&
        !WriteFileText(options.result, std::to_string(exitCode) + "\n")) {
        CloseHandle(control);
        return Fail(kHostFailed, "fwsimctl: " + Narrow(options.result) + ": cannot write the file");
    }
    const int written = WriteRecords(control, options, exitCode);
    CloseHandle(control);
    return written != 0 ? written : static_cast<int>(exitCode);
}

int Usage() {
    return Fail(kHostFailed,
                "usage: fwsimctl install DIRECTORY\n"
                "       fwsimctl run --exe PROGRAM [--scenario FILE] [--state FILE] [--trace FILE] "
                "[--result FILE] [-- ARG ...]");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wstring(argv[1]) == L"install") {
        return Install(argv[2]);
    }
    RunOptions options;
    if (argc >= 2 && std::wstring(argv[1]) == L"run" && ParseRun(argc, argv, options)) {
        return Run(options);
    }
    return Usage();
}
