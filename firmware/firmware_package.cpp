#include "firmware/firmware_package.h"

#include <cstring>

#include "drivers/byte_layout.h"

std::wstring targetRevision;
std::wstring baseRevision;
std::wstring toolTitle;

namespace {

constexpr wchar_t kToolTitlePrefix[] = L"KORVANEFWUpdateQZRX4C7_V1.0.2_";
constexpr wchar_t kBaseRevision[] = L"QZT2VKLA";

// Zero until the package is loaded; the download paths read their chunks from here.
Bytes& WorkingBuffer() {
    static Bytes buffer(kFirmwareImageSize);
    return buffer;
}

}  // namespace

std::wstring RevisionOfImage(std::span<const std::uint8_t> image) {
    // Always exactly eight characters, each byte widened by value: a NUL in the
    // field stays a character of the revision, and no code page is involved.
    std::wstring revision(kImageRevisionLength, L'\0');
    if (image.size() < kImageRevisionOffset + kImageRevisionLength) {
        return revision;
    }
    for (std::uint32_t i = 0; i < kImageRevisionLength; ++i) {
        revision[i] = static_cast<wchar_t>(image[kImageRevisionOffset + i]);
    }
    return revision;
}

void LoadFirmwarePackage() {
    toolTitle = kToolTitlePrefix;

    Bytes& working = WorkingBuffer();
    std::memcpy(working.data(), FirmwareImage, kFirmwareImageSize);

    targetRevision = RevisionOfImage(working);

    baseRevision = kBaseRevision;
    toolTitle += targetRevision;
}

std::span<const std::uint8_t> FirmwareWorkingBuffer() {
    return WorkingBuffer();
}
