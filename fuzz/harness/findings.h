// What a fuzz target reports about one input, and the table of targets that the
// libFuzzer entry points and the ordinary tests share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fuzzharness {

// One broken invariant: its name (stable, used to group findings) and what was seen.
struct Finding {
    std::string invariant;
    std::string detail;
};

using Findings = std::vector<Finding>;

// Adds a finding unless the same one is there; details are cut and findings capped, so
// that one runaway input cannot flood the log.
void Report(Findings& findings, std::string_view invariant, std::string detail);

struct Target {
    const char* name;  // also the directory of its seeds and regression inputs
    Findings (*check)(std::span<const std::uint8_t> input);
};

// Every target: the reply readers, then the whole program.
std::span<const Target> Targets();
const Target* FindTarget(std::string_view name);

// Runs `check` on one input and, when it finds anything, prints every finding to
// standard error and aborts, so that libFuzzer keeps the input as a crash.
void RunOrAbort(const Target& target, const std::uint8_t* data, std::size_t size);

// The whole-program target as a plain function: the same code under libFuzzer and in
// the ordinary test suite.
void RunOneInput(const std::uint8_t* data, std::size_t size);

}  // namespace fuzzharness
