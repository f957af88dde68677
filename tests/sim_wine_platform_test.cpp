// The machine as Wine 8 shows it (sim/win32/wine_platform.h): the names the Wine host
// creates devices under, the interface paths and set order they give, and a DevInst
// per set element, which the runner's --platform wine reproduces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/discovery.h"
#include "sim/win32/wine_platform.h"
#include "test_support.h"

namespace {

constexpr const wchar_t* kDiskGuid = L"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr const wchar_t* kPortGuid = L"#{2accfe60-c130-11d2-b082-00a0c91efb8b}";

struct NamingCase {
    const char* name;
    const char* scenario;
    // Wine's name and interface path of every device with an interface, in machine
    // order; an empty path: registered without one.
    std::vector<std::pair<std::wstring, std::wstring>> expected;
};

class WineNaming : public testing::TestWithParam<NamingCase> {};

TEST_P(WineNaming, KeepsTheScenarioNamesWhereWineOrdersThemAlike) {
    const sim::Machine machine = MachineFrom(GetParam().scenario);
    const std::vector<sim::WineDeviceName> names = sim::WineDeviceNames(machine);
    ASSERT_EQ(names.size(), machine.devices.size());
    std::vector<std::pair<std::wstring, std::wstring>> actual;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!machine.devices[i].interfaces.empty()) {
            actual.push_back({names[i].instanceId, names[i].interfacePath.value_or(L"")});
        }
    }
    EXPECT_EQ(actual, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WineNaming,
    testing::Values(
        NamingCase{"DefaultPathIsWhatWineDerives",
                   R"({"disks":[{"attach":"inbox","instanceId":"SCSI\\DISK&VEN_NVME\\5&1&0"}]})",
                   {{L"scsi\\disk&ven_nvme\\5&1&0",
                     std::wstring(L"\\\\?\\scsi#disk&ven_nvme#5&1&0") + kDiskGuid}}},
        NamingCase{
            "GivenPathOfWinesFormKeepsItsName",
            R"({"controllers":[{"id":"c","path":"\\\\?\\pci#ven_8086&dev_2822#3&1&0&b8#{2accfe60-c130-11d2-b082-00a0c91efb8b}"}]})",
            {{L"pci\\ven_8086&dev_2822\\3&1&0&b8",
              std::wstring(L"\\\\?\\pci#ven_8086&dev_2822#3&1&0&b8") + kPortGuid}}},
        NamingCase{
            "UpperCasePathComesBackLowerCase",
            R"({"controllers":[{"id":"c","path":"\\\\.\\PCI#VEN_8086&X#Y#{2ACCFE60-C130-11D2-B082-00A0C91EFB8B}"}]})",
            {{L"PCI\\VEN_8086&X\\Y", std::wstring(L"\\\\?\\pci#ven_8086&x#y") + kPortGuid}}},
        NamingCase{
            "PathWithoutTheClassTakesTheInstanceId",
            R"({"controllers":[{"id":"c","path":"\\\\?\\pci#ven_8086&first","instanceId":"PCI\\VEN_8086&DEV_2822\\3&9"}]})",
            {{L"PCI\\VEN_8086&DEV_2822\\3&9",
              std::wstring(L"\\\\?\\pci#ven_8086&dev_2822#3&9") + kPortGuid}}},
        NamingCase{"ScenarioOrderAgainstWinesOrderNumbersTheClass",
                   R"({"disks":[{"attach":"inbox","instanceId":"SCSI\\B\\1"},
                                {"attach":"inbox","instanceId":"SCSI\\A\\1"}]})",
                   // After the two parent controllers the inbox disks hang from.
                   {{L"0002\\scsi\\b\\1", std::wstring(L"\\\\?\\0002#scsi#b#1") + kDiskGuid},
                    {L"0003\\scsi\\a\\1", std::wstring(L"\\\\?\\0003#scsi#a#1") + kDiskGuid}}},
        NamingCase{"OneNameTwiceNumbersTheClass",
                   R"({"disks":[{"attach":"inbox","instanceId":"SCSI\\A\\1","parent":null},
                                {"attach":"inbox","instanceId":"scsi\\a\\1","parent":null}]})",
                   {{L"0000\\scsi\\a\\1", std::wstring(L"\\\\?\\0000#scsi#a#1") + kDiskGuid},
                    {L"0001\\scsi\\a\\1", std::wstring(L"\\\\?\\0001#scsi#a#1") + kDiskGuid}}},
        NamingCase{"NoUsableNameAtAllTakesAPlaceholder",
                   R"({"disks":[{"attach":"inbox","instanceId":null,"parent":null,
                                 "interfacePath":"\\\\?\\a b"}]})",
                   {{L"0000\\FWSIM", std::wstring(L"\\\\?\\0000#fwsim") + kDiskGuid}}},
        NamingCase{
            "InterfaceWithoutPathKeepsItsPlaceInTheOrder",
            R"({"disks":[{"attach":"inbox","instanceId":"SCSI\\A\\1","parent":null,
                                 "interfacePath":null},
                                {"attach":"inbox","instanceId":"SCSI\\B\\1","parent":null}]})",
            {{L"SCSI\\A\\1", L""}, {L"scsi\\b\\1", std::wstring(L"\\\\?\\scsi#b#1") + kDiskGuid}}}),
    [](const testing::TestParamInfo<NamingCase>& info) { return info.param.name; });

TEST(WineNaming, OnlyTheClassOutOfOrderIsNumbered) {
    const sim::Machine machine = sim::DefaultMachine();
    const std::vector<sim::WineDeviceName> names = sim::WineDeviceNames(machine);
    for (std::size_t i = 0; i < machine.devices.size(); ++i) {
        const sim::DeviceTarget& target = machine.devices[i].target;
        const bool numbered = names[i].instanceId.rfind(L"00", 0) == 0;
        // The default machine lists its RAID volume after the inbox disks, which Wine
        // would sort first; its one controller is in order by itself.
        EXPECT_EQ(numbered, target.kind == sim::DeviceTarget::Kind::Disk) << i;
    }
}

TEST(WinePlatform, EveryElementOfEverySetHasItsOwnDevInst) {
    sim::Machine machine = MachineFrom(R"({"disks":[{"attach":"inbox"},{"attach":"inbox"}]})");
    sim::UseWinePlatform(machine);
    sim::MachineInstall install(machine);
    auto devInsts = [](HDEVINFO set) {
        std::vector<DEVINST> numbers;
        SP_DEVINFO_DATA element{};
        element.cbSize = sizeof element;
        for (DWORD i = 0; win::SetupDiEnumDeviceInfo(set, i, &element); ++i) {
            numbers.push_back(element.DevInst);
        }
        return numbers;
    };
    HDEVINFO disks = win::SetupDiGetClassDevsW(&win::GUID_DEVINTERFACE_DISK, nullptr, nullptr,
                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    HDEVINFO all = win::SetupDiGetClassDevsW(&win::GUID_DEVINTERFACE_DISK, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_ALLCLASSES);
    EXPECT_EQ(devInsts(disks), (std::vector<DEVINST>{0, 1}));
    // Two disks and their two parent controllers, after the slots the disk set holds.
    EXPECT_EQ(devInsts(all), (std::vector<DEVINST>{2, 3, 4, 5}));
    win::SetupDiDestroyDeviceInfoList(disks);
    HDEVINFO again = win::SetupDiGetClassDevsW(&win::GUID_DEVINTERFACE_DISK, nullptr, nullptr,
                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_EQ(devInsts(again), (std::vector<DEVINST>{0, 1})) << "freed slots are taken again";

    // A record keeps working in its own set.
    SP_DEVINFO_DATA element{};
    element.cbSize = sizeof element;
    ASSERT_TRUE(win::SetupDiEnumDeviceInfo(again, 1, &element));
    DEVPROPTYPE type = 0;
    wchar_t text[256]{};
    EXPECT_TRUE(win::SetupDiGetDevicePropertyW(again, &element, &win::DEVPKEY_Device_InstanceId,
                                               &type, reinterpret_cast<BYTE*>(text), sizeof text,
                                               nullptr, 0));
    win::SetupDiDestroyDeviceInfoList(again);
    win::SetupDiDestroyDeviceInfoList(all);
}

struct OpenCase {
    const char* name;
    const char* scenario;
    const wchar_t* path;  // empty: the first interface path of the machine
    DWORD requestError;
};

class WineOpens : public testing::TestWithParam<OpenCase> {};

// Wine never lets a device refuse an open; the refusal comes with the first request.
TEST_P(WineOpens, SucceedAndTheRequestsGetTheRefusal) {
    sim::Machine machine = MachineFrom(GetParam().scenario);
    sim::UseWinePlatform(machine);
    sim::MachineInstall install(machine);
    std::wstring path = GetParam().path;
    for (const sim::Device& device : machine.devices) {
        if (path.empty() && !device.interfaces.empty()) {
            path = *device.interfaces.front().path;
        }
    }
    HANDLE handle = win::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 3, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << win::GetLastError();
    std::vector<std::uint8_t> buffer(12, 0);
    DWORD returned = 0xDEAD;
    win::SetLastError(0xBEEF);
    const BOOL ok = win::DeviceIoControl(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0,
                                         buffer.data(), 12, &returned, nullptr);
    EXPECT_EQ(ok ? ERROR_SUCCESS : win::GetLastError(), GetParam().requestError);
    win::CloseHandle(handle);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WineOpens,
    testing::Values(
        OpenCase{"ClosedController", R"({"controllers":[{"id":"c","openable":false}]})", L"",
                 ERROR_ACCESS_DENIED},
        OpenCase{"ClosedDiskByInterface",
                 R"({"disks":[{"attach":"inbox","openable":false,"parent":null}]})", L"",
                 ERROR_ACCESS_DENIED},
        OpenCase{"DeniedDriveByItsNumber",
                 R"({"disks":[{"attach":"inbox","drive":{"faults":{"open":"deny"}}}]})",
                 L"\\\\.\\PHYSICALDRIVE0", ERROR_ACCESS_DENIED},
        OpenCase{
            "DeniedDriveStillAnswersByInterface",
            R"({"disks":[{"attach":"inbox","parent":null,"drive":{"faults":{"open":"deny"}}}]})",
            L"", ERROR_SUCCESS}),
    [](const testing::TestParamInfo<OpenCase>& info) { return info.param.name; });

TEST(WinePlatform, SingleRstDiskLosesItsBusNumber) {
    const char* scenario =
        R"({"controllers":[{"id":"c","drives":{"3":{"id":"S"}}}],
            "disks":[{"attach":"rst","controller":"c","pathId":3}]})";
    for (const bool wine : {false, true}) {
        sim::Machine machine = MachineFrom(scenario);
        if (wine) {
            sim::UseWinePlatform(machine);
        }
        sim::MachineInstall install(machine);
        RstController controller;
        ASSERT_TRUE(DetectRstController(controller));
        DiskList disks;
        ASSERT_TRUE(EnumerateRstDisks(controller, disks));
        ASSERT_EQ(disks.size(), 1u);
        // Windows: the disk's DevInst is found in the all-classes set. Wine: it never is.
        EXPECT_EQ(disks[0].pathId, wine ? -1 : 3) << (wine ? "wine" : "windows");
    }
}

}  // namespace
