// What reaches standard output: UTF-16 through WriteConsoleW when it is a console, the
// same bytes as ever when it is redirected to a file or a pipe.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "app/entry.h"
#include "base/utf8.h"
#include "platform/win32.h"
#include "report/console.h"
#include "sim/models/machine.h"
#include "sim/models/text.h"
#include "sim/sim.h"
#include "test_support.h"

namespace {

using Json = nlohmann::json;
using Output = sim::Machine::StandardOutput;

// A last error no console call leaves behind by itself.
constexpr DWORD kCallersError = 1117;

struct Written {
    std::wstring screen;
    std::string bytes;  // what reached the process's own standard output
    DWORD lastError = 0;
    Json consoleWrites;
};

Written WriteWith(const Output& output, void (*write)()) {
    sim::Machine machine;
    machine.standardOutput = output;
    Written written;
    sim::MachineInstall install(machine);
    win::SetLastError(kCallersError);
    testing::internal::CaptureStdout();
    write();
    written.bytes = testing::internal::GetCapturedStdout();
    written.lastError = win::GetLastError();
    written.screen = machine.standardOutput.screen;
    written.consoleWrites = CallsOf(TraceRecords(), "WriteConsoleW");
    return written;
}

Output Console() {
    Output output;
    output.isConsole = true;
    return output;
}

struct LineCase {
    const char* name;
    void (*write)();
    std::wstring screen;  // UTF-16 code units, as the console gets them
    std::string bytes;    // what a redirected output gets, as it always has
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class ConsoleLine : public testing::TestWithParam<LineCase> {};

TEST_P(ConsoleLine, ReachesAConsoleAsUtf16) {
    const LineCase& c = GetParam();
    const Written written = WriteWith(Console(), c.write);
    EXPECT_EQ(written.screen, c.screen);
    EXPECT_EQ(written.bytes, "") << "nothing may go around the console";
    EXPECT_EQ(written.lastError, kCallersError);
    ASSERT_FALSE(written.consoleWrites.empty());
    EXPECT_EQ(At(written.consoleWrites, 0, "ok"), true);
}

TEST_P(ConsoleLine, ReachesARedirectedOutputAsTheSameBytes) {
    const LineCase& c = GetParam();
    const Written written = WriteWith(Output{}, c.write);
    EXPECT_EQ(written.bytes, c.bytes);
    EXPECT_EQ(written.screen, L"");
    EXPECT_TRUE(written.consoleWrites.empty());
    EXPECT_EQ(written.lastError, kCallersError)
        << "GetConsoleMode fails on a redirected handle; the caller's error must survive it";
    // The tests' capture sees exactly what a redirected output gets.
    sim::Machine machine;
    sim::MachineInstall install(machine);
    ConsoleCapture capture;
    c.write();
    EXPECT_EQ(capture.Text(), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ConsoleLine,
    testing::Values(
        LineCase{"AsciiLine", [] { console::WideLine(L"[ERROR] Invalid Parameter"); },
                 L"[ERROR] Invalid Parameter\n", "[ERROR] Invalid Parameter\n"},
        LineCase{"EmptyLine", [] { console::WideLine(L""); }, L"\n", "\n"},
        LineCase{"AccentedModel",
                 [] { console::WideLine(L" Model Number : KORVANE Q\u00e9\u00fc 1TB"); },
                 L" Model Number : KORVANE Q\u00e9\u00fc 1TB\n",
                 " Model Number : KORVANE Q\xC3\xA9\xC3\xBC 1TB\n"},
        // Written as code units: on Linux a wchar_t literal past U+FFFF would be one unit.
        LineCase{"CjkAndBeyondTheBmp",
                 [] { console::WideLine(L" Serial Number : \u4e2d\u6587 \xD83D\xDE00"); },
                 L" Serial Number : \u4e2d\u6587 \xD83D\xDE00\n",
                 " Serial Number : \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80\n"},
        LineCase{"LoneSurrogate", [] { console::WideLine(L"x\xDC00y"); }, L"x\xFFFDy\n",
                 "x\xEF\xBF\xBDy\n"},
        LineCase{"HighSurrogateWithoutItsPair", [] { console::WideLine(L"x\xD800y"); },
                 L"x\xFFFDy\n", "x\xEF\xBF\xBDy\n"},
        LineCase{"HighSurrogateLast", [] { console::WideFormatted(L"x\xD800"); }, L"x\xFFFD",
                 "x\xEF\xBF\xBD"},
        LineCase{"FormattedMessage",
                 [] { console::WideFormatted(L"  [PASS] Firmware activation is succeeded.\n\n"); },
                 L"  [PASS] Firmware activation is succeeded.\n\n",
                 "  [PASS] Firmware activation is succeeded.\n\n"},
        LineCase{"NarrowMessage",
                 [] { console::Narrow("  [ERROR] Failed to get disk handle: 0x5\n\n"); },
                 L"  [ERROR] Failed to get disk handle: 0x5\n\n",
                 "  [ERROR] Failed to get disk handle: 0x5\n\n"},
        LineCase{"NarrowUtf8AndStrayBytes", [] { console::Narrow("caf\xC3\xA9 \xFF\xC3!"); },
                 L"caf\u00e9 \xFFFD\xFFFD!", "caf\xC3\xA9 \xFF\xC3!"}),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

// A long text goes in pieces; none may end between the two halves of a surrogate pair,
// and a console that takes less than it is offered still gets every unit, in order.
std::wstring LongText() {
    std::wstring text(8191, L'a');
    text += L"\xD83D\xDE00";
    text += std::wstring(9000, L'b');
    return text;
}

void WriteLongText() {
    console::WideFormatted(LongText());
}

TEST(ConsolePieces, LongTextArrivesWholeWithoutSplittingAPair) {
    struct Case {
        const char* name;
        DWORD charsPerWrite;
    };
    for (const Case& c : {Case{"ConsoleTakesAll", 0}, Case{"ConsoleTakesSeven", 7}}) {
        SCOPED_TRACE(c.name);
        Output output = Console();
        output.charsPerWrite = c.charsPerWrite;
        const Written written = WriteWith(output, WriteLongText);
        EXPECT_EQ(written.screen, LongText());
        EXPECT_EQ(written.bytes, "");
        ASSERT_GE(written.consoleWrites.size(), 2u);
        for (const Json& write : written.consoleWrites) {
            EXPECT_LE(As<int>(write, "count"), 8192);
        }
        if (c.charsPerWrite == 0) {
            EXPECT_EQ(At(written.consoleWrites, 0, "count"), 8191)
                << "the pair goes whole into piece 2";
        }
    }
}

TEST(ConsolePieces, AFailingConsoleLosesNoText) {
    Output output = Console();
    output.writesFail = true;
    const Written written = WriteWith(output, [] {
        console::WideLine(L"Model Number : Q\u00e9");
        console::Narrow("[PASS]\n");
    });
    EXPECT_EQ(written.screen, L"");
    EXPECT_EQ(written.bytes, "Model Number : Q\xC3\xA9\n[PASS]\n");
    EXPECT_EQ(written.lastError, kCallersError);
}

// The whole program, on a machine whose drive reports non-ASCII model and serial
// texts: a console shows exactly the characters a redirected output's UTF-8 holds.
constexpr char kAccentedDrive[] = R"({"localTime": "2026-12-07T21:05:09", "disks": [
    {"attach": "inbox", "drive": {"mn": "KORVANE QZRX4C7 1TB \u00e9", "sn": "KV\u00fc01"}}]})";

std::int32_t RunOnce(sim::Machine& machine) {
    std::wstring name = L"fwupdate.exe";
    wchar_t* argv[] = {name.data(), nullptr};
    sim::MachineInstall install(machine);
    return ToolMain(1, argv);
}

TEST(ConsoleProgram, ShowsWhatARedirectedRunWritesForEveryLine) {
    sim::Machine redirected = MachineFrom(kAccentedDrive);
    testing::internal::CaptureStdout();
    const std::int32_t redirectedCode = RunOnce(redirected);
    const std::string bytes = testing::internal::GetCapturedStdout();

    sim::Machine captured = MachineFrom(kAccentedDrive);
    std::string captureText;
    {
        ConsoleCapture capture;
        RunOnce(captured);
        captureText = capture.Text();
    }
    EXPECT_EQ(bytes, captureText) << "a redirected run writes what the tests have always seen";

    sim::Machine onConsole = MachineFrom(kAccentedDrive);
    onConsole.standardOutput.isConsole = true;
    testing::internal::CaptureStdout();
    const std::int32_t consoleCode = RunOnce(onConsole);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(consoleCode, redirectedCode);
    EXPECT_EQ(redirectedCode, 1602);

    const std::wstring& screen = onConsole.standardOutput.screen;
    EXPECT_EQ(screen, utf8::ToUtf16(bytes));
    for (const wchar_t* line : {L"\n Model Number : KORVANE QZRX4C7 1TB ", L"\n Serial Number : KV",
                                L"\n[Disk #1]\n", L"\n[Final Result]\n", L"rights reserved.\n"}) {
        EXPECT_NE(screen.find(line), std::wstring::npos) << utf8::FromUtf16(line);
    }
    const std::size_t model = screen.find(L" Model Number : ");
    ASSERT_NE(model, std::wstring::npos);
    const std::wstring modelLine = screen.substr(model, screen.find(L'\n', model) - model);
    EXPECT_TRUE(std::any_of(modelLine.begin(), modelLine.end(), [](wchar_t unit) {
        return (static_cast<std::uint32_t>(unit) & 0xFFFF) > 0x7F;
    })) << "the drive's non-ASCII character reaches the console as a UTF-16 unit";
}

}  // namespace
