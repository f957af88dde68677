// Every fuzz input the tree carries, replayed through its target in the ordinary suite:
// the seed corpus (fuzz/corpus/<target>/) must find nothing, and so must every
// regression input (fuzz/regressions/<target>/) once the fault it reproduces is mended.
#ifdef FWUPDATE_FUZZ_DIR

#include <gtest/gtest.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/harness/choices.h"
#include "fuzz/harness/corpus.h"
#include "fuzz/harness/findings.h"
#include "fuzz/harness/program_input.h"
#include "fuzz/harness/watchdog.h"

namespace {

namespace fs = std::filesystem;

// Regression inputs of faults whose mends are not merged yet: each must still find the
// invariant named, until its mend lands; then its row goes and the input must find
// nothing. Every fault found so far is mended, so the table is empty.
struct AwaitingMend {
    const char* input;      // under fuzz/regressions/program/
    const char* invariant;  // what it finds today
    const char* fault;
    bool hangs;  // the fault is a hang: the input is not run until the row goes
};

const std::vector<AwaitingMend> kAwaitingMends = {};

const AwaitingMend* Awaiting(const std::string& target, const std::string& name) {
    for (const AwaitingMend& row : kAwaitingMends) {
        if (target == "program" && name == row.input) {
            return &row;
        }
    }
    return nullptr;
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct StoredInput {
    std::string kind;  // "corpus" or "regressions"
    std::string target;
    std::string name;
    fs::path path;
};

std::vector<StoredInput> StoredInputs() {
    std::vector<StoredInput> inputs;
    for (const char* kind : {"corpus", "regressions"}) {
        for (const fuzzharness::Target& target : fuzzharness::Targets()) {
            const fs::path directory = fs::path(FWUPDATE_FUZZ_DIR) / kind / target.name;
            if (!fs::is_directory(directory)) {
                continue;
            }
            std::vector<fs::path> files;
            for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
            std::sort(files.begin(), files.end());
            for (const fs::path& file : files) {
                inputs.push_back({kind, target.name, file.filename().string(), file});
            }
        }
    }
    return inputs;
}

std::string Describe(const fuzzharness::Findings& findings) {
    std::string text;
    for (const fuzzharness::Finding& finding : findings) {
        text += "\n  " + finding.invariant + ": " + finding.detail;
    }
    return text;
}

// Failure messages name the file, not the bytes of the record.
void PrintTo(const StoredInput& input, std::ostream* os) {
    *os << input.path.string();
}

class FuzzStoredInput : public testing::TestWithParam<StoredInput> {};

TEST_P(FuzzStoredInput, FindsNothing) {
    const StoredInput& input = GetParam();
    const fuzzharness::Target* target = fuzzharness::FindTarget(input.target);
    ASSERT_NE(target, nullptr);
    const AwaitingMend* awaiting = Awaiting(input.target, input.name);
    if (awaiting != nullptr && awaiting->hangs) {
        GTEST_SKIP() << "not run until mended: " << awaiting->fault;
    }
    fuzzharness::Findings findings;
    {
        fuzzharness::Watchdog watchdog;
        watchdog.Starting(input.path.string());
        findings = target->check(ReadFile(input.path));
    }
    if (awaiting == nullptr) {
        EXPECT_TRUE(findings.empty()) << input.path.string() << Describe(findings);
        return;
    }
    const bool found = std::any_of(findings.begin(), findings.end(), [&](const auto& finding) {
        return finding.invariant == awaiting->invariant;
    });
    ASSERT_TRUE(found) << input.name << " no longer finds " << awaiting->invariant
                       << ": if the mend of \"" << awaiting->fault
                       << "\" is merged, delete its row from kAwaitingMends" << Describe(findings);
    GTEST_SKIP() << "awaits the mend of: " << awaiting->fault << Describe(findings);
}

std::string TestName(const testing::TestParamInfo<StoredInput>& info) {
    std::string name = info.param.kind + "_" + info.param.target + "_" + info.param.name;
    std::replace_if(
        name.begin(), name.end(),
        [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(FuzzTree, FuzzStoredInput, testing::ValuesIn(StoredInputs()), TestName);

// The files the corpus tool writes are what its records give today: a change of an
// input format that would quietly turn the seeds and reproducers into other inputs
// fails here until `fwupdate-fuzz corpus fuzz` is run again.
TEST(FuzzCorpus, TreeHoldsWhatTheRecordsGive) {
    for (const fuzzcorpus::GeneratedInput& input : fuzzcorpus::GeneratedInputs()) {
        const fs::path path =
            fs::path(FWUPDATE_FUZZ_DIR) / input.directory / input.target / input.name;
        ASSERT_TRUE(fs::exists(path))
            << path.string() << " is missing: run fwupdate-fuzz corpus fuzz";
        EXPECT_EQ(ReadFile(path), input.bytes)
            << path.string() << " is stale: run fwupdate-fuzz corpus fuzz";
    }
    for (const AwaitingMend& row : kAwaitingMends) {
        EXPECT_TRUE(fs::exists(fs::path(FWUPDATE_FUZZ_DIR) / "regressions" / "program" / row.input))
            << row.input;
    }
}

// The writer puts each choice where FuzzedDataProvider takes it from: integers of every
// width from the end, most significant byte first, byte strings from the front.
TEST(FuzzInput, WriterFeedsFuzzedDataProvider) {
    fuzzinput::Writer writer;
    writer.Int<std::uint8_t>(0, 0, 0);  // a range of one value takes no byte
    writer.Int<std::uint8_t>(3, 9, 7);
    writer.Int<std::uint16_t>(0, 1023, 1000);
    writer.Int<std::uint32_t>(0, 0xFFFFFFFFu, 0xDEADBEEFu);
    writer.Int<std::uint64_t>(0, ~0ull, 0x0123456789ABCDEFull);
    writer.Bool(true);
    writer.Bytes(8, {1, 2, 3});
    writer.Rest({9, 9});
    const Bytes input = writer.Finish();

    FuzzedDataProvider fdp(input.data(), input.size());
    EXPECT_EQ(fdp.ConsumeIntegralInRange<std::uint8_t>(0, 0), 0);
    EXPECT_EQ(fdp.ConsumeIntegralInRange<std::uint8_t>(3, 9), 7);
    EXPECT_EQ(fdp.ConsumeIntegralInRange<std::uint16_t>(0, 1023), 1000);
    EXPECT_EQ(fdp.ConsumeIntegral<std::uint32_t>(), 0xDEADBEEFu);
    EXPECT_EQ(fdp.ConsumeIntegral<std::uint64_t>(), 0x0123456789ABCDEFull);
    EXPECT_TRUE(fdp.ConsumeBool());
    const std::size_t length = fdp.ConsumeIntegralInRange<std::size_t>(0, 8);
    EXPECT_EQ(fdp.ConsumeBytes<std::uint8_t>(length), (Bytes{1, 2, 3}));
    EXPECT_EQ(fdp.ConsumeRemainingBytes<std::uint8_t>(), (Bytes{9, 9}));
}

// Every whole-program input reads back as the record it was written from.
TEST(FuzzInput, ProgramInputsRoundTrip) {
    for (const fuzzcorpus::GeneratedInput& input : fuzzcorpus::GeneratedInputs()) {
        if (input.target != "program") {
            continue;
        }
        const fuzzprogram::ProgramInput decoded = fuzzprogram::DecodeProgramInput(input.bytes);
        EXPECT_EQ(fuzzprogram::EncodeProgramInput(decoded), input.bytes) << input.name;
        EXPECT_EQ(fuzzprogram::DecodeProgramInput(fuzzprogram::EncodeProgramInput(decoded)),
                  decoded)
            << input.name;
    }
}

}  // namespace

#endif  // FWUPDATE_FUZZ_DIR
