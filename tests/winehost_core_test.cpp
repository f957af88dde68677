// The Wine host's logic without Wine: the devices the bus driver creates, what it
// refuses to pretend, and a whole program run replayed through the host, which must
// answer every open and request exactly as the simulated binding did.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "run_support.h"
#include "sim/models/text.h"
#include "sim/win32/wine_platform.h"
#include "test_support.h"
#include "winehost/host_core.h"

namespace {

using Json = nlohmann::json;

struct FeatureCase {
    const char* name;
    const char* scenario;
    void (*adjust)(sim::Machine&);
    const char* expected;  // nullptr: nothing the host cannot show
};

class Unreproducible : public testing::TestWithParam<FeatureCase> {};

TEST_P(Unreproducible, NamesWhatWineCannotShowAndWhere) {
    sim::Machine machine = MachineFrom(GetParam().scenario);
    if (GetParam().adjust != nullptr) {
        GetParam().adjust(machine);
    }
    const auto feature = winehost::UnreproducibleFeature(machine);
    if (GetParam().expected == nullptr) {
        EXPECT_FALSE(feature) << *feature;
    } else {
        EXPECT_EQ(feature.value_or("(none)"), GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Unreproducible,
    testing::Values(
        FeatureCase{"FaultsOfDrivesAndDisksAreTheModels",
                    R"({"controllers":[{"id":"c","openable":false,"faults":{"raidConfig":"fail"}}],
                        "disks":[{"attach":"inbox","deviceNumberFails":true,"hardwareIds":null,
                                  "interfacePath":null,"drive":{"faults":{"open":"deny"}}},
                                 {"attach":"raid-volume","controller":"c"}],
                        "localTime":"2026-12-07T21:05:09"})",
                    nullptr, nullptr},
        FeatureCase{"ModuleHandle", R"({"moduleHandleFails":true})", nullptr,
                    "moduleHandleFails: under Wine the program always has its module handle"},
        FeatureCase{"EmptyHardwareId",
                    R"({"disks":[{"attach":"inbox"},{"attach":"inbox","hardwareIds":["A",""]}]})",
                    nullptr,
                    "disks[1].hardwareIds: an empty ID or a NUL in one; Wine's PnP manager "
                    "stores the list only up to it"},
        FeatureCase{"PropertySizeLies", R"({"controllers":[{"id":"c"}]})",
                    [](sim::Machine& m) {
                        m.devices[0].propertyFaults[sim::PropertyName::DriverDescription] = {};
                    },
                    "controllers[0].faults.properties: property reads are answered by Wine's "
                    "own SetupAPI, which no driver can make misreport a size"},
        FeatureCase{"TestHandler", R"({"disks":[{"attach":"other"}]})",
                    [](sim::Machine& m) { m.disks[0].io = [](sim::IoCall&) { return 0u; }; },
                    "disks[0]: a device handler of a test's own"}),
    [](const testing::TestParamInfo<FeatureCase>& info) { return info.param.name; });

TEST(BusLayout, ReportsEveryDeviceWithItsIdsPropertiesAndInterface) {
    const sim::Machine machine = MachineFrom(
        R"({"controllers":[{"id":"c","instanceId":"PCI\\VEN_8086&DEV_2822\\3&9"}],
            "disks":[{"attach":"inbox","deviceNumber":4,"hardwareIds":["A","B"],"parent":null,
                      "instanceId":"SCSI\\DISK\\1"},
                     {"attach":"rst","controller":"c","hardwareIds":null,"interfacePath":null,
                      "instanceId":"SCSI\\DISK\\2"}]})");
    const winehost::BusLayout layout = winehost::LayOutBus(machine);
    ASSERT_EQ(layout.children.size(), 3u);

    const winehost::BusChild& controller = layout.children[0];
    EXPECT_EQ(controller.deviceId, L"pci\\ven_8086&dev_2822") << "the name behind its path";
    EXPECT_EQ(controller.instancePart, L"3&9");
    EXPECT_TRUE(controller.interfaceEnabled);

    const winehost::BusChild& inbox = layout.children[1];
    EXPECT_EQ(inbox.deviceId, L"scsi\\disk");
    EXPECT_EQ(inbox.instancePart, L"1");
    EXPECT_EQ(inbox.hardwareIds, std::wstring(L"A\0B\0\0", 5));
    EXPECT_EQ(inbox.target.kind, sim::DeviceTarget::Kind::Disk);
    ASSERT_TRUE(inbox.interfaceClass);
    EXPECT_TRUE(win::SameGuid(*inbox.interfaceClass, win::GUID_DEVINTERFACE_DISK));
    EXPECT_TRUE(inbox.interfaceEnabled);
    EXPECT_EQ(inbox.properties.size(), machine.devices[1].properties.size());

    const winehost::BusChild& single = layout.children[2];
    EXPECT_EQ(single.deviceId, L"SCSI\\DISK");
    EXPECT_FALSE(single.hardwareIds) << "the query fails: no hardware IDs to read";
    EXPECT_FALSE(single.interfaceEnabled) << "registered, never enabled";

    ASSERT_EQ(layout.driveLinks.size(), 2u);
    EXPECT_EQ(layout.driveLinks[0].number, 4u);
    EXPECT_EQ(layout.driveLinks[0].disk, 0u);
    EXPECT_EQ(layout.driveLinks[1].number, 0u);
    EXPECT_EQ(layout.driveLinks[1].disk, 1u);
}

std::vector<std::uint8_t> Unhex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size() / 2; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(HexField(hex, i, 1)));
    }
    return bytes;
}

// The fields both records carry; `error` of a call that succeeded is whatever the
// last error was before it, which no driver can know.
Json Comparable(const Json& record) {
    Json kept = Json::object();
    for (const char* key : {"op", "path", "access", "share", "code", "inSize", "outSize", "in",
                            "out", "bytesReturned", "ok"}) {
        if (record.contains(key)) {
            kept[key] = record[key];
        }
    }
    if (record.contains("ok") && At(record, "ok") == false) {
        kept["error"] = At(record, "error");
    }
    return kept;
}

struct ReplayCase {
    const char* name;
    const char* scenario;  // nullptr: the default machine
    std::vector<std::wstring> args;
};

class HostReplay : public testing::TestWithParam<ReplayCase> {};

// Every open and request of a runner run under --platform wine goes through the host
// the way Wine's object manager would deliver it: the same answers, record and state.
TEST_P(HostReplay, AnswersAsTheSimulatedBindingDid) {
    const std::string text = GetParam().scenario != nullptr
                                 ? GetParam().scenario
                                 : std::string(sim::DefaultScenarioText());
    sim::Machine machine = MachineFrom(text);
    const std::vector<sim::WineDeviceName> names = sim::WineDeviceNames(machine);
    sim::UseWinePlatform(machine);
    const ProgramRun run = RunProgram(machine, GetParam().args);

    winehost::HostRun host;
    std::string error;
    ASSERT_TRUE(host.Load(text, "test", true, error)) << error;
    std::map<std::int64_t, std::uint32_t> files;
    std::vector<Json> expected;
    for (const Json& record : run.Trace()) {
        const std::string op = As<std::string>(record, "op");
        if (op == "CreateFileW") {
            const std::wstring path = utf8::ToUtf16(As<std::string>(record, "path"));
            const DWORD access = As<DWORD>(record, "access");
            const DWORD share = As<DWORD>(record, "share");
            std::uint32_t file = 0;
            DWORD result = ERROR_FILE_NOT_FOUND;
            const std::wstring drivePrefix = L"\\\\.\\PHYSICALDRIVE";
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (names[i].interfacePath &&
                    sim::SameTextIgnoringCase(*names[i].interfacePath, path)) {
                    result = host.OpenInterface(i, access, share, file);
                    break;
                }
            }
            for (std::size_t i = 0; i < host.Layout().driveLinks.size(); ++i) {
                if (path == drivePrefix + utf8::FromLatin1(
                                              std::to_string(host.Layout().driveLinks[i].number))) {
                    result = host.OpenDriveLink(i, access, share, file);
                }
            }
            if (At(record, "error") == ERROR_FILE_NOT_FOUND) {
                continue;  // it never reached a device
            }
            expected.push_back(Comparable(record));
            EXPECT_EQ(result, As<bool>(record, "ok") ? ERROR_SUCCESS : As<DWORD>(record, "error"))
                << path;
            if (result == ERROR_SUCCESS) {
                files[As<std::int64_t>(record, "result")] = file;
            }
        } else if (op == "DeviceIoControl" && record.contains("path")) {
            expected.push_back(Comparable(record));
            const auto file = files.find(As<std::int64_t>(record, "handle"));
            if (file == files.end()) {
                ADD_FAILURE() << "a request on a handle the host never opened: " << op;
                continue;
            }
            const std::vector<std::uint8_t> in = Unhex(As<std::string>(record, "in"));
            host.Io(file->second, As<DWORD>(record, "code"), in, As<DWORD>(record, "outSize"));
        } else if (op == "CloseHandle" && files.count(As<std::int64_t>(record, "handle")) != 0) {
            host.Close(files[As<std::int64_t>(record, "handle")]);
        }
    }

    std::vector<Json> recorded;
    for (const Json& record : JsonLines(host.RequestRecord())) {
        recorded.push_back(Comparable(record));
    }
    ASSERT_EQ(recorded.size(), expected.size());
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        EXPECT_EQ(recorded[i], expected[i]) << "request " << i;
    }
    EXPECT_EQ(ParseJson(host.StateJson(run.exitCode)), run.state);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostReplay,
    testing::Values(ReplayCase{"DefaultMachine", nullptr, {}},
                    ReplayCase{"RefusedChunkOnAnRstDrive",
                               R"({"controllers":[{"id":"rst0","raidSets":[[2,3]],
                        "drives":{"2":{"id":"M1"},"3":{"id":"M2"},
                                  "4":{"id":"S","faults":{"download":{"chunk":1,"returnCode":4}}}}}],
                       "disks":[{"attach":"raid-volume","controller":"rst0"},
                                {"attach":"rst","controller":"rst0","pathId":4}]})",
                               {}},
                    ReplayCase{"LyingRepliesCountsPastTheBufferAndPatchedNumbers",
                               R"({"disks":[{"attach":"inbox","deviceNumber":3,
                                 "faults":{"deviceNumber":{"patch":{"4":"05000000"},"returned":4096}}},
                                {"attach":"inbox","deviceNumber":5,
                                 "drive":{"faults":{"firmwareInfo":{"returned":16},
                                                    "identify":{"patch":{"20":"00000000"}}}}}]})",
                               {}},
                    ReplayCase{"RefusedOpensAndFailedRequests",
                               R"({"controllers":[{"id":"a","openable":false},{"id":"b"}],
                       "disks":[{"attach":"inbox","drive":{"id":"D","faults":{"open":"deny"}}},
                                {"attach":"inbox","deviceNumberFails":true},
                                {"attach":"inbox","drive":{"id":"F","faults":{"identify":"fail"}}}]})",
                               {}}),
    [](const testing::TestParamInfo<ReplayCase>& info) { return info.param.name; });

struct LoadCase {
    const char* name;
    const char* scenario;
    bool loads;
    const char* error;  // the whole line when it does not load
};

class HostLoad : public testing::TestWithParam<LoadCase> {};

// The host refuses what the runner refuses, with the runner's line, and what Wine
// cannot show, naming it.
TEST_P(HostLoad, TakesWhatTheRunnerTakesAndWineCanShow) {
    winehost::HostRun host;
    std::string error;
    EXPECT_EQ(host.Load(GetParam().scenario, "m.json", false, error), GetParam().loads);
    EXPECT_EQ(host.Loaded(), GetParam().loads);
    if (!GetParam().loads) {
        sim::Machine machine;
        std::string runnerError;
        if (!sim::LoadScenarioText(GetParam().scenario, "m.json", machine, runnerError)) {
            EXPECT_EQ(error, runnerError);
        } else {
            EXPECT_EQ(error, GetParam().error);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostLoad,
    testing::Values(LoadCase{"Sound", R"({"disks":[{"attach":"inbox"}]})", true, ""},
                    LoadCase{"BadJson", R"({"disks":[)", false, ""},
                    LoadCase{"UnknownKey", R"({"disk":[]})", false, ""},
                    LoadCase{"PropertyFault",
                             R"({"controllers":[{"id":"c","faults":{"properties":
                                 {"driverDescription":"too-small-forever"}}}]})",
                             false,
                             "m.json: controllers[0].faults.properties: property reads are "
                             "answered by Wine's own SetupAPI, which no driver can make "
                             "misreport a size"}),
    [](const testing::TestParamInfo<LoadCase>& info) { return info.param.name; });

TEST(HostRun, RefusedOpenSucceedsAndItsRequestsGetTheRefusal) {
    winehost::HostRun host;
    std::string error;
    ASSERT_TRUE(host.Load(R"({"disks":[{"attach":"inbox","openable":false,"parent":null}]})",
                          "m.json", true, error))
        << error;
    std::uint32_t file = 0;
    EXPECT_EQ(host.OpenInterface(0, winehost::kAccessUnknown, 3, file), ERROR_SUCCESS);
    EXPECT_EQ(host.OpenFileCount(), 1u);
    const std::vector<std::uint8_t> in{1, 2, 3};
    const winehost::DeviceAnswer answer = host.Io(file, IOCTL_STORAGE_GET_DEVICE_NUMBER, in, 12);
    EXPECT_EQ(answer.error, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(answer.reply.empty());
    EXPECT_EQ(answer.callerView, (std::vector<std::uint8_t>{1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(host.Io(file + 1, IOCTL_STORAGE_GET_DEVICE_NUMBER, in, 12).error,
              ERROR_INVALID_HANDLE)
        << "a file the host never opened";
    const Json whileOpen = ParseJson(host.StateJson(1));
    EXPECT_EQ(At(whileOpen, "openHandles"), 1) << "the file is still open";
    host.Close(file);
    const Json afterClose = ParseJson(host.StateJson(1));
    EXPECT_EQ(At(afterClose, "openHandles"), 0);

    const Json records = JsonLines(host.RequestRecord());
    const Json& opened = At(records, 0);
    EXPECT_FALSE(opened.contains("access")) << "Wine does not tell the driver";
    EXPECT_EQ(At(opened, "ok"), true);
    EXPECT_EQ(At(records, 1, "error"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(At(records, 1, "out"), "010203000000000000000000");
}

TEST(WineNaming, ApplyingThePathsTwiceChangesNothing) {
    sim::Machine machine = sim::DefaultMachine();
    sim::UseWineInterfacePaths(machine);
    const std::vector<sim::WineDeviceName> once = sim::WineDeviceNames(machine);
    sim::UseWineInterfacePaths(machine);
    const std::vector<sim::WineDeviceName> twice = sim::WineDeviceNames(machine);
    ASSERT_EQ(once.size(), twice.size());
    for (std::size_t i = 0; i < once.size(); ++i) {
        EXPECT_EQ(once[i].interfacePath, twice[i].interfacePath) << i;
    }
}

TEST(WineNaming, LongIdsAndManyDevicesStillSortAndFit) {
    sim::Machine machine;
    for (int i = 0; i < 10001; ++i) {
        sim::Device& device = sim::AddDevice(machine, sim::GUID_DEVCLASS_DISKDRIVE);
        // Reversed, so that Wine's order is not the machine's.
        const std::wstring id = L"SCSI\\DISK\\" + utf8::FromLatin1(std::to_string(20000 - i));
        sim::SetProperty(
            device, win::DEVPKEY_Device_InstanceId,
            i == 0 ? L"SCSI\\" + std::wstring(sim::kWineMaxInstanceIdLength, L'X') : id);
        device.interfaces.push_back({win::GUID_DEVINTERFACE_DISK, std::nullopt});
    }
    const std::vector<sim::WineDeviceName> names = sim::WineDeviceNames(machine);
    EXPECT_EQ(names[0].instanceId, L"00000\\FWSIM") << "too long for Wine: a placeholder";
    EXPECT_EQ(names[10000].instanceId, L"10000\\SCSI\\DISK\\10000");
    for (std::size_t i = 1; i < names.size(); ++i) {
        ASSERT_LT(sim::UpperCase(names[i - 1].instanceId), sim::UpperCase(names[i].instanceId));
        ASSERT_LE(names[i].instanceId.size(), sim::kWineMaxInstanceIdLength);
    }
}

}  // namespace
