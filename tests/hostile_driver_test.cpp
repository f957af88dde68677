// The whole program against drivers that answer as broken ones would: replies cut
// short, patched, sizes that never settle. Whatever they answer, a drive is reported
// updated only when every chunk and the activation were accepted by the bytes the
// driver returned, the run ends, and no drive is updated twice.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "run_support.h"
#include "sim/sim.h"

namespace {

constexpr char kRebootLine[] =
    "Result Details : Downloaded firmware successfully, but firmware activation requires reboot.";
constexpr char kFailLine[] = "Result Details : Unable to update firmware.";

// A maker's drive at the base revision with `faults`, and a granularity of 8.
std::string Drive(const std::string& id, const std::string& faults = "{}",
                  const std::string& extra = "") {
    return R"({"id":")" + id + R"(","sn":")" + id + R"(","fwug":8,"faults":)" + faults + extra +
           "}";
}

std::string Inbox(const std::string& drive, const std::string& extra = "") {
    return R"({"attach":"inbox","drive":)" + drive + extra + "}";
}

std::string RstSingle(const std::string& drive, const std::string& controllerFaults = "{}") {
    return R"({"controllers":[{"id":"c","faults":)" + controllerFaults + R"(,"drives":{"2":)" +
           drive + R"(}}],"disks":[{"attach":"rst","controller":"c","pathId":2}]})";
}

// A controller whose set `raidSets` holds `drives`, with a fault on its RAID
// configuration replies, and the one volume it presents.
std::string RaidVolume(const std::string& raidSets, const std::string& raidConfigFault,
                       const std::string& drives) {
    return R"({"controllers":[{"id":"c","raidSets":[)" + raidSets + R"(],"faults":{"raidConfig":)" +
           raidConfigFault + R"(},"drives":{)" + drives +
           R"(}}],"disks":[{"attach":"raid-volume","controller":"c"}]})";
}

struct HostileCase {
    const char* name;
    std::string scenario;
    std::int32_t exitCode;
    // Per drive: activations the drive took, and download requests that reached it.
    std::map<std::string, std::pair<int, int>> drives;
    std::vector<std::string> printed;  // each must appear in the output
};

// Disk A's property read fails with `propertyFault`; A is passed over and the run
// goes on to update the sound disk B.
HostileCase PassedOver(const char* name, const std::string& propertyFault) {
    return HostileCase{
        name,
        R"({"disks":[)" + Inbox(Drive("A"), R"(,"faults":{"properties":{)" + propertyFault + "}}") +
            "," + Inbox(Drive("B")) + "]}",
        1602,
        {{"A", {0, 0}}, {"B", {1, 64}}},
        {kRebootLine}};
}

class HostileDriver : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileDriver, NeverReportsADriveUpdatedThatWasNot) {
    const HostileCase& c = GetParam();
    const ProgramRun run = RunScenario(c.scenario);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    for (const auto& [id, counts] : c.drives) {
        SCOPED_TRACE(id);
        EXPECT_EQ(At(run.Drive(id), "activations"), counts.first);
        EXPECT_EQ(At(run.Drive(id), "downloadRequests"), counts.second);
    }
    for (const std::string& text : c.printed) {
        EXPECT_NE(run.output.find(text), std::string::npos) << "missing: " << text << "\n"
                                                            << run.output;
    }
    // The verdict agrees with the drive blocks: no success while a block failed.
    if (run.exitCode != 1) {
        EXPECT_EQ(run.output.find(kFailLine), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("[No Disk]"), std::string::npos) << run.output;
    }
    for (const nlohmann::json& drive : At(run.state, "drives")) {
        EXPECT_EQ(At(drive, "protocolErrors"), nlohmann::json::array()) << drive.dump();
    }
    // One physical drive, one report block.
    for (const auto& [id, counts] : c.drives) {
        const std::string serial = "\nSerial Number : " + id + "\n";
        const std::size_t first = run.output.find(serial);
        EXPECT_TRUE(first == std::string::npos ||
                    run.output.find(serial, first + 1) == std::string::npos)
            << id << " is reported twice:\n"
            << run.output;
    }
}

const std::string kTwoInbox = R"({"disks":[)" + Inbox(Drive("A")) + "," + Inbox(Drive("B")) + "]}";

INSTANTIATE_TEST_SUITE_P(
    Replies, HostileDriver,
    testing::Values(
        // A completed request with nothing returned carries no status: the zeros of
        // the program's own request must not read as success.
        HostileCase{"InboxActivationReturnsNothing",
                    R"({"disks":[)" + Inbox(Drive("A", R"({"activate":{"returned":0}})")) + "]}",
                    1,
                    {{"A", {1, 64}}},
                    {kFailLine}},
        HostileCase{"InboxActivationReturnsUpToReturnCode",
                    R"({"disks":[)" + Inbox(Drive("A", R"({"activate":{"returned":23}})")) + "]}",
                    1,
                    {{"A", {1, 64}}},
                    {kFailLine}},
        HostileCase{"InboxActivationReturnsTheReturnCode",
                    R"({"disks":[)" + Inbox(Drive("A", R"({"activate":{"returned":24}})")) + "]}",
                    1602,
                    {{"A", {1, 64}}},
                    {kRebootLine}},
        HostileCase{"InboxDownloadReturnsNothing",
                    R"({"disks":[)" + Inbox(Drive("A", R"({"download":{"returned":0}})")) + "]}",
                    1,
                    {{"A", {0, 1}}},
                    {kFailLine}},
        HostileCase{
            "InboxLastChunkReturnsNothing",
            R"({"disks":[)" + Inbox(Drive("A", R"({"download":{"chunk":63,"returned":0}})")) + "]}",
            1,
            {{"A", {0, 64}}},
            {kFailLine}},
        // The slot table starts at byte 52 and its fixed part is 16 bytes.
        HostileCase{
            "InboxSlotTableBeyondTheReturnedBytes",
            R"({"disks":[)" + Inbox(Drive("A", R"({"firmwareInfo":{"returned":60}})")) + "]}",
            1,
            {{"A", {0, 0}}},
            {kFailLine}},
        HostileCase{"RstActivationReturnsNothing",
                    RstSingle(Drive("S", R"({"activate":{"returned":0}})")),
                    1,
                    {{"S", {1, 64}}},
                    {"  [ERROR] Firmware activate failed: unexpected error, srbControl->ReturnCode "
                     "-1\n\n",
                     kFailLine}},
        HostileCase{"RstDownloadReturnsNothing",
                    RstSingle(Drive("S", R"({"download":{"returned":0}})")),
                    1,
                    {{"S", {0, 1}}},
                    {"  [ERROR] Firmware download failed: srbControl->ReturnCode -1\n\n  [FAIL] "
                     "Firmware download failed.\n",
                     kFailLine}},
        // An Identify reply that stops before the fields the program reads is no
        // identity: the drive is left out, as one that failed to identify.
        HostileCase{"InboxIdentifyCutShort",
                    R"({"disks":[)" + Inbox(Drive("A", R"({"identify":{"returned":367}})")) + "]}",
                    1,
                    {{"A", {0, 0}}},
                    {"[No Disk]"}},
        HostileCase{"InboxIdentifyCoversTheFieldsRead",
                    R"({"disks":[)" + Inbox(Drive("A", R"({"identify":{"returned":368}})")) + "]}",
                    1602,
                    {{"A", {1, 64}}},
                    {kRebootLine}},
        HostileCase{"RstIdentifyCutShort",
                    RstSingle(Drive("S", R"({"identify":{"returned":483}})")),
                    1,
                    {{"S", {0, 0}}},
                    {"[No Disk]"}},
        // The granularity follows the Identify data the program received: FWUG 16
        // gives 32 chunks of 64 KiB, which the drive (granularity 8) takes.
        HostileCase{
            "InboxPatchedGranularity",
            R"({"disks":[)" + Inbox(Drive("A", R"({"identify":{"patch":{"367":"10"}}})")) + "]}",
            1602,
            {{"A", {1, 32}}},
            {kRebootLine}},
        // Slot tables NVMe could not express: the first writable entry is activated.
        HostileCase{
            "InboxOddSlotTable",
            R"({"disks":[)" +
                Inbox(
                    Drive("A", "{}",
                          R"(,"slots":[{"number":2,"readOnly":true},{"number":9},{"number":9}])")) +
                "]}",
            1602,
            {{"A", {1, 64}}},
            {kRebootLine}},
        HostileCase{
            "InboxEveryslotReadOnly",
            R"({"disks":[)" +
                Inbox(Drive(
                    "A", "{}",
                    R"(,"slots":[{"number":1,"readOnly":true},{"number":2,"readOnly":true}])")) +
                "]}",
            1,
            {{"A", {0, 0}}},
            {kFailLine}},
        // An empty device-number reply is no disk number: it must not read as disk 0,
        // which is another drive that would then be updated twice.
        HostileCase{
            "EmptyDeviceNumberReply",
            R"({"disks":[)" +
                Inbox(Drive("A"), R"(,"deviceNumber":3,"faults":{"deviceNumber":{"returned":0}})") +
                "," + Inbox(Drive("B"), R"(,"deviceNumber":0)") + "]}",
            1602,
            {{"A", {0, 0}}, {"B", {1, 64}}},
            {kRebootLine}},
        // Two disk interfaces whose device-number replies name one disk lead to one
        // drive: updated and reported once. The drive the second interface stands for
        // is out of reach.
        HostileCase{
            "TwoInterfacesNameOneDisk",
            R"({"disks":[)" + Inbox(Drive("A"), R"(,"deviceNumber":1)") + "," +
                Inbox(Drive("B"),
                      R"(,"deviceNumber":2,"faults":{"deviceNumber":{"patch":{"4":"01000000"}}})") +
                "]}",
            1602,
            {{"A", {1, 64}}, {"B", {0, 0}}},
            {kRebootLine}},
        HostileCase{"ShortDeviceNumberReply",
                    R"({"disks":[)" +
                        Inbox(Drive("A"),
                              R"(,"deviceNumber":3,"faults":{"deviceNumber":{"returned":11}})") +
                        "]}",
                    1,
                    {{"A", {0, 0}}},
                    {"[No Disk]"}}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Sizes, HostileDriver,
    testing::Values(
        // A platform that keeps asking for more room, or for room it will not fill,
        // ends the read; the disk is passed over and the run goes on with the next.
        PassedOver("ParentTooSmallForever", R"("parent":"too-small-forever")"),
        PassedOver("HardwareIdsTooSmallForever", R"("hardwareIds":"too-small-forever")"),
        PassedOver("InstanceIdTooSmallForever", R"("instanceId":"too-small-forever")"),
        PassedOver("InterfaceDetailTooSmallForever", R"("interfaceDetail":"too-small-forever")"),
        PassedOver("ParentSizeTooSmallToEverFit", R"("parent":{"requiredSize":2})"),
        PassedOver("InterfaceDetailSizeBeyondBelief",
                   R"("interfaceDetail":{"requiredSize":4294967295})"),
        PassedOver("HardwareIdsSizeZero", R"("hardwareIds":{"requiredSize":0})"),
        PassedOver("InterfaceDetailSizeZero", R"("interfaceDetail":{"requiredSize":0})"),
        // A size that overstates the value still reads it.
        HostileCase{
            "ParentSizeOverstated",
            R"({"disks":[)" +
                Inbox(Drive("A"), R"(,"faults":{"properties":{"parent":{"requiredSize":4000}}})") +
                "]}",
            1602,
            {{"A", {1, 64}}},
            {kRebootLine}},
        HostileCase{
            "ControllerDescriptionTooSmallForever",
            R"({"controllers":[{"id":"c","faults":{"properties":{"driverDescription":"too-small-forever"}},"drives":{"2":)" +
                Drive("S") + R"(}}],"disks":[{"attach":"rst","controller":"c","pathId":2},)" +
                Inbox(Drive("A")) + "]}",
            1602,
            {{"S", {0, 0}}, {"A", {1, 64}}},
            {kRebootLine}},
        HostileCase{
            "BusNumberLocationTooSmallForever",
            R"({"controllers":[{"id":"c","drives":{"255":)" + Drive("S") +
                R"(}}],"disks":[{"attach":"rst","controller":"c","pathId":2,"faults":{"properties":{"locationInfo":"too-small-forever"}}}]})",
            1602,
            {{"S", {1, 64}}},
            {kRebootLine}}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    RaidConfig, HostileDriver,
    testing::Values(
        // A first reply announcing more members than it holds is asked again with room
        // for all of them; the honest second reply lists both members.
        HostileCase{"OverstatedCountIsAskedAgain",
                    RaidVolume("[2,3]", R"({"query":0,"patch":{"43":"03"}})",
                               R"("2":)" + Drive("M2") + R"(,"3":)" + Drive("M3")),
                    1602,
                    {{"M2", {1, 64}}, {"M3", {1, 64}}},
                    {kRebootLine}},
        // A controller that never returns every member it announces: the set is not
        // updated in part, and the query says why.
        HostileCase{
            "MembersNeverAllReturned",
            RaidVolume("[2,3,4]", R"({"returned":336})",
                       R"("2":)" + Drive("M2") + R"(,"3":)" + Drive("M3") + R"(,"4":)" +
                           Drive("M4")),
            1,
            {{"M2", {0, 0}}, {"M3", {0, 0}}, {"M4", {0, 0}}},
            {"  [ERROR] CSMI GET RAID CONFIG returned an incomplete member list\n\n", "[No Disk]"}},
        // bDriveCount 0xF1 (the list did not fit) is no count: the program asks again
        // with room for the most a count can name, and the honest reply lists both.
        HostileCase{"ListTooBigThenTheRealCount",
                    RaidVolume("[2,3]", R"({"query":0,"patch":{"43":"f1"}})",
                               R"("0":)" + Drive("P0") + R"(,"2":)" + Drive("M2") + R"(,"3":)" +
                                   Drive("M3")),
                    1602,
                    {{"P0", {0, 0}}, {"M2", {1, 64}}, {"M3", {1, 64}}},
                    {kRebootLine}},
        // A controller that answers every query with a sentinel never names a member:
        // none is identified, the drive at path 0 least of all.
        HostileCase{
            "ListSuppressedOnEveryReply",
            RaidVolume("[2,3]", R"({"patch":{"43":"f2"}})",
                       R"("0":)" + Drive("P0") + R"(,"2":)" + Drive("M2") + R"(,"3":)" +
                           Drive("M3")),
            1,
            {{"P0", {0, 0}}, {"M2", {0, 0}}, {"M3", {0, 0}}},
            {"  [ERROR] CSMI GET RAID CONFIG returned an incomplete member list\n\n", "[No Disk]"}},
        HostileCase{"ConfigReplyWithoutReturnCode",
                    RaidVolume("[2,3]", R"({"returned":20})",
                               R"("2":)" + Drive("M2") + R"(,"3":)" + Drive("M3")),
                    1,
                    {{"M2", {0, 0}}, {"M3", {0, 0}}},
                    {"  [ERROR] CSMI GET RAID CONFIG ReturnCode: 0xffffffff\n\n", "[No Disk]"}}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

// The sizes of the CSMI requests: a list too big for the first asks again with room for
// 240 members (64 + 136 x 240 bytes), then has its answer.
TEST(HostileDriver, ListTooBigIsAskedAgainWithRoomForTheMostACountNames) {
    const ProgramRun run =
        RunScenario(RaidVolume("[2,3]", R"({"query":0,"patch":{"43":"f1"}})",
                               R"("2":)" + Drive("M2") + R"(,"3":)" + Drive("M3")));
    std::vector<std::size_t> sizes;
    for (const nlohmann::json& call : run.Calls("DeviceIoControl")) {
        const std::string in = As<std::string>(call, "in");
        if (in.size() >= 24 && in.substr(8, 16) == "43534d4941525900") {  // "CSMIARY\0"
            sizes.push_back(in.size() / 2);
        }
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{336, 32704}));
}

// The built-in machine: four drives wait for a reboot and one is up to date, last.
TEST(HostileDriver, DefaultMachineNeedsAReboot) {
    sim::Machine machine = sim::DefaultMachine();
    const ProgramRun run = RunProgram(machine);
    EXPECT_EQ(run.exitCode, 1602);
    EXPECT_NE(run.output.find("[Final Result]\n" + std::string(kRebootLine)), std::string::npos);
}

}  // namespace
