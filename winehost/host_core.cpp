#include "winehost/host_core.h"

#include <nlohmann/json.hpp>

#include "base/utf8.h"
#include "sim/models/text.h"
#include "sim/sim.h"
#include "sim/win32/wine_platform.h"

namespace winehost {
namespace {

using Json = nlohmann::ordered_json;

std::string PlaceOf(const sim::Device& device) {
    switch (device.target.kind) {
        case sim::DeviceTarget::Kind::Disk:
            return "disks[" + std::to_string(device.target.index) + "]";
        case sim::DeviceTarget::Kind::Controller:
            return "controllers[" + std::to_string(device.target.index) + "]";
        case sim::DeviceTarget::Kind::Unset:
            break;
    }
    return "a parent device";
}

std::string Utf8(std::wstring_view text) {
    return utf8::FromUtf16(text);
}

std::wstring PhysicalDrivePath(DWORD number) {
    // The spelling the program opens them by; the driver sees only which link it came
    // through.
    return L"\\\\.\\PHYSICALDRIVE" + utf8::FromLatin1(std::to_string(number));
}

}  // namespace

BusLayout LayOutBus(const sim::Machine& machine) {
    BusLayout layout;
    const std::vector<sim::WineDeviceName> names = sim::WineDeviceNames(machine);
    for (std::size_t i = 0; i < machine.devices.size(); ++i) {
        const sim::Device& device = machine.devices[i];
        BusChild child;
        const std::wstring& id = names[i].instanceId;
        const std::size_t split = id.rfind(L'\\');
        child.deviceId = id.substr(0, split);
        child.instancePart = id.substr(split + 1);
        if (device.hardwareIds) {
            std::wstring multi;
            for (const std::wstring& hardwareId : *device.hardwareIds) {
                multi += hardwareId;
                multi.push_back(L'\0');
            }
            multi.push_back(L'\0');
            child.hardwareIds = std::move(multi);
        }
        child.properties = device.properties;
        if (!device.interfaces.empty()) {
            child.interfaceClass = device.interfaces.front().classGuid;
            child.interfaceEnabled = device.interfaces.front().path.has_value();
        }
        child.target = device.target;
        layout.children.push_back(std::move(child));
    }
    for (std::size_t d = 0; d < machine.disks.size(); ++d) {
        if (machine.disks[d].deviceNumber) {
            layout.driveLinks.push_back({*machine.disks[d].deviceNumber, d});
        }
    }
    return layout;
}

std::optional<std::string> UnreproducibleFeature(const sim::Machine& machine) {
    if (machine.moduleHandleFails) {
        return std::string(
            "moduleHandleFails: under Wine the program always has its module "
            "handle");
    }
    for (const sim::Device& device : machine.devices) {
        if (!device.propertyFaults.empty()) {
            return PlaceOf(device) +
                   ".faults.properties: property reads are answered by Wine's own SetupAPI, "
                   "which no driver can make misreport a size";
        }
        if (device.interfaces.size() > 1) {
            return PlaceOf(device) + ": more than one interface on one device";
        }
        if (device.hardwareIds) {
            for (const std::wstring& id : *device.hardwareIds) {
                if (id.empty() || id.find(L'\0') != std::wstring::npos) {
                    return PlaceOf(device) +
                           ".hardwareIds: an empty ID or a NUL in one; Wine's PnP manager "
                           "stores the list only up to it";
                }
            }
        }
    }
    for (std::size_t d = 0; d < machine.disks.size(); ++d) {
        if (machine.disks[d].io) {
            return "disks[" + std::to_string(d) + "]: a device handler of a test's own";
        }
    }
    for (std::size_t c = 0; c < machine.controllers.size(); ++c) {
        if (machine.controllers[c].io) {
            return "controllers[" + std::to_string(c) + "]: a device handler of a test's own";
        }
    }
    return std::nullopt;
}

bool HostRun::Load(std::string_view scenario, std::string_view sourceName, bool recordRequests,
                   std::string& error) {
    sim::Machine machine;
    if (!sim::LoadScenarioText(scenario, sourceName, machine, error)) {
        return false;
    }
    if (const auto feature = UnreproducibleFeature(machine)) {
        error = std::string(sourceName) + ": " + *feature;
        return false;
    }
    BusLayout layout = LayOutBus(machine);
    // The paths the program will open are those Wine's SetupAPI gives it.
    sim::UseWineInterfacePaths(machine);
    machine_ = std::move(machine);
    layout_ = std::move(layout);
    record_ = recordRequests;
    loaded_ = true;
    return true;
}

DWORD HostRun::OpenInterface(std::size_t child, DWORD access, DWORD share, std::uint32_t& file) {
    if (child >= machine_.devices.size() || machine_.devices[child].interfaces.empty() ||
        !machine_.devices[child].interfaces.front().path) {
        return ERROR_FILE_NOT_FOUND;
    }
    const sim::Device& device = machine_.devices[child];
    return Open(device.target, *device.interfaces.front().path, false, access, share, file);
}

DWORD HostRun::OpenDriveLink(std::size_t link, DWORD access, DWORD share, std::uint32_t& file) {
    if (link >= layout_.driveLinks.size()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const DriveLink& drive = layout_.driveLinks[link];
    return Open({sim::DeviceTarget::Kind::Disk, drive.disk}, PhysicalDrivePath(drive.number), true,
                access, share, file);
}

DWORD HostRun::Open(const sim::DeviceTarget& target, std::wstring path, bool physicalDrivePath,
                    DWORD access, DWORD share, std::uint32_t& file) {
    // Wine lets the open succeed whatever the device answers, so the device takes it
    // and refuses the file's requests instead (sim/win32/wine_platform.h).
    const DWORD refusal = sim::OpenRefusal(machine_, target, physicalDrivePath);
    if (record_) {
        Json entry = Json::object();
        entry["op"] = "CreateFileW";
        entry["path"] = Utf8(path);
        if (access != kAccessUnknown) {
            entry["access"] = access;
        }
        entry["share"] = share;
        entry["ok"] = true;
        entry["error"] = ERROR_SUCCESS;
        requests_.push_back(entry.dump(-1, ' ', false, Json::error_handler_t::replace));
    }
    file = nextFile_++;
    files_[file] = File{target, std::move(path), refusal};
    return ERROR_SUCCESS;
}

void HostRun::Close(std::uint32_t file) {
    files_.erase(file);
}

DeviceAnswer HostRun::Io(std::uint32_t file, DWORD code, std::span<const std::uint8_t> in,
                         DWORD outSize) {
    const auto found = files_.find(file);
    if (found == files_.end()) {
        DeviceAnswer answer;
        answer.error = ERROR_INVALID_HANDLE;
        return answer;
    }
    DeviceAnswer answer;
    if (found->second.refusal != ERROR_SUCCESS) {
        answer.error = found->second.refusal;
        answer.callerView = CallerBefore(in, outSize);
    } else {
        answer = CallDevice(machine_, found->second.target, found->second.path, code, in, outSize);
    }
    if (record_) {
        const bool ok = answer.error == ERROR_SUCCESS;
        Json entry = Json::object();
        entry["op"] = "DeviceIoControl";
        entry["path"] = Utf8(found->second.path);
        entry["code"] = code;
        entry["inSize"] = in.size();
        entry["outSize"] = outSize;
        entry["in"] = sim::HexBytes(in);
        entry["out"] = sim::HexBytes(answer.callerView);
        entry["bytesReturned"] = answer.reported;
        entry["ok"] = ok;
        entry["error"] = answer.error;
        requests_.push_back(entry.dump(-1, ' ', false, Json::error_handler_t::replace));
    }
    return answer;
}

std::string HostRun::StateJson(std::int32_t exitCode) {
    std::string text;
    {
        sim::MachineInstall install(machine_);
        text = sim::StateJson(exitCode);
    }
    // The binding counted nothing here: the program's handles and sets live in Wine.
    // What the simulated devices can tell is which of their files are still open.
    Json state = Json::parse(text, nullptr, false);
    if (state.is_discarded() || !state.is_object()) {
        return text;
    }
    state["openHandles"] = files_.size();
    return state.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string HostRun::RequestRecord() const {
    std::size_t size = 0;
    for (const std::string& line : requests_) {
        size += line.size() + 1;
    }
    std::string out;
    out.reserve(size);
    for (const std::string& line : requests_) {
        out += line;
        out.push_back('\n');
    }
    return out;
}

}  // namespace winehost
