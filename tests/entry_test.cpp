#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_support.h"

namespace {

const std::string kRule(96, '=');

TEST(Entry, EmptyMachinePrintsBannerAndNoDisk) {
    sim::Machine machine;
    machine.localTime = FixedTime(7, 12, 2026, 21, 5, 9);
    const ProgramRun run = RunProgram(machine, {});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output,
              kRule +
                  "\nKORVANEFWUpdateQZRX4C7_V1.0.2_QZT3VKLA\n"
                  "Copyright (C) 2026 KORVANE Technology Co., Ltd. All rights reserved.\n" +
                  kRule +
                  "\n"
                  "Start Time : 07-12-2026(21:05:09)\n"
                  "End Time : 07-12-2026(21:05:09)\n"
                  "\n[No Disk]\n"
                  "Updated Firmware Version : QZT3VKLA\n"
                  "Result Details : No disks are available for download.\n"
                  "\n[Final Result]\n"
                  "Result Details : Unable to update firmware.\n\n");
}

TEST(Entry, AnyArgumentIsRejectedBeforeAnythingElse) {
    const std::vector<std::vector<std::wstring>> argumentLists = {
        {L"/s"}, {L"/log"}, {L""}, {L"-h", L"extra"}};
    for (const auto& args : argumentLists) {
        sim::Machine machine;
        const ProgramRun run = RunProgram(machine, args);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.output, "[ERROR] Invalid Parameter\n");
    }
}

TEST(Entry, MissingModuleHandleIsReportedAndTheRunGoesOn) {
    sim::Machine machine;
    machine.moduleHandleFails = true;
    const ProgramRun run = RunProgram(machine, {});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output.rfind("Fatal Error: GetModuleHandle failed\n" + kRule, 0), 0u)
        << run.output;
    EXPECT_NE(run.output.find("[No Disk]"), std::string::npos);
}

TEST(Entry, MissingModuleHandleDoesNotHideTheParameterError) {
    sim::Machine machine;
    machine.moduleHandleFails = true;
    const ProgramRun run = RunProgram(machine, {L"/s"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "Fatal Error: GetModuleHandle failed\n[ERROR] Invalid Parameter\n");
}

}  // namespace
