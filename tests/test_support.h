// Shared fixtures: a simulated machine installed for one test, and the console
// collected instead of printed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>

#include "report/console.h"
#include "sim/models/machine.h"
#include "sim/sim.h"

// Collects everything the program prints while it is alive.
class ConsoleCapture {
  public:
    ConsoleCapture() { console::CaptureInto(&text_); }
    ~ConsoleCapture() { console::CaptureInto(nullptr); }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    const std::string& Text() const { return text_; }

  private:
    std::string text_;
};

inline SYSTEMTIME FixedTime(int day, int month, int year, int hour, int minute, int second) {
    SYSTEMTIME time{};
    time.wDay = static_cast<WORD>(day);
    time.wMonth = static_cast<WORD>(month);
    time.wYear = static_cast<WORD>(year);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    return time;
}

// A machine from scenario text, failing the test when the text is not valid.
inline sim::Machine MachineFrom(std::string_view scenario) {
    sim::Machine machine;
    std::string error;
    EXPECT_TRUE(sim::LoadScenarioText(scenario, "test", machine, error)) << error;
    return machine;
}

// The error a scenario text under the name `source` gives, failing the test when the
// text loads after all.
inline std::string LoadError(std::string_view scenario, std::string_view source) {
    sim::Machine machine;
    std::string error;
    EXPECT_FALSE(sim::LoadScenarioText(scenario, source, machine, error));
    return error;
}

// JSON a test did not build (the runner's state, the trace, a host's record) is read
// through these: a key or element that is not there fails the test at the line that
// reads it, naming its path, and reads as null, where operator[] on a const json would
// abort the binary and lose every later result. A source holds that line.
struct JsonSource {
    JsonSource(const nlohmann::json& json,
               std::source_location where = std::source_location::current())
        : json(json), where(where) {}
    // What a temporary holds would be gone before the reference is read.
    JsonSource(nlohmann::json&&, std::source_location = std::source_location::current()) = delete;

    template <typename... Steps>
    const nlohmann::json* Find(const Steps&... steps) const {
        const nlohmann::json* at = &json;
        std::string path;
        [[maybe_unused]] auto down = [&](const auto& step) {
            if (at == nullptr) {
                return;
            }
            const nlohmann::json& above = *at;
            if constexpr (std::is_integral_v<std::decay_t<decltype(step)>>) {
                const auto index = static_cast<std::size_t>(step);
                path.append("[").append(std::to_string(index)).append("]");
                at = above.is_array() && index < above.size() ? &above[index] : nullptr;
            } else {
                const std::string key(step);
                path.append(path.empty() ? "" : ".").append(key);
                const auto found = above.find(key);  // end() for all but an object
                at = found != above.end() ? &*found : nullptr;
            }
            if (at == nullptr) {
                ADD_FAILURE_AT(where.file_name(), where.line())
                    << "no " << path << " in " << above.dump().substr(0, 200);
            }
        };
        (down(steps), ...);
        return at;
    }

    const nlohmann::json& json;
    std::source_location where;
};

// The value below `source` at keys and indices `steps`.
template <typename... Steps>
const nlohmann::json& At(JsonSource source, const Steps&... steps) {
    static const nlohmann::json none;
    const nlohmann::json* found = source.Find(steps...);
    return found != nullptr ? *found : none;
}

// The value at `steps` as text, a number or a truth value; a value of another kind fails
// the test and reads as T{}.
template <typename T, typename... Steps>
T As(JsonSource source, const Steps&... steps) {
    const nlohmann::json* found = source.Find(steps...);
    const bool fits = found != nullptr && (std::is_same_v<T, std::string> ? found->is_string()
                                           : std::is_same_v<T, bool>      ? found->is_boolean()
                                                                          : found->is_number());
    if (found != nullptr && !fits) {
        ADD_FAILURE_AT(source.where.file_name(), source.where.line())
            << "not the kind of value the test reads: " << found->dump().substr(0, 200);
    }
    return fits ? found->template get<T>() : T{};
}

// JSON text a test did not write; text that does not parse fails the test and reads as null.
inline nlohmann::json ParseJson(std::string_view text,
                                std::source_location where = std::source_location::current()) {
    nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
    if (value.is_discarded()) {
        ADD_FAILURE_AT(where.file_name(), where.line()) << "not JSON: " << text.substr(0, 200);
        return nullptr;
    }
    return value;
}

// An array of the records in `text`, one a line, as the trace and a host's request
// record are written.
inline nlohmann::json JsonLines(std::string_view text,
                                std::source_location where = std::source_location::current()) {
    nlohmann::json records = nlohmann::json::array();
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        if (end != 0) {
            records.push_back(ParseJson(text.substr(0, end), where));
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return records;
}

// The trace of the machine installed now.
inline nlohmann::json TraceRecords(std::source_location where = std::source_location::current()) {
    return JsonLines(sim::TraceJsonLines(), where);
}

// The records of one platform call, in order.
inline nlohmann::json CallsOf(const nlohmann::json& records, std::string_view op) {
    nlohmann::json calls = nlohmann::json::array();
    for (const nlohmann::json& record : records) {
        if (record.contains("op") && record["op"] == std::string(op)) {
            calls.push_back(record);
        }
    }
    return calls;
}
