// The simulated inbox storage stack: the Identify query reply, the firmware
// information reply, and the refusal of every field the program must not get wrong,
// down to the sizes, order and slot that the drive behind it calls for.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "run_support.h"
#include "sim_drive_support.h"
#include "test_support.h"

namespace {

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
    const Reply publicInfo = Send(disk, IOCTL_SCSI_MINIPORT, inbox_fw::BuildPublicGetInfoRequest());
    win::CloseHandle(disk);
    EXPECT_EQ(identify.error, ERROR_NOT_SUPPORTED);
    EXPECT_EQ(info.error, ERROR_INVALID_FUNCTION);
    EXPECT_EQ(publicInfo.error, ERROR_INVALID_FUNCTION);
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

// The public form asks what the driver reports outside an update: the drive's table in
// the version 2 layout at 56, whichever forms the driver takes, the request as sent
// before it.
TEST(SimInboxStack, PublicFormIsAnsweredInTheVersion2Layout) {
    std::string many;
    std::vector<simtest::SlotEntry> manyEntries;
    for (int i = 0; i < 255; ++i) {
        many += (i == 0 ? R"({"number": )" : R"(, {"number": )") + std::to_string(i) +
                (i % 2 == 1 ? R"(, "readOnly": true})" : "}");
        manyEntries.push_back({static_cast<std::uint8_t>(i), i % 2 == 1, i == 0 ? "QZT2VKLA" : ""});
    }
    const std::vector<simtest::SlotEntry> standard = {
        {1, true, "QZT2VKLA"}, {2, false, ""}, {3, false, ""}};
    const struct {
        const char* name;
        std::string drive;
        simtest::InfoV2 expected;
    } cases[] = {
        {"the default table", R"("fwug": 1)", {true, 1, 0xFF, standard}},
        {"a driver that takes only the public form",
         R"("firmwareRequests": "public-form-only")",
         {true, 1, 0xFF, standard}},
        {"slots NVMe cannot express, one waiting",
         R"("upgradeSupport": false, "activeSlot": 9,
            "slots": [{"number": 0}, {"number": 9, "readOnly": true}, {"number": 9}])",
         {false, 9, 0, {{0, false, ""}, {9, true, "QZT2VKLA"}, {9, false, ""}}}},
        {"no slot at all", R"("slots": [])", {true, 0, 0xFF, {}}},
        {"255 entries fill the data area",
         R"("slots": [)" + many + "]",
         {true, 0, 0xFF, manyEntries}},
    };
    const Bytes request = inbox_fw::BuildPublicGetInfoRequest();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine machine = MachineFrom(
            R"({"disks": [{"attach": "inbox", "deviceNumber": 0, "drive": {)" + c.drive + "}}]}");
        machine.drives[0].pendingSlot = c.expected.pendingSlot;
        sim::MachineInstall install(machine);
        HANDLE disk = simtest::Open(kInbox);
        const Reply reply = Send(disk, IOCTL_SCSI_MINIPORT, request);
        win::CloseHandle(disk);
        simtest::ExpectPublicInfoReply(request, reply, c.expected,
                                       inbox_fw::ParsePublicFirmwareInfo);
        EXPECT_TRUE(simtest::AllProtocolErrors(machine).empty());
    }
}

// A driver written to the SDK's contract answers each request of the updater's form
// itself: FIRMWARE_STATUS_INVALID_PARAMETER, the request as sent otherwise. The drive
// never sees it, so a forced answer of the drive's does not apply, and it is no protocol
// error. The public form still reaches the drive, faults and all.
TEST(SimInboxStack, ADriverOfTheSdksContractRefusesTheUpdatersForm) {
    const std::string strict = R"("fwug": 1, "firmwareRequests": "public-form-only")";
    const std::string forced = strict + R"(, "faults": {"firmwareInfo": {"returnCode": 1}})";
    const Bytes image = simtest::MakeImage();
    const Bytes piece =
        simtest::InboxDownload(0, std::span<const std::uint8_t>(image).first(4096), 4096);
    const Bytes info = simtest::InboxGetInfo();
    const Bytes activate = simtest::InboxActivate(2);
    const Bytes publicInfo = inbox_fw::BuildPublicGetInfoRequest();
    const struct {
        const char* name;
        std::string drive;
        const Bytes& request;
        std::uint32_t returnCode;
        std::uint32_t downloadRequests;
    } cases[] = {
        {"the updater's information request", strict, info, 3, 0},
        {"a download piece", strict, piece, 3, 0},
        {"an activation", strict, activate, 3, 0},
        {"the public form", strict, publicInfo, 0, 0},
        {"a forced answer does not reach the updater's form", forced, info, 3, 0},
        {"but answers the public form", forced, publicInfo, 1, 0},
        {"a driver that takes both: information", R"("fwug": 1)", info, 0, 0},
        {"a driver that takes both: a piece", R"("fwug": 1)", piece, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine machine = MachineFrom(
            R"({"disks": [{"attach": "inbox", "deviceNumber": 0, "drive": {)" + c.drive + "}}]}");
        sim::MachineInstall install(machine);
        HANDLE disk = simtest::Open(kInbox);
        const Reply reply = Send(disk, IOCTL_SCSI_MINIPORT, c.request);
        win::CloseHandle(disk);
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.returned, c.request.size());
        EXPECT_EQ(reply.ReturnCode(), c.returnCode);
        if (c.returnCode != 0) {
            Bytes expected = c.request;
            layout::PutU32(expected, 20, c.returnCode);
            EXPECT_TRUE(reply.buffer == expected) << "the request as sent otherwise";
        }
        EXPECT_EQ(machine.drives[0].downloadRequests, c.downloadRequests);
        EXPECT_EQ(machine.drives[0].activations, 0u);
        EXPECT_TRUE(simtest::AllProtocolErrors(machine).empty());
    }

    // The refused reply is what the program was told: no slot to download to.
    sim::Machine machine = MachineFrom(
        R"({"disks": [{"attach": "inbox", "deviceNumber": 0, "drive": {)" + strict + "}}]}");
    sim::MachineInstall install(machine);
    HANDLE disk = simtest::Open(kInbox);
    EXPECT_EQ(Send(disk, IOCTL_SCSI_MINIPORT, info).ReturnCode(), 3u);
    EXPECT_EQ(Send(disk, IOCTL_SCSI_MINIPORT, piece).error, ERROR_INVALID_PARAMETER);
    win::CloseHandle(disk);
    ASSERT_EQ(machine.drives[0].protocolErrors.size(), 1u);
    EXPECT_NE(machine.drives[0].protocolErrors[0].find(
                  "a download after an information reply that gave no usable slot (ReturnCode "
                  "0x3)"),
              std::string::npos)
        << machine.drives[0].protocolErrors[0];
}

// The updater on such a driver: its information request is refused, it reports the
// drive as failed and sends nothing more, and the driver saw nothing malformed.
TEST(SimInboxStack, TheUpdaterFailsADriveWhoseDriverTakesOnlyThePublicForm) {
    const ProgramRun run = RunScenario(
        R"({"disks": [{"attach": "inbox", "drive": {"id": "A", "firmwareRequests": "public-form-only"}}]})");
    EXPECT_EQ(run.exitCode, 1);
    const nlohmann::json debug = run.Calls("OutputDebugStringW");
    ASSERT_EQ(debug.size(), 1u);
    EXPECT_EQ(At(debug, 0, "debug"), "Get device info failed. ReturnCode: 0x3\n");
    EXPECT_NE(run.output.find("Result Details : Unable to update firmware."), std::string::npos)
        << run.output;
    std::size_t firmwareRequests = 0;
    for (const nlohmann::json& call : run.Calls("DeviceIoControl")) {
        firmwareRequests += At(call, "code") == IOCTL_SCSI_MINIPORT;
    }
    EXPECT_EQ(firmwareRequests, 1u) << "the information request alone";
    const nlohmann::json& drive = run.Drive("A");
    EXPECT_EQ(At(drive, "downloadRequests"), 0);
    EXPECT_EQ(At(drive, "activations"), 0);
    EXPECT_EQ(At(drive, "protocolErrors"), nlohmann::json::array());
    EXPECT_EQ(At(run.state, "protocolErrors"), nlohmann::json::array());
}

// A well-formed request of each kind, broken in one field: the call fails, the drive
// records one protocol error naming the field, and nothing reaches the drive.
TEST(SimInboxStack, MalformedRequestsAreRefusedAndRecorded) {
    using Edit = std::function<void(Bytes&)>;
    auto put32 = [](std::size_t at, std::uint32_t v) {
        return Edit([=](Bytes& b) { layout::PutU32(b, at, v); });
    };
    auto put64 = [](std::size_t at, std::uint64_t v) {
        return Edit([=](Bytes& b) { layout::PutU64(b, at, v); });
    };
    auto poke = [](std::size_t at) { return Edit([=](Bytes& b) { b.at(at) = 1; }); };
    const Bytes image = simtest::MakeImage();
    const Bytes query = storage::BuildIdentifyQuery();
    const Bytes info = simtest::InboxGetInfo();
    const Bytes download =
        simtest::InboxDownload(0, std::span<const std::uint8_t>(image).first(4096), 4096);
    const Bytes shortLast =
        simtest::InboxDownload(0, std::span<const std::uint8_t>(image).first(2048), 4096);
    const Bytes activate = simtest::InboxActivate(2);
    const Bytes publicInfo = inbox_fw::BuildPublicGetInfoRequest();
    const struct {
        DWORD code;
        const Bytes& request;
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
        {IOCTL_STORAGE_QUERY_PROPERTY, query, [](Bytes& b) { b.resize(4096); }, 87,
         "input of 4096 bytes"},
        {IOCTL_STORAGE_QUERY_PROPERTY, query, [](Bytes& b) { b.resize(4152); }, 87,
         "input of 4152 bytes, expected 4144; output of 4152 bytes, expected 4144"},
        {IOCTL_SCSI_MINIPORT, info, put32(0, 24), 87, "HeaderLength is 24, expected 28"},
        {IOCTL_SCSI_MINIPORT, info, poke(11), 1, "Signature is \"FIRMWAR\\x01\""},
        {IOCTL_SCSI_MINIPORT, info, put32(12, 10), 87, "Timeout is 10, expected 30"},
        {IOCTL_SCSI_MINIPORT, info, put32(16, 0x1B0781), 87, "ControlCode is 0x1B0781"},
        {IOCTL_SCSI_MINIPORT, info, put32(20, 1), 87, "ReturnCode is 1, expected 0"},
        {IOCTL_SCSI_MINIPORT, info, put32(24, 4172), 87, "Length is 4172, expected 4144"},
        {IOCTL_SCSI_MINIPORT, info, put32(28, 2), 87, "FIRMWARE_REQUEST_BLOCK.Version is 2"},
        {IOCTL_SCSI_MINIPORT, info, put32(36, 4), 87, "Function is 4, expected 1, 2 or 3"},
        {IOCTL_SCSI_MINIPORT, info, put32(40, 0), 87, "Flags is 0, expected 1"},
        {IOCTL_SCSI_MINIPORT, info, put32(44, 60), 87, "DataBufferOffset is 60, expected 52"},
        {IOCTL_SCSI_MINIPORT, info, put32(44, 56), 87,
         "public-form information request on \\\\.\\PHYSICALDRIVE0: request of 4172 bytes, "
         "expected 6200"},
        {IOCTL_SCSI_MINIPORT, info, put32(48, 4096), 87, "DataBufferLength is 4096"},
        {IOCTL_SCSI_MINIPORT, info, poke(100), 87, "the data area (bytes 52 to 4171)"},
        {IOCTL_SCSI_MINIPORT, download, put32(52, 2), 87, "STORAGE_FIRMWARE_DOWNLOAD.Version"},
        {IOCTL_SCSI_MINIPORT, download, put64(68, 4097), 87, "BufferSize 4097 does not fit"},
        {IOCTL_SCSI_MINIPORT, shortLast, poke(76 + 2048), 87, "the bytes after the image"},
        {IOCTL_SCSI_MINIPORT, activate, put32(52, 2), 87, "STORAGE_FIRMWARE_ACTIVATE.Version"},
        {IOCTL_SCSI_MINIPORT, activate, poke(61), 87, "the bytes after SlotToActivate"},
        {IOCTL_SCSI_MINIPORT, publicInfo, [](Bytes& b) { b.resize(6208); }, 87,
         "request of 6208 bytes, expected 6200"},
        {IOCTL_SCSI_MINIPORT, publicInfo, put32(12, 10), 87, "Timeout is 10, expected 30"},
        {IOCTL_SCSI_MINIPORT, publicInfo, put32(20, 1), 87, "ReturnCode is 1, expected 0"},
        {IOCTL_SCSI_MINIPORT, publicInfo, put32(24, 6200), 87, "Length is 6200, expected 6172"},
        {IOCTL_SCSI_MINIPORT, publicInfo, put32(32, 16), 87,
         "FIRMWARE_REQUEST_BLOCK.Size is 16, expected 24"},
        {IOCTL_SCSI_MINIPORT, publicInfo, put32(36, 2), 87, "Function is 2, expected 1"},
        {IOCTL_SCSI_MINIPORT, publicInfo, put32(40, 0), 87, "Flags is 0, expected 1"},
        {IOCTL_SCSI_MINIPORT, publicInfo, put32(48, 6148), 87,
         "DataBufferLength is 6148, expected 6144"},
        {IOCTL_SCSI_MINIPORT, publicInfo, poke(53), 87,
         "the bytes between the request block and the data area (bytes 52 to 55) must be zero"},
        {IOCTL_SCSI_MINIPORT, publicInfo, put32(56, 1), 87,
         "STORAGE_FIRMWARE_INFO_V2.Version is 1, expected 2"},
        {IOCTL_SCSI_MINIPORT, publicInfo, put32(60, 16), 87,
         "STORAGE_FIRMWARE_INFO_V2.Size is 16, expected 24"},
        {IOCTL_SCSI_MINIPORT, publicInfo, poke(65), 87,
         "the bytes after Size (bytes 64 to 6199) must be zero; byte 65 is 0x1"},
        {IOCTL_SCSI_MINIPORT, publicInfo, poke(6199), 87, "byte 6199 is 0x1"},
        {IOCTL_SCSI_MINIPORT, activate, [](Bytes& b) { b.resize(20); }, 87,
         "20 bytes, too short for SRB_IO_CONTROL"},
        {IOCTL_SCSI_MINIPORT, activate, [](Bytes& b) { b.resize(60); }, 87,
         "too short for STORAGE_FIRMWARE_ACTIVATE"},
        {0x2D0C14, query, [](Bytes&) {}, 1, "control code 0x2D0C14"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.names);
        sim::Machine machine = MachineFrom(kMachine);
        sim::MachineInstall install(machine);
        HANDLE disk = simtest::Open(kInbox);
        Bytes request = c.request;
        c.edit(request);
        const Bytes sent = request;
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
    Bytes info = simtest::InboxGetInfo();
    Bytes query = storage::BuildIdentifyQuery();
    Bytes reply(info.size() + 8);
    DWORD returned = 0;
    EXPECT_FALSE(win::DeviceIoControl(disk, IOCTL_SCSI_MINIPORT, info.data(), 4172, reply.data(),
                                      4180, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(win::DeviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, query.data(), 4144,
                                      reply.data(), 1024, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(win::DeviceIoControl(disk, IOCTL_STORAGE_QUERY_PROPERTY, query.data(), 4144,
                                      reply.data(), 4152, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_PARAMETER) << "room to spare is no shortage";
    Bytes publicInfo = inbox_fw::BuildPublicGetInfoRequest();
    Bytes publicReply(6208);
    EXPECT_FALSE(win::DeviceIoControl(disk, IOCTL_SCSI_MINIPORT, publicInfo.data(), 6200,
                                      publicReply.data(), 6208, &returned, nullptr));
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_PARAMETER);
    win::CloseHandle(disk);
    const auto& errors = machine.drives[0].protocolErrors;
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_NE(errors[0].find("output of 4180; one buffer goes both ways"), std::string::npos);
    EXPECT_NE(errors[1].find("output of 1024 bytes, expected 4144"), std::string::npos);
    EXPECT_NE(errors[2].find("output of 4152 bytes, expected 4144"), std::string::npos);
    EXPECT_NE(errors[3].find("output of 6208; one buffer goes both ways"), std::string::npos);
}

// Requests well-formed in themselves but not what the program sends this drive: sized
// for another granularity, pieces out of order or of another size, another slot.
// Each is refused and recorded; a sound sequence around them goes through.
TEST(SimInboxStack, RequestsMustFitTheDrive) {
    using simtest::Activate;
    using simtest::Info;
    using simtest::InOrder;
    using simtest::Piece;
    using simtest::PublicInfo;
    using simtest::Seq;
    constexpr std::uint64_t kEnd = sim::kFirmwareImageSize;
    constexpr std::size_t k1 = 4096, k3 = 12288, k8 = 32768, k128 = 524288, k254 = 1040384;
    const struct {
        const char* drive;
        simtest::Steps steps;
        const char* why;
    } cases[] = {
        // Sizes: every request's buffer, and every piece but one that ends the image.
        {R"("fwug": 1)",
         Info(2 * k1,
              "request of 8268 bytes, expected 4172 (a chunk of the drive's granularity "
              "1 x 4096, plus 76)"),
         "information request sized for granularity 2"},
        {R"("fwug": 8)", Seq({Info(k8), Piece(0, k1, k1, "request of 4172 bytes, expected 32844")}),
         "download sized for granularity 1 on a drive of 8"},
        {R"("fwug": 8)",
         Seq({Info(k8), Piece(0, k1, k8,
                              "BufferSize is 4096, expected 32768 (the drive's granularity 8 x "
                              "4096)")}),
         "a short piece that does not end the image"},
        {R"("fwug": 8)", Seq({Info(k8), Activate(2, k1, "request of 4172 bytes, expected 32844")}),
         "activation sized for granularity 1"},
        {R"("version": "1.2", "fwug": 8)",
         Seq({Info(k1), Piece(0, k8, k8, "request of 32844 bytes, expected 4172")}),
         "FWUG of a 1.2 drive: the program's granularity is 1"},
        {R"("version": "2.0", "fwug": 8)",
         Seq({Info(k8), Piece(0, k1, k1, "request of 4172 bytes, expected 32844")}),
         "FWUG of a 2.0 drive: the program's granularity is 8"},
        {R"("version": "2.0", "fwug": 8)", Seq({Info(k8), InOrder(k8), Activate(2, k8)}),
         "a sound download at granularity 8 on a 2.0 drive"},
        {R"("fwug": 255)",
         Info(k1 * 255, "expected 4172 (a chunk of the drive's granularity 1 x 4096, plus 76)"),
         "FWUG 0xFF asks for no granularity: the program's is 1"},
        {R"("fwug": 255)", Seq({Info(k1), InOrder(k1), Activate(2, k1)}),
         "a sound download at granularity 1 on a drive without restriction"},
        {R"("fwug": 254)", Seq({Info(k254), InOrder(k254), Activate(2, k254)}),
         "a sound download at granularity 254, its last piece 16384 bytes"},
        {R"("fwug": 3)",
         Seq({Info(k3), InOrder(k3, 0, kEnd - 8192),
              Piece(kEnd - 8192, k3, k3,
                    "BufferSize is 12288, expected 8192 (the bytes left of the 2097152-byte "
                    "image)")}),
         "a last piece that reaches past the image"},
        {R"("fwug": 3)", Seq({Info(k3), InOrder(k3), Activate(2, k3)}),
         "a sound download at granularity 3"},
        // Order: from offset 0, each piece where the previous one ended.
        {R"("fwug": 1)",
         Seq({Info(k1), Piece(k1, k1, k1,
                              "Offset is 4096, expected 0 (a download starts at "
                              "offset 0)")}),
         "a first piece not at offset 0"},
        {R"("fwug": 1)",
         Seq({Info(k1), Piece(0, k1, k1),
              Piece(2 * k1, k1, k1,
                    "Offset is 8192, expected 4096 (where the previous piece ended)"),
              Piece(k1, k1, k1)}),
         "a gap; the refused piece moves nothing"},
        {R"("fwug": 1)",
         Seq({Info(k1), InOrder(k1, 0, 2 * k1),
              Piece(k1, k1, k1, "Offset is 4096, expected 8192")}),
         "a piece sent twice"},
        {R"("fwug": 1)",
         Seq({Info(k1), InOrder(k1, 0, 2 * k1), Piece(0, k1, k1, "Offset is 0, expected 8192")}),
         "starting over without an information request"},
        {R"("fwug": 1)", Seq({Info(k1), InOrder(k1, 0, 2 * k1), Info(k1), Piece(0, k1, k1)}),
         "an information request starts a new download"},
        {R"("fwug": 1)",
         Seq({Info(k1), InOrder(k1, 0, 2 * k1), PublicInfo(),
              Piece(0, k1, k1, "Offset is 0, expected 8192"), Piece(2 * k1, k1, k1)}),
         "the public form, asked outside an update, starts none"},
        {R"("fwug": 128)",
         Seq({Info(k128), InOrder(k128), Activate(2, k128),
              Piece(k128, k128, k128, "Offset is 524288, expected 0"), InOrder(k128),
              Activate(2, k128)}),
         "after an activation the next download starts at offset 0"},
        {R"("fwug": 128)",
         Seq({Info(k128), InOrder(k128),
              Piece(kEnd, k128, k128, "Offset 2097152 is not inside the 2097152-byte image")}),
         "a piece after the whole image"},
        // Slot: the first writable one the drive reports.
        {R"("fwug": 1)",
         Seq({Info(k1), Activate(3, k1,
                                 "SlotToActivate is 3, expected 2 (the first writable slot the "
                                 "drive reports)")}),
         "a writable slot, but not the first"},
        {R"("fwug": 1)", Seq({Info(k1), Activate(1, k1, "SlotToActivate is 1, expected 2")}),
         "the read-only slot"},
        {R"("fwug": 1, "slots": [{"number": 1}, {"number": 2}])",
         Seq({Info(k1), Activate(2, k1, "SlotToActivate is 2, expected 1")}), "slot 1 writable"},
        {R"("fwug": 1, "slots": [{"number": 1, "readOnly": true}])",
         Seq({Info(k1), Activate(1, k1,
                                 "SlotToActivate is 1, but the information reply gave no usable "
                                 "slot (no writable slot)")}),
         "no writable slot at all"},
        // Byte 65 is reserved in the updater's reply and SlotCount in the public form's: a
        // public-form reply without slots leaves the slot the updater was told.
        {R"("fwug": 1, "faults": {"firmwareInfo": {"patch": {"65": "00"}}})",
         Seq({Info(k1), PublicInfo(), Piece(0, k1, k1), Activate(2, k1)}),
         "the public form's reply is not what the program was told"},
    };
    const Bytes image = simtest::MakeImage();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        sim::Machine machine =
            MachineFrom(R"({"disks": [{"attach": "inbox", "deviceNumber": 0, "drive": {)" +
                        std::string(c.drive) + "}}]}");
        sim::MachineInstall install(machine);
        HANDLE disk = simtest::Open(kInbox);
        simtest::ExpectSteps(
            disk, machine, machine.drives[0], c.steps, [&](const simtest::Step& step) {
                switch (step.kind) {
                    case simtest::Step::kInfo:
                        return simtest::InboxGetInfo(step.chunk);
                    case simtest::Step::kPublicInfo:
                        return inbox_fw::BuildPublicGetInfoRequest();
                    case simtest::Step::kPiece:
                        return simtest::InboxDownload(
                            step.offset, simtest::PieceBytes(image, step.offset, step.size),
                            step.chunk);
                    case simtest::Step::kActivate:
                        break;
                }
                return simtest::InboxActivate(step.slot, step.chunk);
            });
        win::CloseHandle(disk);
    }
}

// The expected next offset belongs to the drive record it was kept for: a fresh record
// put in the same place (as a test or a new machine may) expects a download from 0.
TEST(SimInboxStack, AFreshDriveRecordExpectsANewDownload) {
    sim::Machine machine = MachineFrom(kMachine);
    const sim::Drive fresh = machine.drives[0];
    sim::MachineInstall install(machine);
    HANDLE disk = simtest::Open(kInbox);
    const Bytes image = simtest::MakeImage();
    auto piece = [&](std::uint64_t offset) {
        return Send(disk, IOCTL_SCSI_MINIPORT,
                    simtest::InboxDownload(offset, simtest::PieceBytes(image, offset, 4096), 4096));
    };
    EXPECT_TRUE(piece(0).ok);
    EXPECT_TRUE(piece(4096).ok);
    machine.drives[0] = fresh;
    EXPECT_TRUE(piece(0).ok) << "no information request needed on a fresh record";
    EXPECT_FALSE(piece(8192).ok) << "and the new download goes on from 4096";
    win::CloseHandle(disk);
    ASSERT_EQ(machine.drives[0].protocolErrors.size(), 1u);
    EXPECT_NE(machine.drives[0].protocolErrors[0].find("Offset is 8192, expected 4096"),
              std::string::npos)
        << machine.drives[0].protocolErrors[0];
}

// Whatever slot table the drive record holds, the information reply lists it as it
// is, in order; Identify's FRMW says what NVMe can of it; the program activates the
// first writable entry, and the drive commits to the first entry of that number.
TEST(SimInboxStack, SlotTablesNvmeCannotExpress) {
    using Slots = std::vector<std::pair<std::uint8_t, bool>>;  // number, read-only
    Slots many;
    for (int i = 0; i < 255; ++i) {
        many.emplace_back(static_cast<std::uint8_t>(i), i % 2 == 1);
    }
    const struct {
        const char* name;
        Slots slots;
        std::uint8_t frmw;
        int activate;            // the slot the driver lets through; -1: none
        std::uint32_t response;  // the drive's answer to it (the image is complete)
    } cases[] = {
        {"numbers NVMe does not have", {{0, false}, {255, true}, {7, false}}, 0x0E, 0, 0x20},
        {"a number twice, the first entry read-only",
         {{3, true}, {3, false}, {1, false}},
         0x06,
         3,
         6},
        {"a number twice, the first entry writable", {{4, false}, {4, true}}, 0x08, 4, 0x20},
        {"every slot read-only", {{1, true}, {2, true}}, 0x05, -1, 0},
        {"no slot at all", {}, 0x02, -1, 0},
        {"255 entries", many, 0x0F, 0, 0x20},
    };
    constexpr std::size_t kChunk = 524288;
    const Bytes image = simtest::MakeImage();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine machine = MachineFrom(kMachine);
        sim::Drive& drive = machine.drives[0];
        drive.fwug = 128;
        drive.slots.clear();
        for (const auto& [number, readOnly] : c.slots) {
            drive.slots.push_back(sim::FirmwareSlot{number, readOnly, {}, std::nullopt});
        }
        sim::MachineInstall install(machine);
        HANDLE disk = simtest::Open(kInbox);
        const Reply identify =
            Send(disk, IOCTL_STORAGE_QUERY_PROPERTY, storage::BuildIdentifyQuery());
        EXPECT_EQ(identify.buffer.at(48 + 260), c.frmw);
        const Reply reply = Send(disk, IOCTL_SCSI_MINIPORT, simtest::InboxGetInfo(kChunk));
        EXPECT_EQ(reply.ReturnCode(), 0u);
        const auto info = inbox_fw::ParseFirmwareInfo(reply.buffer);
        ASSERT_TRUE(info.has_value());
        Slots listed;
        for (const fwreq::FirmwareSlot& slot : info->slots) {
            listed.emplace_back(slot.number, slot.readOnly);
        }
        EXPECT_EQ(listed, c.slots);
        const std::vector<std::uint32_t> pieces = simtest::InboxDownloadAll(disk, image, kChunk);
        const Reply activation =
            Send(disk, IOCTL_SCSI_MINIPORT,
                 simtest::InboxActivate(c.activate < 0 ? 1 : c.activate, kChunk));
        win::CloseHandle(disk);
        if (c.activate < 0) {
            EXPECT_EQ(pieces, std::vector<std::uint32_t>(4, 0xFFFFFFFF))
                << "no download without a usable slot";
            EXPECT_EQ(activation.error, ERROR_INVALID_PARAMETER);
            continue;
        }
        EXPECT_EQ(pieces, std::vector<std::uint32_t>(4, 0));
        EXPECT_EQ(activation.ReturnCode(), c.response);
        const std::vector<std::string> none;
        EXPECT_EQ(drive.protocolErrors, none);
        EXPECT_EQ(drive.slots.front().image.has_value(), c.response == 0x20)
            << "a commit goes to the first entry of its number";
    }
}

}  // namespace
