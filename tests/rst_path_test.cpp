#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rst/rst.h"
#include "run_support.h"

namespace {

const std::string kDownloadPass = "\n  [PASS] Firmware download is succeeded.\n";
const std::string kPowerCyclePass =
    "  [PASS] Firmware activate succeeded. PLEASE SHUTDOWN COMPUTER.\n\n\n";
constexpr char kRebootLine[] =
    "Result Details : Downloaded firmware successfully, but firmware activation requires reboot.";
constexpr char kFailLine[] = "Result Details : Unable to update firmware.";

std::string Padded(const std::string& text, std::size_t width) {
    return text + std::string(width - text.size(), ' ');
}

std::string RstTable(bool raid, const std::string& serial) {
    return TargetTable("IRST Driver", raid ? "Yes" : "No", Padded("KORVANE QZRX4C7 1TB", 40),
                       Padded(serial, 20), "QZT2VKLA", " Updated FW : ");
}

// The maker's drive at the base revision; `extra` adds fields or replaces the revision
// and the granularity.
std::string Drive(const std::string& id, const std::string& extra = "") {
    std::string fields = R"({"id":")" + id + R"(","sn":")" + id + R"(","mn":"KORVANE QZRX4C7 1TB")";
    if (extra.find("\"version\"") == std::string::npos) {
        fields += R"(,"version":"1.3")";
    }
    if (extra.find("\"fr\"") == std::string::npos) {
        fields += R"(,"fr":"QZT2VKLA")";
    }
    if (extra.find("\"fwug\"") == std::string::npos) {
        fields += R"(,"fwug":8)";
    }
    return fields + extra + "}";
}

// The device path of the scenario's first controller, as discovery would find it.
std::wstring ControllerPath(const sim::Machine& machine) {
    return *machine.devices[machine.controllers[0].device].interfaces[0].path;
}

// A controller "c" with the given RAID sets and drives, and the given disk list.
std::string Scenario(const std::string& controllerExtra, const std::string& drives,
                     const std::string& disks) {
    return R"({"controllers":[{"id":"c")" + controllerExtra + R"(,"drives":{)" + drives +
           R"(}}],"disks":[)" + disks + "]}";
}

void ExpectSoundAndUpdated(const ProgramRun& run, const std::vector<std::string>& updated) {
    for (const nlohmann::json& drive : At(run.state, "drives")) {
        EXPECT_EQ(At(drive, "protocolErrors"), nlohmann::json::array()) << drive.dump();
    }
    for (const std::string& id : updated) {
        const nlohmann::json& drive = run.Drive(id);
        EXPECT_EQ(At(drive, "slots").size(), 1u) << drive.dump();
        EXPECT_EQ(At(drive, "slots", 0, "number"), 2);
        EXPECT_EQ(At(drive, "slots", 0, "sha256"), ImageSha256());
        EXPECT_EQ(At(drive, "activations"), 1);
    }
}

TEST(RstRun, RaidOneVolumeUpdatesBothMembersInMemberOrder) {
    const ProgramRun run = RunScenario(Scenario(R"(,"raidSets":[[3,1]])",
                                                R"("1":)" + Drive("M1") + R"(,"3":)" + Drive("M3"),
                                                R"({"attach":"raid-volume","controller":"c"})"));
    EXPECT_EQ(run.exitCode, 1602);
    EXPECT_EQ(ConsoleAfterBanner(run), RstTable(true, "M3") + kDownloadPass + kPowerCyclePass +
                                           RstTable(true, "M1") + kDownloadPass + kPowerCyclePass);
    EXPECT_NE(run.output.find("[Disk #1]\nModel Number : KORVANE QZRX4C7 1TB" +
                              std::string(21, ' ') + "\nSerial Number : M3" + std::string(18, ' ')),
              std::string::npos);
    EXPECT_NE(run.output.find("[Disk #2]"), std::string::npos);
    ExpectSoundAndUpdated(run, {"M1", "M3"});
}

TEST(RstRun, SingleDriveAndRaidThenInboxInDiscoveryOrder) {
    const ProgramRun run = RunScenario(
        R"({"controllers":[{"id":"c","raidSets":[[0,1]],"drives":{"0":)" + Drive("M0") +
        R"(,"1":)" + Drive("M1") + R"(,"5":)" + Drive("S5") +
        R"(}}],"disks":[{"attach":"inbox","deviceNumber":1,"drive":)" + Drive("IN") +
        R"(},{"attach":"rst","controller":"c","pathId":5},{"attach":"raid-volume","controller":"c"}]})");
    EXPECT_EQ(run.exitCode, 1602);
    const std::string out = ConsoleAfterBanner(run);
    const std::size_t single = out.find("Serial Number : S5");
    const std::size_t member0 = out.find("Serial Number : M0");
    const std::size_t member1 = out.find("Serial Number : M1");
    const std::size_t inbox = out.find("Serial Number : IN");
    ASSERT_TRUE(single != std::string::npos && member0 != std::string::npos &&
                member1 != std::string::npos && inbox != std::string::npos)
        << out;
    EXPECT_LT(single, member0);
    EXPECT_LT(member0, member1);
    EXPECT_LT(member1, inbox);
    EXPECT_NE(out.find(RstTable(false, "S5")), std::string::npos);
    ExpectSoundAndUpdated(run, {"S5", "M0", "M1", "IN"});
}

struct WireCase {
    const char* version;
    int fwug;
    std::size_t requests;
    std::size_t requestSize;
    std::size_t lastRequestSize;
};

class RstWire : public testing::TestWithParam<WireCase> {};

TEST_P(RstWire, DownloadsEveryByteInChunksThenActivatesSlotTwo) {
    const WireCase& c = GetParam();
    const ProgramRun run =
        RunScenario(Scenario("",
                             R"("2":)" + Drive("S", R"(,"version":")" + std::string(c.version) +
                                                        R"(","fwug":)" + std::to_string(c.fwug)),
                             R"({"attach":"rst","controller":"c","pathId":2})"));
    EXPECT_EQ(run.exitCode, 1602);
    std::vector<std::string> firmware;
    for (const nlohmann::json& call : run.Calls("DeviceIoControl")) {
        const std::string in = As<std::string>(call, "in");
        if (in.size() >= 24 && in.substr(8, 16) == "496e74656c467720") {  // "IntelFw "
            firmware.push_back(in);
        }
    }
    ASSERT_EQ(firmware.size(), c.requests + 1);
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < c.requests; ++i) {
        const std::string& in = firmware[i];
        const std::size_t size = i + 1 == c.requests ? c.lastRequestSize : c.requestSize;
        ASSERT_EQ(in.size(), 2 * size) << "request " << i;
        EXPECT_EQ(HexField(in, 24, 4), size - 28);
        EXPECT_EQ(HexField(in, 29, 1), 2u) << "path number";
        EXPECT_EQ(HexField(in, 52, 4), size - 56);
        EXPECT_EQ(HexField(in, 64, 8), offset);
        EXPECT_EQ(HexField(in, 72, 8), size - 88);
        offset += size - 88;
    }
    EXPECT_EQ(offset, 2097152u) << "every byte of the image, none beyond it";
    const std::string& activation = firmware.back();
    ASSERT_EQ(activation.size(), 2u * 68);
    EXPECT_EQ(HexField(activation, 40, 4), 3u);
    EXPECT_EQ(HexField(activation, 64, 1), 2u);
    ExpectSoundAndUpdated(run, {"S"});
}

INSTANTIATE_TEST_SUITE_P(Granularities, RstWire,
                         testing::Values(WireCase{"1.3", 1, 512, 4184, 4184},
                                         WireCase{"1.3", 128, 4, 524376, 524376},
                                         WireCase{"1.3", 3, 171, 12376, 8280},
                                         WireCase{"2.0", 8, 64, 32856, 32856},
                                         WireCase{"1.3", 255, 512, 4184, 4184}));

struct OutcomeCase {
    const char* name;
    std::string driveExtra;
    std::int32_t exitCode;
    std::string afterDownload;  // what follows the table
};

class RstOutcome : public testing::TestWithParam<OutcomeCase> {};

TEST_P(RstOutcome, PrintsTheDriversAnswer) {
    const OutcomeCase& c = GetParam();
    const ProgramRun run = RunScenario(Scenario("", R"("2":)" + Drive("S", c.driveExtra),
                                                R"({"attach":"rst","controller":"c","pathId":2})"));
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(ConsoleAfterBanner(run), RstTable(false, "S") + c.afterDownload);
    EXPECT_NE(run.output.find(std::string("[Final Result]\n") +
                              (c.exitCode == 1 ? kFailLine : kRebootLine)),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, RstOutcome,
    testing::Values(
        OutcomeCase{"PowerCycle", "", 1602, kDownloadPass + kPowerCyclePass},
        OutcomeCase{"Immediate", R"(,"activation":"immediate")", 1602,
                    kDownloadPass + "  [PASS] Firmware activation is succeeded.\n\n"},
        OutcomeCase{"Error", R"(,"faults":{"activate":{"returnCode":1}})", 1,
                    kDownloadPass + "  [ERROR] Firmware activate failed: error returned\n\n"},
        OutcomeCase{
            "IllegalRequest", R"(,"faults":{"activate":{"returnCode":2}})", 1,
            kDownloadPass +
                "  [ERROR] Firmware activate parameter error: srbControl->ReturnCode 2\n\n"},
        OutcomeCase{"Unexpected5", R"(,"faults":{"activate":{"returnCode":5}})", 1,
                    kDownloadPass + "  [ERROR] Firmware activate failed: unexpected error, "
                                    "srbControl->ReturnCode 5\n\n"},
        OutcomeCase{"InvalidSlot", R"(,"faults":{"activate":{"returnCode":6}})", 1,
                    kDownloadPass + "  [ERROR] Firmware activate failed: invalid slot number\n\n"},
        OutcomeCase{
            "InvalidImage", R"(,"faults":{"activate":{"returnCode":7}})", 1,
            kDownloadPass + "  [ERROR] Firmware activate failed: invalid firmware image\n\n"},
        OutcomeCase{"ControllerError", R"(,"faults":{"activate":{"returnCode":16}})", 1,
                    kDownloadPass + "  [ERROR] Firmware activate failed: error returned\n\n"},
        OutcomeCase{"ReadOnlySlotTwo", R"(,"slots":[{"number":1,"readOnly":true},{"number":3}])", 1,
                    kDownloadPass + "  [ERROR] Firmware activate failed: invalid slot number\n\n"},
        OutcomeCase{"ChunkRefused", R"(,"faults":{"download":{"chunk":3,"returnCode":4}})", 1,
                    "  [ERROR] Firmware download failed: srbControl->ReturnCode 4\n"
                    "\n  [FAIL] Firmware download failed.\n"},
        OutcomeCase{"ActivateRequestFails", R"(,"faults":{"activate":"fail"})", 1,
                    kDownloadPass + "  [ERROR] Firmware activate IOCTL failed: 0x1F\n"}),
    [](const testing::TestParamInfo<OutcomeCase>& info) { return info.param.name; });

TEST(RstRun, DriveAtTheTargetIsReportedAndLeftAlone) {
    const ProgramRun run = RunScenario(Scenario("", R"("2":)" + Drive("S", R"(,"fr":"QZT3VKLA")"),
                                                R"({"attach":"rst","controller":"c","pathId":2})"));
    EXPECT_EQ(run.exitCode, 4000);
    EXPECT_EQ(ConsoleAfterBanner(run), "");
    EXPECT_NE(run.output.find("Result Details : Already have the latest firmware.\n\n[Final "
                              "Result]\nAlready have the latest firmware.\n"),
              std::string::npos);
    EXPECT_EQ(At(run.Drive("S"), "downloadRequests"), 0);
}

TEST(RstRun, FailedDownloadRequestStopsAtOnce) {
    const ProgramRun run = RunScenario(
        Scenario("", R"("2":)" + Drive("S", R"(,"faults":{"download":{"chunk":0,"fail":true}})"),
                 R"({"attach":"rst","controller":"c","pathId":2})"));
    EXPECT_EQ(run.exitCode, 1);
    const std::string out = ConsoleAfterBanner(run);
    EXPECT_NE(out.find("  [ERROR] Firmware download IOCTL failed: 0x"), std::string::npos);
    EXPECT_NE(out.find("\n\n  [FAIL] Firmware download failed.\n"), std::string::npos) << out;
    EXPECT_EQ(At(run.Drive("S"), "downloadRequests"), 1);
    EXPECT_EQ(At(run.Drive("S"), "activations"), 0);
}

// ---------------------------------------------------------------------------
// RAID membership

struct RaidCase {
    const char* name;
    std::string scenario;
    std::vector<std::string> updated;  // drive ids in report order
    std::string console;               // what the query printed, if anything
};

class RaidMembers : public testing::TestWithParam<RaidCase> {};

TEST_P(RaidMembers, ExpandsEachVolumeIntoItsOwnMembers) {
    const RaidCase& c = GetParam();
    const ProgramRun run = RunScenario(c.scenario);
    // The drives of the report, in its order.
    const std::string label = "\nSerial Number : ";
    std::vector<std::string> reported;
    for (std::size_t at = run.output.find(label); at != std::string::npos;
         at = run.output.find(label, at + 1)) {
        const std::size_t start = at + label.size();
        reported.push_back(
            run.output.substr(start, run.output.find_first_of(" \n", start) - start));
    }
    EXPECT_EQ(reported, c.updated) << run.output;
    if (!c.console.empty()) {
        EXPECT_NE(ConsoleAfterBanner(run).find(c.console), std::string::npos)
            << ConsoleAfterBanner(run);
    }
    ExpectSoundAndUpdated(run, c.updated);
}

const std::string kFourDrives = R"("0":)" + Drive("D0") + R"(,"1":)" + Drive("D1") + R"(,"2":)" +
                                Drive("D2") + R"(,"3":)" + Drive("D3");
const std::string kVolume = R"({"attach":"raid-volume","controller":"c"})";

INSTANTIATE_TEST_SUITE_P(
    Cases, RaidMembers,
    testing::Values(
        RaidCase{"FourMembersAreAllUpdated",
                 Scenario(R"(,"raidSets":[[0,1,2,3]])", kFourDrives, kVolume),
                 {"D0", "D1", "D2", "D3"},
                 ""},
        RaidCase{"SecondVolumeAsksForTheSecondSet",
                 Scenario(R"(,"raidSets":[[0,1],[2,3]])", kFourDrives, kVolume + "," + kVolume),
                 {"D0", "D1", "D2", "D3"},
                 ""},
        RaidCase{"HighPathNumbers",
                 Scenario(R"(,"raidSets":[[128,255]])",
                          R"("128":)" + Drive("H128") + R"(,"255":)" + Drive("H255"), kVolume),
                 {"H128", "H255"},
                 ""},
        RaidCase{
            "ConfigRequestFails",
            Scenario(R"(,"raidSets":[[0,1]],"faults":{"raidConfig":"fail"})", kFourDrives, kVolume),
            {},
            "  [ERROR] CSMI GET RAID CONFIG IOCTL failed: 0x1F\n\n"},
        RaidCase{"ConfigReturnCode26",
                 Scenario(R"(,"raidSets":[[0,1]],"faults":{"raidConfig":{"returnCode":26}})",
                          kFourDrives, kVolume),
                 {},
                 "  [ERROR] CSMI GET RAID CONFIG ReturnCode: 0x1a\n\n"}),
    [](const testing::TestParamInfo<RaidCase>& info) { return info.param.name; });

// A controller whose one RAID set holds drive A at path `a` and drive B at path `b`,
// and the volume it presents.
std::string TwoMemberSet(int a, int b) {
    const std::string first = std::to_string(a);
    const std::string second = std::to_string(b);
    return Scenario(R"(,"raidSets":[[)" + first + "," + second + "]]",
                    "\"" + first + "\":" + Drive("A") + ",\"" + second + "\":" + Drive("B"),
                    kVolume);
}

// The RAID volume the controller at `path` presents.
DiskInfo Volume(const std::wstring& path) {
    DiskInfo volume;
    volume.devicePath = path;
    volume.driverKind = RstRaid;
    return volume;
}

TEST(RaidMembers, MemberEntriesCarryThePathNumberZeroExtended) {
    sim::Machine machine = MachineFrom(TwoMemberSet(200, 7));
    sim::MachineInstall install(machine);
    const DiskInfo volume = Volume(ControllerPath(machine));
    DiskList identified;
    ConsoleCapture console;
    EXPECT_EQ(QueryRaidMembers(volume, 0, identified), 0);
    ASSERT_EQ(identified.size(), 2u);
    EXPECT_EQ(identified[0].pathId, 200);
    EXPECT_EQ(identified[1].pathId, 7);
    for (const DiskInfo& disk : identified) {
        EXPECT_EQ(disk.driverKind, RstRaid);
        EXPECT_EQ(disk.devicePath, volume.devicePath);
        EXPECT_EQ(disk.serialNumber.size(), 20u);
        EXPECT_EQ(disk.modelNumber.size(), 40u);
        EXPECT_EQ(disk.firmwareRevision.size(), 8u);
        EXPECT_EQ(disk.downloadGranularity, 8);
    }
    EXPECT_EQ(console.Text(), "");
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
}

TEST(RaidMembers, AMemberAlreadyIdentifiedIsNotAddedAgain) {
    sim::Machine machine = MachineFrom(TwoMemberSet(0, 1));
    sim::MachineInstall install(machine);
    const DiskInfo volume = Volume(ControllerPath(machine));
    DiskList identified;
    EXPECT_EQ(QueryRaidMembers(volume, 0, identified), 0);
    EXPECT_EQ(QueryRaidMembers(volume, 0, identified), 0);
    ASSERT_EQ(identified.size(), 2u);
    EXPECT_EQ(identified[0].pathId, 0);
    EXPECT_EQ(identified[1].pathId, 1);
}

// A disk the controller shows both as a single disk and as a RAID member is one
// drive: identified, updated and reported once, in whichever order discovery lists
// its two entries.
TEST(RstRun, ADriveListedAsSingleDiskAndMemberIsUpdatedOnce) {
    for (const bool singleFirst : {true, false}) {
        SCOPED_TRACE(singleFirst ? "single disk first" : "RAID volume first");
        const std::string single = R"({"attach":"rst","controller":"c","pathId":2})";
        const std::string volume = R"({"attach":"raid-volume","controller":"c"})";
        const ProgramRun run = RunScenario(
            Scenario(R"(,"raidSets":[[2,3]])", R"("2":)" + Drive("A") + R"(,"3":)" + Drive("B"),
                     singleFirst ? single + "," + volume : volume + "," + single));
        EXPECT_EQ(run.exitCode, 1602);
        EXPECT_EQ(At(run.Drive("A"), "activations"), 1);
        EXPECT_EQ(At(run.Drive("A"), "downloadRequests"), 64);
        EXPECT_NE(run.output.find("[Disk #2]"), std::string::npos);
        EXPECT_EQ(run.output.find("[Disk #3]"), std::string::npos) << run.output;
        std::size_t identifies = 0;
        for (const nlohmann::json& call : run.Calls("DeviceIoControl")) {
            const std::string in = As<std::string>(call, "in");
            identifies += in.size() > 58 && in.substr(8, 16) == "496e74656c4e766d" &&  // "IntelNvm"
                          in.substr(58, 2) == "02";
        }
        EXPECT_EQ(identifies, 1u);
        ExpectSoundAndUpdated(run, {"A", "B"});
    }
}

// The member query of a volume at `path` finds no member and prints nothing.
void ExpectNoMembersAndSilence(const std::wstring& path) {
    const DiskInfo volume = Volume(path);
    DiskList identified;
    ConsoleCapture console;
    EXPECT_EQ(QueryRaidMembers(volume, 0, identified), 0);
    EXPECT_TRUE(identified.empty());
    EXPECT_EQ(console.Text(), "");
}

TEST(RaidMembers, ASetWithoutMembersYieldsNothingAndIsSilent) {
    sim::Machine machine = MachineFrom(TwoMemberSet(0, 1));
    machine.controllers[0].raidSets[0].clear();
    sim::MachineInstall install(machine);
    ExpectNoMembersAndSilence(ControllerPath(machine));
}

TEST(RaidMembers, UnopenableControllerIsSilent) {
    sim::Machine machine = MachineFrom("{}");
    sim::MachineInstall install(machine);
    ExpectNoMembersAndSilence(L"\\\\?\\pci#ven_8086&missing");
}

// ---------------------------------------------------------------------------
// Identify through the pass-through

TEST(IdentifyRstDisk, KeepsEveryByteOfTheFixedWidthFields) {
    sim::Machine machine = MachineFrom(Scenario(
        "",
        R"("4":{"id":"X","sn":"AB\u0000CD","mn":"M\u00e9","fr":"QZT2\u0000\u0000\u0000\u0000","version":"2.0","fwug":8})",
        R"({"attach":"rst","controller":"c","pathId":4})"));
    sim::MachineInstall install(machine);
    DiskInfo disk;
    disk.devicePath = ControllerPath(machine);
    disk.pathId = 4;
    disk.driverKind = RstNvme;
    DiskList identified;
    EXPECT_EQ(IdentifyRstDisk(disk, identified), 0);
    ASSERT_EQ(identified.size(), 1u);
    EXPECT_EQ(identified[0].serialNumber, std::wstring(L"AB\0CD", 5) + std::wstring(15, L' '));
    EXPECT_EQ(identified[0].modelNumber,
              L"M" + std::wstring(1, static_cast<wchar_t>(0xFFE9)) + std::wstring(38, L' '));
    EXPECT_EQ(identified[0].firmwareRevision, std::wstring(L"QZT2\0\0\0\0", 8));
    EXPECT_EQ(identified[0].downloadGranularity, 8) << "version 2.0 reports FWUG";
}

TEST(IdentifyRstDisk, FailuresAppendNothingAndPrintNothing) {
    sim::Machine machine =
        MachineFrom(Scenario("", R"("4":)" + Drive("X", R"(,"faults":{"identify":"fail"})"),
                             R"({"attach":"rst","controller":"c","pathId":4})"));
    sim::MachineInstall install(machine);
    const std::wstring controller = ControllerPath(machine);
    struct Case {
        std::wstring path;
        std::int64_t pathId;
        std::int32_t result;
    };
    const Case cases[] = {
        {controller, 4, 5},                      // the drive refuses
        {controller, -1, 5},                     // path 0xFF: nobody there
        {controller, 0x104, 5},                  // low byte 4... of another path
        {L"\\\\?\\pci#ven_8086&missing", 4, 8},  // no controller
    };
    ConsoleCapture console;
    for (const Case& c : cases) {
        DiskInfo disk;
        disk.devicePath = c.path;
        disk.pathId = c.pathId;
        disk.driverKind = RstNvme;
        DiskList identified;
        EXPECT_EQ(IdentifyRstDisk(disk, identified), c.result);
        EXPECT_TRUE(identified.empty());
    }
    EXPECT_EQ(console.Text(), "");
}

TEST(UpdateRstDisk, UnopenableControllerGetsItsTableThenTheError) {
    const auto [result, printed] =
        UpdateUnopenable(UpdateRstDisk, L"\\\\?\\pci#ven_8086&missing", RstRaid);
    EXPECT_EQ(result, 5);
    EXPECT_EQ(printed, TargetTable("IRST Driver", "Yes", "M", "S", "QZT2VKLA", " Updated FW : ") +
                           "  [ERROR] Failed to get disk handle: 0x2\n\n");
}

}  // namespace
