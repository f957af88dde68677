// fwupdate-bench: the updater's own cost per drive, against the memory traffic it
// cannot avoid.
//
// Per chunk the program must clear its request buffer and copy the chunk of the image
// into it; per drive it clears its identify and activation buffers; per run it copies
// the image into its working buffer. Each case is timed twice in the same process:
// the program itself, against a machine whose drivers answer from prepared replies
// (bench/timing_platform.h), and the floor, the same clears and copies of the same
// sizes done by memset and memcpy alone. The ratio of the two is what the program
// adds.
//
//   fwupdate-bench [--json FILE] [Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/disk_info.h"
#include "app/entry.h"
#include "bench/timing_platform.h"
#include "drivers/csmi_raid_config.h"
#include "drivers/firmware_request.h"
#include "drivers/miniport_firmware.h"
#include "drivers/rst_firmware.h"
#include "drivers/rst_nvme_pass_through.h"
#include "drivers/storage_requests.h"
#include "firmware/firmware_package.h"
#include "inbox/inbox.h"
#include "report/console.h"
#include "rst/rst.h"

namespace {

enum class Kind { Update, Run };

struct Case {
    std::string name;
    Kind kind = Kind::Update;
    bench::Path path = bench::Path::Inbox;
    std::size_t drives = 1;
    std::uint8_t granularity = 8;
};

// One clear of `clear` bytes, then a copy of `copy` image bytes from `from` to `at`.
struct Traffic {
    std::size_t clear = 0;
    std::size_t at = 0;
    std::size_t from = 0;
    std::size_t copy = 0;
};

// What one drive's update must move: per chunk the request buffer cleared and the
// chunk copied in, then the requests around the download cleared.
void AddUpdateTraffic(const Case& c, std::vector<Traffic>& out) {
    const std::size_t chunk = fwreq::ChunkSizeFor(c.granularity);
    const bool inbox = c.path == bench::Path::Inbox;
    const std::size_t buffer =
        inbox ? inbox_fw::RequestSize(chunk) : rst_fw::DownloadRequestSize(chunk);
    if (inbox) {
        out.push_back({buffer, 0, 0, 0});  // the information request
    }
    for (std::size_t offset = 0; offset < kFirmwareImageSize; offset += chunk) {
        const std::size_t length = std::min(chunk, kFirmwareImageSize - offset);
        const std::size_t size = inbox ? buffer : rst_fw::DownloadRequestSize(length);
        out.push_back(
            {size, inbox ? inbox_fw::kImageOffset : rst_fw::kImageOffset, offset, length});
    }
    out.push_back({inbox ? buffer : sizeof(rst_fw::ActivateRequest), 0, 0, 0});
}

std::vector<Traffic> FloorTraffic(const Case& c) {
    std::vector<Traffic> traffic;
    if (c.kind == Kind::Update) {
        AddUpdateTraffic(c, traffic);
        return traffic;
    }
    traffic.push_back({0, 0, 0, kFirmwareImageSize});  // the image into its working buffer
    const std::size_t identify =
        c.path == bench::Path::Inbox ? storage::kIdentifyQuerySize : rst_nvme::kRequestSize;
    for (std::size_t d = 0; d < c.drives; ++d) {
        traffic.push_back({identify, 0, 0, 0});
        AddUpdateTraffic(c, traffic);
    }
    return traffic;
}

void RunFloor(benchmark::State& state, const std::vector<Traffic>& traffic) {
    LoadFirmwarePackage();
    const std::span<const std::uint8_t> image = FirmwareWorkingBuffer();
    std::size_t largest = 0;
    for (const Traffic& t : traffic) {
        largest = std::max({largest, t.clear, t.at + t.copy});
    }
    Bytes buffer(largest);
    for (auto _ : state) {
        for (const Traffic& t : traffic) {
            std::memset(buffer.data(), 0, t.clear);
            std::memcpy(buffer.data() + t.at, image.data() + t.from, t.copy);
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(buffer.data());
    }
}

DiskInfo OneDrive(const Case& c) {
    DiskInfo disk;
    disk.modelNumber = L"KORVANE QZRX4C7 1TB                     ";
    disk.serialNumber = L"KV2311000001        ";
    disk.firmwareRevision = L"QZT2VKLA";
    disk.downloadGranularity = c.granularity;
    if (c.path == bench::Path::Inbox) {
        disk.devicePath = L"\\\\.\\PHYSICALDRIVE1";
        disk.driverKind = Inbox;
    } else {
        disk.devicePath =
            L"\\\\?\\pci#ven_8086&dev_2822&subsys_0a8c8086&rev_00#3&11583659&0&b8#"
            L"{2accfe60-c130-11d2-b082-00a0c91efb8b}";
        disk.pathId = 0;
        disk.driverKind = RstNvme;
    }
    return disk;
}

void RunProgram(benchmark::State& state, const Case& c) {
    bench::Install({c.path, c.drives, c.granularity});
    LoadFirmwarePackage();
    std::string sink;
    console::CaptureInto(&sink);
    std::wstring name = L"fwupdate.exe";
    wchar_t* argv[] = {name.data(), nullptr};
    const DiskInfo disk = OneDrive(c);
    const std::uint32_t imageSize = kFirmwareImageSize;

    // One untimed pass proves the program did the whole job on this machine.
    const std::int32_t result = c.kind == Kind::Run            ? ToolMain(1, argv)
                                : c.path == bench::Path::Inbox ? UpdateInboxDisk(disk, imageSize)
                                                               : UpdateRstDisk(disk, imageSize);
    const std::int32_t expected = c.kind == Kind::Run            ? kUpdateNeedsReboot
                                  : c.path == bench::Path::Inbox ? kUpdateSucceeded
                                                                 : kUpdateNeedsReboot;
    if (result != expected || bench::RequestCounts().activations != c.drives) {
        state.SkipWithError("the program did not update every drive");
        console::CaptureInto(nullptr);
        return;
    }
    for (auto _ : state) {
        sink.clear();
        if (c.kind == Kind::Run) {
            benchmark::DoNotOptimize(ToolMain(1, argv));
        } else if (c.path == bench::Path::Inbox) {
            benchmark::DoNotOptimize(UpdateInboxDisk(disk, imageSize));
        } else {
            benchmark::DoNotOptimize(UpdateRstDisk(disk, imageSize));
        }
    }
    console::CaptureInto(nullptr);
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const std::uint8_t granularity : {1, 8, 255}) {
        const std::string g = "/granularity:" + std::to_string(granularity);
        cases.push_back({"UpdateInboxDisk" + g, Kind::Update, bench::Path::Inbox, 1, granularity});
        cases.push_back({"UpdateRstDisk" + g, Kind::Update, bench::Path::Rst, 1, granularity});
    }
    for (const std::size_t drives : {1, 8, 64}) {
        const std::string n = "/drives:" + std::to_string(drives);
        cases.push_back({"RunInbox" + n, Kind::Run, bench::Path::Inbox, drives, 8});
        cases.push_back({"RunRst" + n, Kind::Run, bench::Path::Rst, drives, 8});
    }
    return cases;
}

// The console table as usual, and every run's time kept for the JSON summary.
class CollectingReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> nanoseconds;  // per iteration, by benchmark name

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
                nanoseconds[run.run_name.function_name] =
                    run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations);
            }
        }
    }
};

[[nodiscard]] bool WriteJson(const std::string& path, const std::vector<Case>& cases,
                             const std::map<std::string, double>& times) {
    std::ofstream out(path);
    out << "{\"cases\": [";
    bool first = true;
    for (const Case& c : cases) {
        const auto program = times.find(c.name);
        const auto floor = times.find(c.name + "/floor");
        if (program == times.end() || floor == times.end()) {
            continue;
        }
        const double perDrive = program->second / static_cast<double>(c.drives);
        const double floorPerDrive = floor->second / static_cast<double>(c.drives);
        char line[512];
        std::snprintf(
            line, sizeof line,
            "%s\n  {\"name\": \"%s\", \"kind\": \"%s\", \"path\": \"%s\", \"drives\": %zu, "
            "\"granularity\": %u, \"nsPerDrive\": %.0f, \"floorNsPerDrive\": %.0f, "
            "\"ratio\": %.3f}",
            first ? "" : ",", c.name.c_str(), c.kind == Kind::Update ? "update" : "run",
            c.path == bench::Path::Inbox ? "inbox" : "rst", c.drives, unsigned{c.granularity},
            perDrive, floorPerDrive, perDrive / floorPerDrive);
        out << line;
        first = false;
    }
    out << "\n]}\n";
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    std::string jsonPath;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json" && i + 1 < argc) {
            jsonPath = argv[++i];
        } else if (arg.rfind("--json=", 0) == 0) {
            jsonPath = arg.substr(7);
        } else {
            args.push_back(argv[i]);
        }
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        return 2;
    }

    const std::vector<Case> cases = Cases();
    for (const Case& c : cases) {
        benchmark::RegisterBenchmark(c.name.c_str(),
                                     [c](benchmark::State& state) { RunProgram(state, c); })
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(
            (c.name + "/floor").c_str(),
            [traffic = FloorTraffic(c)](benchmark::State& state) { RunFloor(state, traffic); })
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime();
    }
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!jsonPath.empty() && !WriteJson(jsonPath, cases, reporter.nanoseconds)) {
        std::fprintf(stderr, "fwupdate-bench: cannot write %s\n", jsonPath.c_str());
        return 1;
    }
    return 0;
}
