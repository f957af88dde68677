// Writes the deterministic placeholder firmware image that builds embed when no real
// image is given: 2,097,152 bytes of pseudo-random body with the metadata block the
// updater reads (signature at 0x3000, revision "QZT3VKLA" at 0x3020).
//
//   make-placeholder-image OUTPUT [--size BYTES] [--without-signature]
//
// The options make the broken images the build's image check is tested with.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT [--size BYTES] [--without-signature]\n", argv[0]);
        return 2;
    }
    std::size_t size = 2097152;
    bool signature = true;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--size") == 0 && i + 1 < argc) {
            size = std::strtoul(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--without-signature") == 0) {
            signature = false;
        } else {
            std::fprintf(stderr, "%s: unknown option %s\n", argv[0], argv[i]);
            return 2;
        }
    }

    std::vector<unsigned char> image(size);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (auto& byte : image) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<unsigned char>(state >> 24);
    }
    if (signature && image.size() >= 0x3028) {
        std::memcpy(&image[0x3000], "FW_IMAGE_META_SIGNATURE_________", 32);
        std::memcpy(&image[0x3020], "QZT3VKLA", 8);
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    bool written = std::fwrite(image.data(), 1, image.size(), out) == image.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
