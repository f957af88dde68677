// The texts taken from the image: the revision it installs, the one it updates from and
// the tool's title. They need only the image's revision bytes, which every program
// carries; the image itself is in the updater alone (firmware_package.cpp).
#include "firmware/firmware_package.h"

std::wstring targetRevision;
std::wstring baseRevision;
std::wstring toolTitle;

namespace {

constexpr wchar_t kToolTitlePrefix[] = L"KORVANEFWUpdateQZRX4C7_V1.0.2_";
constexpr wchar_t kBaseRevision[] = L"QZT2VKLA";

// image_revision.S takes these bytes from the image file at this offset.
static_assert(kImageRevisionOffset == 0x3020 && kImageRevisionLength == 8);

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

void LoadFirmwareTexts(const std::wstring& revision) {
    targetRevision = revision;
    baseRevision = kBaseRevision;
    toolTitle = kToolTitlePrefix + targetRevision;
}

void LoadFirmwareTexts() {
    std::wstring revision(kImageRevisionLength, L'\0');
    for (std::uint32_t i = 0; i < kImageRevisionLength; ++i) {
        revision[i] = static_cast<wchar_t>(FirmwareImageRevision[i]);
    }
    LoadFirmwareTexts(revision);
}
