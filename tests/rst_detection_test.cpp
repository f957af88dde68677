#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/discovery.h"
#include "test_support.h"

namespace {

struct DetectCase {
    const char* name;
    const char* scenario;
    bool found;
    std::wstring path;  // when found
};

class DetectRst : public testing::TestWithParam<DetectCase> {};

TEST_P(DetectRst, FindsTheFirstIntelRstController) {
    sim::Machine machine = MachineFrom(GetParam().scenario);
    sim::MachineInstall install(machine);
    RstController controller;
    EXPECT_EQ(DetectRstController(controller), GetParam().found);
    if (GetParam().found) {
        EXPECT_EQ(controller.devicePath, GetParam().path);
        EXPECT_FALSE(controller.instanceId.empty());
    }
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DetectRst,
    testing::Values(
        DetectCase{"NoStoragePorts", R"({})", false, L""},
        DetectCase{
            "PathKeepsItsLetterCase",
            R"({"controllers":[{"id":"c","path":"\\\\?\\pci#ven_8086&dev_2822#3&1&0&b8#{2accfe60-c130-11d2-b082-00a0c91efb8b}"}]})",
            true, L"\\\\?\\pci#ven_8086&dev_2822#3&1&0&b8#{2accfe60-c130-11d2-b082-00a0c91efb8b}"},
        DetectCase{
            "OtherVendorPath",
            R"({"controllers":[{"id":"c","path":"\\\\?\\pci#ven_1022&dev_7905#1#{2accfe60-c130-11d2-b082-00a0c91efb8b}"}]})",
            false, L""},
        DetectCase{
            "RaidDescription",
            R"({"controllers":[{"id":"c","path":"\\\\?\\PCI#VEN_8086&DEV_282A#X","driverDescription":"Intel RAID Controller"}]})",
            true, L"\\\\?\\PCI#VEN_8086&DEV_282A#X"},
        DetectCase{
            "LongRstDescription",
            R"({"controllers":[{"id":"c","path":"\\\\?\\pci#ven_8086&x","driverDescription":"Intel(R) Chipset SATA/PCIe RST Premium Controller"}]})",
            true, L"\\\\?\\pci#ven_8086&x"},
        DetectCase{"LowerCaseIntel",
                   R"({"controllers":[{"id":"c","driverDescription":"intel RST Controller"}]})",
                   false, L""},
        DetectCase{"NeitherRstNorRaid",
                   R"({"controllers":[{"id":"c","driverDescription":"Intel SATA Controller"}]})",
                   false, L""},
        DetectCase{"NoControllerWord",
                   R"({"controllers":[{"id":"c","driverDescription":"Intel RST Premium"}]})", false,
                   L""},
        DetectCase{"UnreadableDescription",
                   R"({"controllers":[{"id":"c","driverDescription":null}]})", false, L""},
        DetectCase{"UnreadableInstanceId", R"({"controllers":[{"id":"c","instanceId":null}]})",
                   false, L""},
        DetectCase{
            "UnreadableInterfacePathEndsDetection",
            R"({"controllers":[{"id":"a","faults":{"properties":{"interfaceDetail":"too-small-forever"}}},
                                      {"id":"b","path":"\\\\?\\pci#ven_8086&second"}]})",
            false, L""},
        DetectCase{
            "SecondControllerWhenTheFirstDoesNotMatch",
            R"({"controllers":[{"id":"a","driverDescription":"Standard NVM Express Controller"},
                                      {"id":"b","path":"\\\\?\\pci#ven_8086&second"}]})",
            true, L"\\\\?\\pci#ven_8086&second"},
        DetectCase{"OnlyTheFirstMatchCounts",
                   R"({"controllers":[{"id":"a","path":"\\\\?\\pci#ven_8086&first"},
                                      {"id":"b","path":"\\\\?\\pci#ven_8086&second"}]})",
                   true, L"\\\\?\\pci#ven_8086&first"},
        DetectCase{
            "UnopenableFirstMatchEndsDetection",
            R"({"controllers":[{"id":"a","path":"\\\\?\\pci#ven_8086&first","openable":false},
                                      {"id":"b","path":"\\\\?\\pci#ven_8086&second"}]})",
            false, L""}),
    [](const testing::TestParamInfo<DetectCase>& info) { return info.param.name; });

TEST(DetectRstController, OpensTheControllerOverlappedOnlyToProveIt) {
    sim::Machine machine = MachineFrom(R"({"controllers":[{"id":"c"}]})");
    sim::MachineInstall install(machine);
    RstController controller;
    ASSERT_TRUE(DetectRstController(controller));
    const std::string trace = sim::TraceJsonLines();
    EXPECT_NE(trace.find("\"flags\":1073741952"), std::string::npos) << "0x40000080";
    EXPECT_EQ(trace.find("\"op\":\"DeviceIoControl\""), std::string::npos);
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
}

struct EnumerateCase {
    const char* name;
    std::string disks;  // the scenario's disk list, behind controller "c"
    std::vector<std::pair<std::int32_t, std::int64_t>> records;  // (kind, pathId)
    bool ranToEnd;
};

// One single disk at path 2 whose location text is `location` (a JSON value): the bus
// number read from it stands for the path.
EnumerateCase AtLocation(const char* name, const std::string& location, std::int64_t bus) {
    return {name,
            R"([{"attach":"rst","controller":"c","pathId":2,"locationInfo":)" + location + "}]",
            {{RstNvme, bus}},
            true};
}

class EnumerateRst : public testing::TestWithParam<EnumerateCase> {};

TEST_P(EnumerateRst, ListsTheDisksBehindTheController) {
    sim::Machine machine = MachineFrom(
        std::string(R"({"controllers":[{"id":"c","raidSets":[[0,1],[4,5]]}],"disks":)") +
        GetParam().disks + "}");
    sim::MachineInstall install(machine);
    RstController controller;
    ASSERT_TRUE(DetectRstController(controller));
    DiskList disks;
    EXPECT_EQ(EnumerateRstDisks(controller, disks), GetParam().ranToEnd);
    std::vector<std::pair<std::int32_t, std::int64_t>> records;
    for (const DiskInfo& disk : disks) {
        records.emplace_back(disk.driverKind, disk.pathId);
        EXPECT_EQ(disk.devicePath, controller.devicePath);
        EXPECT_EQ(disk.downloadGranularity, 1);
    }
    EXPECT_EQ(records, GetParam().records);
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EnumerateRst,
    testing::Values(
        EnumerateCase{
            "RaidVolume", R"([{"attach":"raid-volume","controller":"c"}])", {{RstRaid, -1}}, true},
        EnumerateCase{
            "TwoRaidVolumes",
            R"([{"attach":"raid-volume","controller":"c"},{"attach":"raid-volume","controller":"c"}])",
            {{RstRaid, -1}, {RstRaid, -1}},
            true},
        EnumerateCase{"SingleDiskBusNumber",
                      R"([{"attach":"rst","controller":"c","pathId":2}])",
                      {{RstNvme, 2}},
                      true},
        AtLocation("BusNumberZero", R"("Bus Number 0, Target Id 0, LUN 0")", 0),
        AtLocation("BusNumberAboveAByte", R"("Bus Number 300, Target Id 0, LUN 0")", 300),
        AtLocation("NoBusNumberText", R"("PCI bus 0, device 0, function 0")", -1),
        AtLocation("UnreadableLocation", R"(null)", -1),
        AtLocation("LocationWithoutComma", R"("Bus Number 7")", 7),
        // Only the text before the first comma counts, wherever "Bus Number " stands.
        AtLocation("LocationWithoutSecondBlank", R"("Bus 7, Bus Number 7")", -1),
        AtLocation("LocationWithoutBlankBeforeTheComma", R"("Bus7, Bus Number 7")", -1),
        // The number is read as wcstol reads it in base 10.
        AtLocation("BusNumberAfterMoreWhiteSpace", R"("Bus Number \t 5, Target Id 0")", 5),
        AtLocation("NegativeBusNumber", R"("Bus Number -3, Target Id 0")", -3),
        AtLocation("PlusSignedBusNumber", R"("Bus Number +4, Target Id 0")", 4),
        AtLocation("DigitsEndAtALetter", R"("Bus Number 12x4")", 12),
        AtLocation("DigitsEndAtABlank", R"("Bus Number 6 7")", 6),
        AtLocation("NoDigitsGiveZero", R"("Bus Number  ")", 0),
        EnumerateCase{"UnreadableInstanceIdIsPassedOver",
                      R"([{"attach":"rst","controller":"c","pathId":2,"instanceId":null},
                          {"attach":"rst","controller":"c","pathId":3}])",
                      {{RstNvme, 3}},
                      true},
        EnumerateCase{"OrderOfTheSetMixed",
                      R"([{"attach":"rst","controller":"c","pathId":2},
                          {"attach":"inbox"},
                          {"attach":"raid-volume","controller":"c"},
                          {"attach":"rst","controller":"c","pathId":3}])",
                      {{RstNvme, 2}, {RstRaid, -1}, {RstNvme, 3}},
                      true},
        EnumerateCase{"UnopenableSingleDiskEndsTheEnumeration",
                      R"([{"attach":"raid-volume","controller":"c"},
                          {"attach":"rst","controller":"c","pathId":2,"openable":false},
                          {"attach":"rst","controller":"c","pathId":3}])",
                      {{RstRaid, -1}},
                      false},
        EnumerateCase{"UnopenableRaidVolumeIsNotOpened",
                      R"([{"attach":"raid-volume","controller":"c","openable":false},
                          {"attach":"rst","controller":"c","pathId":3}])",
                      {{RstRaid, -1}, {RstNvme, 3}},
                      true}),
    [](const testing::TestParamInfo<EnumerateCase>& info) { return info.param.name; });

}  // namespace
