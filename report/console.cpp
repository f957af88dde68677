#include "report/console.h"

#include <algorithm>
#include <cstdio>

#include "platform/win32.h"

namespace console {
namespace {

std::string* captureSink = nullptr;

// Console hosts before Windows 8 refuse one write much past 64 KiB; pieces of this many
// code units stay far below that on every host.
constexpr std::size_t kConsolePiece = 8192;

bool IsHighSurrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(std::uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

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

void AppendCodePoint(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::string EncodeUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t unit = static_cast<std::uint32_t>(text[i]) & 0xFFFF;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
            std::uint32_t low = static_cast<std::uint32_t>(text[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            unit = 0xFFFD;
        }
        AppendCodePoint(out, unit);
    }
    return out;
}

namespace {

void AppendUtf16(std::wstring& out, std::uint32_t codePoint) {
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
    } else {
        out.push_back(static_cast<wchar_t>(codePoint));
    }
}

// Narrow text for the console, read as the UTF-8 a redirected output would hold; every
// byte that starts no well-formed sequence shows as U+FFFD.
std::wstring DecodeUtf8(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 1;
        std::uint32_t codePoint = lead;
        std::uint32_t smallest = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1F;
            smallest = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0F;
            smallest = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07;
            smallest = 0x10000;
        } else if (lead >= 0x80) {
            length = 0;  // a continuation byte, or a lead no well-formed sequence has
        }
        bool wellFormed = length > 0 && i + length <= bytes.size();
        for (std::size_t k = 1; wellFormed && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            wellFormed = (next & 0xC0) == 0x80;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        if (!wellFormed || codePoint < smallest || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            out.push_back(static_cast<wchar_t>(0xFFFD));
            ++i;
            continue;
        }
        AppendUtf16(out, codePoint);
        i += length;
    }
    return out;
}

// Wide text as the console gets it: the same characters EncodeUtf8 writes for a
// redirected output, a lone surrogate included (as U+FFFD).
std::wstring ConsoleUnits(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size() + 1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint32_t unit = static_cast<std::uint32_t>(text[i]) & 0xFFFF;
        if (IsHighSurrogate(unit) && i + 1 < text.size() &&
            IsLowSurrogate(static_cast<std::uint32_t>(text[i + 1]) & 0xFFFF)) {
            out.push_back(static_cast<wchar_t>(unit));
            out.push_back(static_cast<wchar_t>(static_cast<std::uint32_t>(text[++i]) & 0xFFFF));
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            out.push_back(static_cast<wchar_t>(0xFFFD));
        } else {
            out.push_back(static_cast<wchar_t>(unit));
        }
    }
    return out;
}

// Hands the whole text to the console, in pieces that never split a surrogate pair.
// The count the console reports is not trusted past what it was offered, and a call
// that takes nothing ends the loop: what is left then goes out as bytes, so that no
// line is lost, and the last error is put back as the caller left it.
void WriteToConsole(const Destination& destination, std::wstring_view units) {
    std::size_t done = 0;
    while (done < units.size()) {
        std::size_t piece = std::min(kConsolePiece, units.size() - done);
        if (done + piece < units.size() &&
            IsHighSurrogate(static_cast<std::uint32_t>(units[done + piece - 1]))) {
            --piece;
        }
        DWORD written = 0;
        if (!win::WriteConsoleW(destination.console, units.data() + done, static_cast<DWORD>(piece),
                                &written, nullptr) ||
            written == 0) {
            win::SetLastError(destination.lastError);
            WriteBytes(EncodeUtf8(units.substr(done)), true);
            return;
        }
        done += std::min<std::size_t>(written, piece);
    }
}

void EmitWide(std::wstring_view text, bool lineEnd) {
    if (captureSink != nullptr) {
        captureSink->append(EncodeUtf8(text));
        if (lineEnd) {
            captureSink->push_back('\n');
        }
        return;
    }
    const Destination destination = StandardOutput();
    if (destination.console != nullptr) {
        std::wstring units = ConsoleUnits(text);
        if (lineEnd) {
            units.push_back(L'\n');
        }
        WriteToConsole(destination, units);
        return;
    }
    std::string bytes = EncodeUtf8(text);
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
        WriteToConsole(destination, DecodeUtf8(text));
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

std::wstring Widen(std::string_view ascii) {
    std::wstring out;
    out.reserve(ascii.size());
    for (char c : ascii) {
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return out;
}

}  // namespace console
