// Finishes the stripped fwupdate.exe for signing: pads the file with zero bytes to a
// multiple of eight, the alignment an Authenticode signature table starts at, and writes
// the PE checksum of the padded file.
//
//   finish-pe-image FILE
//
// A signing tool then appends its table without adding anything, and removing the
// signature again (which recomputes the checksum) gives back these exact bytes: a signed
// release can be compared byte for byte with a rebuild of its commit.
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr std::size_t kDosHeaderSize = 0x40;
constexpr std::size_t kNewHeaderOffsetField = 0x3C;
// Signature "PE\0\0" (4) and file header (20) come before the optional header, whose
// CheckSum field is at 64 for both PE32 and PE32+.
constexpr std::size_t kOptionalHeaderOffset = 24;
constexpr std::size_t kCheckSumOffset = 64;

std::uint32_t Read32(const std::vector<unsigned char>& bytes, std::size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

// The sum Windows' own image check makes: 16-bit words with the carries folded back in,
// the checksum field counted as zero, plus the file length.
std::uint32_t PeCheckSum(const std::vector<unsigned char>& bytes, std::size_t checkSumAt) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        if (i >= checkSumAt && i < checkSumAt + 4) {
            continue;
        }
        std::uint32_t word = bytes[i];
        if (i + 1 < bytes.size()) {
            word |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        }
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argc > 0 ? argv[0] : "finish-pe-image");
        return 2;
    }
    const char* path = argv[1];
    std::FILE* in = std::fopen(path, "rb");
    if (in == nullptr) {
        std::perror(path);
        return 1;
    }
    std::vector<unsigned char> bytes;
    unsigned char block[65536];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, in)) > 0;) {
        bytes.insert(bytes.end(), block, block + got);
    }
    const bool readFailed = std::ferror(in) != 0;
    std::fclose(in);
    if (readFailed) {
        std::fprintf(stderr, "%s: read error\n", path);
        return 1;
    }

    if (bytes.size() < kDosHeaderSize || bytes[0] != 'M' || bytes[1] != 'Z') {
        std::fprintf(stderr, "%s: not a PE image\n", path);
        return 1;
    }
    const std::size_t peHeader = Read32(bytes, kNewHeaderOffsetField);
    const std::size_t checkSumAt = peHeader + kOptionalHeaderOffset + kCheckSumOffset;
    if (peHeader > bytes.size() || checkSumAt + 4 > bytes.size() || bytes[peHeader] != 'P' ||
        bytes[peHeader + 1] != 'E' || bytes[peHeader + 2] != 0 || bytes[peHeader + 3] != 0) {
        std::fprintf(stderr, "%s: no PE header\n", path);
        return 1;
    }

    bytes.resize((bytes.size() + 7) / 8 * 8, 0);
    const std::uint32_t checkSum = PeCheckSum(bytes, checkSumAt);
    for (int i = 0; i < 4; ++i) {
        bytes[checkSumAt + i] = static_cast<unsigned char>(checkSum >> (8 * i));
    }

    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        std::perror(path);
        return 1;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "%s: write error\n", path);
        return 1;
    }
    return 0;
}
