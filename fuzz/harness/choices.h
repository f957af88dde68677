// The choices one fuzz input makes, read the way FuzzedDataProvider hands them out,
// and written back the same way, so that a seed or a reproducer can be made from a
// plain record instead of by hand.
//
// A record type describes its input format once, as a function template that walks
// its fields through either side:
//
//   template <typename IO> void Visit(IO& io, Record& r) {
//       io.Int(0, 6, r.count);
//       io.Choice(r.kind);
//   }
//
// Reader fills the record from input bytes; Writer turns a record into the bytes
// that Reader reads back as the same record. Integers come from the end of the input
// and byte strings from its front, as FuzzedDataProvider takes them; once the input
// runs out every choice is its lowest value.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

namespace fuzzinput {

// Choice enums end with kCount; every value below it is a valid choice.
template <typename E>
constexpr std::uint8_t ChoiceCount() {
    static_assert(std::is_enum_v<E>);
    return static_cast<std::uint8_t>(E::kCount);
}

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> data) : fdp_(data.data(), data.size()) {}

    template <typename T>
    void Int(T lo, T hi, T& value) {
        value = fdp_.ConsumeIntegralInRange<T>(lo, hi);
    }
    void Bool(bool& value) { value = fdp_.ConsumeBool(); }
    template <typename E>
    void Choice(E& value) {
        value = static_cast<E>(fdp_.ConsumeIntegralInRange<std::uint8_t>(0, ChoiceCount<E>() - 1));
    }
    // Up to maxLength bytes; fewer when the input ends first.
    void Bytes(std::size_t maxLength, std::vector<std::uint8_t>& bytes) {
        const std::size_t length = fdp_.ConsumeIntegralInRange<std::size_t>(0, maxLength);
        bytes = fdp_.ConsumeBytes<std::uint8_t>(length);
    }
    template <typename T, typename VisitItem>
    void List(std::size_t maxCount, std::vector<T>& items, VisitItem visit) {
        const std::size_t count = fdp_.ConsumeIntegralInRange<std::size_t>(0, maxCount);
        items.clear();
        for (std::size_t i = 0; i < count; ++i) {
            visit(*this, items.emplace_back());
        }
    }

  private:
    FuzzedDataProvider fdp_;
};

class Writer {
  public:
    template <typename T>
    void Int(T lo, T hi, const T& value) {
        static_assert(std::is_unsigned_v<T>);
        const std::uint64_t range = static_cast<std::uint64_t>(hi) - lo;
        const std::uint64_t offset = static_cast<std::uint64_t>(std::clamp(value, lo, hi)) - lo;
        // As many bytes as the reader takes for this range, the most significant first.
        std::size_t count = 0;
        for (std::size_t bit = 0; bit < sizeof(T) * 8 && (range >> bit) > 0; bit += 8) {
            ++count;
        }
        for (std::size_t i = count; i-- > 0;) {
            back_.push_back(static_cast<std::uint8_t>(offset >> (8 * i)));
        }
    }
    void Bool(const bool& value) { back_.push_back(value ? 1 : 0); }
    template <typename E>
    void Choice(const E& value) {
        Int<std::uint8_t>(0, ChoiceCount<E>() - 1, static_cast<std::uint8_t>(value));
    }
    void Bytes(std::size_t maxLength, const std::vector<std::uint8_t>& bytes) {
        const std::size_t length = std::min(bytes.size(), maxLength);
        Int<std::size_t>(0, maxLength, length);
        front_.insert(front_.end(), bytes.begin(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(length));
    }
    template <typename T, typename VisitItem>
    void List(std::size_t maxCount, std::vector<T>& items, VisitItem visit) {
        const std::size_t count = std::min(items.size(), maxCount);
        Int<std::size_t>(0, maxCount, count);
        for (std::size_t i = 0; i < count; ++i) {
            visit(*this, items[i]);
        }
    }

    // The bytes a reader takes with ConsumeRemainingBytes after every other choice.
    void Rest(const std::vector<std::uint8_t>& bytes) {
        front_.insert(front_.end(), bytes.begin(), bytes.end());
    }

    // The input: byte strings in order at the front, integers from the end backwards.
    std::vector<std::uint8_t> Finish() const {
        std::vector<std::uint8_t> input = front_;
        input.insert(input.end(), back_.rbegin(), back_.rend());
        return input;
    }

  private:
    std::vector<std::uint8_t> front_;
    std::vector<std::uint8_t> back_;  // in the order the reader takes them
};

}  // namespace fuzzinput
