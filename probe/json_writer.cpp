#include "probe/json_writer.h"

#include "base/utf8.h"

namespace probe {

void JsonWriter::Indent() {
    text_ += "\n";
    text_.append(2 * hasMember_.size(), ' ');
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasMember_.empty()) {
        if (hasMember_.back()) {
            text_ += ",";
        }
        hasMember_.back() = true;
        Indent();
    }
}

JsonWriter& JsonWriter::Open(char bracket) {
    BeforeValue();
    text_ += bracket;
    hasMember_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
    const bool any = hasMember_.back();
    hasMember_.pop_back();
    if (any) {
        Indent();
    }
    text_ += bracket;
    return *this;
}

JsonWriter& JsonWriter::BeginObject() {
    return Open('{');
}

JsonWriter& JsonWriter::EndObject() {
    return Close('}');
}

JsonWriter& JsonWriter::BeginArray() {
    return Open('[');
}

JsonWriter& JsonWriter::EndArray() {
    return Close(']');
}

JsonWriter& JsonWriter::Key(std::string_view key) {
    BeforeValue();
    std::u32string units(key.begin(), key.end());
    Quoted(units);
    text_ += ": ";
    afterKey_ = true;
    return *this;
}

void JsonWriter::Quoted(std::u32string_view codePoints) {
    static constexpr char kHex[] = "0123456789abcdef";
    text_ += '"';
    for (const char32_t c : codePoints) {
        if (c == U'"' || c == U'\\') {
            text_ += '\\';
            text_ += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            text_ += "\\u00";
            text_ += kHex[(c >> 4) & 0xF];
            text_ += kHex[c & 0xF];
        } else {
            utf8::AppendCodePoint(text_, c);
        }
    }
    text_ += '"';
}

JsonWriter& JsonWriter::String(std::wstring_view utf16) {
    BeforeValue();
    // Through UTF-8 and back, so that a lone surrogate is written as U+FFFD as
    // everywhere else the program writes text.
    const std::string bytes = utf8::FromUtf16(utf16);
    std::u32string codePoints;
    for (std::size_t at = 0; at < bytes.size();) {
        const utf8::Step step = utf8::Decode(bytes, at);
        codePoints.push_back(step.codePoint.value_or(0xFFFD));
        at += step.length;
    }
    Quoted(codePoints);
    return *this;
}

JsonWriter& JsonWriter::Latin1(std::string_view bytes) {
    BeforeValue();
    std::u32string codePoints;
    for (const char byte : bytes) {
        codePoints.push_back(static_cast<unsigned char>(byte));
    }
    Quoted(codePoints);
    return *this;
}

JsonWriter& JsonWriter::Number(std::int64_t value) {
    BeforeValue();
    text_ += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    text_ += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    text_ += "null";
    return *this;
}

JsonWriter& JsonWriter::Numbers(const std::vector<std::int64_t>& values) {
    BeforeValue();
    text_ += "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        text_ += (i == 0 ? "" : ", ") + std::to_string(values[i]);
    }
    text_ += "]";
    return *this;
}

}  // namespace probe
