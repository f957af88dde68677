#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/harness/findings.h"
#include "fuzz/harness/program_run.h"
#include "fuzz/harness/readers.h"

namespace fuzzharness {
namespace {

constexpr Target kTargets[] = {
    {"srb_reply", fuzzreaders::CheckSrbReply},
    {"firmware_reply", fuzzreaders::CheckFirmwareReply},
    {"csmi_reply", fuzzreaders::CheckCsmiReply},
    {"identify_reply", fuzzreaders::CheckIdentifyReply},
    {"program", fuzzprogram::CheckProgramBytes},
};

constexpr std::size_t kMaxDetail = 400;
constexpr std::size_t kMaxFindings = 20;

}  // namespace

void Report(Findings& findings, std::string_view invariant, std::string detail) {
    if (detail.size() > kMaxDetail) {
        detail.resize(kMaxDetail);
        detail += "...";
    }
    const bool seen = std::any_of(findings.begin(), findings.end(), [&](const Finding& f) {
        return f.invariant == invariant && f.detail == detail;
    });
    if (!seen && findings.size() < kMaxFindings) {
        findings.push_back({std::string(invariant), std::move(detail)});
    }
}

std::span<const Target> Targets() {
    return kTargets;
}

const Target* FindTarget(std::string_view name) {
    for (const Target& target : kTargets) {
        if (name == target.name) {
            return &target;
        }
    }
    return nullptr;
}

namespace {

// FWUPDATE_FUZZ_ALLOW: invariants (comma-separated) whose findings do not stop a
// campaign, so that it can look past faults already known.
bool Allowed(const std::string& invariant) {
    static const std::string allowed = [] {
        const char* value = std::getenv("FWUPDATE_FUZZ_ALLOW");
        std::string list(1, ',');
        list += value != nullptr ? value : "";
        list += ',';
        return list;
    }();
    std::string item(1, ',');
    item += invariant;
    item += ',';
    return allowed.find(item) != std::string::npos;
}

}  // namespace

void RunOrAbort(const Target& target, const std::uint8_t* data, std::size_t size) {
    const Findings findings = target.check(std::span<const std::uint8_t>(data, size));
    if (std::all_of(findings.begin(), findings.end(),
                    [](const Finding& finding) { return Allowed(finding.invariant); })) {
        return;
    }
    for (const Finding& finding : findings) {
        std::fprintf(stderr, "%s: %s: %s\n", target.name, finding.invariant.c_str(),
                     finding.detail.c_str());
    }
    std::fflush(stderr);
    std::abort();
}

void RunOneInput(const std::uint8_t* data, std::size_t size) {
    RunOrAbort(*FindTarget("program"), data, size);
}

}  // namespace fuzzharness
