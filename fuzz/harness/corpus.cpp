#include "fuzz/harness/corpus.h"

#include <algorithm>
#include <span>

#include "drivers/csmi_raid_config.h"
#include "drivers/miniport_firmware.h"
#include "drivers/rst_firmware.h"
#include "drivers/rst_nvme_pass_through.h"
#include "drivers/storage_requests.h"
#include "fuzz/harness/choices.h"
#include "fuzz/harness/program_input.h"

namespace fuzzcorpus {
namespace {

using namespace fuzzprogram;

// ---- Reply-reader seeds
//
// Each buffer is sized for what is written into it; a seed the writers refused would
// be empty, and the regression test would see it differ from the one in the tree.

Bytes InfoReply() {
    Bytes reply(inbox_fw::kDataAreaOffset + fwreq::InfoLength(3), 0);
    fwreq::FirmwareInfo info;
    info.upgradeSupport = true;
    info.activeSlot = 1;
    info.pendingActivateSlot = 0xFF;
    info.slots = {
        {1, true, {'Q', 'Z', 'T', '2', 'V', 'K', 'L', 'A'}}, {2, false, {}}, {3, false, {}}};
    if (!inbox_fw::FillGetInfoRequest(reply) || !inbox_fw::WriteFirmwareInfoReply(reply, info)) {
        return {};
    }
    return reply;
}

Bytes InboxDownload() {
    const Bytes chunk(64, 0x5A);
    Bytes request(inbox_fw::RequestSize(chunk.size()), 0);
    if (!inbox_fw::FillDownloadRequest(request, 4096, chunk)) {
        return {};
    }
    return request;
}

Bytes RstDownload() {
    const Bytes chunk(64, 0xA5);
    Bytes request;
    if (!rst_fw::FillDownloadRequest(request, 2, 8192, chunk)) {
        return {};
    }
    return request;
}

Bytes RaidReply(std::size_t records, std::uint8_t announced) {
    Bytes reply = csmi::BuildRaidConfigRequest(0, records);
    if (!csmi::WriteDriveCount(reply, announced)) {
        return {};
    }
    for (std::size_t i = 0; i < records; ++i) {
        if (!csmi::WriteMemberPathNumber(reply, i, static_cast<std::uint8_t>(2 + i))) {
            return {};
        }
    }
    return reply;
}

void PutIdentify(std::span<std::uint8_t> data) {
    const std::string serial = "KV2311000001        ";
    const std::string model = "KORVANE QZRX4C7 1TB                     ";
    const std::string revision = "QZT2VKLA";
    std::copy(serial.begin(), serial.end(), data.begin() + nvme::kSerialNumber.offset);
    std::copy(model.begin(), model.end(), data.begin() + nvme::kModelNumber.offset);
    std::copy(revision.begin(), revision.end(), data.begin() + nvme::kFirmwareRevision.offset);
    data[81] = 3;  // VER 1.3
    data[82] = 1;
    data[319] = 8;  // FWUG
}

Bytes StorageIdentifyReply() {
    Bytes reply = storage::BuildIdentifyQuery();
    PutIdentify(storage::MutableIdentifyData(reply));
    return reply;
}

Bytes RstIdentifyReply() {
    Bytes reply = rst_nvme::BuildIdentifyControllerRequest(2);
    PutIdentify(rst_nvme::MutableIdentifyData(reply));
    return reply;
}

// firmware_reply inputs: the offset to read at, then the buffer.
Bytes AtOffset(std::uint64_t at, const Bytes& buffer) {
    fuzzinput::Writer writer;
    writer.Bool(false);
    writer.Int<std::uint64_t>(0, 128, at);
    writer.Rest(buffer);
    return writer.Finish();
}

// identify_reply inputs: the buffer size, the filler byte, then the leading bytes. Only
// the bytes up to the last one that is not zero need to be in the file.
Bytes SizedBuffer(const Bytes& buffer) {
    Bytes lead = buffer;
    while (!lead.empty() && lead.back() == 0) {
        lead.pop_back();
    }
    fuzzinput::Writer writer;
    writer.Int<std::size_t>(0, 4400, buffer.size());
    writer.Int<std::uint8_t>(0, 255, 0);
    writer.Rest(lead);
    return writer.Finish();
}

// ---- Machines

DriveChoice Drive(Revision revision = Revision::Base) {
    DriveChoice drive;
    drive.revision = revision;
    return drive;
}

DiskChoice InboxDisk(Revision revision = Revision::Base) {
    DiskChoice disk;
    disk.drive = Drive(revision);
    return disk;
}

DiskChoice OtherMakerDisk() {
    DiskChoice disk;
    disk.attach = Attach::Other;
    disk.parent = Parent::OtherMaker;
    disk.drive.model = Model::OtherMaker;
    disk.drive.revision = Revision::Other;
    return disk;
}

DiskChoice RaidVolume() {
    DiskChoice disk;
    disk.attach = Attach::RaidVolume;
    disk.parent = Parent::Controller;
    disk.instanceId = InstanceId::RaidVolume;
    disk.hardwareIds = HardwareIds::RaidVolume;
    disk.hasDrive = false;
    return disk;
}

DiskChoice RstDisk(std::uint8_t path) {
    DiskChoice disk;
    disk.attach = Attach::Rst;
    disk.parent = Parent::Controller;
    disk.pathId = path;
    disk.hasDrive = false;
    return disk;
}

ControllerChoice RstController(std::vector<std::vector<std::uint8_t>> raidSets,
                               std::vector<std::uint8_t> paths) {
    ControllerChoice controller;
    controller.raidSets = std::move(raidSets);
    for (std::uint8_t path : paths) {
        controller.drives.push_back({path, Drive()});
    }
    return controller;
}

Answer Altered(CallKind kind, std::uint16_t occurrence, std::uint8_t flags) {
    Answer answer;
    answer.kind = kind;
    answer.occurrence = occurrence;
    answer.flags = flags;
    return answer;
}

// The answer that returns nothing although the call succeeds.
Answer NothingReturned(CallKind kind, std::uint16_t occurrence) {
    Answer answer = Altered(kind, occurrence, kSetCount);
    answer.countChoice = 0;
    return answer;
}

// A machine whose one drive is the maker's, on the inbox path.
ProgramInput OneInboxDisk() {
    ProgramInput in;
    in.disks = {InboxDisk()};
    return in;
}

// Moves the machine's one drive behind an RST controller, as its single disk at path 1.
void OneRstDisk(ProgramInput& in) {
    in.controllers = {RstController({}, {1})};
    in.disks = {RstDisk(1)};
}

ProgramInput DefaultLikeMachine() {
    ProgramInput in;
    in.controllers = {RstController({{2, 3}}, {2, 3, 4})};
    // The up-to-date drive ahead of the one that needs a reboot: the verdict is then
    // the same whatever order the program gives them.
    in.disks = {RaidVolume(), RstDisk(4), InboxDisk(Revision::Target), InboxDisk(),
                OtherMakerDisk()};
    return in;
}

GeneratedInput Program(std::string directory, std::string name, ProgramInput in) {
    return {std::move(directory), "program", std::move(name), EncodeProgramInput(std::move(in))};
}

void AddReaderSeeds(std::vector<GeneratedInput>& inputs) {
    auto seed = [&](const char* target, const char* name, Bytes bytes) {
        inputs.push_back({"corpus", target, name, std::move(bytes)});
    };

    seed("srb_reply", "firmware-info-request", InfoReply());
    seed("srb_reply", "raid-config-request", csmi::BuildRaidConfigRequest(1));
    seed("srb_reply", "rst-activate-request", rst_fw::BuildActivateRequest(2));
    seed("srb_reply", "header-without-length", Bytes(24, 0));

    seed("firmware_reply", "info-reply", AtOffset(inbox_fw::kDataAreaOffset, InfoReply()));
    seed("firmware_reply", "inbox-download", AtOffset(inbox_fw::kDataAreaOffset, InboxDownload()));
    seed("firmware_reply", "rst-download", AtOffset(rst_fw::kPayloadOffset, RstDownload()));
    seed("firmware_reply", "rst-activate",
         AtOffset(rst_fw::kPayloadOffset, rst_fw::BuildActivateRequest(2)));

    seed("csmi_reply", "two-members", RaidReply(2, 2));
    seed("csmi_reply", "three-of-three", RaidReply(3, 3));
    seed("csmi_reply", "three-announced-two-held", RaidReply(2, 3));
    Bytes cut = RaidReply(2, 2);
    cut.resize(100);
    seed("csmi_reply", "cut-short", cut);

    seed("identify_reply", "storage-query-reply", SizedBuffer(StorageIdentifyReply()));
    seed("identify_reply", "rst-pass-through-reply", SizedBuffer(RstIdentifyReply()));
    seed("identify_reply", "device-number-reply",
         SizedBuffer({7, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}));
}

// Whole-program seeds: machines that update cleanly, and a few that fail honestly.
void AddProgramSeeds(std::vector<GeneratedInput>& inputs) {
    inputs.push_back(Program("corpus", "empty-machine", {}));
    {
        ProgramInput in = OneInboxDisk();
        inputs.push_back(Program("corpus", "inbox-base-drive", in));
        in.disks = {InboxDisk(Revision::Target)};
        inputs.push_back(Program("corpus", "inbox-up-to-date", in));
        in.disks = {InboxDisk()};
        in.disks[0].drive.fwug = 255;
        in.disks[0].drive.immediate = true;
        inputs.push_back(Program("corpus", "inbox-large-chunks-immediate", in));
    }
    inputs.push_back(Program("corpus", "default-like-machine", DefaultLikeMachine()));
    {
        ProgramInput in;
        in.controllers = {RstController({{2, 3, 5}}, {2, 3, 5})};
        in.disks = {RaidVolume()};
        inputs.push_back(Program("corpus", "raid-of-three", in));
        OneRstDisk(in);
        inputs.push_back(Program("corpus", "rst-single-disk", in));
    }
    {
        ProgramInput in = OneInboxDisk();
        Answer fail = Altered(CallKind::Download, 3, kFail);
        fail.error = 2;  // ERROR_GEN_FAILURE
        in.answers = {fail};
        inputs.push_back(Program("corpus", "inbox-download-fails", in));
        Answer status = Altered(CallKind::Activate, 0, kSetStatus);
        status.status = 7;  // FIRMWARE_STATUS_INVALID_IMAGE
        in.answers = {status};
        inputs.push_back(Program("corpus", "inbox-activation-refused", in));
    }
}

// One reproducer per known fault of the whole program (fuzz/README.md lists them): the
// faults of replies and of the platform's answers.
void AddAnswerReproducers(std::vector<GeneratedInput>& inputs) {
    {
        // A miniport request that completes with nothing returned is taken as success.
        ProgramInput in = OneInboxDisk();
        in.answers = {NothingReturned(CallKind::Activate, 0)};
        inputs.push_back(Program("regressions", "empty-activation-reply-inbox", in));
        OneRstDisk(in);
        inputs.push_back(Program("regressions", "empty-activation-reply-rst", in));
    }
    {
        // A platform that answers "buffer too small" with the same size for ever.
        ProgramInput in = OneInboxDisk();
        in.disks[0].lie = Lie::TooSmallForever;
        in.disks[0].lieAbout = LieAbout::Parent;
        inputs.push_back(Program("regressions", "property-too-small-forever", in));
    }
    {
        // A disk whose interface cannot be enumerated shifts the later disks by one:
        // the maker's second disk is asked through the interface of another maker's.
        ProgramInput in;
        in.disks = {InboxDisk(), InboxDisk(), OtherMakerDisk()};
        in.disks[0].enumerable = false;
        inputs.push_back(Program("regressions", "unenumerable-interface-shifts-disks", in));
    }
    {
        // The re-query of a RAID set again announces more members than it has room for.
        ProgramInput in;
        in.controllers = {RstController({{2, 3, 4}}, {2, 3, 4})};
        in.disks = {RaidVolume()};
        Answer more = Altered(CallKind::RaidConfig, 1, kStructured);
        more.value = 5;
        more.list = {2, 3, 4};
        in.answers = {more};
        inputs.push_back(Program("regressions", "raid-requery-announces-more", in));
    }
}

// The reproducers of drives found twice, of disk numbers and of the verdict.
void AddDriveReproducers(std::vector<GeneratedInput>& inputs) {
    {
        // A drive that is a RAID member and also a single RST disk.
        ProgramInput in;
        in.controllers = {RstController({{2, 3}}, {2, 3})};
        in.disks = {RaidVolume(), RstDisk(2)};
        inputs.push_back(Program("regressions", "raid-member-and-single-disk", in));
        // Two single disks whose locations name one path: the same drive again.
        in.controllers = {RstController({}, {2})};
        in.disks = {RstDisk(2), RstDisk(2)};
        inputs.push_back(Program("regressions", "two-single-disks-one-path", in));
    }
    {
        // An empty device-number reply read as disk 0: the other maker's disk.
        ProgramInput in;
        in.disks = {OtherMakerDisk(), InboxDisk()};
        in.disks[0].drive.revision = Revision::Base;
        in.disks[1].deviceNumber = DeviceNumber::Given;
        in.disks[1].number = 7;
        in.answers = {NothingReturned(CallKind::DeviceNumber, 0)};
        inputs.push_back(Program("regressions", "empty-device-number-reply", in));
    }
    {
        // The verdict follows the last drive: one needing a reboot, then one up to date.
        ProgramInput in;
        in.disks = {InboxDisk(), InboxDisk(Revision::Target)};
        inputs.push_back(Program("regressions", "verdict-follows-drive-order", in));
    }
}

}  // namespace

std::vector<GeneratedInput> GeneratedInputs() {
    std::vector<GeneratedInput> inputs;
    AddReaderSeeds(inputs);
    AddProgramSeeds(inputs);
    AddAnswerReproducers(inputs);
    AddDriveReproducers(inputs);
    return inputs;
}

}  // namespace fuzzcorpus
