#include "fuzz/harness/program_run.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/entry.h"
#include "base/utf8.h"
#include "drivers/byte_layout.h"
#include "drivers/csmi_raid_config.h"
#include "drivers/miniport_firmware.h"
#include "drivers/nvme_identify.h"
#include "drivers/rst_address.h"
#include "drivers/rst_firmware.h"
#include "drivers/rst_nvme_pass_through.h"
#include "drivers/srb_io_control.h"
#include "drivers/storage_requests.h"
#include "firmware/firmware_package.h"
#include "report/console.h"
#include "sim/models/io.h"
#include "sim/models/machine.h"
#include "sim/scenario/scenario_draft.h"
#include "sim/sim.h"

namespace fuzzprogram {
namespace {

using fuzzharness::Findings;
using fuzzharness::Report;

// ---------------------------------------------------------------------------
// The machine's texts

constexpr std::string_view kTagMarker = "FZTAG-";
constexpr std::string_view kStoragePortClass = "{2accfe60-c130-11d2-b082-00a0c91efb8b}";
constexpr std::string_view kDiskClass = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

std::wstring Number(unsigned value) {
    return utf8::FromLatin1(std::to_string(value));
}

// How the scenario names controller `c`, for the disks behind it.
std::string ControllerName(std::size_t c) {
    std::string name = "controller-";
    name += std::to_string(c);
    return name;
}

// A choice of the input and what it stands for in the simulated machine, row by row.
template <typename Choice, typename Value>
struct StandsFor {
    Choice choice;
    Value value;
};

template <typename Choice, typename Value, std::size_t N>
Value ValueOf(const StandsFor<Choice, Value> (&table)[N], Choice choice) {
    static_assert(N == static_cast<std::size_t>(Choice::kCount), "a row for every choice");
    for (const StandsFor<Choice, Value>& row : table) {
        if (row.choice == choice) {
            return row.value;
        }
    }
    return table[0].value;  // the decoder gives no value past the choices
}

std::wstring ControllerInstance(ControllerId id, std::size_t c) {
    const std::wstring n = Number(static_cast<unsigned>(c));
    switch (id) {
        case ControllerId::OtherVendor:
            return L"PCI\\VEN_1B21&DEV_0612&SUBSYS_10621B21&REV_02\\4&2F6A3B1" + n + L"&0&00E0";
        default:
            return L"PCI\\VEN_8086&DEV_2822&SUBSYS_0A8C8086&REV_00\\3&1158365" + n + L"&0&B8";
    }
}

std::optional<std::wstring> ControllerInterfacePath(ControllerPath path, std::size_t c) {
    const std::wstring n = Number(static_cast<unsigned>(c));
    switch (path) {
        case ControllerPath::Intel:
            return L"\\\\?\\pci#ven_8086&dev_2822&subsys_0a8c8086&rev_00#3&1158365" + n +
                   L"&0&b8#" + utf8::FromLatin1(kStoragePortClass);
        case ControllerPath::OtherVendor:
            return L"\\\\?\\pci#ven_1b21&dev_0612&subsys_10621b21&rev_02#4&2f6a3b1" + n +
                   L"&0&00e0#" + utf8::FromLatin1(kStoragePortClass);
        default:
            return std::nullopt;
    }
}

std::optional<std::wstring> DiskInterfacePath(const DiskChoice& disk, std::size_t d) {
    if (!disk.enumerable) {
        return std::nullopt;
    }
    return L"\\\\?\\scsi#disk&ven_fuzz&prod_disk" + Number(static_cast<unsigned>(d)) +
           L"#5&2b6a5e0&0&000000#" + utf8::FromLatin1(kDiskClass);
}

std::optional<std::wstring> DescriptionText(Description description) {
    switch (description) {
        case Description::RstPremium:
            return L"Intel(R) Chipset SATA/PCIe RST Premium Controller";
        case Description::IntelRaid:
            return L"Intel(R) RAID Controller";
        case Description::StandardNvme:
            return L"Standard NVM Express Controller";
        default:
            return std::nullopt;
    }
}

// A text with a disk's number in it, as in the unique part of an instance ID.
struct NumberedText {
    std::wstring_view head;
    std::wstring_view tail;
};

// The text of a choice with a row in `table`, none for one without.
template <typename Choice, std::size_t N>
std::optional<std::wstring> NumberedChoice(const StandsFor<Choice, NumberedText> (&table)[N],
                                           Choice choice, std::size_t d) {
    for (const StandsFor<Choice, NumberedText>& row : table) {
        if (row.choice == choice) {
            return std::wstring(row.value.head) + Number(static_cast<unsigned>(d)) +
                   std::wstring(row.value.tail);
        }
    }
    return std::nullopt;
}

constexpr StandsFor<InstanceId, NumberedText> kDiskInstances[] = {
    {InstanceId::NvmeDisk, {L"SCSI\\DISK&VEN_NVME&PROD_KORVANE_QZRX4C7\\5&2B6A5E0", L"&0&000000"}},
    {InstanceId::RaidVolume, {L"SCSI\\DISK&VEN_INTEL&PROD_RAID_1_VOLUME\\5&2B6A5E0", L"&0&010000"}},
    {InstanceId::IntelDisk, {L"SCSI\\DISK&VEN_INTEL&PROD_SSDPEKNW512G8\\5&2B6A5E0", L"&0&020000"}},
    {InstanceId::OtherRaid, {L"SCSI\\DISK&VEN_NVME&PROD_RAID_SSD\\5&2B6A5E0", L"&0&030000"}},
};

// The parents that are no RST controller.
constexpr StandsFor<Parent, NumberedText> kOtherParents[] = {
    {Parent::Maker, {L"PCI\\VEN_7C1E&DEV_5216&SUBSYS_52161C7E&REV_01\\4&1A2B3C4", L"&0&00E8"}},
    {Parent::OtherMaker, {L"PCI\\VEN_1F3B&DEV_0E21&SUBSYS_00011F3B&REV_03\\4&3C4D5E6", L"&0&0008"}},
    {Parent::IntelOther, {L"PCI\\VEN_8086&DEV_F1A8&SUBSYS_390A8086&REV_03\\4&0B1C2D3", L"&0&00E4"}},
};

std::optional<std::vector<std::wstring>> HardwareIdList(HardwareIds ids) {
    switch (ids) {
        case HardwareIds::Nvme:
            return std::vector<std::wstring>{L"SCSI\\DiskNVMe____KORVANE_QZRX4C7_QZT2",
                                             L"SCSI\\DiskNVMe____", L"GenDisk"};
        case HardwareIds::RaidVolume:
            return std::vector<std::wstring>{L"SCSI\\DiskIntel___Raid_1_Volume____1.0.",
                                             L"SCSI\\DiskIntel___", L"GenDisk"};
        case HardwareIds::LowerCaseNvme:
            return std::vector<std::wstring>{L"SCSI\\Disknvme____KORVANE_QZRX4C7", L"GenDisk"};
        case HardwareIds::Empty:
            return std::vector<std::wstring>{};
        default:
            return std::nullopt;
    }
}

std::optional<std::wstring> ParentText(const DiskChoice& disk, std::size_t d,
                                       const std::vector<std::wstring>& controllerIds) {
    if (disk.parent != Parent::Controller) {
        return NumberedChoice(kOtherParents, disk.parent, d);
    }
    return controllerIds.empty() ? ControllerInstance(ControllerId::IntelRst, 0)
                                 : controllerIds[disk.controller % controllerIds.size()];
}

// The location text, and the path number byte it names by the rule Windows' own
// texts follow ("Bus Number N, Target Id T, LUN L"); 0xFF where it names none.
std::pair<std::optional<std::wstring>, std::uint8_t> LocationText(const DiskChoice& disk) {
    const std::wstring tail = L", Target Id 0, LUN 0";
    switch (disk.location) {
        case Location::BusOfPath:
            return {L"Bus Number " + Number(disk.pathId) + tail, disk.pathId};
        case Location::Bus:
            return {L"Bus Number " + Number(disk.bus) + tail, disk.bus};
        case Location::NegativeBus:
            return {L"Bus Number -" + Number(disk.bus) + tail,
                    static_cast<std::uint8_t>(256 - disk.bus)};
        case Location::HugeBus:
            return {L"Bus Number 99999999999" + tail, 0xFF};
        case Location::BusWithoutComma:
            return {L"Bus Number " + Number(disk.bus), disk.bus};
        case Location::NoBusToken:
            return {L"PCI bus 3, device 0, function 0", 0xFF};
        default:
            return {std::nullopt, 0xFF};
    }
}

// The serial number of drive `index`: the tag, blank padded to the field as the
// program prints it.
std::string Tag(std::size_t index) {
    std::string tag = std::string(kTagMarker) + std::to_string(index);
    tag.resize(nvme::kSerialNumber.width, ' ');
    return tag;
}

std::string RevisionText(Revision revision) {
    switch (revision) {
        case Revision::Base:
            return utf8::FromUtf16(baseRevision);
        case Revision::Target:
            return utf8::FromUtf16(targetRevision);
        default:
            return "QZT1VKLA";
    }
}

std::vector<sim::FirmwareSlot> SlotTable(Slots slots) {
    auto slot = [](std::uint8_t number, bool readOnly) {
        return sim::FirmwareSlot{number, readOnly, {}, std::nullopt};
    };
    switch (slots) {
        case Slots::Standard:
            return {slot(1, true), slot(2, false), slot(3, false)};
        case Slots::OnlyReadOnly:
            return {slot(1, true)};
        case Slots::None:
            return {};
        case Slots::Seven: {
            std::vector<sim::FirmwareSlot> table{slot(1, true)};
            for (std::uint8_t n = 2; n <= 7; ++n) {
                table.push_back(slot(n, false));
            }
            return table;
        }
        case Slots::AllWritable:
            return {slot(1, false), slot(2, false)};
        default:
            return {slot(3, true), slot(4, true)};
    }
}

constexpr StandsFor<Attach, sim::Attach> kSimAttach[] = {
    {Attach::Inbox, sim::Attach::Inbox},
    {Attach::Rst, sim::Attach::Rst},
    {Attach::RaidVolume, sim::Attach::RaidVolume},
    {Attach::Other, sim::Attach::Other},
};
// VER: major in bits 31:16, minor in 15:8.
constexpr StandsFor<Version, std::uint32_t> kVersions[] = {
    {Version::V1_3, 0x00010300}, {Version::V1_2, 0x00010200}, {Version::V2_0, 0x00020000},
    {Version::V1_4, 0x00010400}, {Version::V0_0, 0},
};
constexpr StandsFor<LieAbout, sim::PropertyName> kSimProperty[] = {
    {LieAbout::Parent, sim::PropertyName::Parent},
    {LieAbout::InstanceId, sim::PropertyName::InstanceId},
    {LieAbout::HardwareIds, sim::PropertyName::HardwareIds},
    {LieAbout::LocationInfo, sim::PropertyName::LocationInfo},
    {LieAbout::DriverDescription, sim::PropertyName::DriverDescription},
    {LieAbout::InterfaceDetail, sim::PropertyName::InterfaceDetail},
};

// Drive `number` as the input chooses it, its tag as its serial number.
sim::DriveDraft DriveDraftOf(const DriveChoice& choice, std::size_t number) {
    sim::DriveDraft draft;
    draft.place = "drive " + std::to_string(number);
    draft.hasId = true;
    draft.hasSerial = true;
    sim::Drive& drive = draft.drive;
    drive.id = "drive" + std::to_string(number);
    sim::FillText(drive.serialNumber, Tag(number));
    sim::FillText(drive.modelNumber,
                  choice.model == Model::Maker ? "KORVANE QZRX4C7 1TB" : "ALDERWEN NV3 512GB");
    sim::FillText(drive.firmwareRevision, RevisionText(choice.revision));
    drive.version = ValueOf(kVersions, choice.version);
    drive.fwug = choice.fwug;
    drive.upgradeSupport = choice.upgradeSupport;
    drive.slots = SlotTable(choice.slots);
    if (!drive.slots.empty()) {
        drive.activeSlot = drive.slots.front().number;
        drive.slots.front().revision = drive.firmwareRevision;
    }
    drive.activation = choice.immediate ? sim::Activation::Immediate : sim::Activation::PowerCycle;
    drive.revisionAfterPowerCycle = drive.firmwareRevision;
    drive.faults.denyOpen = choice.denyOpen;
    return draft;
}

void AddLie(std::map<sim::PropertyName, sim::PropertyFault>& faults, Lie lie, LieAbout about) {
    if (lie == Lie::None) {
        return;
    }
    sim::PropertyFault fault;
    fault.kind = lie == Lie::TooSmallForever ? sim::PropertyFault::Kind::TooSmallForever
                                             : sim::PropertyFault::Kind::RequiredSize;
    fault.requiredSize = lie == Lie::TinySize ? 4 : 1u << 20;
    faults[ValueOf(kSimProperty, about)] = fault;
}

// A property the input always decides: a value, or unreadable.
template <typename T>
sim::Override<T> Given(std::optional<T> value) {
    return {true, std::move(value)};
}

bool Has(const std::optional<std::wstring>& text, const wchar_t* token) {
    return text && text->find(token) != std::wstring::npos;
}

// What the machine says about one disk, for the invariants on whom the program talks to.
struct DiskFacts {
    bool makerNvmeDisk = false;  // parent VEN_7C1E, an "NVMe" hardware ID, an instance ID
    bool rstSingleDisk = false;  // parent VEN_8086, an instance ID that is no Intel RAID volume
    std::uint8_t bus = 0xFF;     // the path number its location names
};

// ---------------------------------------------------------------------------
// One run

enum class Side { Disk, Controller };

struct Call {
    CallKind kind = CallKind::Any;  // Any: a request of no kind the answers aim at
    Side side = Side::Disk;
    std::size_t device = 0;  // the disk or controller index
    std::string target;      // the drive the request is for, "" when none
    std::optional<std::size_t> drive;
    std::uint8_t path = 0;  // controller requests: the RST path number
};

struct Session {
    bool live = false;
    std::uint64_t next = 0;
};

struct RaidReply {
    std::size_t announced = 0;
    std::size_t held = 0;
};

struct ParsedReport;

class Run {
  public:
    Run(const ProgramInput& input, Findings& findings) : input_(input), findings_(findings) {}

    std::optional<sim::Machine> Build();
    DWORD Respond(sim::IoCall& call);
    void CheckAfter(std::int32_t exitCode, const std::string& output, std::size_t openHandles,
                    const sim::Machine& machine, Outcome& outcome);

  private:
    sim::ControllerDraft ControllerDraftOf(std::size_t c, const std::wstring& instanceId);
    sim::DiskDraft DiskDraftOf(std::size_t d, const std::vector<std::wstring>& controllerIds);
    void NoteDiskFacts(const DiskChoice& choice, const sim::DiskDraft& draft, std::uint8_t bus);

    Call Classify(const sim::IoCall& call) const;
    void CheckAddressee(const sim::IoCall& call, const Call& c);
    const fuzzprogram::Answer* Match(CallKind kind);
    void Alter(const fuzzprogram::Answer& a, sim::IoCall& call, const Call& c, DWORD& error,
               DWORD& returned);
    bool WriteStructured(const fuzzprogram::Answer& a, sim::IoCall& call, const Call& c);
    void SpoilForeignTags(sim::IoCall& call, const Call& c);
    void Account(const sim::IoCall& call, const Call& c, DWORD error, std::size_t returned);
    void AccountDeviceNumber(std::span<const std::uint8_t> reply);
    void AccountRaidConfig(const sim::IoCall& call, const Call& c,
                           std::span<const std::uint8_t> reply,
                           std::optional<std::uint32_t> status);
    void AccountDownload(const sim::IoCall& call, const Call& c,
                         std::optional<std::uint32_t> status);

    void CheckMachineAfter(std::size_t openHandles, const sim::Machine& machine);
    void CheckFinalLine(const ParsedReport& report, std::int32_t exitCode);
    void CheckVerdict(const ParsedReport& report, std::int32_t exitCode);
    void CheckUpdateClaims(const ParsedReport& report, Outcome& outcome);
    void CheckRaidReplies(std::int32_t exitCode);

    const ProgramInput& input_;
    Findings& findings_;
    std::vector<DiskFacts> disks_;
    // The drives by the numbers their tags carry, as the harness numbers them.
    std::vector<std::map<std::uint8_t, std::size_t>> controllerDrives_;
    std::size_t driveCount_ = 0;

    std::size_t anyCalls_ = 0;
    std::map<CallKind, std::size_t> kindCalls_;
    std::size_t alterations_ = 0;

    std::set<std::uint32_t> numbersReturned_;
    std::set<std::uint8_t> knownPaths_;
    std::set<std::size_t> tagsDelivered_;
    std::map<std::string, Session> sessions_;
    std::map<std::string, std::size_t> completed_;
    std::map<std::string, std::optional<std::size_t>> targetDrive_;
    std::map<std::pair<std::size_t, std::uint32_t>, RaidReply> raidReplies_;
};

// The machine the input describes, built as a scenario's is, with every request
// answered through the harness; what the checks need to know of it is noted on the way.
std::optional<sim::Machine> Run::Build() {
    sim::ScenarioDraft draft;
    draft.localTime = SYSTEMTIME{2026, 12, 1, 7, 21, 5, 9, 0};
    draft.pathsMayRepeat = true;
    draft.deviceNumbersMayRepeat = true;
    std::vector<std::wstring> controllerIds;
    for (std::size_t c = 0; c < input_.controllers.size(); ++c) {
        controllerIds.push_back(ControllerInstance(input_.controllers[c].instanceId, c));
        draft.controllers.push_back(ControllerDraftOf(c, controllerIds.back()));
    }
    for (std::size_t d = 0; d < input_.disks.size(); ++d) {
        draft.disks.push_back(DiskDraftOf(d, controllerIds));
    }
    sim::Machine m;
    std::string error;
    if (!sim::AssembleMachine(std::move(draft), m, error)) {
        Report(findings_, "machine", "the simulator refused the input's machine: " + error);
        return std::nullopt;
    }
    m.recordTrace = false;
    for (sim::Controller& controller : m.controllers) {
        controller.io = [this](sim::IoCall& call) { return Respond(call); };
    }
    for (sim::Disk& disk : m.disks) {
        disk.io = [this](sim::IoCall& call) { return Respond(call); };
    }
    return m;
}

sim::ControllerDraft Run::ControllerDraftOf(std::size_t c, const std::wstring& instanceId) {
    const ControllerChoice& choice = input_.controllers[c];
    sim::ControllerDraft draft;
    draft.place = "controllers[" + std::to_string(c) + "]";
    draft.id = ControllerName(c);
    draft.path = Given(ControllerInterfacePath(choice.path, c));
    draft.driverDescription = Given(DescriptionText(choice.description));
    draft.instanceId = Given(choice.instanceId == ControllerId::Unreadable
                                 ? std::nullopt
                                 : std::optional<std::wstring>(instanceId));
    draft.openable = choice.openable;
    draft.raidSets = choice.raidSets;
    // A path the input gives no drive stays empty.
    draft.defaultDrives = false;
    std::map<std::uint8_t, std::size_t>& numbers = controllerDrives_.emplace_back();
    for (const ControllerDrive& given : choice.drives) {
        if (numbers.count(given.path) == 0) {
            numbers[given.path] = driveCount_;
            draft.drives.emplace(given.path, DriveDraftOf(given.drive, driveCount_++));
        }
    }
    AddLie(draft.propertyFaults, choice.lie, choice.lieAbout);
    return draft;
}

sim::DiskDraft Run::DiskDraftOf(std::size_t d, const std::vector<std::wstring>& controllerIds) {
    const DiskChoice& choice = input_.disks[d];
    sim::DiskDraft draft;
    draft.place = "disks[" + std::to_string(d) + "]";
    draft.attach = ValueOf(kSimAttach, choice.attach);
    const bool behindController =
        choice.attach == Attach::Rst || choice.attach == Attach::RaidVolume;
    if (behindController && !controllerIds.empty()) {
        draft.controllerId = ControllerName(choice.controller % controllerIds.size());
    }
    if (choice.attach == Attach::Rst) {
        draft.pathId = choice.pathId;
    }
    // A disk's own drive answers on the disk; a drive behind an RST controller answers
    // only there, so a copy of its Identify data from a disk handle names no drive.
    std::optional<std::size_t>& own = targetDrive_["disk " + std::to_string(d)];
    if (!behindController && choice.hasDrive) {
        own = driveCount_;
        draft.drive = DriveDraftOf(choice.drive, driveCount_++);
    }
    draft.defaultDrive = false;
    switch (choice.deviceNumber) {
        case DeviceNumber::OwnIndex:
            draft.deviceNumber = Given(std::optional<DWORD>(static_cast<DWORD>(d)));
            break;
        case DeviceNumber::Given:
            draft.deviceNumber = Given(std::optional<DWORD>(choice.number));
            break;
        default:
            draft.deviceNumber = Given(std::optional<DWORD>());
            break;
    }
    draft.openable = choice.openable;
    const auto [location, bus] = LocationText(choice);
    draft.parent = Given(ParentText(choice, d, controllerIds));
    draft.instanceId = Given(NumberedChoice(kDiskInstances, choice.instanceId, d));
    draft.hardwareIds = Given(HardwareIdList(choice.hardwareIds));
    draft.locationInfo = Given(location);
    draft.interfacePath = Given(DiskInterfacePath(choice, d));
    AddLie(draft.propertyFaults, choice.lie, choice.lieAbout);
    NoteDiskFacts(choice, draft, bus);
    return draft;
}

void Run::NoteDiskFacts(const DiskChoice& choice, const sim::DiskDraft& draft, std::uint8_t bus) {
    const std::optional<std::wstring>& parent = draft.parent.value;
    const std::optional<std::wstring>& instanceId = draft.instanceId.value;
    DiskFacts facts;
    bool nvmeId = false;
    for (const std::wstring& id : draft.hardwareIds.value.value_or(std::vector<std::wstring>{})) {
        nvmeId = nvmeId || id.find(L"NVMe") != std::wstring::npos;
    }
    facts.makerNvmeDisk = Has(parent, L"VEN_7C1E") && nvmeId && instanceId.has_value();
    facts.rstSingleDisk = Has(parent, L"VEN_8086") && instanceId.has_value() &&
                          !(Has(instanceId, L"VEN_INTEL") && Has(instanceId, L"PROD_RAID"));
    facts.bus = bus;
    disks_.push_back(facts);
    if (facts.rstSingleDisk) {
        knownPaths_.insert(bus);
        if (choice.lie != Lie::None && choice.lieAbout == LieAbout::LocationInfo) {
            knownPaths_.insert(0xFF);  // a location that cannot be read names no path
        }
    }
}

// The call a firmware request block's function asks for; Any for a function the
// model does not answer.
CallKind FirmwareCallKind(std::uint32_t function) {
    return function == fwreq::kFunctionGetInfo    ? CallKind::FirmwareInfo
           : function == fwreq::kFunctionDownload ? CallKind::Download
           : function == fwreq::kFunctionActivate ? CallKind::Activate
                                                  : CallKind::Any;
}

std::optional<std::uint32_t> PhysicalDriveNumber(std::wstring_view path) {
    const std::wstring_view prefix = L"\\\\.\\PHYSICALDRIVE";
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    std::uint64_t number = 0;
    for (std::size_t i = prefix.size(); i < path.size(); ++i) {
        if (path[i] < L'0' || path[i] > L'9' || number > 0xFFFFFFFFull) {
            return std::nullopt;
        }
        number = number * 10 + static_cast<std::uint64_t>(path[i] - L'0');
    }
    return number <= 0xFFFFFFFFull
               ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(number))
               : std::nullopt;
}

Call Run::Classify(const sim::IoCall& call) const {
    Call c;
    const sim::DeviceTarget target = call.target;
    c.device = target.index;
    const auto header = srb::ReadSrbIoControl(call.in);
    auto signature = [&](std::string_view s) {
        return header && call.code == IOCTL_SCSI_MINIPORT && srb::HasSignature(*header, s);
    };
    if (target.kind == sim::DeviceTarget::Kind::Disk) {
        c.side = Side::Disk;
        c.target = "disk " + std::to_string(c.device);
        const auto found = targetDrive_.find(c.target);
        c.drive = found == targetDrive_.end() ? std::nullopt : found->second;
        if (call.code == IOCTL_STORAGE_GET_DEVICE_NUMBER) {
            c.kind = CallKind::DeviceNumber;
        } else if (call.code == IOCTL_STORAGE_QUERY_PROPERTY) {
            c.kind = CallKind::Identify;
        } else if (signature(inbox_fw::kRequest.signature)) {
            const auto block = inbox_fw::ReadRequestBlock(call.in);
            c.kind = FirmwareCallKind(block ? block->Function : 0);
        }
        return c;
    }
    c.side = Side::Controller;
    if (signature(csmi::kRequest.signature)) {
        c.kind = CallKind::RaidConfig;
        return c;
    }
    const auto address = rst_address::ReadAddress(call.in);
    if (!address) {
        return c;
    }
    c.path = address->PathNumber;
    if (signature(rst_nvme::kRequest.signature)) {
        c.kind = CallKind::Identify;
    } else if (signature(rst_fw::kRequest.signature)) {
        const auto block = rst_fw::ReadRequestBlock(call.in);
        // The RST path asks a drive for no firmware information.
        const CallKind kind = FirmwareCallKind(block ? block->Function : 0);
        c.kind = kind == CallKind::FirmwareInfo ? CallKind::Any : kind;
    } else {
        return c;
    }
    c.target = "controller " + std::to_string(c.device) + " path " + std::to_string(c.path);
    if (c.device < controllerDrives_.size()) {
        const auto& drives = controllerDrives_[c.device];
        if (const auto found = drives.find(c.path); found != drives.end()) {
            c.drive = found->second;
        }
    }
    return c;
}

const char* KindName(CallKind kind) {
    switch (kind) {
        case CallKind::DeviceNumber:
            return "device-number request";
        case CallKind::Identify:
            return "identify request";
        case CallKind::FirmwareInfo:
            return "firmware-information request";
        case CallKind::Download:
            return "download request";
        case CallKind::Activate:
            return "activation request";
        case CallKind::RaidConfig:
            return "RAID configuration request";
        default:
            return "request";
    }
}

void Run::CheckAddressee(const sim::IoCall& call, const Call& c) {
    if (c.side == Side::Disk) {
        if (const auto number = PhysicalDriveNumber(call.path)) {
            if (numbersReturned_.count(*number) == 0) {
                Report(findings_, "unreported-disk-number",
                       std::string(KindName(c.kind)) + " on \\\\.\\PHYSICALDRIVE" +
                           std::to_string(*number) + ", a number no device-number reply returned");
            }
        } else if (c.device < disks_.size() && !disks_[c.device].makerNvmeDisk) {
            Report(findings_, "not-a-maker-disk",
                   std::string(KindName(c.kind)) + " on the interface of disk " +
                       std::to_string(c.device) + ", which is not the maker's NVMe disk");
        }
        return;
    }
    if (!c.target.empty() && knownPaths_.count(c.path) == 0) {
        Report(findings_, "unknown-rst-path",
               std::string(KindName(c.kind)) + " for RST path " + std::to_string(c.path) +
                   " on controller " + std::to_string(c.device) +
                   ", which no RAID reply returned and no RST disk's location names");
    }
}

const fuzzprogram::Answer* Run::Match(CallKind kind) {
    const std::size_t any = anyCalls_++;
    const std::size_t ofKind = kind == CallKind::Any ? any : kindCalls_[kind]++;
    for (const fuzzprogram::Answer& a : input_.answers) {
        if (a.kind != CallKind::Any && a.kind != kind) {
            continue;
        }
        const std::size_t n = a.kind == CallKind::Any ? any : ofKind;
        if (a.every ? n >= a.occurrence : n == a.occurrence) {
            return &a;
        }
    }
    return nullptr;
}

std::span<std::uint8_t> IdentifyArea(sim::IoCall& call, const Call& c) {
    return c.side == Side::Disk ? storage::MutableIdentifyData(call.out)
                                : rst_nvme::MutableIdentifyData(call.out);
}

// The answer the layout writers make of `value` and `list`, field by field in reply
// order, as far as the buffer holds them: a reply the input replaced keeps its own
// bytes past that. False when some field did not fit.
bool Run::WriteStructured(const fuzzprogram::Answer& a, sim::IoCall& call, const Call& c) {
    const std::span<std::uint8_t> out = call.out;
    switch (c.kind) {
        case CallKind::DeviceNumber:
            return storage::WriteDeviceNumber(out, {FILE_DEVICE_DISK, a.value, 0});
        case CallKind::RaidConfig:
            if (!srb::SetReturnCode(out, 0) ||
                !csmi::WriteDriveCount(out, static_cast<std::uint8_t>(a.value))) {
                return false;
            }
            for (std::size_t i = 0; i < a.list.size(); ++i) {
                if (!csmi::WriteMemberPathNumber(out, i, a.list[i])) {
                    return false;
                }
            }
            return true;
        case CallKind::FirmwareInfo: {
            fwreq::FirmwareInfo info;
            info.upgradeSupport = (a.value & 1) != 0;
            info.activeSlot = static_cast<std::uint8_t>(a.value >> 8);
            info.pendingActivateSlot = static_cast<std::uint8_t>(a.value >> 16);
            for (std::uint8_t entry : a.list) {
                info.slots.push_back(
                    {static_cast<std::uint8_t>(entry & 0x7F), (entry & 0x80) != 0, {}});
            }
            return srb::SetReturnCode(out, 0) && inbox_fw::WriteFirmwareInfoReply(out, info);
        }
        case CallKind::Identify: {
            const std::span<std::uint8_t> data = IdentifyArea(call, c);
            if (data.empty()) {
                return false;
            }
            const std::string revision = RevisionText(static_cast<Revision>(a.value % 3));
            std::copy(revision.begin(), revision.end(),
                      data.begin() + static_cast<std::ptrdiff_t>(nvme::kFirmwareRevision.offset));
            // VER's MNR and MJR bytes, then FWUG.
            const std::size_t places[] = {81, 82, 83, 319};
            for (std::size_t i = 0; i < a.list.size() && i < std::size(places); ++i) {
                data[places[i]] = a.list[i];
            }
            return true;
        }
        case CallKind::Download:
        case CallKind::Activate:
            return srb::SetReturnCode(out, a.value);
        default:
            return false;
    }
}

void Run::Alter(const fuzzprogram::Answer& a, sim::IoCall& call, const Call& c, DWORD& error,
                DWORD& returned) {
    ++alterations_;
    const std::span<std::uint8_t> out = call.out;
    if (a.flags & kReplaceBytes) {
        const std::size_t length = std::min(a.bytes.size(), out.size());
        std::copy_n(a.bytes.begin(), length, out.begin());
        error = ERROR_SUCCESS;
        returned = static_cast<DWORD>(length);
    }
    if (a.flags & kStructured) {
        error = ERROR_SUCCESS;
        // A device number written whole comes back as its own 12 bytes; every other
        // answer, and one the buffer cut, as the whole buffer.
        const bool whole = WriteStructured(a, call, c);
        returned = static_cast<DWORD>(whole && c.kind == CallKind::DeviceNumber
                                          ? sizeof(sdk::STORAGE_DEVICE_NUMBER)
                                          : out.size());
    }
    if (a.flags & kPatch) {
        for (const Patch& patch : a.patches) {
            if (patch.offset < out.size()) {
                const std::size_t length = std::min(patch.bytes.size(), out.size() - patch.offset);
                std::copy_n(patch.bytes.begin(), length, out.begin() + patch.offset);
            }
        }
    }
    if (a.flags & kSetStatus) {
        if (error != ERROR_SUCCESS) {
            // The request completes: the whole buffer comes back with the status in it.
            error = ERROR_SUCCESS;
            returned = static_cast<DWORD>(out.size());
        }
        if (!srb::SetReturnCode(out, a.status < kStatusCount ? kStatuses[a.status] : a.rawStatus)) {
            // A device number's 12 bytes carry no status: they come back as they are.
        }
    }
    if (a.flags & kSetCount) {
        returned = a.countChoice < kCountCount ? kCounts[a.countChoice] : a.count;
    }
    if (a.flags & kFail) {
        error = kErrors[a.error % kErrorCount];
    }
}

// A tag in Identify data names a drive only when that drive's own data carried it
// there; a tag that arrives by any other route (arbitrary or patched bytes, a reply
// cut short) is spoiled, so that a report block can never be pinned on the wrong drive.
// Line ends are taken out of the texts the report prints, to keep its lines apart.
void Run::SpoilForeignTags(sim::IoCall& call, const Call& c) {
    const std::span<std::uint8_t> data = IdentifyArea(call, c);
    if (data.empty()) {
        return;
    }
    for (const nvme::IdentifyField field :
         {nvme::kSerialNumber, nvme::kModelNumber, nvme::kFirmwareRevision}) {
        for (std::size_t i = field.offset; i < field.offset + field.width; ++i) {
            if (data[i] == '\n' || data[i] == '\r') {
                data[i] = ' ';
            }
        }
    }
    const auto serial = data.subspan(nvme::kSerialNumber.offset, nvme::kSerialNumber.width);
    const std::string text(serial.begin(), serial.end());
    if (c.drive && text == Tag(*c.drive)) {
        tagsDelivered_.insert(*c.drive);
    } else if (text.compare(0, kTagMarker.size(), kTagMarker) == 0) {
        serial[0] = '#';
    }
}

// The driver's status as the caller may read it: inside the bytes returned.
std::optional<std::uint32_t> ReturnedStatus(std::span<const std::uint8_t> out, DWORD error,
                                            std::size_t returned) {
    if (error != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return srb::ReturnCode(out.first(std::min(returned, out.size())));
}

void Run::Account(const sim::IoCall& call, const Call& c, DWORD error, std::size_t returned) {
    const std::span<const std::uint8_t> out = call.out;
    const std::span<const std::uint8_t> reply = out.first(std::min(returned, out.size()));
    const std::optional<std::uint32_t> status = ReturnedStatus(out, error, returned);
    switch (c.kind) {
        case CallKind::DeviceNumber:
            if (error == ERROR_SUCCESS) {
                AccountDeviceNumber(reply);
            }
            break;
        case CallKind::RaidConfig:
            AccountRaidConfig(call, c, reply, status);
            break;
        case CallKind::Download:
            AccountDownload(call, c, status);
            break;
        case CallKind::Activate: {
            Session& session = sessions_[c.target];
            const bool accepted =
                status == fwreq::kStatusSuccess || status == fwreq::kStatusPowerCycleRequired;
            if (accepted && session.live && session.next == kFirmwareImageSize) {
                ++completed_[c.target];
            }
            session.live = false;
            break;
        }
        default:
            break;
    }
    if (!c.target.empty() && targetDrive_.count(c.target) == 0) {
        targetDrive_[c.target] = c.drive;
    }
}

void Run::AccountDeviceNumber(std::span<const std::uint8_t> reply) {
    if (const auto number = storage::ReadDeviceNumber(reply)) {
        numbersReturned_.insert(number->DeviceNumber);
    } else if (const auto only = layout::GetU32(reply, 4)  // DeviceNumber alone
    ) {
        numbersReturned_.insert(*only);
    }
}

void Run::AccountRaidConfig(const sim::IoCall& call, const Call& c,
                            std::span<const std::uint8_t> reply,
                            std::optional<std::uint32_t> status) {
    const auto key = std::make_pair(c.device, csmi::RaidSetIndex(call.in).value_or(0));
    const auto announced = csmi::DriveCount(reply);
    if (status != 0u || !announced) {
        raidReplies_.erase(key);
        return;
    }
    const std::size_t held = csmi::MemberRecordCapacity(call.out.size());
    raidReplies_[key] = {*announced, held};
    for (std::size_t i = 0; i < std::min<std::size_t>(*announced, held); ++i) {
        // The path byte may come back without the rest of its record.
        // bSASAddress[2] of member record i (136 bytes each, from 64).
        const std::size_t at = 64 + 136 * i + 90;
        if (const auto path = layout::GetU8(reply, at)) {
            knownPaths_.insert(*path);
        }
    }
}

// A download piece continues the drive's session only when it is the next piece of the
// image, whole and accepted.
void Run::AccountDownload(const sim::IoCall& call, const Call& c,
                          std::optional<std::uint32_t> status) {
    Session& session = sessions_[c.target];
    const auto download =
        c.side == Side::Disk ? inbox_fw::ReadDownload(call.in) : rst_fw::ReadDownload(call.in);
    if (!download) {
        session.live = false;
        return;
    }
    if (download->fixed.Offset == 0) {
        session = {true, 0};
    }
    const std::span<const std::uint8_t> image(FirmwareImage, kFirmwareImageSize);
    const bool inOrder = session.live && download->fixed.Offset == session.next &&
                         download->fixed.BufferSize > 0 &&
                         download->image.size() == download->fixed.BufferSize &&
                         download->fixed.BufferSize <= image.size() - download->fixed.Offset;
    const bool sound =
        inOrder && std::memcmp(download->image.data(), image.data() + download->fixed.Offset,
                               download->image.size()) == 0;
    if (status == 0u && sound) {
        session.next += download->fixed.BufferSize;
    } else {
        session.live = false;
    }
}

DWORD Run::Respond(sim::IoCall& call) {
    const Call c = Classify(call);
    CheckAddressee(call, c);
    const Bytes before(call.out.begin(), call.out.end());
    DWORD error = sim::StandardIo(call);
    DWORD returned = call.bytesReturned;
    if (const fuzzprogram::Answer* a = Match(c.kind)) {
        Alter(*a, call, c, error, returned);
    }
    const std::span<std::uint8_t> out = call.out;
    if (error != ERROR_SUCCESS) {
        // A failed call copies nothing back.
        std::copy(before.begin(), before.end(), out.begin());
        returned = 0;
    } else {
        // Only the bytes the driver returned reach the caller.
        const std::size_t kept = std::min<std::size_t>(returned, out.size());
        std::copy(before.begin() + static_cast<std::ptrdiff_t>(kept), before.end(),
                  out.begin() + static_cast<std::ptrdiff_t>(kept));
        if (c.kind == CallKind::Identify) {
            SpoilForeignTags(call, c);
        }
    }
    Account(call, c, error, returned);
    call.bytesReturned = returned;
    return error;
}

// ---------------------------------------------------------------------------
// The report

constexpr std::string_view kUpdated = "Updated firmware successfully.";
constexpr std::string_view kReboot =
    "Downloaded firmware successfully, but firmware activation requires reboot.";
constexpr std::string_view kUnable = "Unable to update firmware.";
constexpr std::string_view kLatest = "Already have the latest firmware.";

struct Block {
    std::string serial;
    std::string result;
};

struct ParsedReport {
    bool noDisk = false;
    std::vector<Block> blocks;
    std::optional<std::string> finalLine;
};

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The report is the program's last output, from its last "Start Time : " line on. Texts
// from the drives are single lines (the harness takes line ends out of them), so a
// header, serial or result line is always one of the report's own.
std::optional<ParsedReport> ParseReport(const std::string& output) {
    const std::vector<std::string> lines = Lines(output);
    std::size_t start = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (StartsWith(lines[i], "Start Time : ")) {
            start = i;
        }
    }
    if (start == lines.size()) {
        return std::nullopt;
    }
    ParsedReport report;
    for (std::size_t i = start + 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line == "[Disk #" + std::to_string(report.blocks.size() + 1) + "]") {
            report.blocks.emplace_back();
        } else if (line == "[No Disk]") {
            report.noDisk = true;
        } else if (line == "[Final Result]") {
            if (i + 1 < lines.size()) {
                report.finalLine = lines[i + 1];
            }
            break;
        } else if (!report.blocks.empty()) {
            Block& block = report.blocks.back();
            if (StartsWith(line, "Serial Number : ") && block.serial.empty()) {
                block.serial = line.substr(16);
            } else if (StartsWith(line, "Result Details : ") && block.result.empty()) {
                block.result = line.substr(17);
            }
        }
    }
    return report;
}

std::string FinalLineFor(std::int32_t exitCode) {
    switch (exitCode) {
        case 0:
            return "Result Details : " + std::string(kUpdated);
        case 1602:
            return "Result Details : " + std::string(kReboot);
        case 4000:
            return std::string(kLatest);
        default:
            return "Result Details : " + std::string(kUnable);
    }
}

}  // namespace

void Run::CheckAfter(std::int32_t exitCode, const std::string& output, std::size_t openHandles,
                     const sim::Machine& machine, Outcome& outcome) {
    CheckMachineAfter(openHandles, machine);
    const std::optional<ParsedReport> report = ParseReport(output);
    if (!report || !report->finalLine) {
        Report(findings_, "report", "no report with a final line in the output");
        return;
    }
    outcome.reportBlocks = report->blocks.size();
    CheckFinalLine(*report, exitCode);
    CheckVerdict(*report, exitCode);
    CheckUpdateClaims(*report, outcome);
    CheckRaidReplies(exitCode);
}

void Run::CheckMachineAfter(std::size_t openHandles, const sim::Machine& machine) {
    if (openHandles != 0) {
        Report(findings_, "handles-left-open",
               std::to_string(openHandles) + " handles or device sets left open");
    }
    if (alterations_ == 0) {
        std::vector<std::string> errors = machine.protocolErrors;
        for (const sim::Drive& drive : machine.drives) {
            errors.insert(errors.end(), drive.protocolErrors.begin(), drive.protocolErrors.end());
        }
        if (!errors.empty()) {
            Report(findings_, "protocol-error", errors.front());
        }
    }
}

void Run::CheckFinalLine(const ParsedReport& report, std::int32_t exitCode) {
    if (*report.finalLine != FinalLineFor(exitCode) ||
        (exitCode != 0 && exitCode != 1 && exitCode != 1602 && exitCode != 4000)) {
        Report(findings_, "final-line",
               "exit code " + std::to_string(exitCode) + " but final line \"" + *report.finalLine +
                   "\"");
    }
}

// The verdict the blocks call for.
void Run::CheckVerdict(const ParsedReport& report, std::int32_t exitCode) {
    bool unable = report.blocks.empty();
    bool reboot = false;
    bool allLatest = true;
    for (const Block& block : report.blocks) {
        if (block.result != kUpdated && block.result != kReboot && block.result != kUnable &&
            block.result != kLatest) {
            Report(findings_, "report", "a block with the result \"" + block.result + "\"");
        }
        unable = unable || block.result == kUnable;
        reboot = reboot || block.result == kReboot;
        allLatest = allLatest && block.result == kLatest;
    }
    const std::int32_t verdict = unable ? 1 : reboot ? 1602 : allLatest ? 4000 : 0;
    if (verdict != exitCode) {
        Report(findings_, "verdict",
               "the blocks call for exit code " + std::to_string(verdict) + ", the run gave " +
                   std::to_string(exitCode));
    }
}

// Each claim of an update against what the drives were sent and answered.
void Run::CheckUpdateClaims(const ParsedReport& report, Outcome& outcome) {
    std::map<std::size_t, std::size_t> completedOfDrive;
    std::size_t completedAll = 0;
    for (const auto& [target, count] : completed_) {
        completedAll += count;
        outcome.acceptedUpdates += count;
        const auto drive = targetDrive_.find(target);
        if (drive != targetDrive_.end() && drive->second) {
            completedOfDrive[*drive->second] += count;
        }
    }
    std::map<std::size_t, std::size_t> blocksOfDrive;
    std::size_t claims = 0;
    for (std::size_t b = 0; b < report.blocks.size(); ++b) {
        const Block& block = report.blocks[b];
        std::optional<std::size_t> drive;
        for (std::size_t i = 0; i < driveCount_; ++i) {
            if (block.serial == Tag(i) && tagsDelivered_.count(i) != 0) {
                drive = i;
            }
        }
        if (drive && ++blocksOfDrive[*drive] == 2) {
            Report(findings_, "reported-twice",
                   "drive " + std::to_string(*drive) + " has a second report block, #" +
                       std::to_string(b + 1));
        }
        if (block.result != kUpdated && block.result != kReboot) {
            continue;
        }
        ++claims;
        if (drive && completedOfDrive[*drive] == 0) {
            Report(findings_, "unaccepted-update-reported",
                   "block #" + std::to_string(b + 1) + " says \"" + block.result + "\" for drive " +
                       std::to_string(*drive) +
                       ", which never had the whole image and an activation accepted");
        }
    }
    if (claims > completedAll) {
        Report(findings_, "unaccepted-update-reported",
               std::to_string(claims) + " blocks say updated, but only " +
                   std::to_string(completedAll) + " updates were accepted");
    }
}

void Run::CheckRaidReplies(std::int32_t exitCode) {
    for (const auto& [key, reply] : raidReplies_) {
        const bool complete = csmi::IsMemberCount(static_cast<std::uint8_t>(reply.announced)) &&
                              reply.announced <= reply.held;
        if (!complete && exitCode != 1) {
            Report(findings_, "raid-members-skipped",
                   "RAID set " + std::to_string(key.second) + " of controller " +
                       std::to_string(key.first) + ": the last reply announced " +
                       std::to_string(reply.announced) + " members and held " +
                       std::to_string(reply.held) + ", yet the run gave exit code " +
                       std::to_string(exitCode));
        }
    }
}

Outcome RunProgramInput(const ProgramInput& input) {
    Outcome outcome;
    LoadFirmwarePackage();
    Run run(input, outcome.findings);
    std::optional<sim::Machine> built = run.Build();
    if (!built) {
        return outcome;
    }
    sim::Machine& machine = *built;

    std::wstring programName = L"fwupdate.exe";
    wchar_t* argv[] = {programName.data(), nullptr};
    std::string output;
    std::int32_t exitCode = 0;
    std::size_t openHandles = 0;
    {
        sim::MachineInstall install(machine);
        console::CaptureInto(&output);
        exitCode = ToolMain(1, argv);
        console::CaptureInto(nullptr);
        openHandles = sim::OpenHandleCount();
    }
    outcome.exitCode = exitCode;
    outcome.output = output;
    run.CheckAfter(exitCode, output, openHandles, machine, outcome);
    return outcome;
}

void WithProgramMachine(const ProgramInput& input, const std::function<void(sim::Machine&)>& use) {
    Findings findings;
    LoadFirmwarePackage();
    Run run(input, findings);
    if (std::optional<sim::Machine> machine = run.Build()) {
        use(*machine);
    }
}

Findings CheckProgramBytes(std::span<const std::uint8_t> data) {
    return RunProgramInput(DecodeProgramInput(data)).findings;
}

}  // namespace fuzzprogram
