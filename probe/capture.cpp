#include "probe/capture.h"

#include <algorithm>
#include <set>

#include "drivers/csmi_raid_config.h"
#include "drivers/firmware_request.h"
#include "drivers/miniport_firmware.h"
#include "drivers/nvme_identify.h"
#include "drivers/rst_address.h"
#include "drivers/rst_firmware.h"
#include "drivers/rst_nvme_pass_through.h"
#include "drivers/srb_io_control.h"
#include "drivers/storage_requests.h"
#include "probe/json_writer.h"

namespace probe {

// ---- Recorder

Recorder::~Recorder() {
    Stop();
}

void Recorder::Start() {
    watch::Install(this);
    installed_ = true;
}

void Recorder::Stop() {
    if (installed_) {
        watch::Install(nullptr);
        installed_ = false;
    }
}

void Recorder::Opened(HANDLE handle, std::wstring_view path, DWORD shareMode, DWORD flags,
                      DWORD error) {
    OpenSeen open{std::wstring(path), shareMode, flags, handle != INVALID_HANDLE_VALUE, error};
    if (open.ok) {
        handlePaths_[handle] = open.path;
    }
    // Discovery opens the storage port it takes for the controller this way, and only it.
    if (flags == (FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL) && !controllerOpen) {
        controllerOpen = open;
        controllerDevice = lastDescribed_;
    }
    opens.push_back(std::move(open));
}

void Recorder::Controlled(HANDLE device, DWORD code, std::span<const std::uint8_t> request,
                          bool completed, DWORD error, DWORD bytesReturned,
                          std::span<const std::uint8_t> output) {
    ControlSeen seen;
    const auto found = handlePaths_.find(device);
    if (found != handlePaths_.end()) {
        seen.path = found->second;
    }
    seen.code = code;
    seen.request.assign(request.begin(), request.end());
    seen.completed = completed;
    seen.error = error;
    seen.returned = bytesReturned;
    seen.output.assign(output.begin(), output.end());
    controls.push_back(std::move(seen));
}

void Recorder::Element(const GUID& classGuid, DWORD flags, DWORD index,
                       const SP_DEVINFO_DATA* element) {
    // The disk interface set both drive walks take; its elements are the scenario's disks.
    if (element == nullptr || !win::SameGuid(classGuid, win::GUID_DEVINTERFACE_DISK) ||
        flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {
        return;
    }
    if (index >= diskElements.size()) {
        diskElements.resize(index + 1, 0);
    }
    diskElements[index] = element->DevInst;
}

void Recorder::PropertyRead(DEVINST devInst, watch::Property property,
                            const std::optional<std::wstring>& value) {
    DeviceSeen& device = devices[devInst];
    switch (property) {
        case watch::Property::Parent:
            device.parent = value;
            break;
        case watch::Property::InstanceId:
            device.instanceId = value;
            break;
        case watch::Property::LocationInfo:
            device.locationInfo = value;
            break;
        case watch::Property::DriverDescription:
            device.driverDescription = value;
            lastDescribed_ = devInst;
            break;
        case watch::Property::Other:
            break;
    }
}

void Recorder::HardwareIdsRead(DEVINST devInst,
                               const std::optional<std::vector<std::wstring>>& ids) {
    devices[devInst].hardwareIds = ids;
}

void Recorder::InterfacePathRead(DEVINST devInst, const GUID& interfaceClass,
                                 const std::optional<std::wstring>& path) {
    if (win::SameGuid(interfaceClass, win::GUID_DEVINTERFACE_DISK)) {
        devices[devInst].diskInterfacePath = path;
    }
}

// ---- The scenario

namespace {

constexpr wchar_t kPhysicalDrivePrefix[] = L"\\\\.\\PHYSICALDRIVE";
// Bytes that match between two differences no further apart than this are patched
// over with them, so that a reply reads as a few runs rather than many.
constexpr std::size_t kPatchJoin = 8;
// Own device numbers for disks whose reply names a number they cannot hold.
constexpr DWORD kFreeDeviceNumbers = 1000;
// The largest device number a scenario gives a disk.
constexpr DWORD kMaxDeviceNumber = 999999999;
// How the simulated drivers fail a request a scenario says fails, unless it names the
// error: the device-number request with ERROR_INVALID_FUNCTION, the others with
// ERROR_GEN_FAILURE.
constexpr DWORD kForcedFailure = ERROR_GEN_FAILURE;
constexpr DWORD kForcedDeviceNumberFailure = 1;

bool Has(const std::optional<std::optional<std::wstring>>& text, const wchar_t* token) {
    return text && *text && (*text)->find(token) != std::wstring::npos;
}

std::string HexOf(std::span<const std::uint8_t> bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += kHex[b >> 4];
        text += kHex[b & 0xF];
    }
    return text;
}

// A reply as a forced answer makes it: the request as sent with `status` in its
// ReturnCode when it carries one.
Bytes AnsweredAs(const ControlSeen& seen, std::optional<std::uint32_t> status) {
    Bytes base(seen.output.size(), 0);
    std::copy_n(seen.request.begin(), std::min(seen.request.size(), base.size()), base.begin());
    if (status) {
        static_cast<void>(srb::SetReturnCode(base, *status));
    }
    return base;
}

// The bytes the driver returned.
std::span<const std::uint8_t> Returned(const ControlSeen& seen) {
    return std::span<const std::uint8_t>(seen.output)
        .first(std::min<std::size_t>(seen.returned, seen.output.size()));
}

// "patch": the runs where the returned bytes differ from `base`; `always` bytes from the
// start are written whatever they hold.
void WritePatch(JsonWriter& json, std::span<const std::uint8_t> returned,
                std::span<const std::uint8_t> base, std::size_t always) {
    std::vector<std::pair<std::size_t, std::size_t>> runs;  // [first, end)
    for (std::size_t i = 0; i < returned.size(); ++i) {
        const bool differs = i < always || i >= base.size() || returned[i] != base[i];
        if (!differs) {
            continue;
        }
        if (!runs.empty() && i - runs.back().second <= kPatchJoin) {
            runs.back().second = i + 1;
        } else {
            runs.emplace_back(i, i + 1);
        }
    }
    if (runs.empty()) {
        return;
    }
    json.Key("patch").BeginObject();
    for (const auto& [first, end] : runs) {
        json.Key(std::to_string(first)).Latin1(HexOf(returned.subspan(first, end - first)));
    }
    json.EndObject();
}

// A failed request: "fail" where the simulated driver's own failure has the error the
// driver gave (`usual`), the error itself otherwise.
void WriteFailure(JsonWriter& json, const ControlSeen& seen, DWORD usual) {
    if (seen.error == usual) {
        json.Latin1("fail");
    } else {
        json.BeginObject().Key("error").Number(seen.error).EndObject();
    }
}

// A request fault that replays the reply `seen` got: a failed call fails; a completed
// one is forced to its status, patched to its bytes and cut to its count.
// `forcedCount` is what the forced answer itself returns; `always` bytes are patched
// whatever the forced answer writes there.
void WriteReplay(JsonWriter& json, const ControlSeen& seen, bool hasStatus, std::size_t forcedCount,
                 std::size_t always) {
    if (!seen.completed) {
        WriteFailure(json, seen, kForcedFailure);
        return;
    }
    const std::span<const std::uint8_t> returned = Returned(seen);
    std::uint32_t status = 0;
    if (hasStatus) {
        status = srb::ReturnCode(returned).value_or(0);
    }
    json.BeginObject().Key("returnCode").Number(status);
    const Bytes base =
        AnsweredAs(seen, hasStatus ? std::optional<std::uint32_t>(status) : std::nullopt);
    WritePatch(json, returned, base, always);
    if (seen.returned != forcedCount) {
        json.Key("returned").Number(seen.returned);
    }
    json.EndObject();
}

bool IsSignature(const ControlSeen& seen, std::string_view signature) {
    const auto header = srb::ReadSrbIoControl(seen.request);
    return seen.code == IOCTL_SCSI_MINIPORT && header && srb::HasSignature(*header, signature);
}

std::optional<std::uint32_t> RstFunction(const ControlSeen& seen) {
    const auto block = rst_fw::ReadRequestBlock(seen.request);
    return block ? std::optional<std::uint32_t>(block->Function) : std::nullopt;
}

// The RST path number a request is addressed to; 0 for a request too short to name one.
std::uint8_t RstPathNumber(const ControlSeen& seen) {
    const auto address = rst_address::ReadAddress(seen.request);
    return address ? address->PathNumber : 0;
}

// The Identify fields of a reply's data, when the reply returned them all.
void WriteIdentifyKeys(JsonWriter& json, const ControlSeen& seen, std::size_t dataOffset) {
    const std::span<const std::uint8_t> returned = Returned(seen);
    if (!seen.completed || returned.size() < dataOffset + nvme::kIdentifyBytesRead) {
        return;
    }
    const std::span<const std::uint8_t> data = returned.subspan(dataOffset);
    auto text = [&](nvme::IdentifyField field) {
        const auto bytes = nvme::FieldBytes(data, field);
        return std::string(bytes.begin(), bytes.end());
    };
    json.Key("sn").Latin1(text(nvme::kSerialNumber));
    json.Key("mn").Latin1(text(nvme::kModelNumber));
    json.Key("fr").Latin1(text(nvme::kFirmwareRevision));
    // Inside what was returned: checked above.
    const nvme::IdentifyControllerHead head =
        *layout::ReadAs<nvme::IdentifyControllerHead>(data, 0);
    const std::string version = std::to_string(head.VER >> 16) + "." +
                                std::to_string((head.VER >> 8) & 0xFF) + "." +
                                std::to_string(head.VER & 0xFF);
    json.Key("version").Latin1(version);
    json.Key("fwug").Number(head.FWUG);
}

// The slot table a drive reported, as the drive's keys.
void WriteSlotKeys(JsonWriter& json, const fwreq::FirmwareInfo& info) {
    json.Key("upgradeSupport").Bool(info.upgradeSupport);
    json.Key("slots").BeginArray();
    bool listsActive = false;
    for (const fwreq::FirmwareSlot& slot : info.slots) {
        json.BeginObject().Key("number").Number(slot.number);
        if (slot.readOnly) {
            json.Key("readOnly").Bool(true);
        }
        json.EndObject();
        listsActive = listsActive || slot.number == info.activeSlot;
    }
    json.EndArray();
    if (listsActive) {
        json.Key("activeSlot").Number(info.activeSlot);
    }
}

// What the run asked one drive, and what came back.
struct DriveSeen {
    const ControlSeen* identify = nullptr;
    const ControlSeen* info = nullptr;        // the updater's information request
    const ControlSeen* publicInfo = nullptr;  // the public form
    std::optional<DWORD> openError;           // the drive's own path refused an open
};

void WriteDrive(JsonWriter& json, const DriveSeen& drive, bool inbox) {
    json.BeginObject();
    const std::size_t dataOffset = inbox ? storage::kIdentifyDataOffset : rst_nvme::kDataAreaOffset;
    if (drive.identify != nullptr) {
        WriteIdentifyKeys(json, *drive.identify, dataOffset);
    }
    std::optional<fwreq::FirmwareInfo> table;
    for (const ControlSeen* info : {drive.info, drive.publicInfo}) {
        if (table || info == nullptr || !info->completed) {
            continue;
        }
        const std::span<const std::uint8_t> returned = Returned(*info);
        if (srb::ReturnCode(returned) != fwreq::kStatusSuccess) {
            continue;
        }
        table = !inbox               ? rst_fw::ParseFirmwareInfo(returned)
                : info == drive.info ? inbox_fw::ParseFirmwareInfo(returned)
                                     : inbox_fw::ParsePublicFirmwareInfo(returned);
    }
    if (table) {
        WriteSlotKeys(json, *table);
    }
    if (drive.info != nullptr && drive.info->completed && drive.publicInfo != nullptr &&
        drive.publicInfo->completed &&
        srb::ReturnCode(Returned(*drive.info)) == fwreq::kStatusInvalidParameter &&
        srb::ReturnCode(Returned(*drive.publicInfo)) == fwreq::kStatusSuccess) {
        json.Key("firmwareRequests").Latin1("public-form-only");
    }
    json.Key("faults").BeginObject();
    if (drive.openError) {
        json.Key("open").Latin1("deny");
    }
    if (drive.identify != nullptr) {
        json.Key("identify");
        if (inbox) {
            // A forced answer returns the descriptor alone, which it writes itself.
            WriteReplay(json, *drive.identify, false, storage::kIdentifyDataOffset,
                        storage::kIdentifyDataOffset);
        } else {
            WriteReplay(json, *drive.identify, true, drive.identify->request.size(), 0);
        }
    }
    // The updater's own request is the one replayed; without it, the preflight's.
    const ControlSeen* info = drive.info != nullptr ? drive.info : drive.publicInfo;
    if (info != nullptr) {
        json.Key("firmwareInfo");
        WriteReplay(json, *info, true, info->request.size(), 0);
    }
    json.EndObject();
    json.EndObject();
}

std::optional<DWORD> PhysicalDriveNumber(std::wstring_view path) {
    const std::wstring_view prefix = kPhysicalDrivePrefix;
    if (path.substr(0, prefix.size()) != prefix || path.size() == prefix.size()) {
        return std::nullopt;
    }
    DWORD number = 0;
    for (wchar_t c : path.substr(prefix.size())) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<DWORD>(c - L'0');
    }
    return number;
}

class ScenarioBuilder {
  public:
    ScenarioBuilder(const Recorder& recorder, const std::vector<RaidVolumeSeen>& raidVolumes)
        : seen_(recorder), raidVolumes_(raidVolumes) {}

    std::string Build() {
        SortControls();
        json_.BeginObject();
        if (seen_.controllerOpen) {
            json_.Key("controllers").BeginArray();
            Controller();
            json_.EndArray();
        }
        json_.Key("disks").BeginArray();
        AssignDeviceNumbers();
        for (std::size_t i = 0; i < seen_.diskElements.size(); ++i) {
            Disk(seen_.diskElements[i]);
        }
        json_.EndArray();
        json_.EndObject();
        return json_.Text();
    }

  private:
    // Sorts what the run sent by where it went.
    void SortControls() {
        for (const ControlSeen& c : seen_.controls) {
            if (seen_.controllerOpen && c.path == seen_.controllerOpen->path) {
                if (IsSignature(c, csmi::kRequest.signature)) {
                    csmiQueries_.push_back(&c);
                } else if (IsSignature(c, rst_nvme::kRequest.signature)) {
                    rstDrives_[RstPathNumber(c)].identify = &c;
                } else if (IsSignature(c, rst_fw::kRequest.signature) &&
                           RstFunction(c) == fwreq::kFunctionGetInfo) {
                    rstDrives_[RstPathNumber(c)].publicInfo = &c;
                }
                continue;
            }
            if (const auto number = PhysicalDriveNumber(c.path)) {
                DriveSeen& drive = inboxDrives_[*number];
                if (c.code == IOCTL_STORAGE_QUERY_PROPERTY) {
                    drive.identify = &c;
                } else if (IsSignature(c, inbox_fw::kRequest.signature)) {
                    const auto block = inbox_fw::ReadRequestBlock(c.request);
                    const bool publicForm =
                        block && block->DataBufferOffset == inbox_fw::kPublicDataAreaOffset;
                    (publicForm ? drive.publicInfo : drive.info) = &c;
                }
                continue;
            }
            if (c.code == IOCTL_STORAGE_GET_DEVICE_NUMBER) {
                deviceNumberReplies_[c.path] = &c;
            }
        }
        for (const OpenSeen& open : seen_.opens) {
            if (open.ok) {
                continue;
            }
            if (const auto number = PhysicalDriveNumber(open.path)) {
                physicalOpenErrors_[*number] = open.error;
                inboxDrives_[*number];
            } else {
                refusedPaths_.insert(open.path);
            }
        }
    }

    const DeviceSeen* Device(DEVINST devInst) const {
        const auto found = seen_.devices.find(devInst);
        return found == seen_.devices.end() ? nullptr : &found->second;
    }

    void Controller() {
        const OpenSeen& open = *seen_.controllerOpen;
        const DeviceSeen* device =
            seen_.controllerDevice ? Device(*seen_.controllerDevice) : nullptr;
        json_.BeginObject().Key("id").Latin1("rst0").Key("path").String(open.path);
        if (device != nullptr && device->driverDescription) {
            OptionalText("driverDescription", *device->driverDescription);
        }
        if (device != nullptr && device->instanceId) {
            OptionalText("instanceId", *device->instanceId);
        }
        if (!open.ok) {
            json_.Key("openable").Bool(false);
        }
        json_.Key("raidSets").BeginArray();
        for (const std::vector<std::int64_t>& members : RaidSets()) {
            json_.Numbers(members);
        }
        json_.EndArray();
        json_.Key("drives").BeginObject();
        for (const auto& [path, drive] : rstDrives_) {
            json_.Key(std::to_string(path));
            WriteDrive(json_, drive, false);
        }
        json_.EndObject();
        if (!csmiQueries_.empty()) {
            json_.Key("faults").BeginObject().Key("raidConfig").BeginArray();
            for (std::size_t q = 0; q < csmiQueries_.size(); ++q) {
                const ControlSeen& query = *csmiQueries_[q];
                json_.BeginObject().Key("query").Number(static_cast<std::int64_t>(q));
                if (!query.completed) {
                    json_.Key("error").Number(query.error);
                } else {
                    const std::span<const std::uint8_t> returned = Returned(query);
                    const std::uint32_t status = srb::ReturnCode(returned).value_or(0);
                    json_.Key("returnCode").Number(status);
                    WritePatch(json_, returned, AnsweredAs(query, status), 0);
                    if (query.returned != query.request.size()) {
                        json_.Key("returned").Number(query.returned);
                    }
                }
                json_.EndObject();
            }
            json_.EndArray().EndObject();
        }
        json_.EndObject();
    }

    // One set per RAID volume, in volume order, so that volume k asks for set k. The
    // controller's replies are replayed as they came, so a set only has to name drives
    // for the members the run identified: a member listed twice is named once, and a
    // set the controller did not list gets a path nothing else uses.
    std::vector<std::vector<std::int64_t>> RaidSets() const {
        std::set<std::uint8_t> used;
        for (const RaidVolumeSeen& volume : raidVolumes_) {
            used.insert(volume.result.members.begin(), volume.result.members.end());
        }
        for (const auto& [path, drive] : rstDrives_) {
            used.insert(path);
        }
        std::set<std::uint8_t> named;
        std::vector<std::vector<std::int64_t>> sets;
        for (const RaidVolumeSeen& volume : raidVolumes_) {
            std::vector<std::int64_t>& members = sets.emplace_back();
            for (const std::uint8_t member : volume.result.members) {
                if (named.insert(member).second) {
                    members.push_back(member);
                }
            }
            if (members.empty()) {
                std::uint8_t free = 0;
                while (used.count(free) != 0 && free < 255) {
                    ++free;
                }
                used.insert(free);
                named.insert(free);
                members.push_back(free);
            }
        }
        return sets;
    }

    void OptionalText(std::string_view key, const std::optional<std::wstring>& value) {
        json_.Key(key);
        if (value) {
            json_.String(*value);
        } else {
            json_.Null();
        }
    }

    // The number each disk reports, and the one it holds: the first disk that names a
    // number whose physical drive exists (or refused its open) holds it; every other
    // disk holds a number no path of the run named, and its reply is patched to the
    // number it gave.
    void AssignDeviceNumbers() {
        std::set<DWORD> named;
        for (const auto& [path, reply] : deviceNumberReplies_) {
            if (const auto number = storage::ReadDeviceNumber(Returned(*reply))) {
                named.insert(number->DeviceNumber);
            }
        }
        std::set<DWORD> held;
        DWORD next = kFreeDeviceNumbers;
        for (const DEVINST devInst : seen_.diskElements) {
            const DeviceSeen* device = Device(devInst);
            if (device == nullptr || !device->diskInterfacePath || !*device->diskInterfacePath) {
                continue;
            }
            const auto reply = deviceNumberReplies_.find(**device->diskInterfacePath);
            if (reply == deviceNumberReplies_.end() || !reply->second->completed) {
                continue;
            }
            const auto number = storage::ReadDeviceNumber(Returned(*reply->second));
            const auto error =
                number ? physicalOpenErrors_.find(number->DeviceNumber) : physicalOpenErrors_.end();
            const bool exists =
                number && number->DeviceNumber <= kMaxDeviceNumber &&
                (error == physicalOpenErrors_.end() || error->second != ERROR_FILE_NOT_FOUND);
            if (exists && held.insert(number->DeviceNumber).second) {
                ownNumber_[devInst] = number->DeviceNumber;
                continue;
            }
            while (named.count(next) != 0 || held.count(next) != 0) {
                ++next;
            }
            held.insert(next);
            ownNumber_[devInst] = next;
        }
    }

    void Disk(DEVINST devInst) {
        static const DeviceSeen kUnread;
        const DeviceSeen* found = Device(devInst);
        const DeviceSeen& device = found != nullptr ? *found : kUnread;
        json_.BeginObject().Key("attach");
        const bool intelParent = Has(device.parent, L"VEN_8086");
        const bool raidVolume = seen_.controllerOpen && seen_.controllerOpen->ok && intelParent &&
                                Has(device.instanceId, L"VEN_INTEL") &&
                                Has(device.instanceId, L"PROD_RAID");
        const bool inbox = Has(device.parent, L"VEN_7C1E");
        if (raidVolume) {
            json_.Latin1("raid-volume").Key("controller").Latin1("rst0");
        } else {
            json_.Latin1(inbox ? "inbox" : "other");
        }
        if (device.parent) {
            OptionalText("parent", *device.parent);
        }
        if (device.instanceId) {
            OptionalText("instanceId", *device.instanceId);
        }
        if (device.hardwareIds) {
            json_.Key("hardwareIds");
            if (*device.hardwareIds) {
                json_.BeginArray();
                for (const std::wstring& id : **device.hardwareIds) {
                    json_.String(id);
                }
                json_.EndArray();
            } else {
                json_.Null();
            }
        }
        if (device.locationInfo) {
            OptionalText("locationInfo", *device.locationInfo);
        }
        if (device.diskInterfacePath) {
            OptionalText("interfacePath", *device.diskInterfacePath);
            if (*device.diskInterfacePath && refusedPaths_.count(**device.diskInterfacePath) != 0) {
                json_.Key("openable").Bool(false);
            }
        }
        const auto own = ownNumber_.find(devInst);
        if (own != ownNumber_.end()) {
            json_.Key("deviceNumber").Number(own->second);
        }
        DeviceNumberFault(device);
        if (inbox && own != ownNumber_.end()) {
            const auto drive = inboxDrives_.find(own->second);
            if (drive != inboxDrives_.end()) {
                DriveSeen seen = drive->second;
                const auto error = physicalOpenErrors_.find(own->second);
                if (error != physicalOpenErrors_.end()) {
                    seen.openError = error->second;
                }
                json_.Key("drive");
                WriteDrive(json_, seen, true);
            }
        }
        json_.EndObject();
    }

    void DeviceNumberFault(const DeviceSeen& device) {
        if (!device.diskInterfacePath || !*device.diskInterfacePath) {
            return;
        }
        const auto reply = deviceNumberReplies_.find(**device.diskInterfacePath);
        if (reply == deviceNumberReplies_.end()) {
            return;
        }
        const ControlSeen& seen = *reply->second;
        json_.Key("faults").BeginObject().Key("deviceNumber");
        if (!seen.completed) {
            WriteFailure(json_, seen, kForcedDeviceNumberFailure);
        } else {
            // The whole reply as returned: the model's own record would name its own number.
            json_.BeginObject();
            WritePatch(json_, Returned(seen), {}, seen.output.size());
            if (seen.returned != sizeof(sdk::STORAGE_DEVICE_NUMBER)) {
                json_.Key("returned").Number(seen.returned);
            }
            json_.EndObject();
        }
        json_.EndObject();
    }

    const Recorder& seen_;
    const std::vector<RaidVolumeSeen>& raidVolumes_;
    JsonWriter json_;
    std::vector<const ControlSeen*> csmiQueries_;
    std::map<std::uint8_t, DriveSeen> rstDrives_;
    std::map<DWORD, DriveSeen> inboxDrives_;
    std::map<std::wstring, const ControlSeen*> deviceNumberReplies_;
    std::map<DWORD, DWORD> physicalOpenErrors_;
    std::set<std::wstring> refusedPaths_;
    std::map<DEVINST, DWORD> ownNumber_;
};

}  // namespace

std::string CaptureText(const Recorder& recorder, const std::vector<RaidVolumeSeen>& raidVolumes) {
    return ScenarioBuilder(recorder, raidVolumes).Build();
}

bool WriteCapture(const std::wstring& path, const std::string& text, DWORD& error) {
    const std::wstring temporary = path + L".partial";
    HANDLE file = win::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = win::GetLastError();
        return false;
    }
    DWORD written = 0;
    const bool whole =
        win::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size() && win::FlushFileBuffers(file);
    if (!whole) {
        error = win::GetLastError();
    }
    win::CloseHandle(file);
    if (whole && win::MoveFileExW(temporary.c_str(), path.c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    if (whole) {
        error = win::GetLastError();
    }
    win::DeleteFileW(temporary.c_str());
    return false;
}

}  // namespace probe
