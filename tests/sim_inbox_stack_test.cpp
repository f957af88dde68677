// The simulated inbox storage stack: the Identify query reply, the firmware
// information reply, and the refusal of every field the program must not get wrong.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim_drive_support.h"
#include "test_support.h"

namespace {

using simtest::Buffer;
using simtest::Reply;
using simtest::Send;

constexpr const char* kMachine = R"({"disks": [
  {"attach": "inbox", "deviceNumber": 0, "drive": {"id": "A", "fwug": 1}},
  {"attach": "other", "deviceNumber": 1,
   "drive": {"id": "B", "mn": "ALDERWEN NV3 512GB", "fr": "2B0QALD1",
             "slots": [{"number": 1}, {"number": 2}], "activation": "immediate"}},
  {"attach": "other", "deviceNumber": 2}
]})";

const std::wstring kInbox = L"\\\\.\\PHYSICALDRIVE0";

TEST(SimInboxStack, IdentifyReplyIsTheDescriptorThenTheData) {
    sim::Machine machine = MachineFrom(kMachine);
    sim::MachineInstall install(machine);
    const struct {
        const wchar_t* path;
        std::uint16_t vendorId;
        const char* model;
    } cases[] = {
        {L"\\\\.\\PHYSICALDRIVE0", sim::kMakerVendorId, "KORVANE QZRX4C7 1TB"},
        {L"\\\\.\\PHYSICALDRIVE1", sim::kOtherMakerVendorId, "ALDERWEN NV3 512GB"},
    };
    for (const auto& c : cases) {
        HANDLE disk = simtest::Open(c.path);
        const Reply reply = Send(disk, IOCTL_STORAGE_QUERY_PROPERTY, storage::BuildIdentifyQuery());
        win::CloseHandle(disk);
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.returned, 4144u);
        const std::span<const std::uint8_t> out = reply.buffer;
        const std::uint32_t descriptor[] = {48, 48, 3, 1, 1, 0, 40, 4096, 0, 0, 0, 0};
        for (std::size_t i = 0; i < std::size(descriptor); ++i) {
            EXPECT_EQ(layout::GetU32(out, 4 * i), descriptor[i]) << "dword " << i;
        }
        const auto data = storage::IdentifyData(out);
        EXPECT_EQ(layout::GetU16(data, 0), c.vendorId);
        EXPECT_EQ(simtest::Text(nvme::FieldBytes(data, nvme::kModelNumber)).substr(0, 18),
                  std::string(c.model).substr(0, 18));
    }
    // A disk without an NVMe drive has no protocol data and no firmware interface.
    HANDLE disk = simtest::Open(L"\\\\.\\PHYSICALDRIVE2");
    const Reply identify = Send(disk, IOCTL_STORAGE_QUERY_PROPERTY, storage::BuildIdentifyQuery());
    const Reply info = Send(disk, IOCTL_SCSI_MINIPORT, simtest::InboxGetInfo());
    win::CloseHandle(disk);
    EXPECT_EQ(identify.error, ERROR_NOT_SUPPORTED);
    EXPECT_EQ(info.error, ERROR_INVALID_FUNCTION);
    EXPECT_TRUE(simtest::AllProtocolErrors(machine).empty());
}

TEST(SimInboxStack, FirmwareInfoReplyListsTheSlots) {
    sim::Machine machine = MachineFrom(kMachine);
    machine.drives[0].slots[1].revision = {'O', 'L', 'D', 'R', 'E', 'V', '0', '1'};
    machine.drives[0].pendingSlot = 2;
    sim::MachineInstall install(machine);
    HANDLE disk = simtest::Open(kInbox);
    const Reply reply = Send(disk, IOCTL_SCSI_MINIPORT, simtest::InboxGetInfo());
    win::CloseHandle(disk);
    ASSERT_TRUE(reply.ok) << reply.error;
    EXPECT_EQ(reply.ReturnCode(), 0u);
    EXPECT_EQ(reply.returned, 4172u);
    const std::span<const std::uint8_t> out = reply.buffer;
    EXPECT_EQ(layout::GetU32(out, 52), 1u) << "Version";
    EXPECT_EQ(layout::GetU32(out, 56), 16u) << "Size";
    EXPECT_EQ(out[60], 1) << "UpgradeSupport";
    EXPECT_EQ(out[61], 3) << "SlotCount";
    EXPECT_EQ(out[62], 1) << "ActiveSlot";
    EXPECT_EQ(out[63], 2) << "PendingActivateSlot";
    EXPECT_EQ(layout::GetU32(out, 64), 0u);
    const struct {
        std::uint8_t number, readOnly;
        std::string revision;
    } slots[] = {{1, 1, "QZT2VKLA"}, {2, 0, "OLDREV01"}, {3, 0, std::string(8, '\0')}};
    for (std::size_t i = 0; i < std::size(slots); ++i) {
        const std::size_t at = 68 + 16 * i;
        EXPECT_EQ(out[at], slots[i].number);
        EXPECT_EQ(out[at + 1], slots[i].readOnly);
        EXPECT_EQ(simtest::Text(out.subspan(at + 2, 6)), std::string(6, '\0'));
        EXPECT_EQ(simtest::Text(out.subspan(at + 8, 8)), slots[i].revision);
    }
    const auto info = inbox_fw::ParseFirmwareInfo(out);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->slots.size(), 3u);
}

// A well-formed request of each kind, broken in one field: the call fails, the drive
// records one protocol error naming the field, and nothing reaches the drive.
TEST(SimInboxStack, MalformedRequestsAreRefusedAndRecorded) {
    using Edit = std::function<void(Buffer&)>;
    auto put32 = [](std::size_t at, std::uint32_t v) {
        return Edit([=](Buffer& b) { layout::PutU32(b, at, v); });
    };
    auto put64 = [](std::size_t at, std::uint64_t v) {
        return Edit([=](Buffer& b) { layout::PutU64(b, at, v); });
    };
    auto poke = [](std::size_t at) { return Edit([=](Buffer& b) { b.at(at) = 1; }); };
    const Buffer image = simtest::MakeImage();
    const Buffer query = storage::BuildIdentifyQuery();
    const Buffer info = simtest::InboxGetInfo();
    const Buffer download =
        simtest::InboxDownload(0, std::span<const std::uint8_t>(image).first(4096), 4096);
    const Buffer shortLast =
        simtest::InboxDownload(0, std::span<const std::uint8_t>(image).first(2048), 4096);
    const Buffer activate = simtest::InboxActivate(2);
    const struct {
        DWORD code;
        const Buffer& request;
        Edit edit;
        DWORD error;
        const char* names;
    } cases[] = {
        {IOCTL_STORAGE_QUERY_PROPERTY, query, put32(0, 0), 87, "PropertyId is 0, expected 49"},
        {IOCTL_STORAGE_QUERY_PROPERTY, query, put32(8, 2), 87, "ProtocolType is 2"},
        {IOCTL_STORAGE_QUERY_PROPERTY, query, put32(16, 0), 87, "ProtocolDataRequestValue"},
        {IOCTL_STORAGE_QUERY_PROPERTY, query, put32(24, 48), 87, "ProtocolDataOffset is 48"},
        {IOCTL_STORAGE_QUERY_PROPERTY, query, put32(28, 512), 87, "ProtocolDataLength is 512"},
        {IOCTL_STORAGE_QUERY_PROPERTY, query, poke(4000), 87, "byte 4000 is 0x1"},
        {IOCTL_STORAGE_QUERY_PROPERTY, query, [](Buffer& b) { b.resize(4096); }, 87,
         "input of 4096 bytes"},
        {IOCTL_SCSI_MINIPORT, info, put32(0, 24), 87, "HeaderLength is 24, expected 28"},
        {IOCTL_SCSI_MINIPORT, info, poke(11), 1, "Signature is \"FIRMWAR\\x01\""},
        {IOCTL_SCSI_MINIPORT, info, put32(12, 10), 87, "Timeout is 10, expected 30"},
        {IOCTL_SCSI_MINIPORT, info, put32(16, 0x1B0781), 87, "ControlCode is 0x1B0781"},
        {IOCTL_SCSI_MINIPORT, info, put32(20, 1), 87, "ReturnCode is 1, expected 0"},
        {IOCTL_SCSI_MINIPORT, info, put32(24, 4172), 87, "Length is 4172, expected 4144"},
        {IOCTL_SCSI_MINIPORT, info, put32(28, 2), 87, "FIRMWARE_REQUEST_BLOCK.Version is 2"},
        {IOCTL_SCSI_MINIPORT, info, put32(36, 4), 87, "Function is 4, expected 1, 2 or 3"},
        {IOCTL_SCSI_MINIPORT, info, put32(40, 0), 87, "Flags is 0, expected 1"},
        {IOCTL_SCSI_MINIPORT, info, put32(44, 56), 87, "DataBufferOffset is 56, expected 52"},
        {IOCTL_SCSI_MINIPORT, info, put32(48, 4096), 87, "DataBufferLength is 4096"},
        {IOCTL_SCSI_MINIPORT, info, poke(100), 87, "the data area (bytes 52 to 4171)"},
        {IOCTL_SCSI_MINIPORT, download, put32(52, 2), 87, "STORAGE_FIRMWARE_DOWNLOAD.Version"},
        {IOCTL_SCSI_MINIPORT, download, put64(68, 4097), 87, "BufferSize 4097 does not fit"},
        {IOCTL_SCSI_MINIPORT, shortLast, poke(76 + 2048), 87, "the bytes after the image"},
        {IOCTL_SCSI_MINIPORT, activate, put32(52, 2), 87, "STORAGE_FIRMWARE_ACTIVATE.Version"},
        {IOCTL_SCSI_MINIPORT, activate, poke(61), 87, "the bytes after SlotToActivate"},
        {IOCTL_SCSI_MINIPORT, activate, [](Buffer& b) { b.resize(20); }, 87,
         "20 bytes, too short for SRB_IO_CONTROL"},
        {IOCTL_SCSI_MINIPORT, activate, [](Buffer& b) { b.resize(60); }, 87,
         "too short for STORAGE_FIRMWARE_ACTIVATE"},
        {0x2D0C14, query, [](Buffer&) {}, 1, "control code 0x2D0C14"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.names);
        sim::Machine machine = MachineFrom(kMachine);
        sim::MachineInstall install(machine);
        HANDLE disk = simtest::Open(kInbox);
        Buffer request = c.request;
        c.edit(request);
        const Buffer sent = request;
        const Reply reply = Send(disk, c.code, std::move(request));
        win::CloseHandle(disk);
        EXPECT_FALSE(reply.ok);
        EXPECT_EQ(reply.error, c.error);
        EXPECT_TRUE(reply.buffer == sent) << "a refused request returns nothing";
        const sim::Drive& drive = machine.drives[0];
        ASSERT_EQ(drive.protocolErrors.size(), 1u);
        EXPECT_NE(drive.protocolErrors[0].find(c.names), std::string::npos)
            << drive.protocolErrors[0];
        EXPECT_NE(drive.protocolErrors[0].find("PHYSICALDRIVE0"), std::string::npos);
        EXPECT_EQ(drive.downloadRequests, 0u);
        EXPECT_TRUE(machine.protocolErrors.empty());
    }
}

TEST(SimInboxStack, ReplyBufferMustMatchTheRequest) {
    sim::Machine machine = MachineFrom(kMachine);
    sim::MachineInstall install(machine);
    HANDLE disk = simtest::Open(kInbox);
    Buffer info = simtest::InboxGetInfo();
    Buffer query = storage::BuildIdentifyQuery();
    Buffer reply(info.size() + 8);
    DWORD returned = 0;
    EXPECT_FALSE(win::DeviceIoControl(disk, IOCTL_SCSI_MINIPORT, info.data(), 4172, reply.data(),
                                      4180, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(win::DeviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, query.data(), 4144,
                                      reply.data(), 1024, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    win::CloseHandle(disk);
    const auto& errors = machine.drives[0].protocolErrors;
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("output of 4180; one buffer goes both ways"), std::string::npos);
    EXPECT_NE(errors[1].find("output of 1024 bytes, expected 4144"), std::string::npos);
}

}  // namespace
