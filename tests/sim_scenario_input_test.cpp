// The loader on hostile input: every refusal one printable line, nothing after a NUL
// lost, bytes after the value refused, deep or wide documents and large machines
// handled in time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "sim/models/machine.h"
#include "sim/sim.h"

namespace {

using namespace std::string_literals;

std::string Refusal(const std::string& text) {
    sim::Machine machine;
    std::string error;
    EXPECT_FALSE(sim::LoadScenarioText(text, "s.json", machine, error));
    return error;
}

// The best of `runs` loads of `text`, in seconds; the last machine loaded goes to
// `machine`.
double SecondsToLoad(const std::string& text, bool loads, int runs = 1,
                     sim::Machine* machine = nullptr) {
    double best = 1e9;
    for (int run = 0; run < runs; ++run) {
        sim::Machine loaded;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(sim::LoadScenarioText(text, "s.json", loaded, error), loads) << error;
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (machine != nullptr) {
            *machine = std::move(loaded);
        }
    }
    return best;
}

// Eight times the input must cost about eight times the time, not sixty-four as a
// quadratic step makes it; the bound sits between, with room for a loaded machine.
constexpr double kGrowthBound = 40.0;

// Far above what a sound loader takes in an optimised build; sanitised and unoptimised
// builds are held to the growth bound alone.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
constexpr double kSecondsBound = 3.0;
#else
constexpr double kSecondsBound = 1e9;
#endif

TEST(SimScenarioInput, EachRefusalIsOnePrintableLine) {
    const std::string inbox = R"({"disks": [{"attach": "inbox"}]})";
    const struct {
        const char* name;
        std::string text;
        std::string message;
    } cases[] = {
        {"escaped controls in a value", R"({"disks": [{"attach": "a\u0000b\nc\td\u001b"}]})",
         R"(s.json: disks[0].attach: "a\u0000b\nc\td\u001b" is not one of "inbox", "rst", )"
         R"("raid-volume", "other")"},
        {"escaped controls in a key", R"({"disks": [{"attach": "inbox", "x\u0000y\r\n": 1}]})",
         R"(s.json: disks[0].x\u0000y\r\n: unknown key (known here: attach, controller, pathId, )"
         R"(drive, parent, instanceId, hardwareIds, locationInfo, interfacePath, deviceNumber, )"
         R"(openable, deviceNumberFails, faults))"},
        {"a key given twice with a NUL in it", R"({"a\u0000": 1, "a\u0000": 2})",
         R"(s.json: a\u0000: the key appears twice)"},
        {"a raw tab in a string", "{\"disks\": [{\"attach\": \"in\tbox\"}]}",
         "s.json: invalid JSON at line 1, column 26: syntax error while parsing value - invalid "
         "string: control character U+0009 (HT) must be escaped to \\u0009 or \\t; last read: "
         "'\"in<U+0009>'"},
        {"bytes after the value", inbox + " x",
         "s.json: invalid JSON at line 1, column 34: bytes "
         "after the JSON value"},
        {"a second value", inbox + "\n" + inbox,
         "s.json: invalid JSON at line 2, column 1: bytes after the JSON value"},
        {"bytes after a NUL", inbox + "\0garbage"s,
         "s.json: invalid JSON at line 1, column 33: bytes after the JSON value"},
        {"a NUL after white space", inbox + "\n  \0"s,
         "s.json: invalid JSON at line 2, column 3: bytes after the JSON value"},
        {"a NUL inside a string", "{\"disks\": [{\"attach\": \"in\0box\"}]}"s,
         "s.json: invalid JSON at line 1, column 26: a NUL byte"},
        {"a NUL where a value goes", "{\"disks\": \0[]}"s,
         "s.json: invalid JSON at line 1, column 11: a NUL byte"},
        {"a syntax error before a NUL", "{\"disks\" []}\0"s,
         "s.json: invalid JSON at line 1, column 10: syntax error while parsing object separator "
         "- unexpected '['; expected ':'"},
        {"a byte that is not UTF-8 in a message", "{\"\xFF\": 1}",
         "s.json: invalid JSON at line 1, column 3: syntax error while parsing object key - "
         "invalid string: ill-formed UTF-8 byte; last read: '\"\\xff'; expected string literal"},
        {"nesting past the limit", std::string(65, '['),
         "s.json: at line 1, column 65: objects and arrays nested more than 64 levels deep"},
        {"nesting past the limit inside a scenario",
         "{\"disks\": [\n" + std::string(62, '[') + "\"[\", {",
         "s.json: at line 2, column 68: objects and arrays nested more than 64 levels deep"},
        {"nesting at the limit reaches the reader",
         "{\"x\": " + std::string(63, '[') + std::string(63, ']') + "}",
         "s.json: x: unknown key (known here: controllers, disks, localTime, moduleHandleFails)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string error = Refusal(c.text);
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(error.find_first_of("\n\r\t"s + '\0'), std::string::npos);
    }
}

TEST(SimScenarioInput, FilesThatAreNoScenarioAreNamedAsSuch) {
    const std::filesystem::path dir =
        std::filesystem::path(testing::TempDir()) / "sim-scenario-input";
    std::filesystem::create_directories(dir);
    // Not "nul.json": Windows opens any name "NUL.<ext>" as its null device.
    const std::string withNul = (dir / "embedded-nul.json").string();
    std::ofstream(withNul, std::ios::binary) << "{}\0{}"s;
    const struct {
        const char* name;
        std::string path;
        std::string message;
    } cases[] = {
        {"a directory", dir.string(), dir.string() + ": is a directory, not a scenario file"},
        {"a missing file", (dir / "missing.json").string(),
         (dir / "missing.json").string() +
             ": cannot read the scenario file: No such file or directory"},
        {"a file read whole, past its NUL", withNul,
         withNul + ": invalid JSON at line 1, column 3: bytes after the JSON value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine machine;
        std::string error;
        EXPECT_FALSE(sim::LoadScenarioFile(c.path, machine, error));
        EXPECT_EQ(error, c.message);
    }
    std::filesystem::remove_all(dir);
}

std::string Disks(int count) {
    std::string text = R"({"controllers": [{"id": "rst0"}], "disks": [)";
    for (int i = 0; i < count; ++i) {
        text += i == 0 ? "" : ", ";
        text += i % 3 == 0 ? R"({"attach": "inbox"})"
                : i % 3 == 1
                    ? R"({"attach": "other", "parent": "PCI\\VEN_1\\SAME"})"
                    : R"({"attach": "inbox", "drive": {"id": "d)" + std::to_string(i) + R"("}})";
    }
    return text +
           R"(, {"attach": "rst", "controller": "rst0"}, {"attach": "raid-volume", "controller": "rst0"}]})";
}

TEST(SimScenarioInput, SixteenThousandDisksLoadInLinearTime) {
    // It took 16 s when each step searched every device or drive made before it.
    const double small = SecondsToLoad(Disks(2000), true, 3);
    sim::Machine machine;
    const double large = SecondsToLoad(Disks(16000), true, 1, &machine);
    EXPECT_LT(large, kSecondsBound);
    EXPECT_LT(large, kGrowthBound * small) << small << " s for 2,000 disks, " << large;
    ASSERT_EQ(machine.disks.size(), 16002u);
    EXPECT_EQ(machine.disks.back().deviceNumber, 16001u);
    // Each inbox disk hangs from a controller node of its own; the other maker's disks
    // share one parent, so one node serves them all.
    std::size_t parents = 0;
    for (const sim::Device& device : machine.devices) {
        parents += device.target.kind == sim::DeviceTarget::Kind::Unset ? 1 : 0;
    }
    EXPECT_EQ(parents, 16000 - 16000 / 3 + 1);
}

TEST(SimScenarioInput, WideAndDeepDocumentsAreRefusedInTime) {
    auto wide = [](int keys) {
        std::string text = R"({"disks": [{"attach": "inbox", "faults": {"properties": {)";
        for (int i = 0; i < keys; ++i) {
            text += (i == 0 ? "\"k" : ", \"k") + std::to_string(i) + "\": 0";
        }
        return text + "}}}]}";
    };
    const double small = SecondsToLoad(wide(25000), false, 3);
    const double large = SecondsToLoad(wide(200000), false, 2);
    EXPECT_LT(large, kSecondsBound);
    EXPECT_LT(large, kGrowthBound * small) << small << " s for 25,000 keys, " << large;
    // Refused at level 65, however deep the rest goes.
    const double deep = SecondsToLoad(std::string(60000, '[') + std::string(60000, ']'), false, 2);
    EXPECT_LT(deep, kSecondsBound);
}

}  // namespace
