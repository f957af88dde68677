#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "discovery/discovery.h"
#include "drivers/byte_layout.h"
#include "drivers/miniport_firmware.h"
#include "inbox/firmware_info.h"
#include "inbox/inbox.h"
#include "run_support.h"
#include "sim/models/io.h"

namespace {

const std::string kModel = "KORVANE QZRX4C7 1TB" + std::string(21, ' ');
std::string InboxDrive(const std::string& fields) {
    return R"({"disks":[{"attach":"inbox","deviceNumber":1,"drive":{"id":"A","sn":"KV2311000001","mn":"KORVANE QZRX4C7 1TB",)" +
           fields + "}}]}";
}

// ---------------------------------------------------------------------------
// Identify

struct IdentifyCase {
    const char* name;
    const char* drive;  // fields of the drive
    std::wstring serial;
    std::wstring model;
    std::wstring revision;
    std::int32_t granularity;
};

class InboxIdentify : public testing::TestWithParam<IdentifyCase> {};

TEST_P(InboxIdentify, TakesTheTextsAndTheGranularity) {
    const IdentifyCase& c = GetParam();
    sim::Machine machine =
        MachineFrom(std::string(R"({"disks":[{"attach":"inbox","deviceNumber":1,"drive":{)") +
                    c.drive + "}}]}");
    sim::MachineInstall install(machine);
    DiskList discovered;
    ASSERT_TRUE(EnumerateInboxDisks(discovered));
    ASSERT_EQ(discovered.size(), 1u);
    DiskList identified;
    ConsoleCapture console;
    EXPECT_EQ(IdentifyInboxDisk(discovered[0], identified), 0);
    ASSERT_EQ(identified.size(), 1u);
    EXPECT_EQ(identified[0].serialNumber, c.serial);
    EXPECT_EQ(identified[0].modelNumber, c.model);
    EXPECT_EQ(identified[0].firmwareRevision, c.revision);
    EXPECT_EQ(identified[0].downloadGranularity, c.granularity);
    EXPECT_EQ(identified[0].pathId, -1);
    EXPECT_EQ(identified[0].devicePath, L"\\\\.\\PHYSICALDRIVE1");
    EXPECT_EQ(console.Text(), "");
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
}

const std::wstring kPaddedModel = L"KORVANE QZRX4C7 1TB" + std::wstring(21, L' ');

INSTANTIATE_TEST_SUITE_P(
    Cases, InboxIdentify,
    testing::Values(
        IdentifyCase{
            "BlanksStay",
            R"("sn":"KV2311000001AB","mn":"KORVANE QZRX4C7 1TB","fr":"QZT2VKLA","version":"1.3","fwug":8)",
            L"KV2311000001AB      ", kPaddedModel, L"QZT2VKLA", 8},
        IdentifyCase{
            "NulEndsTheText",
            R"("sn":"KV2311000001\u0000ABCDEFG","mn":"KORVANE QZRX4C7 1TB","fr":"QZT2VKLA")",
            L"KV2311000001", kPaddedModel, L"QZT2VKLA", 8},
        IdentifyCase{"FullWidthSerialWithoutNul",
                     R"("sn":"ABCDEFGHIJKLMNOPQRST","mn":"KORVANE QZRX4C7 1TB","fr":"QZT2VKLA")",
                     L"ABCDEFGHIJKLMNOPQRST", kPaddedModel, L"QZT2VKLA", 8},
        IdentifyCase{
            "AllNulModelIsEmpty",
            R"("sn":"S","mn":"\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000\u0000","fr":"QZT2VKLA")",
            L"S" + std::wstring(19, L' '), L"", L"QZT2VKLA", 8},
        IdentifyCase{"HighBytesAreSignExtended", R"("sn":"S","mn":"M","fr":"QZT2VKL\u00e9")",
                     L"S" + std::wstring(19, L' '), L"M" + std::wstring(39, L' '),
                     std::wstring(L"QZT2VKL") + static_cast<wchar_t>(0xFFE9), 8},
        IdentifyCase{"Version12", R"("sn":"S","mn":"M","version":"1.2","fwug":8)",
                     L"S" + std::wstring(19, L' '), L"M" + std::wstring(39, L' '), L"QZT2VKLA", 1},
        IdentifyCase{"Version14Fwug0", R"("sn":"S","mn":"M","version":"1.4","fwug":0)",
                     L"S" + std::wstring(19, L' '), L"M" + std::wstring(39, L' '), L"QZT2VKLA", 1},
        IdentifyCase{"Version20", R"("sn":"S","mn":"M","version":"2.0","fwug":8)",
                     L"S" + std::wstring(19, L' '), L"M" + std::wstring(39, L' '), L"QZT2VKLA", 8},
        IdentifyCase{"Fwug255", R"("sn":"S","mn":"M","version":"1.3","fwug":255)",
                     L"S" + std::wstring(19, L' '), L"M" + std::wstring(39, L' '), L"QZT2VKLA", 1}),
    [](const testing::TestParamInfo<IdentifyCase>& info) { return info.param.name; });

TEST(InboxIdentify, UnopenableDrivePrintsOneErrorAndTheNextIsStillIdentified) {
    sim::Machine machine = MachineFrom(R"({"disks":[{"attach":"inbox","deviceNumber":1},
                                                   {"attach":"inbox","deviceNumber":2}]})");
    sim::MachineInstall install(machine);
    DiskInfo missing;
    missing.devicePath = L"\\\\.\\PHYSICALDRIVE9";
    missing.driverKind = Inbox;
    DiskInfo present = missing;
    present.devicePath = L"\\\\.\\PHYSICALDRIVE2";
    DiskList identified;
    ConsoleCapture console;
    EXPECT_EQ(IdentifyInboxDisk(missing, identified), 2);
    EXPECT_EQ(IdentifyInboxDisk(present, identified), 0);
    EXPECT_EQ(console.Text(), "  [ERROR] Failed to get disk handle: 0x2\n\n");
    EXPECT_EQ(identified.size(), 1u);
}

TEST(InboxIdentify, FailedQueryIsSilentAndAppendsNothing) {
    sim::Machine machine = MachineFrom(InboxDrive(R"("faults":{"identify":"fail"})"));
    sim::MachineInstall install(machine);
    DiskInfo disk;
    disk.devicePath = L"\\\\.\\PHYSICALDRIVE1";
    disk.driverKind = Inbox;
    DiskList identified;
    ConsoleCapture console;
    EXPECT_EQ(IdentifyInboxDisk(disk, identified), 5);
    EXPECT_TRUE(identified.empty());
    EXPECT_EQ(console.Text(), "");
}

// ---------------------------------------------------------------------------
// The whole run over inbox drives

struct RunCase {
    const char* name;
    std::string scenario;
    std::int32_t exitCode;
    std::string afterBanner;               // the console between the banner and the report
    std::vector<std::string> reportLines;  // lines the report must hold, in order
    bool updated;                          // the drive holds the image in a slot afterwards
};

class InboxRun : public testing::TestWithParam<RunCase> {};

const std::string kInboxTable =
    TargetTable("Inbox Driver", "No", kModel, "KV2311000001        ", "QZT2VKLA", " Update FW : ");
constexpr char kRebootLine[] =
    "Result Details : Downloaded firmware successfully, but firmware activation requires reboot.";
constexpr char kFailLine[] = "Result Details : Unable to update firmware.";

// A drive the run updates, and one it refuses to, with the table and the report
// line each gives.
RunCase Updated(const char* name, std::string scenario) {
    return {name, std::move(scenario), 1602, kInboxTable, {kRebootLine}, true};
}
RunCase Refused(const char* name, std::string scenario) {
    return {name, std::move(scenario), 1, kInboxTable, {kFailLine}, false};
}

TEST_P(InboxRun, PrintsAndExitsAsTheDriveAnswers) {
    const RunCase& c = GetParam();
    const ProgramRun run = RunScenario(c.scenario);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(ConsoleAfterBanner(run), c.afterBanner);
    std::size_t at = run.output.find("Start Time : ");
    for (const std::string& line : c.reportLines) {
        const std::size_t found = run.output.find(line + "\n", at);
        EXPECT_NE(found, std::string::npos) << "missing in order: " << line << "\n" << run.output;
        at = found == std::string::npos ? at : found + line.size();
    }
    const nlohmann::json& drive = run.Drive("A");
    EXPECT_EQ(At(drive, "protocolErrors"), nlohmann::json::array());
    bool holdsImage = false;
    for (const nlohmann::json& slot : At(drive, "slots")) {
        holdsImage = holdsImage || At(slot, "sha256") == ImageSha256();
    }
    EXPECT_EQ(holdsImage, c.updated);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InboxRun,
    testing::Values(
        RunCase{"Granularity8PowerCycle",
                InboxDrive(R"("version":"1.3","fwug":8)"),
                1602,
                kInboxTable,
                {"[Disk #1]", "Current Firmware Version : QZT2VKLA", kRebootLine, "[Final Result]",
                 kRebootLine},
                true},
        Updated("Granularity1", InboxDrive(R"("version":"1.3","fwug":1)")),
        Updated("Granularity3LastChunkShorter", InboxDrive(R"("version":"1.3","fwug":3)")),
        Updated("Granularity255", InboxDrive(R"("version":"1.3","fwug":255)")),
        Updated("Version12", InboxDrive(R"("version":"1.2","fwug":8)")),
        Updated("Version20", InboxDrive(R"("version":"2.0","fwug":8)")),
        Updated("ImmediateActivationStillNeedsReboot", InboxDrive(R"("activation":"immediate")")),
        RunCase{"NoUpgradeSupport",
                InboxDrive(R"("upgradeSupport":false)"),
                1,
                kInboxTable,
                {kFailLine, "[Final Result]", kFailLine},
                false},
        Refused("OnlyReadOnlySlot", InboxDrive(R"("slots":[{"number":1,"readOnly":true}])")),
        Refused("ActivationStatus21", InboxDrive(R"("faults":{"activate":{"returnCode":33}})")),
        Refused("ActivationInvalidImage", InboxDrive(R"("faults":{"activate":{"returnCode":7}})")),
        Refused("ActivationRequestFails", InboxDrive(R"("faults":{"activate":"fail"})")),
        RunCase{"DownloadRefusedAtChunk9",
                InboxDrive(R"("faults":{"download":{"chunk":9,"returnCode":4}})"),
                1,
                kInboxTable,
                {kFailLine, "[Final Result]", kFailLine},
                false},
        Refused("DownloadRequestFails",
                InboxDrive(R"("faults":{"download":{"chunk":0,"fail":true}})")),
        Refused("InformationRequestFails", InboxDrive(R"("faults":{"firmwareInfo":"fail"})")),
        Refused("InformationRefused", InboxDrive(R"("faults":{"firmwareInfo":{"returnCode":1}})")),
        RunCase{"AlreadyAtTarget",
                InboxDrive(R"("fr":"QZT3VKLA")"),
                4000,
                "",
                {"Current Firmware Version : QZT3VKLA",
                 "Result Details : Already have the latest firmware.", "[Final Result]",
                 "Already have the latest firmware."},
                false},
        RunCase{"AnotherRevisionIsLeftOut",
                InboxDrive(R"("fr":"QZT1VKLA")"),
                1,
                "",
                {"[No Disk]"},
                false},
        RunCase{"UnopenableDrive",
                InboxDrive(R"("faults":{"open":"deny"})"),
                1,
                "  [ERROR] Failed to get disk handle: 0x5\n\n",
                {"[No Disk]"},
                false}),
    [](const testing::TestParamInfo<RunCase>& info) { return info.param.name; });

TEST(InboxRun, OtherMakersDriveIsNeitherListedNorTouched) {
    const ProgramRun run = RunScenario(
        R"({"disks":[{"attach":"other","drive":{"id":"B","sn":"X","mn":"OTHER","fr":"QZT2VKLA"}}]})");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("[No Disk]"), std::string::npos);
    EXPECT_TRUE(run.Calls("DeviceIoControl").empty());
}

TEST(InboxRun, SeveralDrivesAreUpdatedInOrderAndAFailureDoesNotStopTheNext) {
    const ProgramRun run = RunScenario(R"({"disks":[
        {"attach":"inbox","deviceNumber":1,"drive":{"id":"A","sn":"FIRST","faults":{"download":{"chunk":2,"returnCode":4}}}},
        {"attach":"inbox","deviceNumber":2,"drive":{"id":"B","sn":"SECOND"}},
        {"attach":"inbox","deviceNumber":3,"drive":{"id":"C","sn":"THIRD","fr":"QZT3VKLA"}}]})");
    EXPECT_EQ(run.exitCode, 1);
    const std::size_t first = run.output.find("[Disk #1]\nModel Number : KORVANE");
    const std::size_t second = run.output.find("[Disk #2]");
    const std::size_t third = run.output.find("[Disk #3]");
    ASSERT_TRUE(first != std::string::npos && second != std::string::npos &&
                third != std::string::npos);
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_NE(run.output.find("Serial Number : FIRST               \nCurrent Firmware Version : "
                              "QZT2VKLA\nUpdated Firmware Version : QZT3VKLA\n" +
                              std::string(kFailLine)),
              std::string::npos);
    EXPECT_EQ(At(run.Drive("B"), "slots", 0, "sha256"), ImageSha256());
    EXPECT_EQ(At(run.Drive("C"), "downloadRequests"), 0);
}

// ---------------------------------------------------------------------------
// The requests on the wire

struct WireCase {
    const char* version;
    int fwug;
    std::size_t requests;
    std::size_t chunk;      // BufferSize of every request but the last
    std::size_t lastChunk;  // BufferSize of the last
};

class InboxWire : public testing::TestWithParam<WireCase> {};

TEST_P(InboxWire, DownloadsInChunksOfTheGranularityThenActivates) {
    const WireCase& c = GetParam();
    const ProgramRun run = RunScenario(InboxDrive(R"("version":")" + std::string(c.version) +
                                                  R"(","fwug":)" + std::to_string(c.fwug)));
    ASSERT_EQ(run.exitCode, 1602);
    std::vector<nlohmann::json> firmware;
    for (const nlohmann::json& call : run.Calls("DeviceIoControl")) {
        if (At(call, "code") == 0x4D008) {
            firmware.push_back(call);
        }
    }
    ASSERT_EQ(firmware.size(), c.requests + 2) << "information, downloads, activation";
    const std::size_t bufferSize = c.chunk + 76;
    for (std::size_t i = 0; i < firmware.size(); ++i) {
        const std::string in = As<std::string>(firmware[i], "in");
        ASSERT_EQ(in.size(), 2 * bufferSize) << "request " << i;
        EXPECT_EQ(HexField(in, 24, 4), bufferSize - 28);
        EXPECT_EQ(HexField(in, 48, 4), bufferSize - 52);
        const std::uint64_t function = HexField(in, 36, 4);
        if (i == 0) {
            EXPECT_EQ(function, 1u);
        } else if (i + 1 == firmware.size()) {
            EXPECT_EQ(function, 3u);
            EXPECT_EQ(HexField(in, 60, 1), 2u) << "the first writable slot";
        } else {
            EXPECT_EQ(function, 2u);
            EXPECT_EQ(HexField(in, 60, 8), (i - 1) * c.chunk) << "offset of request " << i;
            EXPECT_EQ(HexField(in, 68, 8), i + 2 == firmware.size() ? c.lastChunk : c.chunk);
        }
    }
    const nlohmann::json& drive = run.Drive("A");
    EXPECT_EQ(At(drive, "downloadRequests"), c.requests);
    EXPECT_EQ(At(drive, "activations"), 1);
    EXPECT_EQ(At(drive, "revisionAfterPowerCycle"), "QZT3VKLA");
    EXPECT_EQ(At(drive, "firmwareRevision"), "QZT2VKLA");
}

INSTANTIATE_TEST_SUITE_P(Granularities, InboxWire,
                         testing::Values(WireCase{"1.3", 1, 512, 4096, 4096},
                                         WireCase{"1.3", 8, 64, 32768, 32768},
                                         WireCase{"1.3", 3, 171, 12288, 8192},
                                         WireCase{"1.3", 254, 3, 1040384, 16384},
                                         // FWUG is a field of every version from 1.3 on.
                                         WireCase{"2.0", 8, 64, 32768, 32768},
                                         // FWUG FFh asks for no granularity: 4 KiB pieces.
                                         WireCase{"1.3", 255, 512, 4096, 4096}));

TEST(UpdateInboxDisk, UnopenableDriveGetsItsTableThenTheError) {
    const auto [result, printed] =
        UpdateUnopenable(UpdateInboxDisk, L"\\\\.\\PHYSICALDRIVE4", Inbox);
    EXPECT_EQ(result, 5);
    EXPECT_EQ(printed, TargetTable("Inbox Driver", "No", "M", "S", "QZT2VKLA", " Update FW : ") +
                           "  [ERROR] Failed to get disk handle: 0x2\n\n");
}

TEST(UpdateInboxDisk, EmptyImageSendsOnlyInformationAndActivation) {
    sim::Machine machine =
        MachineFrom(InboxDrive(R"("fwug":1,"faults":{"activate":{"returnCode":32}})"));
    sim::MachineInstall install(machine);
    LoadFirmwarePackage();
    DiskInfo disk;
    disk.devicePath = L"\\\\.\\PHYSICALDRIVE1";
    disk.driverKind = Inbox;
    ConsoleCapture console;
    EXPECT_EQ(UpdateInboxDisk(disk, 0), 0);
    EXPECT_EQ(machine.drives.at(0).downloadRequests, 0u);
}

}  // namespace

namespace {

TEST(UpdateInboxDisk, WhyARequestFailedGoesToTheDiagnosticChannelOnly) {
    struct Case {
        std::string faults;
        std::string diagnostic;
    };
    const Case cases[] = {
        {R"("firmwareInfo":"fail")", "Get device Information Failed: 0x1f\n"},
        {R"("firmwareInfo":{"returnCode":1})", "Get device info failed. ReturnCode: 0x1\n"},
        {R"("download":{"chunk":9,"fail":true})", "DeviceIO failed. Function: 0x1f\n"},
        {R"("download":{"chunk":9,"returnCode":4})", "DeviceIO failed. ReturnCode: 0x4\n"},
        {R"("activate":"fail")", "DeviceIO failed. activate failed: 0x1f\n"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = RunScenario(InboxDrive(R"("faults":{)" + c.faults + "}"));
        const nlohmann::json debug = run.Calls("OutputDebugStringW");
        ASSERT_EQ(debug.size(), 1u) << c.faults;
        EXPECT_EQ(At(debug, 0, "debug"), c.diagnostic);
        EXPECT_EQ(run.output.find("failed:"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("ReturnCode"), std::string::npos) << run.output;
    }
}

}  // namespace

namespace {

// A drive whose information reply is written by the test: the slot table at `offset`
// (named in the reply's request block), announcing `slotCount` entries of which only
// the ones that fit are filled. Download and activation go to the standard model.
void AnswerInformationWith(sim::Machine& machine, std::uint32_t offset, std::uint8_t slotCount) {
    machine.disks.at(0).io = [offset, slotCount](sim::IoCall& call) -> DWORD {
        const auto function = layout::GetU32(call.in, 36);  // FIRMWARE_REQUEST_BLOCK.Function
        if (call.code != IOCTL_SCSI_MINIPORT || function != fwreq::kFunctionGetInfo) {
            return sim::DiskStackIo(call);
        }
        std::copy(call.in.begin(), call.in.end(), call.out.begin());
        layout::PutU32(call.out, 44, offset);  // FIRMWARE_REQUEST_BLOCK.DataBufferOffset
        const std::size_t size = call.out.size();
        if (layout::FieldFits(size, offset, 16)) {
            layout::PutU8(call.out, offset + 8, 1);          // UpgradeSupport
            layout::PutU8(call.out, offset + 9, slotCount);  // SlotCount
        }
        for (std::size_t i = 0; i < slotCount; ++i) {
            const std::size_t entry = offset + 16 + 16 * i;
            if (layout::FieldFits(size, entry, 16)) {
                layout::PutU8(call.out, entry, static_cast<std::uint8_t>(i + 1));  // SlotNumber
                layout::PutU8(call.out, entry + 1, i == 0 ? 1 : 0);                // ReadOnly
            }
        }
        call.bytesReturned = static_cast<DWORD>(size);
        return ERROR_SUCCESS;
    };
}

TEST(UpdateInboxDisk, ReadsTheSlotTableWhereTheReplyPutsIt) {
    sim::Machine machine = MachineFrom(InboxDrive(R"("fwug":128)"));
    AnswerInformationWith(machine, 56, 3);
    const ProgramRun run = RunProgram(machine);
    EXPECT_EQ(run.exitCode, 1602);
    EXPECT_EQ(At(run.Drive("A"), "slots", 0, "number"), 2);
    EXPECT_EQ(At(run.Drive("A"), "slots", 0, "sha256"), ImageSha256());
}

TEST(UpdateInboxDisk, ASlotTableReachingPastTheBufferIsAFailedRequest) {
    const std::size_t buffer = 4096 + 76;  // granularity 1
    struct Case {
        const char* name;
        std::uint32_t offset;
        std::uint8_t slotCount;
    };
    const Case cases[] = {
        {"entries past the end", static_cast<std::uint32_t>(buffer - 16 - 2 * 16), 3},
        {"offset past the end", static_cast<std::uint32_t>(buffer + 100), 1},
        {"offset at the very end", static_cast<std::uint32_t>(buffer), 0},
        {"offset that wraps", 0xFFFFFFF0u, 2},
        {"every slot announced", 3800, 255},
    };
    for (const Case& c : cases) {
        sim::Machine machine = MachineFrom(InboxDrive(R"("version":"1.3","fwug":1)"));
        AnswerInformationWith(machine, c.offset, c.slotCount);
        const ProgramRun run = RunProgram(machine);
        EXPECT_EQ(run.exitCode, 1) << c.name;
        EXPECT_EQ(At(run.Drive("A"), "downloadRequests"), 0) << c.name;
        EXPECT_NE(run.output.find("Result Details : Unable to update firmware."), std::string::npos)
            << c.name;
    }
}

// A buffer too small for the information request is refused before anything is sent,
// and left as it was.
TEST(InboxPath, AnInformationRequestThatDoesNotFitIsNeverSent) {
    Bytes tiny(63, 0x11);
    EXPECT_EQ(AskInboxFirmwareInfo(INVALID_HANDLE_VALUE, tiny).kind,
              InboxInfoAnswer::Kind::NotSent);
    EXPECT_EQ(tiny, Bytes(63, 0x11));
}

}  // namespace
