// The inputs the tree carries that are made from plain records rather than found by a
// fuzzer: the seed corpus of every target (sound replies built with the drivers/
// writers, machines like the default one) and one reproducer per known fault of the
// whole program. `fwupdate-fuzz corpus` writes them to fuzz/corpus/<target>/ and
// fuzz/regressions/program/; the fuzz regression test checks that the files in the
// tree are still what these records give.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drivers/byte_layout.h"

namespace fuzzcorpus {

struct GeneratedInput {
    std::string directory;  // "corpus" or "regressions"
    std::string target;
    std::string name;
    Bytes bytes;
};

std::vector<GeneratedInput> GeneratedInputs();

}  // namespace fuzzcorpus
