// The trace and state formats the outside checks read, and the process-level calls.
#include <gtest/gtest.h>

#include <array>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "sim/models/machine.h"
#include "sim/sim.h"
#include "sim/win32/sha256.h"
#include "test_support.h"

namespace {

using Json = nlohmann::json;

TEST(SimTrace, OneRecordPerCallWithArgumentsResultAndError) {
    sim::Machine machine = MachineFrom(R"({"disks": [{"attach": "inbox", "deviceNumber": 5}]})");
    sim::MachineInstall install(machine);

    HDEVINFO set = win::SetupDiGetClassDevsW(&win::GUID_DEVINTERFACE_DISK, nullptr, nullptr, 0x12);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    win::SetupDiEnumDeviceInfo(set, 0, &data);
    DEVPROPTYPE type = 0;
    DWORD required = 0;
    win::SetupDiGetDevicePropertyW(set, &data, &win::DEVPKEY_Device_Parent, &type, nullptr, 0,
                                   &required, 0);
    win::SetupDiDestroyDeviceInfoList(set);
    HANDLE disk =
        win::CreateFileW(L"\\\\.\\PHYSICALDRIVE5", GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    std::array<std::uint8_t, 12> buffer{0xAA, 0xBB};
    DWORD returned = 0;
    win::DeviceIoControl(disk, IOCTL_STORAGE_GET_DEVICE_NUMBER, buffer.data(), 12, buffer.data(),
                         12, &returned, nullptr);
    win::CloseHandle(disk);
    win::OutputDebugStringW(L"caf\u00e9 \"quoted\"");

    const Json records = TraceRecords();
    std::vector<std::string> ops;
    for (const Json& record : records) {
        ops.push_back(As<std::string>(record, "op"));
        EXPECT_TRUE(record.contains("ok") && record["ok"].is_boolean()) << record.dump();
        EXPECT_TRUE(record.contains("error") && record["error"].is_number()) << record.dump();
    }
    EXPECT_EQ(ops, (std::vector<std::string>{
                       "SetupDiGetClassDevsW", "SetupDiEnumDeviceInfo", "SetupDiGetDevicePropertyW",
                       "SetupDiDestroyDeviceInfoList", "CreateFileW", "DeviceIoControl",
                       "CloseHandle", "OutputDebugStringW"}));

    EXPECT_EQ(At(records, 0, "guid"), "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}");
    EXPECT_EQ(At(records, 0, "flags"), 18);
    EXPECT_EQ(At(records, 1, "index"), 0);
    EXPECT_EQ(At(records, 2, "key"), "DEVPKEY_Device_Parent");
    EXPECT_EQ(At(records, 2, "ok"), false);
    EXPECT_EQ(At(records, 2, "error"), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(At(records, 2, "requiredSize"), required);

    const Json& open = At(records, 4);
    EXPECT_EQ(At(open, "path"), "\\\\.\\PHYSICALDRIVE5");
    EXPECT_EQ(At(open, "access"), GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(At(open, "share"), 3);
    EXPECT_EQ(At(open, "disposition"), OPEN_EXISTING);
    EXPECT_EQ(At(open, "flags"), 0);
    EXPECT_EQ(At(open, "ok"), true);
    EXPECT_EQ(At(open, "error"), 0);

    const Json& io = At(records, 5);
    EXPECT_EQ(At(io, "code"), IOCTL_STORAGE_GET_DEVICE_NUMBER);
    EXPECT_EQ(At(io, "handle"), At(open, "result"));
    EXPECT_EQ(At(io, "in"), "aabb00000000000000000000");
    EXPECT_EQ(At(io, "out"), "070000000500000000000000");
    EXPECT_EQ(At(io, "bytesReturned"), 12);
    EXPECT_EQ(At(records, 6, "handle"), At(open, "result"));
    EXPECT_EQ(At(records, 7, "debug"), "caf\u00e9 \"quoted\"");
}

TEST(SimTrace, FailedCallsCarryTheirError) {
    sim::Machine machine = MachineFrom("{}");
    sim::MachineInstall install(machine);
    win::CreateFileW(L"\\\\.\\PHYSICALDRIVE0", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(win::GetLastError(), ERROR_FILE_NOT_FOUND);
    const Json records = TraceRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(At(records, 0, "ok"), false);
    EXPECT_EQ(At(records, 0, "error"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(At(records, 1, "op"), "GetLastError");
    EXPECT_EQ(At(records, 1, "result"), ERROR_FILE_NOT_FOUND);
}

TEST(SimTrace, TracingCanBeTurnedOff) {
    sim::Machine machine = MachineFrom("{}");
    machine.recordTrace = false;
    sim::MachineInstall install(machine);
    win::SetLastError(7);
    EXPECT_EQ(win::GetLastError(), 7u);
    EXPECT_EQ(sim::TraceJsonLines(), "");
}

TEST(SimProcess, ClockCommandLineAndModuleHandle) {
    sim::Machine machine = MachineFrom(R"({"localTime": "2000-02-29T23:59:58"})");
    machine.commandLine = L"fwupdate.exe \"a b\"";
    sim::MachineInstall install(machine);
    SYSTEMTIME now{};
    win::GetLocalTime(&now);
    EXPECT_EQ(now.wYear, 2000);
    EXPECT_EQ(now.wMonth, 2);
    EXPECT_EQ(now.wDay, 29);
    EXPECT_EQ(now.wDayOfWeek, 2) << "a Tuesday";
    EXPECT_EQ(now.wSecond, 58);
    EXPECT_EQ(std::wstring(win::GetCommandLineW()), L"fwupdate.exe \"a b\"");
    EXPECT_NE(win::GetModuleHandleW(nullptr), nullptr);
    machine.moduleHandleFails = true;
    EXPECT_EQ(win::GetModuleHandleW(nullptr), nullptr);
    const Json records = TraceRecords();
    EXPECT_EQ(At(records, 0, "time"), "2000-02-29T23:59:58.000");
}

// A drive's record in the state: who it is, its revisions and what reached it.
void ExpectDrive(const Json& drive, const char* id, const char* revision,
                 const char* afterPowerCycle, int downloadRequests, int activations) {
    SCOPED_TRACE(id);
    EXPECT_EQ(At(drive, "id"), id);
    EXPECT_EQ(At(drive, "firmwareRevision"), revision);
    EXPECT_EQ(At(drive, "revisionAfterPowerCycle"), afterPowerCycle);
    EXPECT_EQ(At(drive, "downloadRequests"), downloadRequests);
    EXPECT_EQ(At(drive, "activations"), activations);
}

TEST(SimState, ReportsEveryDriveWithItsRevisionsAndAssembledImages) {
    sim::Machine machine = MachineFrom(R"({
      "controllers": [{"id": "rst0", "drives": {"3": {"id": "R", "fr": "QZT2VKLA"}}}],
      "disks": [{"attach": "inbox", "drive": {"id": "A", "fr": "QZT2\u00e9"}},
                {"attach": "other"}]})");
    sim::Drive& drive = machine.drives[1];
    drive.revisionAfterPowerCycle = {'Q', 'Z', 'T', '3', 'V', 'K', 'L', 'A'};
    drive.downloadRequests = 64;
    drive.activations = 1;
    drive.slots[1].revision = drive.revisionAfterPowerCycle;
    drive.slots[1].image = Bytes{'a', 'b', 'c'};
    drive.protocolErrors.push_back("download piece at offset 3 is not dword aligned");
    sim::MachineInstall install(machine);

    const Json state = ParseJson(sim::StateJson(1602));
    EXPECT_EQ(At(state, "exitCode"), 1602);
    ASSERT_EQ(At(state, "drives").size(), 2u);
    const Json& rst = At(state, "drives", 0);
    ExpectDrive(rst, "R", "QZT2VKLA", "QZT2VKLA", 0, 0);
    EXPECT_EQ(At(rst, "slots"), Json::array()) << "the factory image was never assembled here";
    EXPECT_EQ(At(rst, "protocolErrors"), Json::array());

    const Json& a = At(state, "drives", 1);
    ExpectDrive(a, "A", "QZT2\u00e9   ", "QZT3VKLA", 64, 1);
    EXPECT_EQ(At(a, "slots"), Json::parse(R"([{"number": 2, "revision": "QZT3VKLA",
        "sha256": "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}])"));
    EXPECT_EQ(At(a, "protocolErrors", 0), "download piece at offset 3 is not dword aligned");
    EXPECT_EQ(At(state, "openHandles"), 0);
}

}  // namespace
