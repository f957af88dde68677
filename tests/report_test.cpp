#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/disk_info.h"
#include "firmware/firmware_package.h"
#include "report/report.h"
#include "report/text.h"
#include "test_support.h"

namespace {

struct Drive {
    std::int32_t kind;
    const wchar_t* revision;
    std::int32_t code;  // what the run left in updateResult
};

struct ReportCase {
    const char* name;
    std::vector<Drive> drives;
    std::vector<const char*> driveMessages;
    std::int32_t finalResult;
};

constexpr char kUpdated[] = "Updated firmware successfully.";
constexpr char kReboot[] =
    "Downloaded firmware successfully, but firmware activation requires reboot.";
constexpr char kFailed[] = "Unable to update firmware.";
constexpr char kLatest[] = "Already have the latest firmware.";
constexpr wchar_t kBase[] = L"QZT2VKLA";
constexpr wchar_t kTarget[] = L"QZT3VKLA";

class ReportTest : public testing::TestWithParam<ReportCase> {
  protected:
    void SetUp() override {
        machine_.localTime = FixedTime(7, 12, 2026, 21, 6, 40);
        LoadFirmwarePackage();
    }

    sim::Machine machine_;
};

std::string FinalLineFor(std::int32_t finalResult) {
    switch (finalResult) {
        case 0:
            return std::string("Result Details : ") + kUpdated;
        case 1602:
            return std::string("Result Details : ") + kReboot;
        case 4000:
            return kLatest;
        default:
            return std::string("Result Details : ") + kFailed;
    }
}

TEST_P(ReportTest, PrintsEveryDriveAndDecidesTheFinalResult) {
    const ReportCase& c = GetParam();
    sim::MachineInstall install(machine_);
    UpdateSession session;
    session.startTime = L"07-12-2026(21:05:09)";
    for (const Drive& d : c.drives) {
        DiskInfo disk;
        disk.driverKind = d.kind;
        disk.modelNumber = L"KORVANE QZRX4C7 1TB                     ";
        disk.serialNumber = L"KV2311000001        ";
        disk.firmwareRevision = d.revision;
        disk.updateResult = d.code;
        session.updateList.push_back(disk);
    }

    ConsoleCapture console;
    const std::int32_t result = WriteReport(session);

    std::string expected =
        "Start Time : 07-12-2026(21:05:09)\n"
        "End Time : 07-12-2026(21:06:40)\n";
    for (std::size_t i = 0; i < c.drives.size(); ++i) {
        std::string revision;
        for (const wchar_t* p = c.drives[i].revision; *p != 0; ++p) {
            revision.push_back(static_cast<char>(*p));
        }
        expected += "\n[Disk #" + std::to_string(i + 1) +
                    "]\n"
                    "Model Number : KORVANE QZRX4C7 1TB                     \n"
                    "Serial Number : KV2311000001        \n"
                    "Current Firmware Version : " +
                    revision +
                    "\n"
                    "Updated Firmware Version : QZT3VKLA\n"
                    "Result Details : " +
                    c.driveMessages[i] + "\n";
    }
    expected += "\n[Final Result]\n" + FinalLineFor(c.finalResult) + "\n\n";

    EXPECT_EQ(console.Text(), expected);
    EXPECT_EQ(result, c.finalResult);
    EXPECT_EQ(session.finalResult, c.finalResult);
}

INSTANTIATE_TEST_SUITE_P(
    DecisionTable, ReportTest,
    testing::Values(ReportCase{"InboxRebootNeeded", {{Inbox, kBase, 1602}}, {kReboot}, 1602},
                    ReportCase{"RstSuccessBecomesReboot", {{RstNvme, kBase, 0}}, {kReboot}, 1602},
                    ReportCase{"RaidSuccessBecomesReboot", {{RstRaid, kBase, 0}}, {kReboot}, 1602},
                    ReportCase{"InboxSuccessStays", {{Inbox, kBase, 0}}, {kUpdated}, 0},
                    ReportCase{"AlreadyAtTarget", {{Inbox, kTarget, 20}}, {kLatest}, 4000},
                    // A reboot is due whatever order the drives come in: "nothing to do"
                    // would tell a deployment tool not to schedule it.
                    ReportCase{"RebootThenLatest",
                               {{Inbox, kBase, 1602}, {Inbox, kTarget, 20}},
                               {kReboot, kLatest},
                               1602},
                    ReportCase{"FourRebootsThenLatest",
                               {{RstRaid, kBase, 0},
                                {RstRaid, kBase, 0},
                                {RstNvme, kBase, 0},
                                {Inbox, kBase, 1602},
                                {Inbox, kTarget, 20}},
                               {kReboot, kReboot, kReboot, kReboot, kLatest},
                               1602},
                    ReportCase{"LatestRebootLatest",
                               {{Inbox, kTarget, 20}, {RstNvme, kBase, 0}, {Inbox, kTarget, 20}},
                               {kLatest, kReboot, kLatest},
                               1602},
                    ReportCase{"LatestThenReboot",
                               {{Inbox, kTarget, 20}, {Inbox, kBase, 1602}},
                               {kLatest, kReboot},
                               1602},
                    ReportCase{"FailureFirstSticks",
                               {{Inbox, kBase, 1}, {Inbox, kBase, 1602}, {Inbox, kTarget, 20}},
                               {kFailed, kReboot, kLatest},
                               1},
                    ReportCase{"FailureLastSticks",
                               {{Inbox, kTarget, 20}, {RstNvme, kBase, 1}},
                               {kLatest, kFailed},
                               1},
                    // A drive that could not be opened, or whose driver refused a request, is a
                    // failure of the run, never a success.
                    ReportCase{"UnreachableDriveFails", {{Inbox, kBase, 5}}, {kFailed}, 1},
                    ReportCase{"EveryDriveUnreachable",
                               {{Inbox, kBase, 5}, {RstRaid, kBase, 5}},
                               {kFailed, kFailed},
                               1},
                    ReportCase{"UnreachableAfterReboot",
                               {{Inbox, kBase, 1602}, {RstNvme, kBase, 5}},
                               {kReboot, kFailed},
                               1},
                    ReportCase{"UnreachableBeforeLatest",
                               {{RstNvme, kBase, 5}, {Inbox, kTarget, 20}},
                               {kFailed, kLatest},
                               1},
                    ReportCase{"RstRebootCode",
                               {{RstRaid, kBase, 1602}, {RstRaid, kBase, 1602}},
                               {kReboot, kReboot},
                               1602}),
    [](const testing::TestParamInfo<ReportCase>& info) { return info.param.name; });

TEST(Report, EmptyListPrintsNoDiskAndFails) {
    sim::Machine machine;
    machine.localTime = FixedTime(1, 2, 2027, 3, 4, 5);
    sim::MachineInstall install(machine);
    LoadFirmwarePackage();
    UpdateSession session;
    session.startTime = L"01-02-2027(03:04:05)";

    ConsoleCapture console;
    EXPECT_EQ(WriteReport(session), 1);
    EXPECT_EQ(console.Text(),
              "Start Time : 01-02-2027(03:04:05)\n"
              "End Time : 01-02-2027(03:04:05)\n"
              "\n[No Disk]\n"
              "Updated Firmware Version : QZT3VKLA\n"
              "Result Details : No disks are available for download.\n"
              "\n[Final Result]\n"
              "Result Details : Unable to update firmware.\n\n");
    EXPECT_EQ(session.endTime, L"01-02-2027(03:04:05)");
}

TEST(Report, WideTextIsCutToEightBitsThenReadAsUtf8) {
    sim::Machine machine;
    machine.localTime = FixedTime(1, 2, 2027, 3, 4, 5);
    sim::MachineInstall install(machine);
    LoadFirmwarePackage();
    UpdateSession session;
    DiskInfo disk;
    disk.driverKind = Inbox;
    // 0xFFE9 keeps 0xE9, a lone lead byte that UTF-8 cannot read: it is replaced.
    // The pair 0xFFC3 0xFFA9 keeps C3 A9, the UTF-8 form of U+00E9.
    disk.modelNumber = {L'A', static_cast<wchar_t>(0xFFE9), L'B'};
    disk.serialNumber = {static_cast<wchar_t>(0xFFC3), static_cast<wchar_t>(0xFFA9)};
    disk.firmwareRevision = kBase;
    disk.updateResult = 1602;
    session.updateList.push_back(disk);

    ConsoleCapture console;
    WriteReport(session);
    EXPECT_NE(console.Text().find("Model Number : A\xEF\xBF\xBD"
                                  "B\n"),
              std::string::npos);
    EXPECT_NE(console.Text().find("Serial Number : \xC3\xA9\n"), std::string::npos);
}

TEST(FormatLocalTime, PadsEveryFieldWithZeros) {
    struct Case {
        SYSTEMTIME time;
        const char* text;
    };
    const Case cases[] = {
        {FixedTime(7, 12, 2026, 21, 5, 9), "07-12-2026(21:05:09)"},
        {FixedTime(1, 1, 2027, 0, 0, 0), "01-01-2027(00:00:00)"},
        {FixedTime(31, 10, 999, 23, 59, 59), "31-10-0999(23:59:59)"},
    };
    for (const Case& c : cases) {
        sim::Machine machine;
        machine.localTime = c.time;
        sim::MachineInstall install(machine);
        EXPECT_EQ(FormatLocalTime(), c.text);
    }
}

TEST(Utf8ToWide, ConvertsThroughThePlatform) {
    sim::Machine machine;
    sim::MachineInstall install(machine);
    EXPECT_EQ(Utf8ToWide("", 0), L"");
    EXPECT_EQ(Utf8ToWide("VEN_7C1E", 8), L"VEN_7C1E");
    const std::wstring accented = Utf8ToWide("caf\xC3\xA9", 5);
    ASSERT_EQ(accented.size(), 4u);
    EXPECT_EQ(static_cast<unsigned>(accented[3]), 0xE9u);
    // Four UTF-8 bytes become a surrogate pair: UTF-16 units on every platform.
    const std::wstring emoji = Utf8ToWide("\xF0\x9F\x98\x80", 4);
    ASSERT_EQ(emoji.size(), 2u);
    EXPECT_EQ(static_cast<unsigned>(emoji[0]), 0xD83Du);
    EXPECT_EQ(static_cast<unsigned>(emoji[1]), 0xDE00u);
    // Only the given length is read.
    EXPECT_EQ(Utf8ToWide("ABCDEF", 3), L"ABC");
}

}  // namespace
