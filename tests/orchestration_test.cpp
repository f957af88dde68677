#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/disk_info.h"
#include "firmware/firmware_package.h"
#include "test_support.h"

namespace {

DiskInfo Identified(const std::wstring& revision, const std::wstring& serial) {
    DiskInfo disk;
    disk.driverKind = Inbox;
    disk.firmwareRevision = revision;
    disk.serialNumber = serial;
    return disk;
}

TEST(SelectEligibleDisks, KeepsOnlyTheBaseAndTargetRevisionsInOrder) {
    LoadFirmwarePackage();
    UpdateRunner runner;
    runner.identifiedDisks = {
        Identified(L"QZT2VKLA", L"base"),
        Identified(L"QZT1VKLA", L"older"),
        Identified(L"QZT3VKLA", L"target"),
        Identified(L"qzt2vkla", L"lower case"),
        Identified(L"QZT2VKLA ", L"trailing blank"),
        Identified(L"QZT2VKL", L"short"),
        Identified(std::wstring(L"QZT2VKLA\0", 9), L"trailing nul"),
        Identified(L"", L"empty"),
        Identified(L"QZT2VKLA", L"second base"),
    };
    DiskList updateList;
    SelectEligibleDisks(runner, updateList);

    std::vector<std::wstring> kept;
    for (const DiskInfo& disk : updateList) {
        kept.push_back(disk.serialNumber);
    }
    EXPECT_EQ(kept, (std::vector<std::wstring>{L"base", L"target", L"second base"}));
}

TEST(SelectEligibleDisks, AppendsCopiesAfterWhatTheListHolds) {
    LoadFirmwarePackage();
    UpdateRunner runner;
    runner.identifiedDisks = {Identified(L"QZT2VKLA", L"new")};
    DiskList updateList = {Identified(L"QZT3VKLA", L"earlier")};
    SelectEligibleDisks(runner, updateList);
    ASSERT_EQ(updateList.size(), 2u);
    EXPECT_EQ(updateList[1].serialNumber, L"new");
    updateList[1].serialNumber = L"changed";
    EXPECT_EQ(runner.identifiedDisks[0].serialNumber, L"new");
}

TEST(RunUpdates, NothingFoundLeavesTheListEmpty) {
    sim::Machine machine;
    sim::MachineInstall install(machine);
    LoadFirmwarePackage();
    UpdateRunner runner;
    DiskList updateList;
    runner.RunUpdates(updateList);
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
    EXPECT_TRUE(runner.discoveredDisks.empty());
    EXPECT_TRUE(updateList.empty());
}

}  // namespace
