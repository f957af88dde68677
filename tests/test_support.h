// Shared fixtures: a simulated machine installed for one test, and the console
// collected instead of printed.
#pragma once

#include <gtest/gtest.h>

#include <string>

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
