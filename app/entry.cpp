#include "app/entry.h"

#include <string>

#include "app/disk_info.h"
#include "firmware/firmware_package.h"
#include "platform/win32.h"
#include "report/console.h"
#include "report/report.h"

namespace {

const std::wstring kRule(96, L'=');
constexpr wchar_t kCopyright[] =
    L"Copyright (C) 2026 KORVANE Technology Co., Ltd. All rights reserved.";

// The console program needs no windowing framework; its initialisation step stays
// in the sequence, with its failure message, but there is nothing that can fail.
bool InitApplicationFramework(HMODULE /*module*/, const wchar_t* /*commandLine*/) {
    return true;
}

void RecordStartTime(UpdateSession& session) {
    const std::string now = FormatLocalTime();
    session.startTime.assign(now.begin(), now.end());
}

void PrintBanner() {
    console::WideLine(kRule);
    console::WideLine(toolTitle);
    console::WideLine(kCopyright);
    console::WideLine(kRule);
}

}  // namespace

std::int32_t ToolMain(int argc, wchar_t* /*argv*/[]) {
    HMODULE module = win::GetModuleHandleW(nullptr);
    if (module == nullptr) {
        console::WideFormatted(L"Fatal Error: GetModuleHandle failed\n");
    } else if (!InitApplicationFramework(module, win::GetCommandLineW())) {
        console::WideFormatted(L"Fatal Error: MFC initialization failed\n");
    }

    UpdateSession session;
    std::int32_t exitCode = kUpdateFailed;
    if (argc > 1) {
        console::WideLine(L"[ERROR] Invalid Parameter");
    } else {
        LoadFirmwarePackage();
        PrintBanner();
        RecordStartTime(session);
        session.runner->RunUpdates(session.updateList);
        exitCode = WriteReport(session);
    }
    return exitCode;
}
