// A small writer of indented JSON text, for the capture file: objects and arrays, keys
// in the order written, strings as UTF-8 with the escapes JSON requires.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace probe {

class JsonWriter {
  public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // The key of the next value of an object.
    JsonWriter& Key(std::string_view key);
    JsonWriter& String(std::wstring_view utf16);
    // Bytes as the characters U+0000 to U+00FF, one each.
    JsonWriter& Latin1(std::string_view bytes);
    JsonWriter& Number(std::int64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();
    // An array of numbers on one line.
    JsonWriter& Numbers(const std::vector<std::int64_t>& values);

    // The text, with a final line end.
    std::string Text() const { return text_ + "\n"; }

  private:
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    void BeforeValue();
    void Indent();
    void Quoted(std::u32string_view codePoints);

    std::string text_;
    // Per open container: whether it has a member yet.
    std::vector<bool> hasMember_;
    bool afterKey_ = false;
};

}  // namespace probe
