// The libFuzzer entry point of one target; the build names the target.
#include <cstddef>
#include <cstdint>

#include "fuzz/harness/findings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzzharness::Target* const target = fuzzharness::FindTarget(FWUPDATE_FUZZ_TARGET);
    fuzzharness::RunOrAbort(*target, data, size);
    return 0;
}
