#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/device_setup.h"
#include "discovery/discovery.h"
#include "test_support.h"

namespace {

std::vector<std::wstring> PathsOf(const DiskList& disks) {
    std::vector<std::wstring> paths;
    for (const DiskInfo& disk : disks) {
        paths.push_back(disk.devicePath);
    }
    return paths;
}

struct InboxCase {
    const char* name;
    std::string scenario;
    std::vector<std::wstring> paths;
    bool ranToEnd;
};

// Disk 1, with `fault` among its keys, is passed over; disk 2 is listed and the
// enumeration runs to its end.
InboxCase FirstDiskPassedOver(const char* name, const std::string& fault) {
    return {name,
            R"({"disks":[{"attach":"inbox","deviceNumber":1,)" + fault +
                R"(},{"attach":"inbox","deviceNumber":2}]})",
            {L"\\\\.\\PHYSICALDRIVE2"},
            true};
}

class InboxEnumeration : public testing::TestWithParam<InboxCase> {};

TEST_P(InboxEnumeration, ListsTheMakersNvmeDisks) {
    sim::Machine machine = MachineFrom(GetParam().scenario);
    sim::MachineInstall install(machine);
    DiskList disks;
    EXPECT_EQ(EnumerateInboxDisks(disks), GetParam().ranToEnd);
    EXPECT_EQ(PathsOf(disks), GetParam().paths);
    for (const DiskInfo& disk : disks) {
        EXPECT_EQ(disk.driverKind, Inbox);
        EXPECT_EQ(disk.pathId, -1);
        EXPECT_EQ(disk.downloadGranularity, 1);
        EXPECT_TRUE(disk.modelNumber.empty() && disk.serialNumber.empty());
    }
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InboxEnumeration,
    testing::Values(
        InboxCase{"Empty", R"({})", {}, true},
        InboxCase{"TwoDrivesInSetOrder",
                  R"({"disks":[{"attach":"inbox","deviceNumber":3},
                               {"attach":"inbox","deviceNumber":1}]})",
                  {L"\\\\.\\PHYSICALDRIVE3", L"\\\\.\\PHYSICALDRIVE1"},
                  true},
        InboxCase{"DeviceNumbersInDecimal",
                  R"({"disks":[{"attach":"inbox","deviceNumber":0},
                               {"attach":"inbox","deviceNumber":12}]})",
                  {L"\\\\.\\PHYSICALDRIVE0", L"\\\\.\\PHYSICALDRIVE12"},
                  true},
        InboxCase{"VendorTokenInLowerCaseDoesNotMatch",
                  R"({"disks":[{"attach":"inbox","deviceNumber":1,
                     "parent":"PCI\\ven_7c1e&dev_5216&subsys_52161c7e&rev_01\\4&1&0&0008"}]})",
                  {},
                  true},
        InboxCase{"OtherVendorIsPassedOver",
                  R"({"disks":[{"attach":"other","deviceNumber":0},
                               {"attach":"inbox","deviceNumber":1}]})",
                  {L"\\\\.\\PHYSICALDRIVE1"},
                  true},
        InboxCase{"UnreadableParentIsPassedOver",
                  R"({"disks":[{"attach":"inbox","deviceNumber":1,"parent":null}]})",
                  {},
                  true},
        InboxCase{"NvmeInOtherCaseDoesNotMatch",
                  R"({"disks":[{"attach":"inbox","deviceNumber":1,
                     "hardwareIds":["SCSI\\DiskNVME____KORVANE","SCSI\\Disknvme","GenDisk"]}]})",
                  {},
                  true},
        InboxCase{"SeveralNvmeIdsGiveOneRecord",
                  R"({"disks":[{"attach":"inbox","deviceNumber":4,
                     "hardwareIds":["SCSI\\DiskNVMe____A","SCSI\\DiskNVMe____","NVMe"]}]})",
                  {L"\\\\.\\PHYSICALDRIVE4"},
                  true},
        FirstDiskPassedOver("UnreadableHardwareIdsArePassedOver", R"("hardwareIds":null)"),
        FirstDiskPassedOver("UnreadableInstanceIdIsPassedOver", R"("instanceId":null)"),
        FirstDiskPassedOver("FailedDeviceNumberIsPassedOver", R"("deviceNumberFails":true)"),
        // Each disk's interface is its own: a disk whose interface cannot be
        // enumerated is passed over, and the next disk keeps its own path.
        InboxCase{"DiskWithoutInterfaceShiftsNothing",
                  R"({"disks":[{"attach":"inbox","deviceNumber":1,"interfacePath":null},
                               {"attach":"other","deviceNumber":0},
                               {"attach":"inbox","deviceNumber":2}]})",
                  {L"\\\\.\\PHYSICALDRIVE2"},
                  true},
        InboxCase{"FirstUnopenableDiskEndsEverything",
                  R"({"disks":[{"attach":"inbox","deviceNumber":1,"openable":false},
                               {"attach":"inbox","deviceNumber":2}]})",
                  {},
                  false},
        InboxCase{"EarlierRecordsStayWhenALaterDiskCannotBeOpened",
                  R"({"disks":[{"attach":"inbox","deviceNumber":1},
                               {"attach":"inbox","deviceNumber":2,"openable":false},
                               {"attach":"inbox","deviceNumber":3}]})",
                  {L"\\\\.\\PHYSICALDRIVE1"},
                  false},
        InboxCase{"RstDisksAreNotInboxDisks",
                  R"({"controllers":[{"id":"rst0"}],
                      "disks":[{"attach":"rst","controller":"rst0","pathId":0},
                               {"attach":"raid-volume","controller":"rst0"},
                               {"attach":"inbox","deviceNumber":5}]})",
                  {L"\\\\.\\PHYSICALDRIVE5"},
                  true}),
    [](const testing::TestParamInfo<InboxCase>& info) { return info.param.name; });

TEST(ReadDevicePropertyText, ReturnsAsciiTextsUnchanged) {
    sim::Machine machine = MachineFrom(R"({"disks":[{"attach":"inbox",
        "parent":"PCI\\VEN_7C1E&DEV_5216&SUBSYS_52161C7E&REV_01\\4&2F1E3A9&0&0008",
        "instanceId":null}]})");
    sim::MachineInstall install(machine);
    DeviceInfoSet set(win::GUID_DEVINTERFACE_DISK, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_TRUE(set.IsOpen());
    SP_DEVINFO_DATA element{};
    ASSERT_TRUE(set.Element(0, element));
    std::wstring text = L"untouched";
    ASSERT_TRUE(ReadDevicePropertyText(set.Get(), &element, win::DEVPKEY_Device_Parent, text));
    EXPECT_EQ(text, L"PCI\\VEN_7C1E&DEV_5216&SUBSYS_52161C7E&REV_01\\4&2F1E3A9&0&0008");
    text = L"untouched";
    EXPECT_FALSE(ReadDevicePropertyText(set.Get(), &element, win::DEVPKEY_Device_InstanceId, text));
    EXPECT_EQ(text, L"untouched");
}

TEST(ReadDevicePropertyText, CutsLongTextsAndMarksCharactersWithoutAnEightBitForm) {
    const std::string longParent(300, 'A');
    sim::Machine machine = MachineFrom(R"({"disks":[{"attach":"inbox","parent":")" + longParent +
                                       R"(","instanceId":"SCSI\\DISK&VEN_\u00e9\u4e2d"}]})");
    sim::MachineInstall install(machine);
    DeviceInfoSet set(win::GUID_DEVINTERFACE_DISK, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVINFO_DATA element{};
    ASSERT_TRUE(set.Element(0, element));
    std::wstring text;
    ASSERT_TRUE(ReadDevicePropertyText(set.Get(), &element, win::DEVPKEY_Device_Parent, text));
    EXPECT_EQ(text, std::wstring(255, L'A'));
    ASSERT_TRUE(ReadDevicePropertyText(set.Get(), &element, win::DEVPKEY_Device_InstanceId, text));
    EXPECT_EQ(text, L"SCSI\\DISK&VEN_??");
}

}  // namespace

namespace {

TEST(ReadDevicePropertyText, ATextBeyondAnyIdentifiersSizeIsNotRead) {
    const std::string huge = "PCI\\\\VEN_7C1E&" + std::string(40000, 'A');
    sim::Machine machine =
        MachineFrom(R"({"disks":[{"attach":"inbox","parent":")" + huge + R"("}]})");
    sim::MachineInstall install(machine);
    DeviceInfoSet set(win::GUID_DEVINTERFACE_DISK, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVINFO_DATA element{};
    ASSERT_TRUE(set.Element(0, element));
    std::wstring text = L"untouched";
    EXPECT_FALSE(ReadDevicePropertyText(set.Get(), &element, win::DEVPKEY_Device_Parent, text));
    EXPECT_EQ(text, L"untouched");
    DiskList disks;
    EXPECT_TRUE(EnumerateInboxDisks(disks));
    EXPECT_TRUE(disks.empty());
}

}  // namespace
