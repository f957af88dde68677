// Reply faults on every request of both storage drivers and the disk stack: a forced
// failure or status, bytes written over the reply, a lying byte count; and the
// drivers' checks following what an altered reply told the program.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim_drive_support.h"
#include "test_support.h"

namespace {

using simtest::Reply;
using simtest::Send;

// An inbox drive, and behind the controller a RAID set of paths 1 and 2 and a single
// drive at path 5; every drive of granularity 1, so requests stay small.
constexpr const char* kMachine = R"({
  "controllers": [{"id": "rst0", "raidSets": [[1, 2]],
                   "drives": {"1": {"fwug": 1}, "2": {"fwug": 1}, "5": {"id": "S", "fwug": 1}}}],
  "disks": [{"attach": "inbox", "deviceNumber": 0, "drive": {"id": "A", "fwug": 1}},
            {"attach": "raid-volume", "controller": "rst0", "deviceNumber": 1},
            {"attach": "rst", "controller": "rst0", "pathId": 5, "deviceNumber": 2}]
})";
constexpr std::uint8_t kSinglePath = 5;
const std::wstring kInboxDisk = L"\\\\.\\PHYSICALDRIVE0";

// One request: the caller's buffer before and after.
struct Exchange {
    Bytes sent;
    Reply reply;
};

Exchange SendOn(const std::wstring& path, DWORD code, Bytes request) {
    HANDLE handle = simtest::Open(path);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    Exchange exchange{request, Send(handle, code, std::move(request))};
    win::CloseHandle(handle);
    return exchange;
}

sim::Drive& Inbox(sim::Machine& m) {
    return m.drives.at(*m.disks.at(0).drive);
}
sim::Drive& Single(sim::Machine& m) {
    return *sim::DriveAtPath(m, m.controllers.at(0), kSinglePath);
}
sim::RequestFault& EveryDownload(sim::Drive& drive) {
    drive.faults.download = sim::DownloadFault{};
    return drive.faults.download->fault;
}

struct FaultPath {
    const char* name;
    bool onController;  // else on the inbox disk
    DWORD code;
    Bytes request;  // empty: the device number, which has only a 12-byte output
    std::function<sim::RequestFault&(sim::Machine&)> fault;
    // How a forced status shows: in ReturnCode, in the inbox query's descriptor, or
    // nowhere (the device number).
    enum { kReturnCode, kDescriptor, kNoStatus } status = kReturnCode;
    DWORD failure = ERROR_GEN_FAILURE;

    Exchange Send(sim::Machine& machine) const {
        if (!request.empty()) {
            return SendOn(onController ? simtest::ControllerPath(machine) : kInboxDisk, code,
                          request);
        }
        HANDLE handle = simtest::Open(kInboxDisk);
        Exchange exchange{Bytes(12, 0xC5), {}};
        exchange.reply.buffer = exchange.sent;
        exchange.reply.ok =
            win::DeviceIoControl(handle, code, nullptr, 0, exchange.reply.buffer.data(), 12,
                                 &exchange.reply.returned, nullptr) != FALSE;
        exchange.reply.error = exchange.reply.ok ? 0 : win::GetLastError();
        win::CloseHandle(handle);
        return exchange;
    }
};

using Fault = sim::RequestFault&;
std::vector<FaultPath> Paths() {
    const Bytes image = simtest::MakeImage();
    const auto chunk = std::span<const std::uint8_t>(image).first(4096);
    constexpr DWORD kMiniport = IOCTL_SCSI_MINIPORT;
    return {
        {"inbox Identify", false, IOCTL_STORAGE_QUERY_PROPERTY, storage::BuildIdentifyQuery(),
         [](sim::Machine& m) -> Fault { return Inbox(m).faults.identify; }, FaultPath::kDescriptor},
        {"IntelNvm Identify", true, kMiniport,
         rst_nvme::BuildIdentifyControllerRequest(kSinglePath),
         [](sim::Machine& m) -> Fault { return Single(m).faults.identify; }},
        {"inbox information", false, kMiniport, simtest::InboxGetInfo(),
         [](sim::Machine& m) -> Fault { return Inbox(m).faults.firmwareInfo; }},
        {"inbox download", false, kMiniport, simtest::InboxDownload(0, chunk, 4096),
         [](sim::Machine& m) -> Fault { return EveryDownload(Inbox(m)); }},
        {"IntelFw download", true, kMiniport, simtest::RstDownload(kSinglePath, 0, chunk),
         [](sim::Machine& m) -> Fault { return EveryDownload(Single(m)); }},
        {"inbox activation", false, kMiniport, simtest::InboxActivate(2),
         [](sim::Machine& m) -> Fault { return Inbox(m).faults.activate; }},
        {"IntelFw activation", true, kMiniport, rst_fw::BuildActivateRequest(kSinglePath),
         [](sim::Machine& m) -> Fault { return Single(m).faults.activate; }},
        {"CSMI RAID configuration", true, kMiniport, csmi::BuildRaidConfigRequest(0),
         [](sim::Machine& m) -> Fault {
             return m.controllers.at(0).raidConfigFaults.emplace_back().fault;
         }},
        {"device number",
         false,
         IOCTL_STORAGE_GET_DEVICE_NUMBER,
         {},
         [](sim::Machine& m) -> Fault { return m.disks.at(0).deviceNumberFault; },
         FaultPath::kNoStatus,
         ERROR_INVALID_FUNCTION},
    };
}

std::size_t StoredPieces(const sim::Machine& machine) {
    std::size_t pieces = 0;
    for (const sim::Drive& drive : machine.drives) {
        pieces += drive.download.pieces.size();
    }
    return pieces;
}

Bytes WithU32(Bytes buffer, std::size_t at, std::uint32_t value) {
    layout::PutU32(buffer, at, value);
    return buffer;
}

// Each kind of fault on each path, against the same request on a machine without
// one. The expected bytes come from that sound reply and the fault's own literals.
TEST(SimReplyFaults, EveryFaultOnEveryPath) {
    using Kind = sim::ForcedAnswer::Kind;
    const std::vector<std::uint8_t> kBytes = {0xDE, 0xAD};
    for (const FaultPath& path : Paths()) {
        sim::Machine soundMachine = MachineFrom(kMachine);
        Exchange sound;
        {
            sim::MachineInstall install(soundMachine);
            sound = path.Send(soundMachine);
        }
        const std::size_t soundPieces = StoredPieces(soundMachine);
        ASSERT_TRUE(sound.reply.ok) << path.name;
        const std::size_t size = sound.sent.size();
        // The status a forced ReturnCode 9 leaves, and the count it returns.
        Bytes forced = sound.sent;
        DWORD forcedReturned = static_cast<DWORD>(size);
        if (path.status == FaultPath::kReturnCode) {
            forced = WithU32(forced, 20, 9);
        } else if (path.status == FaultPath::kDescriptor) {
            const std::uint32_t descriptor[] = {48, 48, 3, 1, 1, 0, 40, 4096, 9, 0, 0, 0};
            for (std::size_t i = 0; i < std::size(descriptor); ++i) {
                forced = WithU32(forced, 4 * i, descriptor[i]);
            }
            forcedReturned = 48;
        } else {
            forcedReturned = 0;
        }
        auto firstOf = [&](const Bytes& reply, std::size_t count) {
            Bytes expected = sound.sent;
            std::copy_n(reply.begin(), std::min(count, size), expected.begin());
            return expected;
        };
        Bytes patched = sound.reply.buffer;
        patched[4] = 0xDE;
        patched[5] = 0xAD;
        patched[size - 1] = 0xDE;  // a patch reaching past the buffer is cut
        Bytes forcedPatched = forced;
        if (forcedReturned > 0) {
            forcedPatched[0] = 0xEE;
        }

        const struct {
            const char* name;
            std::function<void(sim::RequestFault&)> set;
            bool ok;
            Bytes after;
            DWORD returned;
        } kinds[] = {
            {"fail", [](sim::RequestFault& f) { f.answer.kind = Kind::Fail; }, false, sound.sent,
             0},
            {"return code",
             [](sim::RequestFault& f) {
                 f.answer = {Kind::ReturnCode, 9};
             },
             true, firstOf(forced, forcedReturned), forcedReturned},
            {"patch",
             [&](sim::RequestFault& f) {
                 f.reply.patch = {{4, kBytes}, {size - 1, kBytes}};
             },
             true, patched, sound.reply.returned},
            {"returned fewer", [](sim::RequestFault& f) { f.reply.returned = 6; }, true,
             firstOf(sound.reply.buffer, 6), 6},
            {"returned past the buffer",
             [&](sim::RequestFault& f) { f.reply.returned = static_cast<DWORD>(size + 100); }, true,
             sound.reply.buffer, static_cast<DWORD>(size + 100)},
            {"return code, then patched",
             [](sim::RequestFault& f) {
                 f.answer = {Kind::ReturnCode, 9};
                 f.reply.patch = {{0, {0xEE}}};
             },
             true, firstOf(forcedPatched, forcedReturned), forcedReturned},
        };
        for (const auto& kind : kinds) {
            SCOPED_TRACE(std::string(path.name) + ", " + kind.name);
            sim::Machine machine = MachineFrom(kMachine);
            sim::RequestFault& fault = path.fault(machine);
            kind.set(fault);
            const bool forcedAnswer = fault.answer.IsSet();
            sim::MachineInstall install(machine);
            const Exchange faulty = path.Send(machine);
            EXPECT_EQ(faulty.reply.ok, kind.ok);
            EXPECT_EQ(faulty.reply.error, kind.ok ? 0 : path.failure);
            EXPECT_EQ(faulty.reply.returned, kind.returned);
            EXPECT_TRUE(faulty.reply.buffer == kind.after);
            EXPECT_TRUE(simtest::AllProtocolErrors(machine).empty());
            // Only a forced answer keeps the request from the drive.
            EXPECT_EQ(StoredPieces(machine), forcedAnswer ? 0 : soundPieces);
        }
    }
}

// A download fault's chunk and a CSMI fault's query pick the request they hit,
// counted from 0; without one they hit every request.
TEST(SimReplyFaults, ChunkAndQueryPickTheRequests) {
    const struct {
        const char* name;
        bool csmi;
        std::optional<std::uint32_t> number;
        std::vector<std::uint32_t> returnCodes;  // of three requests in turn
    } cases[] = {
        {"every download", false, std::nullopt, {0x77, 0x77, 0x77}},
        {"download 1", false, 1, {0, 0x77, 0}},
        {"every CSMI query", true, std::nullopt, {0x77, 0x77, 0x77}},
        {"CSMI query 2", true, 2, {0, 0, 0x77}},
    };
    const Bytes image = simtest::MakeImage();
    const sim::ReplyAlteration alteration{{{20, {0x77}}}, std::nullopt};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine machine = MachineFrom(kMachine);
        if (c.csmi) {
            machine.controllers[0].raidConfigFaults = {{c.number, {{}, alteration}}};
        } else {
            Inbox(machine).faults.download = sim::DownloadFault{c.number, {{}, alteration}};
        }
        sim::MachineInstall install(machine);
        std::vector<std::uint32_t> codes;
        for (std::uint64_t i = 0; i < 3; ++i) {
            const Exchange exchange =
                c.csmi ? SendOn(simtest::ControllerPath(machine), IOCTL_SCSI_MINIPORT,
                                csmi::BuildRaidConfigRequest(0))
                       : SendOn(kInboxDisk, IOCTL_SCSI_MINIPORT,
                                simtest::InboxDownload(
                                    i * 4096,
                                    std::span<const std::uint8_t>(image).subspan(i * 4096, 4096),
                                    4096));
            codes.push_back(exchange.reply.ReturnCode());
        }
        EXPECT_EQ(codes, c.returnCodes);
    }
}

// A malformed request is refused before any fault applies.
TEST(SimReplyFaults, MalformedRequestsAreRefusedFirst) {
    using Kind = sim::ForcedAnswer::Kind;
    sim::Machine machine = MachineFrom(kMachine);
    for (sim::RequestFault* fault :
         {&Inbox(machine).faults.firmwareInfo, &Single(machine).faults.identify,
          &machine.controllers[0].raidConfigFaults.emplace_back().fault}) {
        fault->answer.kind = Kind::Fail;
        fault->reply.returned = 0;
    }
    sim::MachineInstall install(machine);
    const Exchange info = SendOn(kInboxDisk, IOCTL_SCSI_MINIPORT,
                                 WithU32(simtest::InboxGetInfo(), 12, 10));  // Timeout
    const Exchange identify =
        SendOn(simtest::ControllerPath(machine), IOCTL_SCSI_MINIPORT,
               WithU32(rst_nvme::BuildIdentifyControllerRequest(kSinglePath), 72, 0));  // CDW10
    const Exchange csmi = SendOn(simtest::ControllerPath(machine), IOCTL_SCSI_MINIPORT,
                                 WithU32(csmi::BuildRaidConfigRequest(0), 12, 10));  // Timeout
    for (const Exchange* exchange : {&info, &identify, &csmi}) {
        EXPECT_FALSE(exchange->reply.ok);
        EXPECT_EQ(exchange->reply.error, ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(simtest::AllProtocolErrors(machine).size(), 3u);
    EXPECT_EQ(machine.controllers[0].raidConfigRequests, 0u) << "a refused query is not counted";
}

// ---- the drivers' checks follow what the replies told the program

// One request of a sequence, and what it must meet: a refusal naming `refused`, or
// completion with `returnCode`.
struct Step {
    enum Kind { kIdentify, kInfo, kPiece, kActivate, kClearFaults };
    Kind kind;
    std::size_t chunk = 4096;  // inbox: the buffer is sized for chunks of this many bytes
    std::uint64_t offset = 0;
    std::size_t size = 0;
    std::uint8_t slot = 0;
    std::uint32_t returnCode = 0;
    const char* refused = nullptr;
};

Step Identify() {
    return {Step::kIdentify};
}
Step Info(std::size_t chunk, const char* refused = nullptr) {
    return {Step::kInfo, chunk, 0, 0, 0, 0, refused};
}
Step PieceOk(std::uint64_t offset, std::size_t size, std::uint32_t returnCode = 0) {
    return {Step::kPiece, size, offset, size, 0, returnCode};
}
Step PieceRefused(std::uint64_t offset, std::size_t size, const char* refused) {
    return {Step::kPiece, size, offset, size, 0, 0, refused};
}
Step ActivateOk(std::uint8_t slot, std::uint32_t returnCode) {
    return {Step::kActivate, 4096, 0, 0, slot, returnCode};
}
Step ActivateRefused(std::uint8_t slot, const char* refused) {
    return {Step::kActivate, 4096, 0, 0, slot, 0, refused};
}
Step ClearFaults() {
    return {Step::kClearFaults};
}

sim::ReplyAlteration Patch(std::size_t at, std::vector<std::uint8_t> bytes) {
    return {{{at, std::move(bytes)}}, std::nullopt};
}
sim::ReplyAlteration Returned(DWORD count) {
    return {{}, count};
}

TEST(SimReplyFaults, ChecksFollowWhatTheRepliesTold) {
    // FWUG in each driver's Identify reply, and the second slot entry of the
    // information reply (its number, then ReadOnly).
    constexpr std::size_t kInboxFwug = 48 + 319, kRstFwug = 164 + 319;
    constexpr std::size_t k1 = 4096, k8 = 32768;
    const struct {
        const char* name;
        bool rst;
        int fwug;
        std::function<void(sim::DriveFaults&)> faults;
        std::vector<Step> steps;
    } cases[] = {
        {"Identify patched to FWUG 1: chunks of 4 KiB, which the drive refuses",
         false,
         8,
         [&](sim::DriveFaults& f) { f.identify.reply = Patch(kInboxFwug, {1}); },
         {Identify(), Info(k1), PieceOk(0, k1, 3), PieceOk(k1, k1, 3),
          Info(k8,
               "request of 32844 bytes, expected 4172 (a chunk of the granularity 1 x 4096 its "
               "Identify reply gave, plus 76)")}},
        {"Identify patched to FWUG 8 on a drive of 1: chunks of 32 KiB",
         false,
         1,
         [&](sim::DriveFaults& f) { f.identify.reply = Patch(kInboxFwug, {8}); },
         {Identify(), Info(k8), PieceOk(0, k8),
          PieceRefused(k8, k1, "request of 4172 bytes, expected 32844")}},
        {"Identify cut before VER: granularity 1",
         false,
         8,
         [&](sim::DriveFaults& f) { f.identify.reply = Returned(100); },
         {Identify(), Info(k1), PieceOk(0, k1, 3)}},
        {"Identify forced to a status: no data, granularity 1",
         false,
         8,
         [&](sim::DriveFaults& f) {
             f.identify.answer = {sim::ForcedAnswer::Kind::ReturnCode, 1};
         },
         {Identify(), Info(k1), Info(k8, "expected 4172")}},
        {"IntelNvm Identify patched to FWUG 1",
         true,
         8,
         [&](sim::DriveFaults& f) { f.identify.reply = Patch(kRstFwug, {1}); },
         {Identify(), PieceOk(0, k1, 3),
          PieceRefused(0, k8,
                       "BufferSize is 32768, expected 4096 (the granularity 1 x 4096 its Identify "
                       "reply gave)")}},
        {"IntelNvm Identify cut before FWUG",
         true,
         8,
         [&](sim::DriveFaults& f) { f.identify.reply = Returned(400); },
         {Identify(), PieceOk(0, k1, 3)}},
        {"slot 2 patched read-only: the program activates 3",
         false,
         1,
         [&](sim::DriveFaults& f) { f.firmwareInfo.reply = Patch(85, {1}); },
         {Info(k1),
          ActivateRefused(2,
                          "SlotToActivate is 2, expected 3 (the first writable slot the "
                          "drive reports)"),
          ActivateOk(3, 7)}},
        {"slot 2 patched to number 9, which the drive does not have",
         false,
         1,
         [&](sim::DriveFaults& f) { f.firmwareInfo.reply = Patch(84, {9}); },
         {Info(k1), ActivateOk(9, 6)}},
        {"slot table cut off",
         false,
         1,
         [&](sim::DriveFaults& f) { f.firmwareInfo.reply = Returned(60); },
         {Info(k1),
          PieceRefused(0, k1,
                       "a download after an information reply that gave no usable slot (its "
                       "slot table is not inside the 60 bytes returned)"),
          ActivateRefused(2,
                          "SlotToActivate is 2, but the information reply gave no usable "
                          "slot (its slot table is not inside the 60 bytes returned)")}},
        {"ReturnCode cut off",
         false,
         1,
         [&](sim::DriveFaults& f) { f.firmwareInfo.reply = Returned(20); },
         {Info(k1), PieceRefused(0, k1, "(its 20 bytes returned do not reach ReturnCode)")}},
        {"UpgradeSupport patched to 0",
         false,
         1,
         [&](sim::DriveFaults& f) { f.firmwareInfo.reply = Patch(60, {0}); },
         {Info(k1), PieceRefused(0, k1, "(UpgradeSupport 0)")}},
        {"every slot patched read-only",
         false,
         1,
         [&](sim::DriveFaults& f) {
             f.firmwareInfo.reply.patch = {{85, {1}}, {101, {1}}};
         },
         {Info(k1), ActivateRefused(2, "(no writable slot)")}},
        {"information forced to a status",
         false,
         1,
         [&](sim::DriveFaults& f) {
             f.firmwareInfo.answer = {sim::ForcedAnswer::Kind::ReturnCode, 1};
         },
         {Info(k1), PieceRefused(0, k1, "(ReturnCode 0x1)")}},
        {"a sound information reply after an unusable one",
         false,
         1,
         [&](sim::DriveFaults& f) { f.firmwareInfo.reply = Returned(60); },
         {Info(k1), ClearFaults(), Info(k1), PieceOk(0, k1), ActivateOk(2, 7)}},
    };
    const Bytes image = simtest::MakeImage();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Machine machine = MachineFrom(kMachine);
        sim::Drive& drive = c.rst ? Single(machine) : Inbox(machine);
        drive.fwug = static_cast<std::uint8_t>(c.fwug);
        c.faults(drive.faults);
        sim::MachineInstall install(machine);
        const std::wstring path = c.rst ? simtest::ControllerPath(machine) : kInboxDisk;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            SCOPED_TRACE(testing::Message() << "step " << i);
            if (step.kind == Step::kClearFaults) {
                drive.faults = sim::DriveFaults{};
                continue;
            }
            const std::size_t errors = drive.protocolErrors.size();
            Bytes request;
            DWORD code = IOCTL_SCSI_MINIPORT;
            const auto piece = simtest::PieceBytes(image, step.offset, step.size);
            switch (step.kind) {
                case Step::kIdentify:
                    if (c.rst) {
                        request = rst_nvme::BuildIdentifyControllerRequest(kSinglePath);
                    } else {
                        request = storage::BuildIdentifyQuery();
                        code = IOCTL_STORAGE_QUERY_PROPERTY;
                    }
                    break;
                case Step::kInfo:
                    request = simtest::InboxGetInfo(step.chunk);
                    break;
                case Step::kPiece:
                    request = c.rst ? simtest::RstDownload(kSinglePath, step.offset, piece)
                                    : simtest::InboxDownload(step.offset, piece, step.chunk);
                    break;
                default:
                    request = c.rst ? rst_fw::BuildActivateRequest(kSinglePath, step.slot)
                                    : simtest::InboxActivate(step.slot, step.chunk);
            }
            const Exchange exchange = SendOn(path, code, std::move(request));
            if (step.refused != nullptr) {
                EXPECT_FALSE(exchange.reply.ok);
                EXPECT_EQ(exchange.reply.error, ERROR_INVALID_PARAMETER);
                ASSERT_EQ(drive.protocolErrors.size(), errors + 1);
                EXPECT_NE(drive.protocolErrors.back().find(step.refused), std::string::npos)
                    << drive.protocolErrors.back();
                continue;
            }
            EXPECT_TRUE(exchange.reply.ok) << exchange.reply.error;
            EXPECT_EQ(drive.protocolErrors.size(), errors)
                << (drive.protocolErrors.empty() ? "" : drive.protocolErrors.back());
            if (step.kind == Step::kPiece || step.kind == Step::kActivate) {
                EXPECT_EQ(exchange.reply.ReturnCode(), step.returnCode);
            }
        }
    }
}

}  // namespace
