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

// The image as the build embedded it (firmware/image_blob.S).
extern "C" const unsigned char FirmwareImage[];

extern std::wstring targetRevision;
extern std::wstring baseRevision;
extern std::wstring toolTitle;

void LoadFirmwarePackage();

// The revision an image installs, read from its metadata block.
std::wstring RevisionOfImage(std::span<const std::uint8_t> image);

// The working copy the download paths read their chunks from.
std::span<const std::uint8_t> FirmwareWorkingBuffer();
