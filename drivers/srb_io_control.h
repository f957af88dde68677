// SRB_IO_CONTROL: the 28-byte header that opens every miniport control request, to
// the inbox driver's firmware interface and to the Intel RST driver alike, and the
// family record that fills it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "drivers/byte_layout.h"
#include "drivers/sdk_structs.h"
#include "platform/win32.h"

namespace srb {

// Both the size of the header and the value of its HeaderLength field.
inline constexpr std::size_t kHeaderLength = sizeof(sdk::SRB_IO_CONTROL);
inline constexpr std::size_t kSignatureLength = sizeof(sdk::SRB_IO_CONTROL::Signature);

// What every request of one family carries: the device control code it travels with,
// and the signature, control code and timeout of its header.
// The signature is a literal of exactly kSignatureLength characters, zero bytes
// included: one of another length does not compile.
struct RequestFamily {
    consteval RequestFamily(DWORD code, const char (&text)[kSignatureLength + 1],
                            std::uint32_t headerCode, std::uint32_t seconds)
        : ioControlCode(code),
          signature(text, kSignatureLength),
          controlCode(headerCode),
          timeout(seconds) {}

    DWORD ioControlCode;
    std::string_view signature;
    std::uint32_t controlCode;
    std::uint32_t timeout;
};

// The header for a request of `requestSize` bytes (at least kHeaderLength): Length is
// everything after the header, ReturnCode 0.
constexpr sdk::SRB_IO_CONTROL Header(const RequestFamily& family, std::size_t requestSize) {
    sdk::SRB_IO_CONTROL header{};
    header.HeaderLength = static_cast<std::uint32_t>(kHeaderLength);
    std::copy_n(family.signature.begin(), kSignatureLength, header.Signature);
    header.Timeout = family.timeout;
    header.ControlCode = family.controlCode;
    header.Length = static_cast<std::uint32_t>(requestSize - kHeaderLength);
    return header;
}

// Writes the header of a request that fills the whole buffer; false (nothing written)
// when the buffer cannot hold the header.
[[nodiscard]] inline bool WriteHeader(std::span<std::uint8_t> buffer, const RequestFamily& family) {
    // Below kHeaderLength the Length computed is wrong, and never written.
    return layout::WriteAs(buffer, 0, Header(family, buffer.size()));
}

inline std::optional<sdk::SRB_IO_CONTROL> ReadSrbIoControl(std::span<const std::uint8_t> buffer) {
    return layout::ReadAs<sdk::SRB_IO_CONTROL>(buffer, 0);
}

// The driver's status for the request; nothing when the buffer is too short to hold
// it. Read alone, so that a reply cut short after the field still carries its status.
inline std::optional<std::uint32_t> ReturnCode(std::span<const std::uint8_t> buffer) {
    return layout::GetU32(buffer, offsetof(sdk::SRB_IO_CONTROL, ReturnCode));
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
    constexpr std::size_t at = offsetof(sdk::SRB_IO_CONTROL, ReturnCode);
    if (!layout::FieldFits(buffer.size(), at, sizeof returnCode)) {
        return false;
    }
    layout::PutU32(buffer, at, returnCode);
    return true;
}

// True when the header's 8 signature bytes are exactly `signature` (8 characters,
// zero bytes included).
inline bool HasSignature(const sdk::SRB_IO_CONTROL& header, std::string_view signature) {
    if (signature.size() != kSignatureLength) {
        return false;
    }
    for (std::size_t i = 0; i < kSignatureLength; ++i) {
        if (header.Signature[i] != static_cast<std::uint8_t>(signature[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace srb
