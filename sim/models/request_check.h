// Field-by-field comparison of a request against the values the program must send,
// collecting every deviation into one protocol-error text. Internal to sim/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace sim {

class RequestCheck {
  public:
    explicit RequestCheck(std::string request) : request_(std::move(request)) {}

    // Number fields, shown in decimal or (for codes) in hexadecimal.
    void Equal(std::string_view field, std::uint64_t actual, std::uint64_t expected) {
        if (actual != expected) {
            Add(std::string(field) + " is " + std::to_string(actual) + ", expected " +
                std::to_string(expected));
        }
    }
    void EqualHex(std::string_view field, std::uint64_t actual, std::uint64_t expected) {
        if (actual != expected) {
            Add(std::string(field) + " is " + Hex(actual) + ", expected " + Hex(expected));
        }
    }
    // Bytes [from, to) of `bytes` must all be zero.
    void Zero(std::span<const std::uint8_t> bytes, std::size_t from, std::size_t to,
              std::string_view what) {
        for (std::size_t i = from; i < to && i < bytes.size(); ++i) {
            if (bytes[i] != 0) {
                Add(std::string(what) + " (bytes " + std::to_string(from) + " to " +
                    std::to_string(to - 1) + ") must be zero; byte " + std::to_string(i) + " is " +
                    Hex(bytes[i]));
                return;
            }
        }
    }
    void Add(std::string deviation) {
        text_ += text_.empty() ? request_ + ": " : "; ";
        text_ += deviation;
    }

    bool Ok() const { return text_.empty(); }
    const std::string& Text() const { return text_; }
    const std::string& Request() const { return request_; }

    static std::string Hex(std::uint64_t value) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
        return text;
    }
    // An 8-byte signature as text, with bytes outside printable ASCII escaped.
    static std::string Signature(std::span<const std::uint8_t> bytes) {
        std::string text = "\"";
        for (std::uint8_t b : bytes) {
            if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
                text.push_back(static_cast<char>(b));
            } else {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02X", b);
                text += escape;
            }
        }
        return text + "\"";
    }

  private:
    std::string request_;
    std::string text_;
};

}  // namespace sim
