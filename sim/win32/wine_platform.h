// Wine 8 as the platform under the program: where its device setup shows a machine
// differently from Windows, as rules both worlds share. The runner's --platform wine
// applies them to the simulated binding; the Wine host (winehost/) creates its
// devices by them. Because both take the names from here, the two worlds agree byte
// for byte.
//
// The differences, each measured against Wine 8.0 (winehost/NOTES.md):
//
// - SetupAPI derives every interface path from the device's instance ID:
//   "\\?\" + the ID with '\' as '#', lower-cased, + "#" + the class GUID in braces.
//   It writes that path back into the registry on every enumeration, so a driver
//   cannot give an interface any other path.
// - An interface set lists its devices in the order of those paths (the registry
//   keeps the interface keys sorted), not in the order the devices were created.
// - SP_DEVINFO_DATA.DevInst is a slot in a table of the process, taken by each
//   element of each set and given back when the set is destroyed, so one device has a
//   different DevInst in every set open at the same time.
// - A driver cannot refuse an open: Wine's server hands out the handle and sends the
//   driver IRP_MJ_CREATE without waiting for its answer. The Wine host's devices
//   therefore take every open and refuse each request on a file whose open they would
//   have refused, with the error the open would have got.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/models/machine.h"

namespace sim {

// How a machine's device is created under Wine.
struct WineDeviceName {
    // The device-instance ID Wine's PnP manager is given: the device ID, '\', and
    // the instance part (the last component).
    std::wstring instanceId;
    // The path SetupAPI reports for the device's interface; unset for a device
    // without one, or whose interface is registered but not enabled.
    std::optional<std::wstring> interfacePath;
};

// Device IDs longer than this do not fit the buffers Wine's PnP manager keeps them in
// (MAX_DEVICE_ID_LEN, 200 characters with the terminator).
inline constexpr std::size_t kWineMaxInstanceIdLength = 199;

// The names of every device of the machine, index for index.
//
// A device keeps the name its scenario gives it where Wine allows: the instance ID
// behind its interface path, else its DEVPKEY_Device_InstanceId. Wine orders each
// interface set by path; when the scenario's order of an interface class is not
// that order (or a name is unusable or taken twice), every device of the class gets
// its place in the machine as a leading component ("0004\SCSI\DISK&..."), which
// makes the paths sort as the scenario lists them and leaves the rest readable.
std::vector<WineDeviceName> WineDeviceNames(const Machine& machine);

// The interface path Wine gives the interface of class `interfaceClass` of a device
// created as `instanceId`.
std::wstring WineInterfacePath(std::wstring_view instanceId, const GUID& interfaceClass);

// Gives every interface the path WineDeviceNames gives it.
void UseWineInterfacePaths(Machine& machine);

// Makes the simulated binding show the machine as Wine does: interface paths as
// WineDeviceNames gives them, a DevInst per set element (Machine::platform), and
// opens that succeed where the device would refuse them, its requests refused instead
// (through Disk::io and Controller::io).
void UseWinePlatform(Machine& machine);

}  // namespace sim
