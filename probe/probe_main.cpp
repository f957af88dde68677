#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/disk_info.h"
#include "firmware/firmware_package.h"
#include "probe/capture.h"
#include "probe/drive_answers.h"
#include "probe/probe.h"
#include "probe/probe_report.h"
#include "report/console.h"

namespace {

const std::wstring kRule(96, L'=');

struct Options {
    bool help = false;
    std::optional<std::wstring> capturePath;
};

// The files of the release bundle: a capture never takes the place of one of them.
bool NamesABundleFile(std::wstring_view path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    std::wstring name(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
    for (wchar_t& c : name) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    for (const wchar_t* own : {L"fwupdate.exe", L"fwupdate.debug", L"fwprobe.exe", L"fwprobe.debug",
                               L"sha256sums", L"deploying.md"}) {
        if (name == own) {
            return true;
        }
    }
    return false;
}

// "--capture FILE" once, or "--help" ("/?") alone; anything else is refused.
bool ParseOptions(int argc, wchar_t* argv[], Options& options) {
    // Past "--help", which stands alone, arguments come in pairs: "--capture" and its file.
    for (int i = 1; i < argc; i += 2) {
        const std::wstring_view arg = argv[i] == nullptr ? L"" : argv[i];
        if ((arg == L"--help" || arg == L"/?") && argc == 2) {
            options.help = true;
            return true;
        }
        if (arg != L"--capture" || options.capturePath || i + 1 >= argc) {
            return false;
        }
        const std::wstring_view path = argv[i + 1] == nullptr ? L"" : argv[i + 1];
        if (path.empty()) {
            return false;
        }
        options.capturePath = std::wstring(path);
    }
    return true;
}

void PrintUsage() {
    console::WideLine(L"Usage: fwprobe.exe [--capture FILE]");
}

void PrintHelp() {
    PrintUsage();
    console::WideLine(
        L"Asks every drive the firmware updater would update the updater's own "
        L"questions, reports what each driver answered and what the updater "
        L"would do, and changes nothing on any drive.");
    console::WideLine(
        L"--capture FILE  also writes this PC's drives and their answers to FILE "
        L"as a scenario for the simulated machine.");
    console::WideLine(
        L"Exit code: 0 the update would go ahead, 4000 nothing to update, 1 the "
        L"update would fail or no drive was found, 2 a bad command line or a "
        L"capture that could not be written.");
}

void PrintBanner() {
    console::WideLine(kRule);
    console::WideLine(toolTitle);
    console::WideLine(L"Preflight: asks every drive the updater's questions; changes nothing.");
    console::WideLine(kRule);
}

}  // namespace

std::int32_t ProbeMain(int argc, wchar_t* argv[]) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        console::WideLine(L"[ERROR] Invalid Parameter");
        PrintUsage();
        return probe::kBadUsage;
    }
    if (options.help) {
        PrintHelp();
        return probe::kReady;
    }
    if (options.capturePath && NamesABundleFile(*options.capturePath)) {
        console::WideLine(L"[ERROR] The capture file would replace a file of the updater: " +
                          *options.capturePath);
        return probe::kBadUsage;
    }

    LoadFirmwareTexts();
    PrintBanner();
    probe::Recorder recorder;
    if (options.capturePath) {
        recorder.Start();
    }
    UpdateRunner runner;
    runner.IdentifyDisks();
    DiskList updateList;
    SelectEligibleDisks(runner, updateList);
    std::vector<probe::DriveReport> drives;
    for (const DiskInfo& disk : updateList) {
        drives.push_back(probe::AskDrive(disk));
    }
    recorder.Stop();

    const std::int32_t exitCode = probe::PredictedExitCode(drives);
    probe::PrintReport(runner.raidVolumes, drives, exitCode);
    if (!options.capturePath) {
        return exitCode;
    }
    DWORD error = ERROR_SUCCESS;
    if (!probe::WriteCapture(*options.capturePath, probe::CaptureText(recorder, runner.raidVolumes),
                             error)) {
        console::WideLine(L"");
        console::WideLine(L"[ERROR] The capture file cannot be written: " + *options.capturePath +
                          L" (error " + probe::HexText(error) + L")");
        return probe::kBadUsage;
    }
    console::WideLine(L"");
    console::WideLine(L"Capture : " + *options.capturePath);
    return exitCode;
}
