// The simulated Intel RST driver: CSMI RAID configuration, the "IntelNvm"
// pass-through and the "IntelFw " firmware requests, routed by path number and held
// to the sizes, order and slot the addressed drive calls for.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drivers/sdk_structs.h"
#include "sim_drive_support.h"
#include "test_support.h"

namespace {

using simtest::Reply;
using simtest::Send;

// Sets 0 (two members) and 1 (four members); drives at paths 0 to 5, path 5 alone.
constexpr const char* kMachine = R"({
  "controllers": [{
    "id": "rst0",
    "raidSets": [[1, 0], [2, 3, 4, 130]],
    "drives": {
      "0": {"id": "m0", "sn": "SN-M0", "mn": "MODEL M0", "fr": "QZT2VKLA"},
      "1": {"id": "m1", "sn": "SN-M1", "fr": "QZT2VKLB"},
      "5": {"id": "single", "sn": "SN-SINGLE", "fwug": 128}
    }
  }],
  "disks": [{"attach": "raid-volume", "controller": "rst0"},
            {"attach": "rst", "controller": "rst0", "pathId": 5}]
})";

sim::Drive& DriveById(sim::Machine& machine, const std::string& id) {
    for (sim::Drive& drive : machine.drives) {
        if (drive.id == id) {
            return drive;
        }
    }
    ADD_FAILURE() << "no drive " << id;
    return machine.drives.at(0);
}

class SimRstDriver : public testing::Test {
  protected:
    void SetUp() override {
        machine_ = MachineFrom(kMachine);
        install_ = std::make_unique<sim::MachineInstall>(machine_);
        controller_ = simtest::Open(simtest::ControllerPath(machine_));
        ASSERT_NE(controller_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override { win::CloseHandle(controller_); }

    Reply Request(Bytes buffer) {
        return Send(controller_, IOCTL_SCSI_MINIPORT, std::move(buffer));
    }

    sim::Machine machine_;
    std::unique_ptr<sim::MachineInstall> install_;
    HANDLE controller_ = INVALID_HANDLE_VALUE;
};

std::string Field(std::span<const std::uint8_t> record, std::size_t at, std::size_t width) {
    std::string text = simtest::Text(record.subspan(at, width));
    return text.substr(0, text.find_last_not_of(std::string(" \0", 2)) + 1);
}

TEST_F(SimRstDriver, RaidConfigWritesTheMemberRecordsThatFit) {
    const struct {
        std::uint32_t set;
        std::size_t records;  // room the request makes
        std::uint8_t driveCount;
        std::vector<std::uint8_t> written;  // path numbers of the records written
    } cases[] = {
        {0, 2, 2, {1, 0}},         {0, 3, 2, {1, 0}},         {1, 2, 4, {2, 3}},
        {1, 4, 4, {2, 3, 4, 130}}, {1, 5, 4, {2, 3, 4, 130}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "set " << c.set << ", room for " << c.records);
        const Reply reply = Request(csmi::BuildRaidConfigRequest(c.set, c.records));
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.ReturnCode(), 0u);
        EXPECT_EQ(csmi::DriveCount(reply.buffer), c.driveCount);
        EXPECT_EQ(reply.buffer[40], c.driveCount == 2 ? 2 : 3) << "RAID-1 or RAID-10";
        for (std::size_t i = 0; i < c.records; ++i) {
            const std::span<const std::uint8_t> record =
                std::span<const std::uint8_t>(reply.buffer).subspan(64 + 136 * i, 136);
            if (i >= c.written.size()) {
                EXPECT_EQ(Field(record, 0, 136), "") << "record " << i << " left as sent";
                continue;
            }
            EXPECT_EQ(csmi::MemberPathNumber(reply.buffer, i), c.written[i]);
            EXPECT_EQ(record[105], 1) << "bDriveUsage: member";
        }
    }
    // The member records carry the drive's own texts.
    const Reply reply = Request(csmi::BuildRaidConfigRequest(0));
    const auto record = std::span<const std::uint8_t>(reply.buffer).subspan(64 + 136, 136);
    EXPECT_EQ(Field(record, 0, 40), "MODEL M0");
    EXPECT_EQ(Field(record, 40, 8), "QZT2VKLA");
    EXPECT_EQ(Field(record, 48, 40), "SN-M0");
    EXPECT_TRUE(simtest::AllProtocolErrors(machine_).empty());
}

TEST_F(SimRstDriver, RaidConfigOutOfRangeAndFaults) {
    const Reply outOfRange = Request(csmi::BuildRaidConfigRequest(2));
    ASSERT_TRUE(outOfRange.ok);
    EXPECT_EQ(outOfRange.ReturnCode(), 1000u) << "CSMI_SAS_RAID_SET_OUT_OF_RANGE";

    sim::RequestFault& fault = machine_.controllers[0].raidConfigFaults.emplace_back().fault;
    fault.answer = {sim::ForcedAnswer::Kind::ReturnCode, 26};
    const Reply code = Request(csmi::BuildRaidConfigRequest(0));
    ASSERT_TRUE(code.ok);
    EXPECT_EQ(code.ReturnCode(), 26u);
    EXPECT_EQ(csmi::DriveCount(code.buffer), 0) << "a refused query lists nobody";

    machine_.controllers[0].raidConfigFaults.front().fault.answer = {sim::ForcedAnswer::Kind::Fail,
                                                                     0};
    const Reply failed = Request(csmi::BuildRaidConfigRequest(0));
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.error, ERROR_GEN_FAILURE);
    EXPECT_TRUE(simtest::AllProtocolErrors(machine_).empty());
}

TEST_F(SimRstDriver, PassThroughIsRoutedByPathNumber) {
    const struct {
        std::uint8_t path;
        const char* serial;  // nullptr: no drive at that path
    } cases[] = {{0, "SN-M0"},          {1, "SN-M1"},    {5, "SN-SINGLE"}, {2, "KV2311000003"},
                 {130, "KV2311000007"}, {0xFF, nullptr}, {6, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int{c.path});
        const Reply reply = Request(rst_nvme::BuildIdentifyControllerRequest(c.path));
        if (c.serial == nullptr) {
            EXPECT_FALSE(reply.ok);
            EXPECT_EQ(reply.error, ERROR_IO_DEVICE);
            continue;
        }
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.returned, 4260u);
        const auto data = rst_nvme::IdentifyData(reply.buffer);
        EXPECT_EQ(data[0] | data[1] << 8, sim::kMakerVendorId);
        EXPECT_EQ(Field(nvme::FieldBytes(data, nvme::kSerialNumber), 0, 20), c.serial);
        EXPECT_EQ(simtest::Text(reply.buffer).substr(0, 164),
                  simtest::Text(rst_nvme::BuildIdentifyControllerRequest(c.path)).substr(0, 164))
            << "everything before the data reads back as sent";
    }
    EXPECT_TRUE(simtest::AllProtocolErrors(machine_).empty())
        << "asking for an empty path is no protocol error";

    DriveById(machine_, "m1").faults.identify.answer.kind = sim::ForcedAnswer::Kind::Fail;
    const Reply failed = Request(rst_nvme::BuildIdentifyControllerRequest(1));
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.error, ERROR_GEN_FAILURE);
}

TEST_F(SimRstDriver, FirmwareUpdateThroughTheController) {
    const Bytes image = simtest::MakeImage();
    EXPECT_EQ(simtest::RstDownloadAll(controller_, 5, image, 524288),
              std::vector<std::uint32_t>(4, 0));
    const Reply activation = Request(rst_fw::BuildActivateRequest(5));
    ASSERT_TRUE(activation.ok) << activation.error;
    EXPECT_EQ(activation.ReturnCode(), 0x20u);
    EXPECT_EQ(activation.returned, 68u);

    const sim::Drive& single = DriveById(machine_, "single");
    EXPECT_EQ(single.downloadRequests, 4u);
    EXPECT_EQ(single.activations, 1u);
    EXPECT_EQ(simtest::Text(single.revisionAfterPowerCycle), "QZT3VKLA");
    ASSERT_TRUE(single.slots[1].image.has_value());
    EXPECT_TRUE(*single.slots[1].image == image);
    EXPECT_EQ(DriveById(machine_, "m0").downloadRequests, 0u) << "other drives untouched";

    EXPECT_TRUE(simtest::AllProtocolErrors(machine_).empty());

    // A path without a drive fails the call, and is no protocol error.
    const Reply nobody = Request(rst_fw::BuildActivateRequest(9));
    EXPECT_FALSE(nobody.ok);
    EXPECT_EQ(nobody.error, ERROR_IO_DEVICE);
    EXPECT_TRUE(simtest::AllProtocolErrors(machine_).empty());
}

// The "IntelFw " information request, answered for the drive at its path: the drive's
// table in the version 2 layout at 56, the request as sent before it. An empty path
// fails the call and is no protocol error.
TEST_F(SimRstDriver, InformationRequestIsAnsweredInTheVersion2Layout) {
    sim::Drive& m1 = DriveById(machine_, "m1");
    m1.upgradeSupport = false;
    m1.slots = {{0, false, {}, std::nullopt},
                {7, true, {'Q', 'Z', 'T', '2', 'V', 'K', 'L', 'B'}, std::nullopt},
                {7, false, {}, std::nullopt}};
    m1.activeSlot = 7;
    m1.pendingSlot = 0;
    const struct {
        std::uint8_t path;
        simtest::InfoV2 expected;
    } cases[] = {
        {0, {true, 1, 0xFF, {{1, true, "QZT2VKLA"}, {2, false, ""}, {3, false, ""}}}},
        {1, {false, 7, 0, {{0, false, ""}, {7, true, "QZT2VKLB"}, {7, false, ""}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int{c.path});
        const Bytes request = rst_fw::BuildGetInfoRequest(c.path);
        const Reply reply = Request(request);
        simtest::ExpectPublicInfoReply(request, reply, c.expected, rst_fw::ParseFirmwareInfo);
    }
    const Reply nobody = Request(rst_fw::BuildGetInfoRequest(9));
    EXPECT_FALSE(nobody.ok);
    EXPECT_EQ(nobody.error, ERROR_IO_DEVICE);
    EXPECT_TRUE(simtest::AllProtocolErrors(machine_).empty());
}

// The drive's firmwareInfo fault applies here as on the inbox path: a forced answer
// replaces the table (the data area stays as sent), an alteration changes the reply.
TEST_F(SimRstDriver, FirmwareInfoFaultsApplyToTheInformationRequest) {
    using Kind = sim::ForcedAnswer::Kind;
    auto forced = [](Kind kind, std::uint32_t returnCode) {
        sim::RequestFault fault;
        fault.answer = {kind, returnCode};
        return fault;
    };
    sim::RequestFault altered;
    altered.reply.patch = {{66, Bytes{9}}};  // ActiveSlot
    altered.reply.returned = 68;
    const struct {
        const char* name;
        sim::RequestFault fault;
        DWORD error;
        std::uint32_t returnCode;
        DWORD returned;
    } cases[] = {
        {"fail", forced(Kind::Fail, 0), ERROR_GEN_FAILURE, 0, 0},
        {"a forced status", forced(Kind::ReturnCode, 0x10), ERROR_SUCCESS, 0x10, 6200},
        {"the active slot patched, the reply cut behind it", altered, ERROR_SUCCESS, 0, 68},
    };
    const Bytes request = rst_fw::BuildGetInfoRequest(5);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        machine_ = MachineFrom(kMachine);
        DriveById(machine_, "single").faults.firmwareInfo = c.fault;
        const Reply reply = Request(request);
        EXPECT_TRUE(simtest::AllProtocolErrors(machine_).empty());
        if (c.error != ERROR_SUCCESS) {
            EXPECT_FALSE(reply.ok);
            EXPECT_EQ(reply.error, c.error);
            EXPECT_TRUE(reply.buffer == request) << "a failed request returns nothing";
            continue;
        }
        ASSERT_TRUE(reply.ok) << reply.error;
        EXPECT_EQ(reply.returned, c.returned);
        EXPECT_EQ(reply.ReturnCode(), c.returnCode);
        if (c.returnCode != 0) {
            Bytes expected = request;
            layout::PutU32(expected, 20, c.returnCode);
            EXPECT_TRUE(reply.buffer == expected) << "the data area as sent";
            continue;
        }
        EXPECT_EQ(reply.buffer[65], 3) << "SlotCount, from the drive";
        EXPECT_EQ(reply.buffer[66], 9) << "ActiveSlot, patched";
        EXPECT_EQ(reply.buffer[80], 0) << "the first entry did not reach the caller";
    }
}

// A well-formed request of each kind, broken in one field: the call fails with
// ERROR_INVALID_PARAMETER (an unknown signature with ERROR_INVALID_FUNCTION) and the
// protocol error lands on the addressed drive, or machine-wide when none is.
TEST_F(SimRstDriver, MalformedRequestsAreRefusedAndRecorded) {
    using Edit = std::function<void(Bytes&)>;
    auto put8 = [](std::size_t at, std::uint8_t v) {
        return Edit([=](Bytes& b) { b.at(at) = v; });
    };
    auto put32 = [](std::size_t at, std::uint32_t v) {
        return Edit([=](Bytes& b) { layout::PutU32(b, at, v); });
    };
    auto grow = [](std::size_t by) { return Edit([=](Bytes& b) { b.resize(b.size() + by); }); };
    const Bytes image = simtest::MakeImage();
    const Bytes csmiRequest = csmi::BuildRaidConfigRequest(0);
    const Bytes identify = rst_nvme::BuildIdentifyControllerRequest(5);
    const Bytes identifyNobody = rst_nvme::BuildIdentifyControllerRequest(0xFF);
    // The drive at path 5 has granularity 128: pieces of 512 KiB.
    const Bytes download =
        simtest::RstDownload(5, 0, std::span<const std::uint8_t>(image).first(524288));
    const Bytes activate = rst_fw::BuildActivateRequest(5);
    const Bytes activateSlot1 = rst_fw::BuildActivateRequest(5, 1);
    const Bytes getInfo = rst_fw::BuildGetInfoRequest(5);
    const Bytes getInfoNobody = rst_fw::BuildGetInfoRequest(0xFF);
    const Bytes csmiOneRecord = csmi::BuildRaidConfigRequest(0, 1);
    const Bytes csmiNoRecord = csmi::BuildRaidConfigRequest(0, 0);
    const struct {
        const Bytes& request;
        Edit edit;
        DWORD error;
        const char* drive;  // where the error lands; nullptr: machine-wide
        const char* names;
    } cases[] = {
        {csmiRequest, put32(12, 10), 87, nullptr, "Timeout is 10, expected 30"},
        {csmiRequest, put32(24, 336), 87, nullptr, "Length is 336, expected 308"},
        {csmiRequest, put8(43, 2), 87, nullptr, "byte 43 is 0x2"},
        {csmiRequest,
         [](Bytes& b) {
             b.resize(60);
             layout::PutU32(b, 24, 32);
         },
         87, nullptr, "too short for CSMI_SAS_RAID_CONFIG"},
        {csmiRequest, put8(11, 'Y'), 1, nullptr, "Signature \"CSMIARYY\""},
        {csmiOneRecord, [](Bytes&) {}, 87, nullptr,
         "request of 200 bytes, expected 64 + 136 x n with n >= 2"},
        {csmiNoRecord, [](Bytes&) {}, 87, nullptr, "request of 64 bytes"},
        {csmiRequest,
         [](Bytes& b) {
             b.resize(344);
             layout::PutU32(b, 24, 316);
         },
         87, nullptr, "request of 344 bytes"},
        {identify, put32(12, 30), 87, "single", "Timeout is 30, expected 10"},
        {identify, put8(28, 0), 87, "single", "address byte 28 is 0, expected 1"},
        {identify, put8(30, 1), 87, "single", "address bytes 30-31 is 1"},
        {identify, put32(32, 7), 87, "single", "CDW0 is 0x7, expected 0x6"},
        {identify, put32(72, 0), 87, "single", "CDW10 is 0x0, expected 0x1"},
        {identify, put32(92, 1), 87, "single", "CDW15"},
        {identify, put32(116, 168), 87, "single", "data offset is 168, expected 164"},
        {identify, put32(120, 512), 87, "single", "data length is 512, expected 4096"},
        {identify, put8(4000, 1), 87, "single", "byte 4000 is 0x1"},
        {identify, grow(4), 87, "single", "request of 4264 bytes, expected 4260"},
        {identifyNobody, put32(12, 30), 87, nullptr, "for path 255"},
        {download, put8(28, 2), 87, "single", "address byte 28 is 2"},
        {download, put32(40, 4), 87, "single", "Function is 4, expected 1, 2 or 3"},
        {download, put32(40, 1), 87, "single",
         "IntelFw information request for path 5 on controller rst0: request of 524376 bytes, "
         "expected 6200"},
        {download, put32(48, 52), 87, "single", "DataBufferOffset is 52, expected 56"},
        {download, put32(52, 4096), 87, "single", "DataBufferLength is 4096, expected 524320"},
        {download, put32(56, 1), 87, "single", "STORAGE_FIRMWARE_DOWNLOAD_V2.Version is 1"},
        {download, put8(80, 2), 87, "single", "Slot is 0x2, expected 0xFF"},
        {download, put8(82, 1), 87, "single", "the reserved bytes after Slot"},
        {download, put32(84, 2097152), 87, "single", "ImageSize is 2097152, expected 0"},
        {download, put32(72, 2048), 87, "single",
         "BufferSize is 2048, expected 524288 (the drive's granularity 128 x 4096)"},
        {getInfo, grow(8), 87, "single", "request of 6208 bytes, expected 6200"},
        {getInfo, put32(12, 10), 87, "single", "Timeout is 10, expected 30"},
        {getInfo, put8(28, 2), 87, "single", "address byte 28 is 2"},
        {getInfo, put32(48, 52), 87, "single", "DataBufferOffset is 52, expected 56"},
        {getInfo, put32(52, 6148), 87, "single", "DataBufferLength is 6148, expected 6144"},
        {getInfo, put32(56, 1), 87, "single", "STORAGE_FIRMWARE_INFO_V2.Version is 1, expected 2"},
        {getInfo, put32(60, 16), 87, "single", "STORAGE_FIRMWARE_INFO_V2.Size is 16, expected 24"},
        {getInfo, put8(65, 1), 87, "single",
         "the bytes after Size (bytes 64 to 6199) must be zero; byte 65 is 0x1"},
        {getInfo, put8(6199, 1), 87, "single", "byte 6199 is 0x1"},
        {getInfo, [](Bytes& b) { b.resize(60); }, 87, "single",
         "60 bytes, too short for STORAGE_FIRMWARE_INFO_V2"},
        {getInfoNobody, put32(60, 16), 87, nullptr, "IntelFw information request for path 255"},
        {activate, put32(56, 2), 87, "single", "STORAGE_FIRMWARE_ACTIVATE.Version is 2"},
        {activate, put8(66, 1), 87, "single", "the bytes after SlotToActivate"},
        {activate, grow(4), 87, "single", "request of 72 bytes, expected 68"},
        {activate, put8(64, 3), 87, "single", "SlotToActivate is 3, expected 2"},
        {activateSlot1, [](Bytes&) {}, 87, "single", "SlotToActivate is 1, expected 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.names);
        machine_ = MachineFrom(kMachine);
        Bytes request = c.request;
        c.edit(request);
        const Bytes sent = request;
        const Reply reply = Request(std::move(request));
        EXPECT_FALSE(reply.ok);
        EXPECT_EQ(reply.error, c.error);
        EXPECT_TRUE(reply.buffer == sent) << "a refused request returns nothing";
        const std::vector<std::string>& errors = c.drive == nullptr
                                                     ? machine_.protocolErrors
                                                     : DriveById(machine_, c.drive).protocolErrors;
        ASSERT_EQ(simtest::AllProtocolErrors(machine_).size(), 1u);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find(c.names), std::string::npos) << errors[0];
        EXPECT_NE(errors[0].find("on controller rst0"), std::string::npos) << errors[0];
        EXPECT_EQ(DriveById(machine_, "single").downloadRequests, 0u);
        EXPECT_EQ(DriveById(machine_, "single").activations, 0u);
    }
}

// Download and activation requests well-formed in themselves but not what the program
// sends the addressed drive: sized for another granularity, out of order, another
// slot. Each is refused and recorded; a sound sequence around them goes through, an
// information request amid it included.
TEST(SimRstDriverFirmware, RequestsMustFitTheDrive) {
    using simtest::Activate;
    using simtest::Info;
    using simtest::InOrder;
    using simtest::Piece;
    using simtest::Seq;
    constexpr std::uint64_t kEnd = sim::kFirmwareImageSize;
    constexpr std::size_t k1 = 4096, k3 = 12288, k128 = 524288, k254 = 1040384;
    const struct {
        const char* drive;
        simtest::Steps steps;
        const char* why;
    } cases[] = {
        {R"("fwug": 128)",
         Piece(0, k1, 0,
               "BufferSize is 4096, expected 524288 (the drive's granularity 128 x 4096); "
               "request of 4184 bytes, expected 524376 (the piece, plus 88)"),
         "a piece of granularity 1 to a drive of 128"},
        {R"("version": "1.2", "fwug": 8)",
         Piece(0, 8 * k1, 0, "BufferSize is 32768, expected 4096"),
         "FWUG of a 1.2 drive: the program's granularity is 1"},
        {R"("version": "2.0", "fwug": 8)", Piece(0, k1, 0, "BufferSize is 4096, expected 32768"),
         "FWUG of a 2.0 drive: the program's granularity is 8"},
        {R"("fwug": 255)", Piece(0, 8 * k1, 0, "BufferSize is 32768, expected 4096"),
         "FWUG 0xFF asks for no granularity: the program's is 1"},
        {R"("fwug": 255)", Seq({InOrder(k1), Activate(2, 0)}),
         "a sound download at granularity 1 on a drive without restriction"},
        {R"("fwug": 254)", Seq({InOrder(k254), Activate(2, 0)}),
         "a sound download at granularity 254, its last piece 16384 bytes"},
        {R"("fwug": 3)",
         Seq({InOrder(k3, 0, kEnd - 8192),
              Piece(kEnd - 8192, k3, 0,
                    "BufferSize is 12288, expected 8192 (the bytes left of the 2097152-byte "
                    "image); request of 12376 bytes, expected 8280")}),
         "a last piece that reaches past the image"},
        {R"("fwug": 3)", Seq({InOrder(k3), Activate(2, 0)}), "a sound download at granularity 3"},
        {R"("fwug": 1)",
         Piece(k1, k1, 0, "Offset is 4096, expected 0 (a download starts at offset 0)"),
         "a first piece not at offset 0"},
        {R"("fwug": 1)",
         Seq({Piece(0, k1, 0),
              Piece(2 * k1, k1, 0,
                    "Offset is 8192, expected 4096 (where the previous piece "
                    "ended)"),
              Piece(k1, k1, 0)}),
         "a gap; the refused piece moves nothing"},
        {R"("fwug": 1)",
         Seq({InOrder(k1, 0, 2 * k1), Piece(k1, k1, 0, "Offset is 4096, expected 8192")}),
         "a piece sent twice"},
        {R"("fwug": 1)", Seq({InOrder(k1, 0, 2 * k1), InOrder(k1), Activate(2, 0)}),
         "a piece at offset 0 starts a new download"},
        {R"("fwug": 1)",
         Seq({InOrder(k1, 0, 2 * k1), Info(0), Piece(k1, k1, 0, "Offset is 4096, expected 8192"),
              Piece(2 * k1, k1, 0)}),
         "an information request leaves the download where it was"},
        {R"("fwug": 128)",
         Seq({InOrder(k128), Activate(2, 0), Piece(k128, k128, 0, "Offset is 524288, expected 0")}),
         "after an activation the next download starts at offset 0"},
        {R"("fwug": 128)",
         Seq({InOrder(k128),
              Piece(kEnd, k128, 0, "Offset 2097152 is not inside the 2097152-byte image")}),
         "a piece after the whole image"},
        {R"("fwug": 128, "slots": [{"number": 1}, {"number": 2}, {"number": 3}])",
         Seq({InOrder(k128), Activate(1, 0, "SlotToActivate is 1, expected 2")}),
         "slot 1, though writable"},
    };
    const Bytes image = simtest::MakeImage();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        sim::Machine machine = MachineFrom(
            R"({"controllers": [{"id": "rst0", "drives": {"5": {"id": "single", )" +
            std::string(c.drive) +
            R"(}}}], "disks": [{"attach": "rst", "controller": "rst0", "pathId": 5}]})");
        sim::MachineInstall install(machine);
        HANDLE controller = simtest::Open(simtest::ControllerPath(machine));
        simtest::ExpectSteps(controller, machine, DriveById(machine, "single"), c.steps,
                             [&](const simtest::Step& step) {
                                 if (step.kind == simtest::Step::kInfo) {
                                     return rst_fw::BuildGetInfoRequest(5);
                                 }
                                 if (step.kind == simtest::Step::kPiece) {
                                     return simtest::RstDownload(
                                         5, step.offset,
                                         simtest::PieceBytes(image, step.offset, step.size));
                                 }
                                 return rst_fw::BuildActivateRequest(5, step.slot);
                             });
        win::CloseHandle(controller);
    }
}

}  // namespace
