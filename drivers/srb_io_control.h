// SRB_IO_CONTROL: the 28-byte header that opens every miniport control request, to
// the inbox driver's firmware interface and to the Intel RST driver alike.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "drivers/byte_layout.h"
#include "platform/win32.h"

namespace srb {

inline constexpr std::size_t kHeaderLengthOffset = 0;
inline constexpr std::size_t kSignatureOffset = 4;
inline constexpr std::size_t kSignatureLength = 8;
inline constexpr std::size_t kTimeoutOffset = 12;
inline constexpr std::size_t kControlCodeOffset = 16;
inline constexpr std::size_t kReturnCodeOffset = 20;
inline constexpr std::size_t kLengthOffset = 24;
// Both the size of the header and the value of its HeaderLength field.
inline constexpr std::size_t kHeaderLength = 28;

struct SrbIoControl {
    std::uint32_t headerLength = 0;
    std::array<std::uint8_t, kSignatureLength> signature{};
    std::uint32_t timeout = 0;
    std::uint32_t controlCode = 0;
    std::uint32_t returnCode = 0;
    std::uint32_t length = 0;
};

// Writes the header; ReturnCode is left 0. A signature shorter than 8 characters is
// padded with zero bytes, and nothing beyond the 8th is written. False (nothing
// written) when the buffer cannot hold the header.
[[nodiscard]] inline bool WriteSrbIoControl(std::span<std::uint8_t> buffer,
                                            std::string_view signature, std::uint32_t timeout,
                                            std::uint32_t controlCode, std::uint32_t length) {
    if (buffer.size() < kHeaderLength) {
        return false;
    }
    layout::PutU32(buffer, kHeaderLengthOffset, static_cast<std::uint32_t>(kHeaderLength));
    for (std::size_t i = 0; i < kSignatureLength; ++i) {
        buffer[kSignatureOffset + i] =
            i < signature.size() ? static_cast<std::uint8_t>(signature[i]) : std::uint8_t{0};
    }
    layout::PutU32(buffer, kTimeoutOffset, timeout);
    layout::PutU32(buffer, kControlCodeOffset, controlCode);
    layout::PutU32(buffer, kReturnCodeOffset, 0);
    layout::PutU32(buffer, kLengthOffset, length);
    return true;
}

// The driver's status for the request; nothing when the buffer is too short to hold it.
inline std::optional<std::uint32_t> ReturnCode(std::span<const std::uint8_t> buffer) {
    return layout::GetU32(buffer, kReturnCodeOffset);
}

// The driver's status for the program's decisions: a buffer too short to carry one
// is never taken for success.
inline constexpr std::uint32_t kNoReturnCode = 0xFFFFFFFF;
inline std::uint32_t ReturnCodeOrFailure(std::span<const std::uint8_t> buffer) {
    return ReturnCode(buffer).value_or(kNoReturnCode);
}

// How a driver answers: its status in the request's own header. False (nothing
// written) when the buffer is too short to carry one.
[[nodiscard]] inline bool SetReturnCode(std::span<std::uint8_t> buffer, std::uint32_t returnCode) {
    if (!layout::FieldFits(buffer.size(), kReturnCodeOffset, 4)) {
        return false;
    }
    layout::PutU32(buffer, kReturnCodeOffset, returnCode);
    return true;
}

inline std::optional<SrbIoControl> ReadSrbIoControl(std::span<const std::uint8_t> buffer) {
    if (buffer.size() < kHeaderLength) {
        return std::nullopt;
    }
    SrbIoControl header;
    header.headerLength = *layout::GetU32(buffer, kHeaderLengthOffset);
    for (std::size_t i = 0; i < kSignatureLength; ++i) {
        header.signature[i] = buffer[kSignatureOffset + i];
    }
    header.timeout = *layout::GetU32(buffer, kTimeoutOffset);
    header.controlCode = *layout::GetU32(buffer, kControlCodeOffset);
    header.returnCode = *layout::GetU32(buffer, kReturnCodeOffset);
    header.length = *layout::GetU32(buffer, kLengthOffset);
    return header;
}

// True when the header's 8 signature bytes are exactly `signature` (8 characters,
// zero bytes included).
inline bool HasSignature(const SrbIoControl& header, std::string_view signature) {
    if (signature.size() != kSignatureLength) {
        return false;
    }
    for (std::size_t i = 0; i < kSignatureLength; ++i) {
        if (header.signature[i] != static_cast<std::uint8_t>(signature[i])) {
            return false;
        }
    }
    return true;
}

// Length field value for a request of `requestSize` bytes: everything after the header.
constexpr std::uint32_t LengthFor(std::size_t requestSize) {
    return static_cast<std::uint32_t>(requestSize - kHeaderLength);
}

}  // namespace srb

#ifdef _WIN32
static_assert(sizeof(SRB_IO_CONTROL) == srb::kHeaderLength);
static_assert(offsetof(SRB_IO_CONTROL, HeaderLength) == srb::kHeaderLengthOffset);
static_assert(offsetof(SRB_IO_CONTROL, Signature) == srb::kSignatureOffset);
static_assert(sizeof(SRB_IO_CONTROL::Signature) == srb::kSignatureLength);
static_assert(offsetof(SRB_IO_CONTROL, Timeout) == srb::kTimeoutOffset);
static_assert(offsetof(SRB_IO_CONTROL, ControlCode) == srb::kControlCodeOffset);
static_assert(offsetof(SRB_IO_CONTROL, ReturnCode) == srb::kReturnCodeOffset);
static_assert(offsetof(SRB_IO_CONTROL, Length) == srb::kLengthOffset);
#endif
