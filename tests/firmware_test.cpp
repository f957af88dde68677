#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "firmware/firmware_package.h"

extern "C" const unsigned char FirmwareImageEnd[];

namespace {

TEST(FirmwarePackage, EmbedsExactlyOneImageOfTwoMebibytes) {
    EXPECT_EQ(FirmwareImageEnd - FirmwareImage, 2097152);
}

TEST(FirmwarePackage, WorkingBufferIsAByteForByteCopy) {
    LoadFirmwarePackage();
    const std::span<const std::uint8_t> working = FirmwareWorkingBuffer();
    ASSERT_EQ(working.size(), kFirmwareImageSize);
    EXPECT_EQ(working.front(), FirmwareImage[0]);
    EXPECT_EQ(working.back(), FirmwareImage[kFirmwareImageSize - 1]);
    EXPECT_EQ(std::memcmp(working.data(), FirmwareImage, kFirmwareImageSize), 0);
}

TEST(FirmwarePackage, SetsTheRevisionsAndTheTitle) {
    LoadFirmwarePackage();
    EXPECT_EQ(targetRevision, L"QZT3VKLA");
    EXPECT_EQ(baseRevision, L"QZT2VKLA");
    EXPECT_EQ(toolTitle, L"KORVANEFWUpdateQZRX4C7_V1.0.2_QZT3VKLA");
    // Loading twice changes nothing.
    LoadFirmwarePackage();
    EXPECT_EQ(toolTitle, L"KORVANEFWUpdateQZRX4C7_V1.0.2_QZT3VKLA");
}

TEST(FirmwarePackage, PlaceholderCarriesTheMetadataBlock) {
    EXPECT_EQ(std::memcmp(FirmwareImage + kImageSignatureOffset, kImageSignature, 32), 0);
}

TEST(RevisionOfImage, WidensEachMetadataByteByValue) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::wstring revision;
        std::size_t imageSize = kFirmwareImageSize;
    };
    const Case cases[] = {
        {"ascii", {'Q', 'Z', 'T', '3', 'V', 'K', 'L', 'A'}, L"QZT3VKLA"},
        {"nul inside stays a character",
         {'Q', 'Z', 0, '3', 'V', 'K', 'L', 'A'},
         std::wstring(L"QZ\0"
                      L"3VKLA",
                      8)},
        {"all nul is eight characters", {0, 0, 0, 0, 0, 0, 0, 0}, std::wstring(8, L'\0')},
        {"high bytes are not sign-extended",
         {0x80, 0x81, 0xC3, 0xA9, 0xE9, 0xFE, 0xFF, 'A'},
         {L'\x80', L'\x81', L'\xC3', L'\xA9', L'\xE9', L'\xFE', L'\xFF', L'A'}},
        {"an image that ends inside the field has none of it",
         {},
         std::wstring(8, L'\0'),
         kImageRevisionOffset + kImageRevisionLength - 1},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> image(c.imageSize, 0x5A);
        // The signature is not consulted: a block without it still yields its revision.
        std::copy(c.bytes.begin(), c.bytes.end(),
                  image.begin() + static_cast<std::ptrdiff_t>(kImageRevisionOffset));
        const std::wstring revision = RevisionOfImage(image);
        EXPECT_EQ(revision.size(), 8u) << c.name;
        EXPECT_EQ(revision, c.revision) << c.name;
    }
}

}  // namespace

// The preflight names the image by its revision bytes alone; the updater by its working
// copy of the whole image. Both must name the same revision and title.
TEST(FirmwareTexts, TheRevisionBytesAloneGiveTheUpdatersTexts) {
    LoadFirmwarePackage();
    const std::wstring target = targetRevision;
    const std::wstring title = toolTitle;
    targetRevision.clear();
    toolTitle.clear();
    LoadFirmwareTexts();
    EXPECT_EQ(targetRevision, target);
    EXPECT_EQ(toolTitle, title);
    EXPECT_EQ(targetRevision, L"QZT3VKLA");
}
