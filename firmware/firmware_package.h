// The built-in firmware image, its working copy and the texts taken from it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

inline constexpr std::uint32_t kFirmwareImageSize = 0x200000;
inline constexpr std::uint32_t kImageSignatureOffset = 0x3000;
inline constexpr std::uint32_t kImageRevisionOffset = 0x3020;
inline constexpr std::uint32_t kImageRevisionLength = 8;
inline constexpr char kImageSignature[] = "FW_IMAGE_META_SIGNATURE_________";

// The image as the build embedded it (firmware/image_blob.S), in the updater only.
extern "C" const unsigned char FirmwareImage[];
// The image's kImageRevisionLength revision bytes alone (firmware/image_revision.S).
extern "C" const unsigned char FirmwareImageRevision[];

extern std::wstring targetRevision;
extern std::wstring baseRevision;
extern std::wstring toolTitle;

// The updater's start: the working copy of the image, and the texts from it.
void LoadFirmwarePackage();

// The texts alone, from the image's revision bytes: the start of a program that names
// the image without carrying it. The second form takes the revision the image installs.
void LoadFirmwareTexts();
void LoadFirmwareTexts(const std::wstring& revision);

// The revision an image installs, read from its metadata block.
std::wstring RevisionOfImage(std::span<const std::uint8_t> image);

// The working copy the download paths read their chunks from.
std::span<const std::uint8_t> FirmwareWorkingBuffer();
