#include "firmware/firmware_package.h"

#include <cstring>

#include "base/bytes.h"

namespace {

// Zero until the package is loaded; the download paths read their chunks from here.
Bytes& WorkingBuffer() {
    static Bytes buffer(kFirmwareImageSize);
    return buffer;
}

}  // namespace

void LoadFirmwarePackage() {
    Bytes& working = WorkingBuffer();
    std::memcpy(working.data(), FirmwareImage, kFirmwareImageSize);
    LoadFirmwareTexts(RevisionOfImage(working));
}

std::span<const std::uint8_t> FirmwareWorkingBuffer() {
    return WorkingBuffer();
}
