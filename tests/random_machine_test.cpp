// The whole-program fuzz target on deterministic random machines: fixed seeds of
// std::mt19937_64 each give one input, so every run of the suite tries the same few
// hundred machines and answers, under the sanitizers too.
//
// Bytes straight from the generator would make machines where nearly everything is
// broken (a coin flip for every open, every interface, every reply): the program would
// fail early on all of them. The seeds make a machine with the weights of a real one
// instead, mostly sound with a few faults, and the input is that machine's bytes.
#ifdef FWUPDATE_FUZZ_DIR

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fuzz/harness/program_input.h"
#include "fuzz/harness/program_run.h"
#include "fuzz/harness/watchdog.h"
#include "probe_support.h"

namespace {

constexpr std::uint64_t kSeeds = 200;

// Invariants that known faults still break, until their mends land; every fault found
// so far is mended.
const std::set<std::string> kAwaitingMends = {};

using namespace fuzzprogram;

class Dice {
  public:
    explicit Dice(std::uint64_t seed) : random_(seed) {}

    std::uint64_t Below(std::uint64_t n) { return random_() % n; }
    bool Percent(std::uint64_t p) { return Below(100) < p; }
    template <typename E>
    E Any() {
        return static_cast<E>(Below(static_cast<std::uint64_t>(E::kCount)));
    }
    // `usual` most of the time, any value otherwise.
    template <typename E>
    E Mostly(E usual, std::uint64_t percent = 85) {
        return Percent(percent) ? usual : Any<E>();
    }

  private:
    std::mt19937_64 random_;
};

DriveChoice RandomDrive(Dice& dice) {
    DriveChoice drive;
    drive.revision = dice.Percent(60) ? Revision::Base : dice.Any<Revision>();
    drive.model = dice.Mostly(Model::Maker, 90);
    drive.version = dice.Mostly(Version::V1_3, 70);
    // Mostly the maker's 32 KiB; 4 KiB pieces (FWUG 0 and 1) cost a run 512 requests.
    const std::uint8_t fwugs[] = {8, 8, 8, 8, 8, 8, 8, 8, 255, 255, 64, 64, 3, 16, 0, 1};
    drive.fwug = fwugs[dice.Below(std::size(fwugs))];
    drive.upgradeSupport = dice.Percent(92);
    drive.slots = dice.Mostly(Slots::Standard);
    drive.immediate = dice.Percent(30);
    drive.denyOpen = dice.Percent(4);
    return drive;
}

// Now and then a controller or a disk lies about one of its answers.
template <typename Choice>
void MaybeLie(Dice& dice, Choice& choice) {
    if (dice.Percent(3)) {
        choice.lie = dice.Any<Lie>();
        choice.lieAbout = dice.Any<LieAbout>();
    }
}

ControllerChoice RandomController(Dice& dice) {
    ControllerChoice controller;
    controller.instanceId = dice.Mostly(ControllerId::IntelRst);
    controller.path = dice.Mostly(ControllerPath::Intel, 90);
    controller.description = dice.Mostly(Description::RstPremium, 75);
    controller.openable = dice.Percent(95);
    for (std::uint64_t s = dice.Below(3); s > 0; --s) {
        std::vector<std::uint8_t> members;
        for (std::uint64_t m = 2 + dice.Below(3); m > 0; --m) {
            members.push_back(static_cast<std::uint8_t>(dice.Below(6)));
        }
        controller.raidSets.push_back(members);
    }
    for (std::uint8_t path = 0; path < 6; ++path) {
        if (dice.Percent(75)) {
            controller.drives.push_back({path, RandomDrive(dice)});
        }
    }
    MaybeLie(dice, controller);
    return controller;
}

DiskChoice RandomDisk(Dice& dice) {
    DiskChoice disk;
    disk.attach = dice.Any<Attach>();
    disk.controller = static_cast<std::uint8_t>(dice.Below(2));
    disk.pathId = static_cast<std::uint8_t>(dice.Below(6));
    // The texts Windows gives a disk of that kind, most of the time.
    switch (disk.attach) {
        case Attach::Inbox:
            disk.parent = dice.Mostly(Parent::Maker);
            break;
        case Attach::Other:
            disk.parent = dice.Mostly(Parent::OtherMaker);
            break;
        default:
            disk.parent = dice.Mostly(Parent::Controller);
            break;
    }
    const bool volume = disk.attach == Attach::RaidVolume;
    disk.instanceId = dice.Mostly(volume ? InstanceId::RaidVolume : InstanceId::NvmeDisk);
    disk.hardwareIds = dice.Mostly(volume ? HardwareIds::RaidVolume : HardwareIds::Nvme);
    disk.location = dice.Mostly(Location::BusOfPath);
    disk.bus = static_cast<std::uint8_t>(dice.Below(8));
    disk.enumerable = dice.Percent(95);
    disk.deviceNumber = dice.Mostly(DeviceNumber::OwnIndex, 90);
    disk.number = static_cast<std::uint8_t>(dice.Below(8));
    disk.openable = dice.Percent(95);
    disk.hasDrive = disk.attach == Attach::Inbox || dice.Percent(30);
    if (disk.hasDrive) {
        disk.drive = RandomDrive(dice);
        if (disk.attach == Attach::Other) {
            disk.drive.model = Model::OtherMaker;
        }
    }
    MaybeLie(dice, disk);
    return disk;
}

Answer RandomAnswer(Dice& dice) {
    Answer answer;
    answer.kind = dice.Any<CallKind>();
    answer.every = dice.Percent(10);
    answer.occurrence =
        static_cast<std::uint16_t>(answer.kind == CallKind::Download ? dice.Below(80)
                                   : answer.kind == CallKind::Any    ? dice.Below(200)
                                                                     : dice.Below(4));
    for (std::uint64_t n = 1 + dice.Below(2); n > 0; --n) {
        answer.flags |= static_cast<std::uint8_t>(1u << dice.Below(6));
    }
    answer.error = static_cast<std::uint8_t>(dice.Below(kErrorCount));
    if (answer.flags & kReplaceBytes) {
        answer.bytes.resize(dice.Below(64));
        for (std::uint8_t& byte : answer.bytes) {
            byte = static_cast<std::uint8_t>(dice.Below(256));
        }
    }
    answer.value =
        static_cast<std::uint32_t>(dice.Percent(50) ? dice.Below(8) : dice.Below(1u << 31));
    for (std::uint64_t n = dice.Below(5); n > 0; --n) {
        answer.list.push_back(static_cast<std::uint8_t>(dice.Below(8)));
    }
    if (answer.flags & kPatch) {
        Patch patch;
        patch.offset = static_cast<std::uint16_t>(dice.Below(400));
        patch.bytes = {static_cast<std::uint8_t>(dice.Below(256))};
        answer.patches.push_back(patch);
    }
    answer.status = static_cast<std::uint8_t>(dice.Below(kStatusCount + 1));
    answer.rawStatus = static_cast<std::uint32_t>(dice.Below(1u << 31));
    answer.countChoice = static_cast<std::uint8_t>(dice.Below(kCountCount + 1));
    answer.count = static_cast<std::uint16_t>(dice.Below(5000));
    return answer;
}

std::vector<std::uint8_t> RandomInput(std::uint64_t seed) {
    Dice dice(seed);
    ProgramInput input;
    const std::uint64_t controllers = dice.Percent(45) ? 0 : dice.Percent(85) ? 1 : 2;
    for (std::uint64_t c = 0; c < controllers; ++c) {
        input.controllers.push_back(RandomController(dice));
    }
    for (std::uint64_t d = 1 + dice.Below(4); d > 0; --d) {
        input.disks.push_back(RandomDisk(dice));
    }
    for (std::uint64_t a = dice.Percent(40) ? 0 : 1 + dice.Below(3); a > 0; --a) {
        input.answers.push_back(RandomAnswer(dice));
    }
    return EncodeProgramInput(input);
}

const std::vector<Outcome>& Outcomes() {
    static const std::vector<Outcome> outcomes = [] {
        std::vector<Outcome> all;
        fuzzharness::Watchdog watchdog;
        for (std::uint64_t seed = 0; seed < kSeeds; ++seed) {
            watchdog.Starting("random machine seed " + std::to_string(seed));
            all.push_back(RunProgramInput(DecodeProgramInput(RandomInput(seed))));
        }
        return all;
    }();
    return outcomes;
}

TEST(RandomMachine, KeepsEveryInvariant) {
    std::map<std::string, std::vector<std::uint64_t>> awaiting;
    for (std::uint64_t seed = 0; seed < kSeeds; ++seed) {
        for (const fuzzharness::Finding& finding : Outcomes()[seed].findings) {
            if (kAwaitingMends.count(finding.invariant) != 0) {
                awaiting[finding.invariant].push_back(seed);
                continue;
            }
            ADD_FAILURE() << "seed " << seed << ": " << finding.invariant << ": " << finding.detail;
        }
    }
    if (!awaiting.empty()) {
        std::string summary;
        for (const auto& [invariant, seeds] : awaiting) {
            summary += "\n  " + invariant + ": " + std::to_string(seeds.size()) + " seeds, first " +
                       std::to_string(seeds.front());
        }
        GTEST_SKIP() << "invariants that await the lead's mends:" << summary;
    }
}

// The random machines are only worth their time if they reach the verdicts and
// complete real updates: a change of the input format that made every machine empty
// or every answer a failure would pass the test above without testing anything. (No
// machine gives 0: the program reports every completed update as needing a reboot.)
TEST(RandomMachine, ReachesEveryVerdict) {
    std::map<std::int32_t, int> verdicts;
    std::size_t updates = 0;
    for (const Outcome& outcome : Outcomes()) {
        ++verdicts[outcome.exitCode];
        updates += outcome.acceptedUpdates;
    }
    for (const std::int32_t exitCode : {1, 1602, 4000}) {
        EXPECT_GT(verdicts[exitCode], 0) << "no random machine ends with " << exitCode;
    }
    EXPECT_GE(updates, kSeeds / 10) << "few random machines complete an update";
}

// Whether every answer of the machine is its drivers' own: no altered reply and no
// property read that misreports its size. There the preflight's verdict foresees the
// updater's, whatever the drives are.
bool AnswersUnaltered(const ProgramInput& input) {
    if (!input.answers.empty()) {
        return false;
    }
    for (const ControllerChoice& controller : input.controllers) {
        if (controller.lie != Lie::None) {
            return false;
        }
    }
    for (const DiskChoice& disk : input.disks) {
        if (disk.lie != Lie::None) {
            return false;
        }
    }
    return true;
}

TEST(RandomMachine, PreflightForeseesTheUpdatersExitCodeWhereNothingIsAltered) {
    std::size_t compared = 0;
    for (std::uint64_t seed = 0; seed < kSeeds; ++seed) {
        const ProgramInput input = DecodeProgramInput(RandomInput(seed));
        if (!AnswersUnaltered(input)) {
            continue;
        }
        std::int32_t probeExit = -1;
        WithProgramMachine(input, [&](sim::Machine& machine) {
            probeExit = probetest::RunProbe(machine).exitCode;
        });
        const std::int32_t updaterExit = Outcomes()[seed].exitCode;
        EXPECT_EQ(probeExit, updaterExit == 1602 ? 0 : updaterExit) << "seed " << seed;
        ++compared;
    }
    EXPECT_GE(compared, kSeeds / 4);
}

// What the preflight did on one harness machine, and what its capture replays.
struct PreflightTrip {
    std::vector<std::string> notReadOnly;
    std::string replayDifference;  // up to the updater's first download
    std::string wholeDifference;   // the whole run: requests, output, exit code
};

// A machine whose drives answer every request themselves and activate after a power
// cycle: there the updater's whole run on the capture is its run on the machine.
bool QueriesForeseeTheWholeRun(const ProgramInput& input) {
    if (!AnswersUnaltered(input)) {
        return false;
    }
    for (const ControllerChoice& controller : input.controllers) {
        for (const ControllerDrive& drive : controller.drives) {
            if (drive.drive.immediate) {
                return false;
            }
        }
    }
    for (const DiskChoice& disk : input.disks) {
        if (disk.hasDrive && disk.drive.immediate) {
            return false;
        }
    }
    return true;
}

PreflightTrip TripOn(const ProgramInput& input, const probetest::fs::path& file) {
    PreflightTrip trip;
    WithProgramMachine(input, [&](sim::Machine& machine) {
        machine.recordTrace = true;
        const ProgramRun probe =
            probetest::RunProbe(machine, {L"--capture", probetest::Wide(file)});
        trip.notReadOnly = probetest::NotReadOnly(probe);
    });
    ProgramRun expected;
    SYSTEMTIME localTime{};
    WithProgramMachine(input, [&](sim::Machine& machine) {
        machine.recordTrace = true;
        localTime = *machine.localTime;
        expected = RunProgram(machine);
    });
    sim::Machine replayed = probetest::Replayed(probetest::ReadFile(file), "capture");
    replayed.localTime = localTime;
    const ProgramRun actual = RunProgram(replayed);
    trip.replayDifference = probetest::FirstDifference(
        probetest::DriverRequests(actual, probetest::Requests::BeforeDownload),
        probetest::DriverRequests(expected, probetest::Requests::BeforeDownload));
    trip.wholeDifference = probetest::FirstDifference(probetest::DriverRequests(actual),
                                                      probetest::DriverRequests(expected));
    if (actual.output != expected.output || actual.exitCode != expected.exitCode) {
        trip.wholeDifference += "\n  the output or the exit code differs";
    }
    return trip;
}

// The preflight on the random machines and on every input of the whole-program fuzz
// target's corpus and regressions: machines whose drivers lie about sizes, counts,
// statuses and properties. It sends only queries, and the updater on its capture sends
// and receives what the updater on the machine does, up to its first download.
TEST(RandomMachine, PreflightOnlyAsksAndItsCaptureReplays) {
    const probetest::fs::path folder = probetest::CaptureFolder("random-machines");
    const probetest::fs::path file = folder / "pc.json";
    std::vector<std::pair<std::string, ProgramInput>> inputs;
    for (std::uint64_t seed = 0; seed < kSeeds; seed += 2) {
        inputs.emplace_back("seed " + std::to_string(seed), DecodeProgramInput(RandomInput(seed)));
    }
    for (const char* kind : {"corpus", "regressions"}) {
        const probetest::fs::path dir = probetest::fs::path(FWUPDATE_FUZZ_DIR) / kind / "program";
        std::set<probetest::fs::path> files;
        for (const auto& entry : probetest::fs::directory_iterator(dir)) {
            files.insert(entry.path());
        }
        for (const probetest::fs::path& path : files) {
            const std::string bytes = probetest::ReadFile(path);
            inputs.emplace_back(
                path.filename().string(),
                DecodeProgramInput(std::span<const std::uint8_t>(
                    reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())));
        }
    }
    fuzzharness::Watchdog watchdog;
    std::size_t whole = 0;
    for (const auto& [name, input] : inputs) {
        watchdog.Starting("preflight on " + name);
        const PreflightTrip trip = TripOn(input, file);
        EXPECT_EQ(trip.notReadOnly, std::vector<std::string>{}) << name;
        EXPECT_EQ(trip.replayDifference, "") << name;
        if (QueriesForeseeTheWholeRun(input)) {
            EXPECT_EQ(trip.wholeDifference, "") << name;
            ++whole;
        }
    }
    EXPECT_GE(whole, inputs.size() / 8);
    probetest::fs::remove_all(folder);
}

}  // namespace

#endif  // FWUPDATE_FUZZ_DIR
