#include "report/console.h"

#include <algorithm>
#include <cstdio>

#include "base/utf8.h"
#include "platform/win32.h"

namespace console {
namespace {

std::string* captureSink = nullptr;

// Console hosts before Windows 8 refuse one write much past 64 KiB; pieces of this many
// code units stay far below that on every host.
constexpr std::size_t kConsolePiece = 8192;

void WriteBytes(std::string_view bytes, bool flush) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    if (flush) {
        std::fflush(stdout);
    }
}

// Where standard output goes: the console behind it, or nullptr when it is redirected
// to a file or a pipe (or the process has none). The check leaves the last error as it
// found it: GetConsoleMode fails on every redirected handle, and a line printed between
// a failed call and the caller's GetLastError must not change what that reads.
struct Destination {
    HANDLE console = nullptr;
    DWORD lastError = 0;
};

Destination StandardOutput() {
    Destination destination;
    destination.lastError = win::GetLastError();
    HANDLE out = win::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE && win::GetConsoleMode(out, &mode)) {
        destination.console = out;
    } else {
        win::SetLastError(destination.lastError);
    }
    return destination;
}

// Hands the whole text to the console, in pieces that never split a surrogate pair.
// The count the console reports is not trusted past what it was offered, and a call
// that takes nothing ends the loop: what is left then goes out as bytes, so that no
// line is lost, and the last error is put back as the caller left it.
void WriteToConsole(const Destination& destination, std::wstring_view units) {
    std::size_t done = 0;
    while (done < units.size()) {
        std::size_t piece = std::min(kConsolePiece, units.size() - done);
        if (done + piece < units.size() && utf8::DecodeUtf16(units, done + piece - 1).length == 2) {
            --piece;
        }
        DWORD written = 0;
        if (!win::WriteConsoleW(destination.console, units.data() + done, static_cast<DWORD>(piece),
                                &written, nullptr) ||
            written == 0) {
            win::SetLastError(destination.lastError);
            WriteBytes(utf8::FromUtf16(units.substr(done)), true);
            return;
        }
        done += std::min<std::size_t>(written, piece);
    }
}

void EmitWide(std::wstring_view text, bool lineEnd) {
    if (captureSink != nullptr) {
        captureSink->append(utf8::FromUtf16(text));
        if (lineEnd) {
            captureSink->push_back('\n');
        }
        return;
    }
    const Destination destination = StandardOutput();
    if (destination.console != nullptr) {
        // The characters utf8::FromUtf16 writes for a redirected output, a lone surrogate
        // included (as U+FFFD).
        std::wstring units = utf8::WellFormedUtf16(text);
        if (lineEnd) {
            units.push_back(L'\n');
        }
        WriteToConsole(destination, units);
        return;
    }
    std::string bytes = utf8::FromUtf16(text);
    if (lineEnd) {
        bytes.push_back('\n');
    }
    WriteBytes(bytes, lineEnd);
}

}  // namespace

void WideLine(std::wstring_view text) {
    EmitWide(text, true);
}

void Narrow(std::string_view text) {
    if (captureSink != nullptr) {
        captureSink->append(text);
        return;
    }
    const Destination destination = StandardOutput();
    if (destination.console != nullptr) {
        // Read as the UTF-8 a redirected output would hold; each byte of an ill-formed
        // sequence shows as one U+FFFD.
        WriteToConsole(destination, utf8::ToUtf16(text, utf8::Replacement::PerByte));
        return;
    }
    WriteBytes(text, false);
}

void WideFormatted(std::wstring_view text) {
    EmitWide(text, false);
}

void CaptureInto(std::string* sink) {
    if (captureSink == nullptr) {
        std::fflush(stdout);
    }
    captureSink = sink;
}

std::string HexLower(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
    return text;
}

std::string HexUpper(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value));
    return text;
}

std::string Decimal(std::int64_t value) {
    return std::to_string(value);
}

}  // namespace console
