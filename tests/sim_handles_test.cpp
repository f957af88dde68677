// File handles of the simulated machine: path resolution, refused opens, the leak
// count, and DeviceIoControl's checks and dispatch.
#include <gtest/gtest.h>

#include <array>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "sim/models/io.h"
#include "sim/models/machine.h"
#include "sim/sim.h"
#include "test_support.h"

namespace {

constexpr std::string_view kMachine = R"({
  "controllers": [
    { "id": "rst0", "path": "\\\\?\\pci#ven_8086&dev_2822#rst0#{2accfe60-c130-11d2-b082-00a0c91efb8b}" },
    { "id": "locked", "openable": false }
  ],
  "disks": [
    { "attach": "inbox", "deviceNumber": 1,
      "interfacePath": "\\\\?\\scsi#disk&ven_nvme&prod_korvane_qzrx4c7#5&1&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}" },
    { "attach": "inbox", "deviceNumber": 12, "openable": false },
    { "attach": "inbox", "deviceNumber": 3, "drive": { "faults": { "open": "deny" } } },
    { "attach": "other", "deviceNumber": 0, "deviceNumberFails": true },
    { "attach": "inbox", "deviceNumber": null }
  ]
})";

HANDLE Open(const std::wstring& path, DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return win::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
}

TEST(SimHandles, CreateFileResolvesDevicePathsAndRefusesAsConfigured) {
    sim::Machine machine = MachineFrom(kMachine);
    sim::MachineInstall install(machine);
    const struct {
        std::wstring path;
        DWORD error;  // 0: opens
    } cases[] = {
        {L"\\\\?\\scsi#disk&ven_nvme&prod_korvane_qzrx4c7#5&1&0&000000#{53f56307-b6bf-11d0-94f2-"
         L"00a0c91efb8b}",
         0},
        {L"\\\\?\\SCSI#DISK&VEN_NVME&PROD_KORVANE_QZRX4C7#5&1&0&000000#{53F56307-B6BF-11D0-94F2-"
         L"00A0C91EFB8B}",
         0},
        {L"\\\\.\\scsi#disk&ven_nvme&prod_korvane_qzrx4c7#5&1&0&000000#{53f56307-b6bf-11d0-94f2-"
         L"00a0c91efb8b}",
         0},
        {L"\\\\?\\scsi#disk&ven_nvme&prod_korvane_qzrx4c7#5&1&0&000000", ERROR_FILE_NOT_FOUND},
        {L"\\\\.\\PHYSICALDRIVE1", 0},
        {L"\\\\.\\PhysicalDrive0", 0},
        {L"\\\\.\\PHYSICALDRIVE01", ERROR_FILE_NOT_FOUND},
        {L"\\\\.\\PHYSICALDRIVE2", ERROR_FILE_NOT_FOUND},
        {L"\\\\.\\PHYSICALDRIVE12", ERROR_ACCESS_DENIED},
        {*machine.devices[machine.disks[1].device].interfaces[0].path, ERROR_ACCESS_DENIED},
        {L"\\\\.\\PHYSICALDRIVE3", ERROR_ACCESS_DENIED},
        // A drive that denies its open is still found through its disk's interface.
        {*machine.devices[machine.disks[2].device].interfaces[0].path, 0},
        {*machine.devices[machine.disks[4].device].interfaces[0].path, 0},
        {L"\\\\?\\pci#ven_8086&dev_2822#rst0#{2accfe60-c130-11d2-b082-00a0c91efb8b}", 0},
        {*machine.devices[machine.controllers[1].device].interfaces[0].path, ERROR_ACCESS_DENIED},
        {L"C:\\fwupdate.log", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        HANDLE handle = Open(c.path);
        if (c.error == 0) {
            ASSERT_NE(handle, INVALID_HANDLE_VALUE);
            EXPECT_EQ(sim::OpenHandleCount(), 1u);
            EXPECT_TRUE(win::CloseHandle(handle));
        } else {
            EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
            EXPECT_EQ(win::GetLastError(), c.error);
        }
        EXPECT_EQ(sim::OpenHandleCount(), 0u);
    }
}

TEST(SimHandles, LeakCountAndCloseOfUnknownHandles) {
    sim::Machine machine = MachineFrom(kMachine);
    sim::MachineInstall install(machine);
    HANDLE first = Open(L"\\\\.\\PHYSICALDRIVE1");
    // Share modes are not enforced: a second exclusive open of the same disk succeeds.
    HANDLE second = win::CreateFileW(L"\\\\.\\PHYSICALDRIVE1", GENERIC_READ, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_NE(first, second);
    EXPECT_EQ(sim::OpenHandleCount(), 2u);
    EXPECT_TRUE(win::CloseHandle(first));
    EXPECT_EQ(sim::OpenHandleCount(), 1u);
    for (HANDLE bad : {first, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        EXPECT_FALSE(win::CloseHandle(bad));
        EXPECT_EQ(win::GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_TRUE(win::CloseHandle(second));
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
}

TEST(SimHandles, InstallStartsWithNoHandlesAndNoError) {
    sim::Machine machine = MachineFrom(kMachine);
    {
        sim::MachineInstall install(machine);
        Open(L"\\\\.\\PHYSICALDRIVE1");
        win::SetLastError(5);
    }
    sim::MachineInstall again(machine);
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
    EXPECT_EQ(win::GetLastError(), 0u);
    EXPECT_EQ(sim::InstalledMachine(), &machine);
}

TEST(SimHandles, DeviceNumberRequest) {
    sim::Machine machine = MachineFrom(kMachine);
    sim::MachineInstall install(machine);
    const struct {
        const wchar_t* path;
        DWORD outSize;
        DWORD error;
        DWORD number;
    } cases[] = {
        {L"\\\\.\\PHYSICALDRIVE1", 12, 0, 1},
        {L"\\\\.\\PHYSICALDRIVE1", 16, 0, 1},
        {L"\\\\.\\PHYSICALDRIVE1", 8, ERROR_INSUFFICIENT_BUFFER, 0},
        {L"\\\\.\\PHYSICALDRIVE0", 12, ERROR_INVALID_FUNCTION, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.outSize);
        HANDLE handle = Open(c.path);
        std::array<std::uint8_t, 16> out{};
        DWORD returned = 99;
        const BOOL ok = win::DeviceIoControl(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0,
                                             out.data(), c.outSize, &returned, nullptr);
        if (c.error == 0) {
            ASSERT_TRUE(ok);
            EXPECT_EQ(returned, 12u);
            EXPECT_EQ(out[0], FILE_DEVICE_DISK);
            EXPECT_EQ(out[4], c.number);
            EXPECT_EQ(out[8], 0u);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(win::GetLastError(), c.error);
            EXPECT_EQ(returned, 0u);
        }
        win::CloseHandle(handle);
    }
    // The short buffer is the program's fault: recorded against the disk's drive.
    EXPECT_EQ(machine.drives[0].protocolErrors.size(), 1u);
}

TEST(SimHandles, DeviceIoControlChecksHandleBuffersAndAccess) {
    sim::Machine machine = MachineFrom(kMachine);
    sim::MachineInstall install(machine);
    std::array<std::uint8_t, 64> buffer{};
    DWORD returned = 0;

    EXPECT_FALSE(win::DeviceIoControl(reinterpret_cast<HANDLE>(0x1234), IOCTL_SCSI_MINIPORT,
                                      buffer.data(), 64, buffer.data(), 64, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_HANDLE);

    HANDLE readOnly = Open(L"\\\\.\\PHYSICALDRIVE1", GENERIC_READ);
    EXPECT_FALSE(win::DeviceIoControl(readOnly, IOCTL_SCSI_MINIPORT, buffer.data(), 64,
                                      buffer.data(), 64, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), ERROR_ACCESS_DENIED) << "the miniport code needs write access";
    HANDLE noAccess = Open(L"\\\\.\\PHYSICALDRIVE1", 0);
    EXPECT_TRUE(win::DeviceIoControl(noAccess, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0,
                                     buffer.data(), 12, &returned, nullptr))
        << "the device-number code needs no access";
    EXPECT_FALSE(win::DeviceIoControl(noAccess, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0,
                                      nullptr, 12, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), ERROR_NOACCESS);

    HANDLE controller =
        Open(L"\\\\?\\pci#ven_8086&dev_2822#rst0#{2accfe60-c130-11d2-b082-00a0c91efb8b}");
    EXPECT_FALSE(win::DeviceIoControl(controller, IOCTL_SCSI_MINIPORT, buffer.data(), 64,
                                      buffer.data(), 64, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_FUNCTION) << "an unknown signature";
    for (HANDLE handle : {readOnly, noAccess, controller}) {
        win::CloseHandle(handle);
    }
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
}

TEST(SimHandles, DeviceHandlersSeeTheRequestAsSentEvenInOneBuffer) {
    sim::Machine machine = MachineFrom(kMachine);
    std::vector<std::uint8_t> seen;
    machine.disks[0].io = [&seen](sim::IoCall& call) -> DWORD {
        seen.assign(call.in.begin(), call.in.end());
        for (std::uint8_t& b : call.out) {
            b = 0xAB;
        }
        call.bytesReturned = 3;
        EXPECT_EQ(call.TargetDisk(), &call.machine.disks[0]);
        EXPECT_EQ(call.TargetDrive(), &call.machine.drives[0]);
        return call.in.size() == 4 ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
    };
    machine.controllers[0].io = [](sim::IoCall& call) -> DWORD {
        call.ProtocolError(nullptr, "seen by the controller");
        return ERROR_GEN_FAILURE;
    };
    sim::MachineInstall install(machine);

    HANDLE disk = Open(L"\\\\.\\PHYSICALDRIVE1");
    std::array<std::uint8_t, 4> buffer{1, 2, 3, 4};
    DWORD returned = 0;
    ASSERT_TRUE(win::DeviceIoControl(disk, 0x00070000, buffer.data(), 4, buffer.data(), 4,
                                     &returned, nullptr));
    EXPECT_EQ(seen, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_EQ(returned, 3u);

    HANDLE controller =
        Open(L"\\\\?\\pci#ven_8086&dev_2822#rst0#{2accfe60-c130-11d2-b082-00a0c91efb8b}");
    EXPECT_FALSE(win::DeviceIoControl(controller, IOCTL_SCSI_MINIPORT, buffer.data(), 4,
                                      buffer.data(), 4, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), ERROR_GEN_FAILURE);
    EXPECT_EQ(machine.protocolErrors, std::vector<std::string>{"seen by the controller"});
    win::CloseHandle(disk);
    win::CloseHandle(controller);
}

// What the I/O manager does with a METHOD_BUFFERED request: the device answers into
// a system buffer that starts as the request, the caller gets the first
// min(reported, output size) bytes of it and the count as reported.
TEST(SimHandles, DeviceIoControlCopiesBackWhatTheDeviceReports) {
    const struct {
        const char* name;
        DWORD inSize, outSize;
        DWORD reported;
        DWORD error;                      // what the device answers
        std::vector<std::uint8_t> seen;   // the system buffer as the device found it
        std::vector<std::uint8_t> after;  // the caller's output buffer after the call
        DWORD returned;                   // the count the caller gets
    } cases[] = {
        {"a shorter reply", 4, 6, 3, 0, {1, 2, 3, 4, 0, 0}, {0xA0, 0xA1, 0xA2, 9, 9, 9}, 3},
        {"the whole buffer",
         4,
         6,
         6,
         0,
         {1, 2, 3, 4, 0, 0},
         {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5},
         6},
        {"a count past the buffer",
         4,
         6,
         4000,
         0,
         {1, 2, 3, 4, 0, 0},
         {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5},
         4000},
        {"more input than output", 6, 2, 6, 0, {1, 2, 3, 4, 5, 6}, {0xA0, 0xA1, 9, 9, 9, 9}, 6},
        {"nothing returned", 4, 6, 0, 0, {1, 2, 3, 4, 0, 0}, {9, 9, 9, 9, 9, 9}, 0},
        {"a failed call", 4, 6, 6, ERROR_GEN_FAILURE, {1, 2, 3, 4, 0, 0}, {9, 9, 9, 9, 9, 9}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine machine = MachineFrom(kMachine);
        std::vector<std::uint8_t> seen;
        std::vector<std::uint8_t> seenIn;
        machine.disks[0].io = [&](sim::IoCall& call) -> DWORD {
            seen.assign(call.out.begin(), call.out.end());
            for (std::size_t i = 0; i < call.out.size(); ++i) {
                call.out[i] = static_cast<std::uint8_t>(0xA0 + i);
            }
            seenIn.assign(call.in.begin(), call.in.end());
            EXPECT_EQ(call.outSize, c.outSize);
            EXPECT_EQ(call.path, L"\\\\.\\PHYSICALDRIVE1");
            call.bytesReturned = c.reported;
            return c.error;
        };
        sim::MachineInstall install(machine);
        HANDLE disk = Open(L"\\\\.\\PHYSICALDRIVE1");
        std::vector<std::uint8_t> in = {1, 2, 3, 4, 5, 6};
        std::vector<std::uint8_t> out(6, 9);
        DWORD returned = 77;
        const BOOL ok = win::DeviceIoControl(disk, 0x00070000, in.data(), c.inSize, out.data(),
                                             c.outSize, &returned, nullptr);
        win::CloseHandle(disk);
        EXPECT_EQ(ok != FALSE, c.error == 0);
        EXPECT_EQ(seen, c.seen);
        EXPECT_EQ(seenIn, std::vector<std::uint8_t>(in.begin(), in.begin() + c.inSize))
            << "the request reads as sent, whatever the device writes";
        EXPECT_EQ(out, c.after);
        EXPECT_EQ(returned, c.returned);
        EXPECT_EQ(in, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6})) << "input untouched";

        const nlohmann::json calls = CallsOf(TraceRecords(), "DeviceIoControl");
        EXPECT_EQ(At(calls, 0, "bytesReturned"), c.returned)
            << "the trace shows the count as reported";
        EXPECT_EQ(As<std::string>(calls, 0, "out").size(), 2 * c.outSize);
    }
}

}  // namespace
