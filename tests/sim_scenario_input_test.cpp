// The loader on hostile input: every refusal one printable line, nothing after a NUL
// lost, and deep or wide documents answered without running away.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "sim/models/machine.h"
#include "sim/sim.h"
#include "test_support.h"

namespace {

using namespace std::string_literals;

TEST(SimScenarioInput, EachRefusalIsOnePrintableLine) {
    const std::string inbox = R"({"disks": [{"attach": "inbox"}]})";
    std::string wide = R"({"disks": [{"attach": "inbox", "faults": {"properties": {"k0": 0)";
    for (int i = 1; i < 100000; ++i) {
        wide += ", \"k" + std::to_string(i) + "\": 0";
    }
    wide += "}}}]}";
    const struct {
        const char* name;
        std::string text;
        std::string message;
    } cases[] = {
        {"escaped controls in a value", R"({"disks": [{"attach": "a\u0000b\nc\td\u001b"}]})",
         R"(s.json: disks[0].attach: "a\u0000b\nc\td\u001b" is not one of "inbox", "rst", )"
         R"("raid-volume", "other")"},
        {"a raw tab in a string", "{\"disks\": [{\"attach\": \"in\tbox\"}]}",
         "s.json: invalid JSON at line 1, column 26: syntax error while parsing value - invalid "
         "string: control character U+0009 (HT) must be escaped to \\u0009 or \\t; last read: "
         "'\"in<U+0009>'"},
        {"a second value", inbox + "\n" + inbox,
         "s.json: invalid JSON at line 2, column 1: syntax error while parsing value - "
         "unexpected '{'; expected end of input"},
        {"a NUL after the value, and more", inbox + "\n  \0garbage"s,
         "s.json: invalid JSON at line 2, column 3: bytes after the JSON value"},
        {"a byte that is not UTF-8 in a message", "{\"\xFF\": 1}",
         "s.json: invalid JSON at line 1, column 3: syntax error while parsing object key - "
         "invalid string: ill-formed UTF-8 byte; last read: '\"\\xff'; expected string literal"},
        {"60,000 levels deep", std::string(60000, '[') + std::string(60000, ']'),
         "s.json: a scenario is a JSON object, found an array"},
        {"100,000 keys in one object", wide,
         "s.json: disks[0].faults.properties.k0: unknown key (known here: parent, instanceId, "
         "hardwareIds, locationInfo, driverDescription, interfaceDetail)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string error = LoadError(c.text, "s.json");
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

}  // namespace
