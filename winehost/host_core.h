// The Wine host's logic, free of Windows: which devices the bus driver creates for a
// machine, what of a scenario Wine cannot show as the runner does, and the run itself
// (opens, requests, their record and the state file). The host library
// (host_library.cpp) puts a C interface over it for the bus driver; the native tests
// test it directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"
#include "sim/models/machine.h"
#include "winehost/model_adapter.h"

namespace winehost {

// One device of the machine as the bus driver reports it to Wine's PnP manager.
struct BusChild {
    std::wstring deviceId;      // IRP_MN_QUERY_ID, BusQueryDeviceID
    std::wstring instancePart;  // BusQueryInstanceID
    // BusQueryHardwareIDs as REG_MULTI_SZ (each ID with its NUL, then one more NUL);
    // unset: the query fails and the device has no hardware IDs.
    std::optional<std::wstring> hardwareIds;
    // Stored with IoSetDevicePropertyData as DEVPROP_TYPE_STRING, each with its NUL.
    std::vector<sim::DeviceProperty> properties;
    // The device's interface: registered always, enabled only when it has a path.
    std::optional<GUID> interfaceClass;
    bool interfaceEnabled = false;
    sim::DeviceTarget target;
};

// A "\DosDevices\PhysicalDrive<number>" link to a disk.
struct DriveLink {
    DWORD number = 0;
    std::size_t disk = 0;  // into Machine::disks
};

inline constexpr DWORD kAccessUnknown = 0xFFFFFFFFu;  // FWHOST_ACCESS_UNKNOWN

struct BusLayout {
    std::vector<BusChild> children;  // Machine::devices, index for index
    std::vector<DriveLink> driveLinks;
};

// The devices of a machine as loaded, before sim::UseWinePlatform.
BusLayout LayOutBus(const sim::Machine& machine);

// The first thing the machine needs that the Wine host cannot give the program as
// the runner does, as one line naming it and its place; unset when there is none.
std::optional<std::string> UnreproducibleFeature(const sim::Machine& machine);

// One run of the host: the machine the bus driver shows, the files open on its
// devices, and the record of every request its devices received.
class HostRun {
  public:
    // Reads the scenario as the runner does and shows it as Wine does. On failure
    // `error` holds the loader's one line (or the unreproducible feature) and nothing
    // is loaded.
    bool Load(std::string_view scenario, std::string_view sourceName, bool recordRequests,
              std::string& error);
    bool Loaded() const { return loaded_; }
    const BusLayout& Layout() const { return layout_; }

    // An open through the interface of child `child`, or through drive link `link`.
    // `access` is kAccessUnknown when the driver was not told it; the record then
    // leaves it out. Returns the Win32 error the open gets; on success `file` names
    // the open file. An open the device refuses still succeeds, as every open does
    // under Wine, and each request on the file gets the refusal.
    DWORD OpenInterface(std::size_t child, DWORD access, DWORD share, std::uint32_t& file);
    DWORD OpenDriveLink(std::size_t link, DWORD access, DWORD share, std::uint32_t& file);
    void Close(std::uint32_t file);
    std::size_t OpenFileCount() const { return files_.size(); }

    // A control request on an open file.
    DeviceAnswer Io(std::uint32_t file, DWORD code, std::span<const std::uint8_t> in,
                    DWORD outSize);

    // The state file, as the runner writes it; openHandles counts the files still open
    // on the simulated devices.
    std::string StateJson(std::int32_t exitCode);
    // The request record: one JSON object per line, in the order the requests came.
    std::string RequestRecord() const;

  private:
    struct File {
        sim::DeviceTarget target;
        std::wstring path;
        DWORD refusal = ERROR_SUCCESS;  // what the device would have answered the open
    };

    DWORD Open(const sim::DeviceTarget& target, std::wstring path, bool physicalDrivePath,
               DWORD access, DWORD share, std::uint32_t& file);

    bool loaded_ = false;
    bool record_ = false;
    sim::Machine machine_;
    BusLayout layout_;
    std::map<std::uint32_t, File> files_;
    std::uint32_t nextFile_ = 1;
    std::vector<std::string> requests_;
};

}  // namespace winehost
