// fwupdate-fuzz-corpus FUZZ-DIR: writes the seed corpus and the known-fault
// reproducers (fuzz/harness/corpus.h) under FUZZ-DIR, replacing the files of the same
// names. Run it after a change to an input format, then commit what it wrote.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "fuzz/harness/corpus.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fwupdate-fuzz-corpus FUZZ-DIR\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    for (const fuzzcorpus::GeneratedInput& input : fuzzcorpus::GeneratedInputs()) {
        const std::filesystem::path directory = root / input.directory / input.target;
        std::filesystem::create_directories(directory);
        std::ofstream file(directory / input.name, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(input.bytes.data()),
                   static_cast<std::streamsize>(input.bytes.size()));
        if (!file) {
            std::fprintf(stderr, "cannot write %s\n", (directory / input.name).string().c_str());
            return 1;
        }
        std::printf("%s/%s/%s: %zu bytes\n", input.directory.c_str(), input.target.c_str(),
                    input.name.c_str(), input.bytes.size());
    }
    return 0;
}
