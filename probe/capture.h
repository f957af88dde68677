// The capture: this PC written down as a scenario of the simulated machine, from what
// the preflight's own run saw. Every reply the updater reads is reproduced byte for
// byte: the device-setup properties as values, and each driver reply as the answer
// its driver gave (a forced status with the returned bytes patched over it, and the
// count returned), so that the simulator replays it whatever the drive's model would
// have said. What no query shows (how the drive activates, its answers to downloads)
// is left at the simulator's defaults.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/disk_info.h"
#include "drivers/byte_layout.h"
#include "drivers/watch.h"

namespace probe {

struct OpenSeen {
    std::wstring path;
    DWORD share = 0;
    DWORD flags = 0;
    bool ok = false;
    DWORD error = ERROR_SUCCESS;
};

struct ControlSeen {
    std::wstring path;
    DWORD code = 0;
    Bytes request;  // as sent; empty for a request without input
    bool completed = false;
    DWORD error = ERROR_SUCCESS;
    DWORD returned = 0;
    Bytes output;  // the caller's buffer after the call
};

// A device's properties as discovery read them: unset when never read, an unset value
// when the read failed.
struct DeviceSeen {
    std::optional<std::optional<std::wstring>> parent;
    std::optional<std::optional<std::wstring>> instanceId;
    std::optional<std::optional<std::wstring>> locationInfo;
    std::optional<std::optional<std::wstring>> driverDescription;
    std::optional<std::optional<std::vector<std::wstring>>> hardwareIds;
    std::optional<std::optional<std::wstring>> diskInterfacePath;
};

// Watches a run while it is installed.
class Recorder : public watch::Watcher {
  public:
    Recorder() = default;
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void Start();
    void Stop();

    void Opened(HANDLE handle, std::wstring_view path, DWORD shareMode, DWORD flags,
                DWORD error) override;
    void Controlled(HANDLE device, DWORD code, std::span<const std::uint8_t> request,
                    bool completed, DWORD error, DWORD bytesReturned,
                    std::span<const std::uint8_t> output) override;
    void Element(const GUID& classGuid, DWORD flags, DWORD index,
                 const SP_DEVINFO_DATA* element) override;
    void PropertyRead(DEVINST devInst, watch::Property property,
                      const std::optional<std::wstring>& value) override;
    void HardwareIdsRead(DEVINST devInst,
                         const std::optional<std::vector<std::wstring>>& ids) override;
    void InterfacePathRead(DEVINST devInst, const GUID& interfaceClass,
                           const std::optional<std::wstring>& path) override;

    std::vector<OpenSeen> opens;
    std::vector<ControlSeen> controls;
    std::vector<DEVINST> diskElements;  // the disk interface set, in set order
    std::map<DEVINST, DeviceSeen> devices;
    // The storage port discovery took for the Intel RST controller, and its open.
    std::optional<DEVINST> controllerDevice;
    std::optional<OpenSeen> controllerOpen;

  private:
    bool installed_ = false;
    std::map<HANDLE, std::wstring> handlePaths_;
    std::optional<DEVINST> lastDescribed_;
};

// The scenario text of what `recorder` saw; `raidVolumes` gives the members of each
// RAID set.
std::string CaptureText(const Recorder& recorder, const std::vector<RaidVolumeSeen>& raidVolumes);

// Writes the scenario whole or not at all: a temporary file beside `path`, then a rename
// over it. False with the Win32 error when it could not be written; nothing is left
// behind then.
bool WriteCapture(const std::wstring& path, const std::string& text, DWORD& error);

}  // namespace probe
