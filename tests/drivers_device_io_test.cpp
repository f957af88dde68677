// Opening, sending and closing against the simulated machine: the parameters that
// reach the platform, and that no handle outlives its owner or is closed twice.
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "drivers/device_io.h"
#include "drivers/storage_requests.h"
#include "sim/models/io.h"
#include "sim/sim.h"
#include "test_support.h"

namespace {

constexpr char kScenario[] = R"({
  "disks": [
    { "attach": "inbox", "deviceNumber": 7, "drive": { "id": "A" } },
    { "attach": "inbox", "deviceNumber": 8, "openable": false, "drive": { "id": "B" } }
  ]
})";

class DriversDeviceIo : public testing::Test {
  protected:
    void SetUp() override {
        machine_ = MachineFrom(kScenario);
        install_ = std::make_unique<sim::MachineInstall>(machine_);
    }

    sim::Machine machine_;
    std::unique_ptr<sim::MachineInstall> install_;
};

TEST_F(DriversDeviceIo, OpenPassesTheRequestedModesAndClosesOnce) {
    {
        DeviceHandle disk = DeviceHandle::Open(L"\\\\.\\PHYSICALDRIVE7", FILE_SHARE_READ, 0x80);
        ASSERT_TRUE(disk.IsOpen());
        EXPECT_EQ(sim::OpenHandleCount(), 1u);

        DeviceHandle moved = std::move(disk);
        EXPECT_FALSE(disk.IsOpen());
        ASSERT_TRUE(moved.IsOpen());

        // Assigning over an open handle releases the one it held.
        moved = DeviceHandle::Open(L"\\\\.\\PHYSICALDRIVE7", 0, 0);
        EXPECT_TRUE(moved.IsOpen());
        EXPECT_EQ(sim::OpenHandleCount(), 1u);

        // Moving a handle onto itself keeps it open.
        DeviceHandle& same = moved;
        moved = std::move(same);
        EXPECT_TRUE(moved.IsOpen());
        EXPECT_EQ(sim::OpenHandleCount(), 1u);

        moved.Close();
        moved.Close();
        EXPECT_FALSE(moved.IsOpen());
        EXPECT_EQ(sim::OpenHandleCount(), 0u);
    }
    const auto opens = CallsOf(TraceRecords(), "CreateFileW");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(At(opens, 0, "access"), 0xC0000000u);
    EXPECT_EQ(At(opens, 0, "share"), 1u);
    EXPECT_EQ(At(opens, 0, "flags"), 0x80u);
    EXPECT_EQ(At(opens, 1, "share"), 0u);
    EXPECT_EQ(CallsOf(TraceRecords(), "CloseHandle").size(), 2u);
}

TEST_F(DriversDeviceIo, FailedOpenKeepsTheErrorAndClosesNothing) {
    {
        const DeviceHandle denied = DeviceHandle::Open(L"\\\\.\\PHYSICALDRIVE8", 3, 0);
        EXPECT_FALSE(denied.IsOpen());
        EXPECT_EQ(denied.OpenError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        const DeviceHandle missing = DeviceHandle::Open(L"\\\\.\\PHYSICALDRIVE99", 3, 0);
        EXPECT_FALSE(missing.IsOpen());
        EXPECT_NE(missing.OpenError(), static_cast<DWORD>(ERROR_SUCCESS));
    }
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
    EXPECT_TRUE(CallsOf(TraceRecords(), "CloseHandle").empty());
}

TEST_F(DriversDeviceIo, ControlRequestUsesOneBufferBothWays) {
    std::vector<std::pair<std::size_t, std::size_t>> seen;  // (in, out) lengths
    machine_.disks.at(0).io = [&seen](sim::IoCall& call) -> DWORD {
        if (call.code == IOCTL_STORAGE_GET_DEVICE_NUMBER) {
            return sim::DiskStackIo(call);
        }
        seen.emplace_back(call.in.size(), call.out.size());
        if (call.in.empty() || call.in[0] != 0xAB) {
            return ERROR_GEN_FAILURE;
        }
        call.out.back() = 0x5A;
        call.bytesReturned = static_cast<DWORD>(call.out.size());
        return ERROR_SUCCESS;
    };
    DeviceHandle disk = DeviceHandle::Open(L"\\\\.\\PHYSICALDRIVE7", 3, 0);
    ASSERT_TRUE(disk.IsOpen());
    std::uint32_t number = 0;
    ASSERT_TRUE(QueryDeviceNumber(disk.Get(), number));
    EXPECT_EQ(number, 7u);

    Bytes request(100, 0);
    request[0] = 0xAB;
    ASSERT_TRUE(SendControlRequest(disk.Get(), IOCTL_SCSI_MINIPORT, request));
    EXPECT_EQ(request.back(), 0x5A) << "the reply lands in the request's own bytes";
    ASSERT_TRUE(SendControlRequest(disk.Get(), IOCTL_SCSI_MINIPORT,
                                   std::span<std::uint8_t>(request).first(40)));
    EXPECT_EQ(request[39], 0x5A);

    request[0] = 0;
    EXPECT_FALSE(SendControlRequest(disk.Get(), IOCTL_SCSI_MINIPORT, request));
    EXPECT_EQ(win::GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    const std::vector<std::pair<std::size_t, std::size_t>> expected = {
        {100, 100}, {40, 40}, {100, 100}};
    EXPECT_EQ(seen, expected);

    const auto calls = CallsOf(TraceRecords(), "DeviceIoControl");
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(At(calls, 0, "code"), IOCTL_STORAGE_GET_DEVICE_NUMBER);
    EXPECT_EQ(At(calls, 0, "in"), "") << "the device-number request takes no input";
    EXPECT_EQ(As<std::string>(calls, 0, "out").size(), 2 * sizeof(sdk::STORAGE_DEVICE_NUMBER));

    // A failed device-number request leaves the caller's number alone.
    machine_.disks.at(0).deviceNumberFault.answer.kind = sim::ForcedAnswer::Kind::Fail;
    std::uint32_t unchanged = 42;
    EXPECT_FALSE(QueryDeviceNumber(disk.Get(), unchanged));
    EXPECT_EQ(unchanged, 42u);
}

}  // namespace
