// Little-endian fields at fixed offsets of a plain byte buffer.
//
// Every request to a driver is one such buffer, and the driver writes its reply
// into the same bytes. Writers are used on buffers this program sized itself;
// readers check that the whole field lies inside the buffer, because the offsets
// and counts they are given may come from a driver's reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "base/bytes.h"

namespace layout {

// True when [offset, offset + width) lies inside a buffer of `size` bytes, without
// overflowing on hostile offsets.
constexpr bool FieldFits(std::size_t size, std::uint64_t offset, std::uint64_t width) {
    return offset <= size && width <= size - offset;
}

template <typename T>
void Put(std::span<std::uint8_t> buffer, std::size_t offset, T value) {
    static_assert(sizeof(T) <= 8);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        buffer[offset + i] =
            static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
    }
}

inline void PutU8(std::span<std::uint8_t> b, std::size_t o, std::uint8_t v) {
    Put(b, o, v);
}
inline void PutU16(std::span<std::uint8_t> b, std::size_t o, std::uint16_t v) {
    Put(b, o, v);
}
inline void PutU32(std::span<std::uint8_t> b, std::size_t o, std::uint32_t v) {
    Put(b, o, v);
}
inline void PutU64(std::span<std::uint8_t> b, std::size_t o, std::uint64_t v) {
    Put(b, o, v);
}

// Writes the characters of an ASCII tag (a signature) without terminator.
inline void PutAscii(std::span<std::uint8_t> buffer, std::size_t offset, std::string_view text) {
    std::memcpy(buffer.data() + offset, text.data(), text.size());
}

template <typename T>
std::optional<T> Get(std::span<const std::uint8_t> buffer, std::uint64_t offset) {
    static_assert(sizeof(T) <= 8);
    if (!FieldFits(buffer.size(), offset, sizeof(T))) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        value |= static_cast<std::uint64_t>(buffer[offset + i]) << (8 * i);
    }
    return static_cast<T>(value);
}

inline std::optional<std::uint8_t> GetU8(std::span<const std::uint8_t> b, std::uint64_t o) {
    return Get<std::uint8_t>(b, o);
}
inline std::optional<std::uint16_t> GetU16(std::span<const std::uint8_t> b, std::uint64_t o) {
    return Get<std::uint16_t>(b, o);
}
inline std::optional<std::uint32_t> GetU32(std::span<const std::uint8_t> b, std::uint64_t o) {
    return Get<std::uint32_t>(b, o);
}
inline std::optional<std::uint64_t> GetU64(std::span<const std::uint8_t> b, std::uint64_t o) {
    return Get<std::uint64_t>(b, o);
}

}  // namespace layout
