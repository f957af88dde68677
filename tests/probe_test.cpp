// The read-only preflight against the simulated machine: it sends only queries on every
// machine, its capture replays as the machine it came from, its verdict predicts the
// updater's, and a bad command line or capture path touches nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "drivers/watch.h"
#include "probe/drive_answers.h"
#include "probe_support.h"
#include "sim/models/text.h"
#include "sim/win32/wine_platform.h"

namespace {

using namespace probetest;

struct Named {
    std::string name;
    std::string scenario;
};

// Machines the preflight must be right about: the default machine, every scenario of
// the tests and of the Wine parity suite, and the drivers' answers it reports.
std::vector<Named> Corpus() {
    std::vector<Named> corpus{{"default", std::string(sim::DefaultScenarioText())}};
    for (const char* dir : {FWUPDATE_TEST_DATA_DIR, FWUPDATE_PARITY_DIR}) {
        std::set<fs::path> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
            if (entry.path().extension() == ".json") {
                files.insert(entry.path());
            }
        }
        for (const fs::path& file : files) {
            corpus.push_back({file.filename().string(), ReadFile(file)});
        }
    }
    corpus.push_back({"public form only", R"({"disks": [
        {"attach": "inbox", "drive": {"id": "A", "firmwareRequests": "public-form-only"}}]})"});
    corpus.push_back({"slot 2 read-only", R"({"controllers": [{"id": "rst0", "drives": {
        "4": {"id": "S", "slots": [{"number": 1, "readOnly": true},
                                   {"number": 2, "readOnly": true}, {"number": 3}]}}}],
        "disks": [{"attach": "rst", "controller": "rst0", "pathId": 4}]})"});
    corpus.push_back({"no slot 2", R"({"controllers": [{"id": "rst0", "drives": {
        "4": {"id": "S", "slots": [{"number": 1, "readOnly": true}, {"number": 3}]}}}],
        "disks": [{"attach": "rst", "controller": "rst0", "pathId": 4},
                  {"attach": "inbox", "drive": {"id": "A"}}]})"});
    corpus.push_back({"CSMI fails", R"({"controllers": [{"id": "rst0", "raidSets": [[2, 3]],
        "faults": {"raidConfig": "fail"}}],
        "disks": [{"attach": "raid-volume", "controller": "rst0"},
                  {"attach": "inbox", "drive": {"id": "A"}}]})"});
    corpus.push_back({"unusable information replies", R"({
        "controllers": [{"id": "rst0", "drives": {
            "4": {"id": "S", "faults": {"firmwareInfo": {"returned": 60}}}}}],
        "disks": [
            {"attach": "inbox", "drive": {"id": "A", "faults": {"firmwareInfo": "fail"}}},
            {"attach": "inbox", "drive": {"id": "B", "faults": {"firmwareInfo": {"returned": 16}}}},
            {"attach": "inbox", "drive": {"id": "C", "faults": {"firmwareInfo": {"returned": 56}}}},
            {"attach": "inbox", "drive": {"id": "D", "faults": {"firmwareInfo": {"returned": 24}}}},
            {"attach": "rst", "controller": "rst0", "pathId": 4,
             "locationInfo": "Bus Number 4, \"q\" \\ \u0001\u007f"}]})"});
    corpus.push_back({"CSMI lists no member, then stops short", R"({
        "controllers": [{"id": "rst0", "raidSets": [[2, 3], [4, 5]], "faults": {"raidConfig": [
            {"query": 0, "patch": {"43": "00"}}, {"returned": 100}]}}],
        "disks": [{"attach": "raid-volume", "controller": "rst0"},
                  {"attach": "raid-volume", "controller": "rst0"},
                  {"attach": "inbox", "drive": {"id": "A"}}]})"});
    return corpus;
}

sim::Machine Load(const Named& named) {
    sim::Machine machine = MachineFrom(named.scenario);
    machine.localTime = FixedTime(9, 12, 2026, 17, 50, 6);
    return machine;
}

TEST(Probe, SendsOnlyQueriesOnEveryMachineOfTheCorpus) {
    for (const Named& named : Corpus()) {
        sim::Machine machine = Load(named);
        const ProgramRun run = RunProbe(machine);
        EXPECT_EQ(NotReadOnly(run), std::vector<std::string>{}) << named.name;
        EXPECT_FALSE(run.Calls("DeviceIoControl").empty()) << named.name << ": asked nothing";
    }
}

TEST(Probe, AsksWhatTheUpdaterAsksBeforeItsFirstDownload) {
    for (const Named& named : Corpus()) {
        sim::Machine forProbe = Load(named);
        sim::Machine forUpdater = Load(named);
        const std::vector<std::string> probe =
            DriverRequests(RunProbe(forProbe), Requests::UpdatersOnly);
        const std::vector<std::string> updater =
            DriverRequests(RunProgram(forUpdater), Requests::BeforeDownload);
        // Besides its own questions the probe asks what the updater asks before its first
        // download, and then goes on to the next drive where the updater downloads.
        EXPECT_FALSE(updater.empty()) << named.name;
        ASSERT_GE(probe.size(), updater.size()) << named.name;
        EXPECT_EQ(
            FirstDifference(std::vector<std::string>(probe.begin(), probe.begin() + updater.size()),
                            updater),
            "")
            << named.name;
    }
}

// The exit code the preflight gives for the updater's.
std::int32_t Predicted(std::int32_t updater) {
    return updater == 1602 ? 0 : updater;
}

TEST(Probe, ExitCodePredictsTheUpdatersWhereQueriesSeeEverything) {
    std::size_t compared = 0;
    for (const sim::Platform platform : {sim::Platform::Windows, sim::Platform::Wine}) {
        for (const Named& named : Corpus()) {
            sim::Machine forProbe = Load(named);
            if (!QueriesForeseeEverything(forProbe)) {
                continue;
            }
            sim::Machine forUpdater = Load(named);
            if (platform == sim::Platform::Wine) {
                sim::UseWinePlatform(forProbe);
                sim::UseWinePlatform(forUpdater);
            }
            const ProgramRun probe = RunProbe(forProbe);
            const ProgramRun updater = RunProgram(forUpdater);
            EXPECT_EQ(probe.exitCode, Predicted(updater.exitCode))
                << named.name << (platform == sim::Platform::Wine ? " under Wine" : "");
            ++compared;
        }
    }
    EXPECT_GE(compared, 14u);
}

TEST(Probe, NamesWhatWouldMakeTheUpdateFail) {
    struct Row {
        const char* scenario;  // a name in Corpus()
        std::vector<std::string> lines;
        std::int32_t exitCode;
    };
    const Row rows[] = {
        {"public form only",
         {"Firmware Information : refused, status 3\n",
          "Firmware Information (public form) : accepted, Version 2, Size 24\n",
          "Slots : 1 (read-only, active, QZT2VKLA), 2, 3\n",
          "Verdict : the update would fail: the driver refuses the firmware information "
          "request (status 3)\n"},
         1},
        {"slot 2 read-only",
         {"Firmware Information (public form) : accepted, Version 2, Size 24\n",
          "Slots : 1 (read-only, active, QZT2VKLA), 2 (read-only), 3\n",
          "Verdict : the update would fail: slot 2 is read-only\n"},
         1},
        {"no slot 2", {"Verdict : the update would fail: the drive has no slot 2\n"}, 1},
        {"CSMI fails",
         {"  [ERROR] CSMI GET RAID CONFIG IOCTL failed: 0x1F\n",
          "Members : none: the RAID configuration query failed; the updater updates no drive "
          "of this volume\n",
          "Verdict : will be updated\n",
          "Preflight Result : Ready: the updater will download the firmware (expect exit code "
          "1602, a restart).\n"},
         0},
        {"unusable information replies",
         {"Firmware Information : failed, error 0x1f\n",
          "Verdict : the update would fail: the firmware information request failed (error "
          "0x1f)\n",
          "Firmware Information : no status: 16 bytes returned\n",
          "Verdict : the update would fail: the driver's reply to the firmware information "
          "request stops short of its status\n",
          "Firmware Information : accepted, Version 1; the slot table lies outside the reply\n",
          "Firmware Information : accepted; the slot table lies outside the reply\n",
          "Verdict : the update would fail: the slot table lies outside the reply\n",
          // Without a table the updater activates slot 2 regardless: the download decides.
          "Firmware Information (public form) : accepted, Version 2; the slot table lies outside "
          "the reply\nVerdict : will be updated\n"},
         1},
        {"CSMI lists no member, then stops short",
         {"RAID Set : 0\nMembers : none\n",
          "RAID Set : 1\nMembers : none: the RAID configuration query failed; the updater updates "
          "no drive of this volume\n"},
         0},
        {"default", {"Slot To Activate : 2\n", "Verdict : already has the latest firmware\n"}, 0},
    };
    const std::vector<Named> corpus = Corpus();
    for (const Row& row : rows) {
        const auto named = std::find_if(corpus.begin(), corpus.end(),
                                        [&](const Named& n) { return n.name == row.scenario; });
        ASSERT_NE(named, corpus.end()) << row.scenario;
        sim::Machine machine = Load(*named);
        const ProgramRun run = RunProbe(machine);
        for (const std::string& line : row.lines) {
            EXPECT_NE(run.output.find(line), std::string::npos)
                << row.scenario << ": no line " << line << "in\n"
                << run.output;
        }
        EXPECT_EQ(run.exitCode, row.exitCode) << row.scenario;
    }
}

// A drive found and identified may still be gone, or held by another program, when the
// preflight asks it: the verdict says what could not be opened, and nothing is sent.
TEST(ProbeDrive, APathThatNoLongerOpensIsAFailure) {
    struct Row {
        const char* name;
        DriverKind kind;
        const wchar_t* path;
        std::wstring verdict;
    };
    const Row rows[] = {
        {"inbox drive", Inbox, L"\\\\.\\PHYSICALDRIVE9",
         L"the update would fail: the drive cannot be opened (error 0x2)"},
        {"Intel RST controller", RstNvme, L"\\\\?\\pci#ven_8086&gone",
         L"the update would fail: the controller cannot be opened (error 0x2)"},
    };
    for (const Row& row : rows) {
        sim::Machine machine;
        sim::MachineInstall install(machine);
        DiskInfo disk;
        disk.devicePath = row.path;
        disk.driverKind = row.kind;
        disk.firmwareRevision = L"QZT2VKLA";
        const probe::DriveReport report = probe::AskDrive(disk);
        EXPECT_TRUE(report.queried) << row.name;
        EXPECT_FALSE(report.opened) << row.name;
        EXPECT_EQ(report.openError, 2u) << row.name;
        EXPECT_EQ(report.outcome, probe::Outcome::Fails) << row.name;
        EXPECT_EQ(report.verdict, row.verdict) << row.name;
        EXPECT_FALSE(report.updaterReply.sent || report.publicReply.sent) << row.name;
        EXPECT_TRUE(CallsOf(TraceRecords(), "DeviceIoControl").empty()) << row.name;
    }
}

TEST(ProbeCapture, ReplaysAsTheMachineItCameFrom) {
    const fs::path folder = CaptureFolder("round-trip");
    std::size_t whole = 0;
    for (const Named& named : Corpus()) {
        const fs::path file = folder / "pc.json";
        sim::Machine original = Load(named);
        const ProgramRun probe = RunProbe(original, {L"--capture", Wide(file)});
        ASSERT_NE(probe.exitCode, 2) << named.name << "\n" << probe.output;
        sim::Machine replayed = Replayed(ReadFile(file), named.name);
        replayed.localTime = original.localTime;

        sim::Machine fresh = Load(named);
        const bool everything = QueriesForeseeEverything(fresh);
        const ProgramRun expected = RunProgram(fresh);
        const ProgramRun actual = RunProgram(replayed);
        EXPECT_EQ(FirstDifference(DriverRequests(actual, Requests::BeforeDownload),
                                  DriverRequests(expected, Requests::BeforeDownload)),
                  "")
            << named.name;
        if (everything) {
            EXPECT_EQ(FirstDifference(DriverRequests(actual), DriverRequests(expected)), "")
                << named.name;
            EXPECT_EQ(actual.output, expected.output) << named.name;
            EXPECT_EQ(actual.exitCode, expected.exitCode) << named.name;
            ++whole;
        }
    }
    EXPECT_GE(whole, 7u);
    fs::remove_all(folder);
}

TEST(ProbeCapture, IsWrittenWholeOrNotAtAll) {
    const fs::path folder = CaptureFolder("unwritable");
    struct Row {
        const char* name;
        fs::path path;
        std::string error;
    };
    const Row rows[] = {
        {"folder missing", folder / "no-such-folder" / "pc.json", "(error 0x3)"},
        {"a folder in the way", folder, "(error 0x5)"},
    };
    for (const Row& row : rows) {
        sim::Machine machine = MachineFrom(sim::DefaultScenarioText());
        const ProgramRun run = RunProbe(machine, {L"--capture", Wide(row.path)});
        EXPECT_EQ(run.exitCode, 2) << row.name;
        EXPECT_NE(run.output.find("[Final Result]"), std::string::npos) << row.name;
        EXPECT_NE(run.output.find("[ERROR] The capture file cannot be written: " +
                                  row.path.string() + " " + row.error),
                  std::string::npos)
            << row.name << "\n"
            << run.output;
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 0)
            << row.name << ": something was left behind";
    }
    fs::remove_all(folder);
}

TEST(ProbeCommandLine, RefusesAnythingElseBeforeTouchingADrive) {
    struct Row {
        const char* name;
        std::vector<std::wstring> args;
        std::int32_t exitCode;
        const char* line;
    };
    const Row rows[] = {
        {"unknown option", {L"--force"}, 2, "Usage: fwprobe.exe [--capture FILE]\n"},
        {"the updater's /s", {L"/s"}, 2, "Usage: fwprobe.exe [--capture FILE]\n"},
        {"capture without a file", {L"--capture"}, 2, "Usage: fwprobe.exe [--capture FILE]\n"},
        {"capture to an empty name",
         {L"--capture", L""},
         2,
         "Usage: fwprobe.exe [--capture FILE]\n"},
        {"two captures",
         {L"--capture", L"a.json", L"--capture", L"b.json"},
         2,
         "Usage: fwprobe.exe [--capture FILE]\n"},
        {"help with more", {L"--help", L"--capture"}, 2, "Usage: fwprobe.exe [--capture FILE]\n"},
        {"over the updater",
         {L"--capture", L"C:\\deploy\\FWUPDATE.EXE"},
         2,
         "[ERROR] The capture file would replace a file of the updater: "
         "C:\\deploy\\FWUPDATE.EXE\n"},
        {"over the checksums",
         {L"--capture", L"SHA256SUMS"},
         2,
         "[ERROR] The capture file would replace a file of the updater: SHA256SUMS\n"},
        {"help", {L"--help"}, 0, "Usage: fwprobe.exe [--capture FILE]\n"},
        {"help, Windows style", {L"/?"}, 0, "Usage: fwprobe.exe [--capture FILE]\n"},
    };
    for (const Row& row : rows) {
        sim::Machine machine = MachineFrom(sim::DefaultScenarioText());
        const ProgramRun run = RunProbe(machine, row.args);
        EXPECT_EQ(run.exitCode, row.exitCode) << row.name;
        EXPECT_NE(run.output.find(row.line), std::string::npos) << row.name << "\n" << run.output;
        for (const char* op : {"CreateFileW", "DeviceIoControl", "SetupDiGetClassDevsW"}) {
            EXPECT_TRUE(run.Calls(op).empty()) << row.name << ": " << op;
        }
    }
}

// The watcher hears each property discovery reads under its name; any other key, even
// one that differs from a known key only in its pid or the last byte of its GUID, is
// Other, so the capture never files it under a property the updater reads.
TEST(PreflightWatch, PropertyOfNamesOnlyTheKeysDiscoveryReads) {
    DEVPROPKEY otherPid = win::DEVPKEY_Device_Parent;
    otherPid.pid += 1;
    DEVPROPKEY otherGuid = win::DEVPKEY_Device_InstanceId;
    otherGuid.fmtid.Data4[7] ^= 1;
    const std::vector<std::pair<DEVPROPKEY, watch::Property>> keys = {
        {win::DEVPKEY_Device_Parent, watch::Property::Parent},
        {win::DEVPKEY_Device_InstanceId, watch::Property::InstanceId},
        {win::DEVPKEY_Device_LocationInfo, watch::Property::LocationInfo},
        {win::DEVPKEY_Device_DriverDesc, watch::Property::DriverDescription},
        {otherPid, watch::Property::Other},
        {otherGuid, watch::Property::Other},
    };
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(watch::PropertyOf(keys[i].first), keys[i].second) << "row " << i;
    }
}

}  // namespace
