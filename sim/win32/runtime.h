// The run-time side of the simulated machine: handle tables, device-information
// sets, last error and trace. Internal to sim/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win32.h"
#include "sim/models/machine.h"

namespace sim {

// An open file handle.
struct OpenFile {
    std::wstring path;  // as the program passed it
    DWORD access = 0;
    DWORD share = 0;
    DWORD disposition = 0;
    DWORD flags = 0;
    DeviceTarget target;
    // A file on the host's file system (a path that names no device), or nullptr.
    std::FILE* hostFile = nullptr;
};

// An open device-information set (an HDEVINFO): a snapshot of device elements, and of
// their interfaces when it was opened for an interface class.
struct OpenDeviceSet {
    std::vector<std::size_t> elements;  // indices into Machine::devices
    struct Member {
        std::size_t element = 0;  // position in `elements`
        std::size_t slot = 0;     // index into the device's interfaces
    };
    std::vector<Member> interfaces;
    // Under Platform::Wine, the DevInst of each element: Wine numbers the elements of
    // every set anew (sim/win32/wine_platform.h).
    std::vector<DEVINST> wineDevInsts;
};

struct Runtime {
    Machine* machine = nullptr;
    std::map<std::uintptr_t, OpenFile> files;
    std::map<std::uintptr_t, OpenDeviceSet> sets;
    std::uintptr_t nextHandle = 0x48;
    DWORD lastError = 0;
    std::vector<std::string> trace;
    std::wstring commandLineBuffer;
};

Runtime& State();

// Host files behind CreateFileW (host_files.cpp): the descriptor of a new file, or the
// Win32 error the open gives.
struct HostOpen {
    std::FILE* file = nullptr;
    DWORD error = ERROR_SUCCESS;
};
HostOpen CreateHostFile(const wchar_t* path, DWORD creationDisposition);
void CloseHostFile(OpenFile& file);
// The installed machine, or an empty one when none is.
Machine& CurrentMachine();
std::uintptr_t NewHandleValue();

// One trace record, written as one line of JSON with its keys in the order added.
class TraceRecord {
  public:
    explicit TraceRecord(std::string_view op);
    TraceRecord& Number(std::string_view key, std::int64_t value);
    TraceRecord& Text(std::string_view key, std::string_view utf8);
    TraceRecord& Wide(std::string_view key, std::wstring_view text);
    TraceRecord& WideOrNull(std::string_view key, const wchar_t* text);
    TraceRecord& Null(std::string_view key);
    TraceRecord& Flag(std::string_view key, bool value);
    TraceRecord& Hex(std::string_view key, std::span<const std::uint8_t> bytes);
    TraceRecord& Guid(std::string_view key, const GUID* guid);
    TraceRecord& TextList(std::string_view key, const std::vector<std::wstring>& texts);
    // Adds "ok" and "error" (the current last error) and appends the record to the trace.
    void Commit(bool ok);
    // How a BOOL call fails: `error` becomes the last error, the record is committed as
    // failed, and the call returns the FALSE this gives.
    BOOL Fail(DWORD error);

  private:
    void Key(std::string_view key);
    std::string line_;
};

// A HANDLE or HDEVINFO as the number the trace shows.
std::int64_t HandleNumber(const void* handle);

}  // namespace sim
