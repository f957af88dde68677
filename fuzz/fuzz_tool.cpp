// fwupdate-fuzz, the fuzz inputs' helper:
//
//   fwupdate-fuzz corpus FUZZ-DIR   writes the seed corpus and the known-fault reproducers
//                                   (fuzz/harness/corpus.h) under FUZZ-DIR, replacing the
//                                   files of the same names; run it after a change to an
//                                   input format, then commit what it wrote
//   fwupdate-fuzz show FILE         a whole-program input: its machine and answers, then
//                                   the program's output, exit code and findings
//   fwupdate-fuzz check TARGET FILE runs one input through a target, lists its findings
//
// Exit status 0 when nothing was found, 1 on a finding, 2 on a usage or file error.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/harness/corpus.h"
#include "fuzz/harness/findings.h"
#include "fuzz/harness/program_input.h"
#include "fuzz/harness/program_run.h"

namespace {

bool ReadFile(const char* path, std::vector<std::uint8_t>& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return true;
}

int PrintFindings(const fuzzharness::Findings& findings) {
    for (const fuzzharness::Finding& finding : findings) {
        std::printf("finding: %s: %s\n", finding.invariant.c_str(), finding.detail.c_str());
    }
    return findings.empty() ? 0 : 1;
}

int WriteCorpus(const std::filesystem::path& root) {
    for (const fuzzcorpus::GeneratedInput& input : fuzzcorpus::GeneratedInputs()) {
        const std::filesystem::path directory = root / input.directory / input.target;
        std::filesystem::create_directories(directory);
        std::ofstream file(directory / input.name, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(input.bytes.data()),
                   static_cast<std::streamsize>(input.bytes.size()));
        if (!file) {
            std::fprintf(stderr, "cannot write %s\n", (directory / input.name).string().c_str());
            return 2;
        }
        std::printf("%s/%s/%s: %zu bytes\n", input.directory.c_str(), input.target.c_str(),
                    input.name.c_str(), input.bytes.size());
    }
    return 0;
}

int Show(const char* path) {
    std::vector<std::uint8_t> bytes;
    if (!ReadFile(path, bytes)) {
        return 2;
    }
    const fuzzprogram::ProgramInput input = fuzzprogram::DecodeProgramInput(bytes);
    std::printf("%s\n", fuzzprogram::DescribeProgramInput(input).c_str());
    const fuzzprogram::Outcome outcome = fuzzprogram::RunProgramInput(input);
    std::printf("%s\nexit code %d\n", outcome.output.c_str(), outcome.exitCode);
    return PrintFindings(outcome.findings);
}

int Check(const char* name, const char* path) {
    const fuzzharness::Target* target = fuzzharness::FindTarget(name);
    std::vector<std::uint8_t> bytes;
    if (target == nullptr) {
        std::fprintf(stderr, "no fuzz target %s\n", name);
        return 2;
    }
    if (!ReadFile(path, bytes)) {
        return 2;
    }
    return PrintFindings(target->check(bytes));
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "corpus" && argc == 3) {
        return WriteCorpus(argv[2]);
    }
    if (command == "show" && argc == 3) {
        return Show(argv[2]);
    }
    if (command == "check" && argc == 4) {
        return Check(argv[2], argv[3]);
    }
    std::fprintf(stderr, "usage: fwupdate-fuzz corpus FUZZ-DIR | show FILE | check TARGET FILE\n");
    return 2;
}
