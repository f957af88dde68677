#include <cstdio>

#include "base/utf8.h"
#include "sim/models/text.h"
#include "sim/win32/binding.h"
#include "sim/win32/runtime.h"

namespace sim {
namespace {

void AppendJsonString(std::string& out, std::string_view utf8) {
    out.push_back('"');
    for (char c : utf8) {
        const unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", u);
                    out += escape;
                } else {
                    out.push_back(c);
                }
        }
    }
    out.push_back('"');
}

}  // namespace

// An empty line_ marks a record that is not kept (tracing is off).
TraceRecord::TraceRecord(std::string_view op) {
    if (!CurrentMachine().recordTrace) {
        return;
    }
    line_ = "{\"op\":";
    AppendJsonString(line_, op);
}

void TraceRecord::Key(std::string_view key) {
    line_.push_back(',');
    AppendJsonString(line_, key);
    line_.push_back(':');
}

TraceRecord& TraceRecord::Number(std::string_view key, std::int64_t value) {
    if (!line_.empty()) {
        Key(key);
        line_ += std::to_string(value);
    }
    return *this;
}

TraceRecord& TraceRecord::Text(std::string_view key, std::string_view utf8) {
    if (!line_.empty()) {
        Key(key);
        AppendJsonString(line_, utf8);
    }
    return *this;
}

TraceRecord& TraceRecord::Wide(std::string_view key, std::wstring_view text) {
    if (!line_.empty()) {
        Key(key);
        AppendJsonString(line_, utf8::FromUtf16(text));
    }
    return *this;
}

TraceRecord& TraceRecord::WideOrNull(std::string_view key, const wchar_t* text) {
    return text == nullptr ? Null(key) : Wide(key, text);
}

TraceRecord& TraceRecord::Null(std::string_view key) {
    if (!line_.empty()) {
        Key(key);
        line_ += "null";
    }
    return *this;
}

TraceRecord& TraceRecord::Flag(std::string_view key, bool value) {
    if (!line_.empty()) {
        Key(key);
        line_ += value ? "true" : "false";
    }
    return *this;
}

TraceRecord& TraceRecord::Hex(std::string_view key, std::span<const std::uint8_t> bytes) {
    if (!line_.empty()) {
        Key(key);
        line_.push_back('"');
        line_ += HexBytes(bytes);
        line_.push_back('"');
    }
    return *this;
}

TraceRecord& TraceRecord::Guid(std::string_view key, const GUID* guid) {
    return guid == nullptr ? Null(key) : Text(key, GuidText(*guid));
}

TraceRecord& TraceRecord::TextList(std::string_view key, const std::vector<std::wstring>& texts) {
    if (!line_.empty()) {
        Key(key);
        line_.push_back('[');
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (i > 0) {
                line_.push_back(',');
            }
            AppendJsonString(line_, utf8::FromUtf16(texts[i]));
        }
        line_.push_back(']');
    }
    return *this;
}

void TraceRecord::Commit(bool ok) {
    if (line_.empty()) {
        return;
    }
    Flag("ok", ok);
    Number("error", State().lastError);
    line_.push_back('}');
    State().trace.push_back(std::move(line_));
    line_.clear();
}

BOOL TraceRecord::Fail(DWORD error) {
    State().lastError = error;
    Commit(false);
    return FALSE;
}

std::int64_t HandleNumber(const void* handle) {
    return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(handle));
}

std::string TraceJsonLines() {
    std::size_t size = 0;
    for (const std::string& line : State().trace) {
        size += line.size() + 1;
    }
    std::string out;
    out.reserve(size);
    for (const std::string& line : State().trace) {
        out += line;
        out.push_back('\n');
    }
    return out;
}

}  // namespace sim
