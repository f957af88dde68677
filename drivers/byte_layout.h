// Records and little-endian fields at given places of a plain byte buffer.
//
// Every request to a driver is one such buffer, and the driver writes its reply
// into the same bytes. A fixed-size structure is read and written whole through its
// record (ReadAs, WriteAs); Get and Put serve a lone field. Readers check that what
// they read lies inside the buffer, because the places and counts they are given may
// come from a driver's reply.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

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

// The `length` bytes at `at`; empty when they do not lie wholly inside the buffer.
template <typename Byte>
std::span<Byte> Area(std::span<Byte> buffer, std::uint64_t at, std::uint64_t length) {
    if (!FieldFits(buffer.size(), at, length)) {
        return {};
    }
    return buffer.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(length));
}

// A record copied byte for byte to and from the wire: plain fixed-width fields and no
// padding, so that every byte of it is a byte of the structure and none is left to
// the compiler. Both targets store integers as the wire does, little-endian first.
static_assert(std::endian::native == std::endian::little);
template <typename T>
concept WireRecord = std::is_trivially_copyable_v<T> && std::has_unique_object_representations_v<T>;

// The record at `at`; nothing when it does not lie wholly inside the buffer.
template <WireRecord T>
std::optional<T> ReadAs(std::span<const std::uint8_t> buffer, std::uint64_t at) {
    if (!FieldFits(buffer.size(), at, sizeof(T))) {
        return std::nullopt;
    }
    T record;
    std::memcpy(&record, buffer.data() + at, sizeof(T));
    return record;
}

// Writes the record at `at`; false, writing nothing, when it does not fit.
template <WireRecord T>
[[nodiscard]] bool WriteAs(std::span<std::uint8_t> buffer, std::uint64_t at, const T& record) {
    if (!FieldFits(buffer.size(), at, sizeof(T))) {
        return false;
    }
    std::memcpy(buffer.data() + at, &record, sizeof(T));
    return true;
}

}  // namespace layout
