// Process-level calls: last error, module handle, command line, clock, debug output,
// text conversion and standard output.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

#include "base/utf8.h"
#include "platform/win32.h"
#include "sim/models/text.h"
#include "sim/win32/binding.h"
#include "sim/win32/runtime.h"

#ifndef ERROR_MOD_NOT_FOUND
#define ERROR_MOD_NOT_FOUND 126u
#endif

namespace {

// The standard handles the process starts with. Below the first number the handle
// table hands out, so no file handle is ever mistaken for one.
constexpr std::uintptr_t kStdInput = 0x10;
constexpr std::uintptr_t kStdOutput = 0x14;
constexpr std::uintptr_t kStdError = 0x18;

HANDLE StdHandleValue(std::uintptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

bool IsConsoleOutput(HANDLE handle) {
    return handle == StdHandleValue(kStdOutput) && sim::CurrentMachine().standardOutput.isConsole;
}

}  // namespace

namespace win {

using sim::State;
using sim::TraceRecord;

DWORD GetLastError() {
    const DWORD error = State().lastError;
    TraceRecord("GetLastError").Number("result", error).Commit(true);
    return error;
}

void SetLastError(DWORD error) {
    State().lastError = error;
    TraceRecord("SetLastError").Number("value", error).Commit(true);
}

HMODULE GetModuleHandleW(const wchar_t* moduleName) {
    TraceRecord record("GetModuleHandleW");
    record.WideOrNull("module", moduleName);
    HMODULE module = nullptr;
    if (moduleName == nullptr) {
        if (!sim::CurrentMachine().moduleHandleFails) {
            // The image base a 64-bit executable is linked at.
            module = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x140000000ull));
        }
    } else {
        const std::wstring name = sim::LowerCase(moduleName);
        if (name == L"kernel32.dll" || name == L"kernel32" || name == L"setupapi.dll" ||
            name == L"setupapi" || name == L"ntdll.dll" || name == L"ntdll") {
            module = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x7FFB10000000ull));
        }
    }
    if (module == nullptr) {
        State().lastError = ERROR_MOD_NOT_FOUND;
    }
    record.Number("result", sim::HandleNumber(module)).Commit(module != nullptr);
    return module;
}

wchar_t* GetCommandLineW() {
    sim::Runtime& rt = State();
    // One buffer for the process lifetime, as Windows keeps it; it is refreshed only
    // when the machine's text changed, so earlier pointers stay valid meanwhile.
    if (rt.commandLineBuffer != sim::CurrentMachine().commandLine) {
        rt.commandLineBuffer = sim::CurrentMachine().commandLine;
    }
    TraceRecord("GetCommandLineW").Wide("result", rt.commandLineBuffer).Commit(true);
    return rt.commandLineBuffer.data();
}

void GetLocalTime(SYSTEMTIME* time) {
    SYSTEMTIME now{};
    if (const auto& fixed = sim::CurrentMachine().localTime) {
        now = *fixed;
    } else {
        const auto clock = std::chrono::system_clock::now();
        const std::time_t seconds = std::chrono::system_clock::to_time_t(clock);
        const auto millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(clock.time_since_epoch())
                .count() %
            1000;
        std::tm local{};
#ifdef _WIN32
        localtime_s(&local, &seconds);
#else
        localtime_r(&seconds, &local);
#endif
        now.wYear = static_cast<WORD>(local.tm_year + 1900);
        now.wMonth = static_cast<WORD>(local.tm_mon + 1);
        now.wDayOfWeek = static_cast<WORD>(local.tm_wday);
        now.wDay = static_cast<WORD>(local.tm_mday);
        now.wHour = static_cast<WORD>(local.tm_hour);
        now.wMinute = static_cast<WORD>(local.tm_min);
        now.wSecond = static_cast<WORD>(local.tm_sec);
        now.wMilliseconds = static_cast<WORD>(millis);
    }
    if (time != nullptr) {
        *time = now;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03u",
                  static_cast<unsigned>(now.wYear), static_cast<unsigned>(now.wMonth),
                  static_cast<unsigned>(now.wDay), static_cast<unsigned>(now.wHour),
                  static_cast<unsigned>(now.wMinute), static_cast<unsigned>(now.wSecond),
                  static_cast<unsigned>(now.wMilliseconds));
    TraceRecord("GetLocalTime").Text("time", text).Commit(true);
}

void OutputDebugStringW(const wchar_t* text) {
    TraceRecord record("OutputDebugStringW");
    record.WideOrNull("debug", text).Commit(true);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* multiByte, int multiByteCount,
                        wchar_t* wide, int wideCount) {
    TraceRecord record("MultiByteToWideChar");
    record.Number("codePage", codePage)
        .Number("flags", flags)
        .Number("inCount", multiByteCount)
        .Number("wideCount", wideCount);
    auto fail = [&](DWORD error) {
        State().lastError = error;
        record.Number("result", 0).Commit(false);
        return 0;
    };
    if (codePage != CP_UTF8 || flags != 0 || multiByte == nullptr || multiByteCount == 0 ||
        multiByteCount < -1 || wideCount < 0 || (wide == nullptr && wideCount > 0) ||
        (wide != nullptr &&
         static_cast<const void*>(wide) == static_cast<const void*>(multiByte))) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    // -1: the text runs to its terminator, which is converted with it.
    const std::size_t count = multiByteCount == -1 ? std::char_traits<char>::length(multiByte) + 1
                                                   : static_cast<std::size_t>(multiByteCount);
    const std::wstring converted = utf8::ToUtf16(std::string_view(multiByte, count));
    const int needed = static_cast<int>(converted.size());
    if (wideCount == 0) {
        record.Number("result", needed).Commit(true);
        return needed;
    }
    if (needed > wideCount) {
        // Windows fills what fits before it gives up.
        std::copy_n(converted.begin(), wideCount, wide);
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::copy(converted.begin(), converted.end(), wide);
    record.Wide("text", converted).Number("result", needed).Commit(true);
    return needed;
}

HANDLE GetStdHandle(DWORD stdHandle) {
    TraceRecord record("GetStdHandle");
    record.Number("which", static_cast<std::int32_t>(stdHandle));
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (stdHandle == STD_INPUT_HANDLE) {
        handle = StdHandleValue(kStdInput);
    } else if (stdHandle == STD_OUTPUT_HANDLE) {
        handle = StdHandleValue(kStdOutput);
    } else if (stdHandle == STD_ERROR_HANDLE) {
        handle = StdHandleValue(kStdError);
    } else {
        State().lastError = ERROR_INVALID_HANDLE;
    }
    record.Number("result", sim::HandleNumber(handle)).Commit(handle != INVALID_HANDLE_VALUE);
    return handle;
}

BOOL GetConsoleMode(HANDLE consoleHandle, DWORD* mode) {
    TraceRecord record("GetConsoleMode");
    record.Number("handle", sim::HandleNumber(consoleHandle));
    if (mode == nullptr) {
        State().lastError = ERROR_INVALID_PARAMETER;
        record.Commit(false);
        return FALSE;
    }
    // A redirected handle is a file or a pipe, which has no console mode.
    if (!IsConsoleOutput(consoleHandle)) {
        State().lastError = ERROR_INVALID_HANDLE;
        record.Commit(false);
        return FALSE;
    }
    *mode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
    record.Number("mode", *mode).Commit(true);
    return TRUE;
}

BOOL WriteConsoleW(HANDLE consoleOutput, const wchar_t* buffer, DWORD charsToWrite,
                   DWORD* charsWritten, void* reserved) {
    TraceRecord record("WriteConsoleW");
    record.Number("handle", sim::HandleNumber(consoleOutput)).Number("count", charsToWrite);
    sim::Machine::StandardOutput& out = sim::CurrentMachine().standardOutput;
    if (!IsConsoleOutput(consoleOutput)) {
        return record.Fail(ERROR_INVALID_HANDLE);
    }
    if ((buffer == nullptr && charsToWrite > 0) || reserved != nullptr) {
        return record.Fail(ERROR_INVALID_PARAMETER);
    }
    if (out.writesFail) {
        return record.Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    const DWORD taken =
        out.charsPerWrite == 0 ? charsToWrite : std::min(charsToWrite, out.charsPerWrite);
    std::wstring units(buffer, buffer + taken);
    for (wchar_t& unit : units) {
        unit = static_cast<wchar_t>(static_cast<std::uint32_t>(unit) & 0xFFFF);
    }
    out.screen += units;
    if (charsWritten != nullptr) {
        *charsWritten = taken;
    }
    record.Wide("text", units).Number("written", taken).Commit(true);
    return TRUE;
}

}  // namespace win

namespace sim {

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    // The quoting CommandLineToArgvW undoes: backslashes double only before a quote.
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
        } else {
            out.append(backslashes, L'\\');
        }
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

}  // namespace sim
