// File handles on the machine's devices: CreateFileW resolves the device paths a
// Windows machine offers, DeviceIoControl hands requests to the device behind the
// handle (sim/models/io.h), CloseHandle releases.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"
#include "sim/models/io.h"
#include "sim/models/text.h"
#include "sim/win32/runtime.h"

#ifndef FILE_READ_DATA
#define FILE_READ_DATA 0x0001u
#endif
#ifndef FILE_WRITE_DATA
#define FILE_WRITE_DATA 0x0002u
#endif
#ifndef GENERIC_ALL
#define GENERIC_ALL 0x10000000u
#endif
#ifndef MAXIMUM_ALLOWED
#define MAXIMUM_ALLOWED 0x02000000u
#endif

namespace sim {
namespace {

// The name behind the "\\?\" or "\\.\" prefix; both reach the same object directory.
std::optional<std::wstring_view> DeviceName(std::wstring_view path) {
    if (path.size() > 4 && path[0] == L'\\' && path[1] == L'\\' &&
        (path[2] == L'?' || path[2] == L'.') && path[3] == L'\\') {
        return path.substr(4);
    }
    return std::nullopt;
}

// "PHYSICALDRIVE<n>" with n in decimal without leading zeros, as the symbolic links
// are named.
std::optional<DWORD> PhysicalDriveNumber(std::wstring_view name) {
    constexpr std::wstring_view kPrefix = L"PHYSICALDRIVE";
    if (name.size() <= kPrefix.size() ||
        !SameTextIgnoringCase(name.substr(0, kPrefix.size()), kPrefix)) {
        return std::nullopt;
    }
    const std::wstring_view digits = name.substr(kPrefix.size());
    if (digits.size() > 9 || (digits.size() > 1 && digits[0] == L'0')) {
        return std::nullopt;
    }
    DWORD number = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<DWORD>(c - L'0');
    }
    return number;
}

std::optional<DeviceTarget> ResolvePath(const Machine& machine, std::wstring_view path) {
    const auto name = DeviceName(path);
    if (!name) {
        return std::nullopt;
    }
    if (const auto number = PhysicalDriveNumber(*name)) {
        for (std::size_t i = 0; i < machine.disks.size(); ++i) {
            if (machine.disks[i].deviceNumber == *number) {
                return DeviceTarget{DeviceTarget::Kind::Disk, i};
            }
        }
        return std::nullopt;
    }
    for (const Device& device : machine.devices) {
        for (const DeviceInterface& iface : device.interfaces) {
            if (!iface.path) {
                continue;
            }
            const auto ifaceName = DeviceName(*iface.path);
            if (ifaceName && SameTextIgnoringCase(*ifaceName, *name)) {
                return device.target;
            }
        }
    }
    return std::nullopt;
}

// A successful open: the file gets a handle and the call's record says which.
HANDLE AddOpenFile(OpenFile file, TraceRecord& record) {
    const std::uintptr_t value = NewHandleValue();
    State().files.emplace(value, std::move(file));
    State().lastError = ERROR_SUCCESS;
    HANDLE handle = reinterpret_cast<HANDLE>(value);
    record.Number("result", HandleNumber(handle)).Commit(true);
    return handle;
}

bool GrantsRead(DWORD access) {
    return (access & (GENERIC_READ | GENERIC_ALL | MAXIMUM_ALLOWED | FILE_READ_DATA)) != 0;
}

bool GrantsWrite(DWORD access) {
    return (access & (GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED | FILE_WRITE_DATA)) != 0;
}

}  // namespace
}  // namespace sim

namespace win {

using sim::CurrentMachine;
using sim::State;
using sim::TraceRecord;

HANDLE CreateFileW(const wchar_t* fileName, DWORD desiredAccess, DWORD shareMode,
                   SECURITY_ATTRIBUTES* securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile) {
    (void)securityAttributes;
    (void)templateFile;
    TraceRecord record("CreateFileW");
    record.WideOrNull("path", fileName)
        .Number("access", desiredAccess)
        .Number("share", shareMode)
        .Number("disposition", creationDisposition)
        .Number("flags", flagsAndAttributes);
    auto fail = [&](DWORD error) {
        State().lastError = error;
        record.Number("result", sim::HandleNumber(INVALID_HANDLE_VALUE)).Commit(false);
        return INVALID_HANDLE_VALUE;
    };
    if (fileName == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    sim::Machine& machine = CurrentMachine();
    if (!sim::DeviceName(fileName)) {
        // A path that names no device is a file of the host the program writes.
        const auto host = sim::CreateHostFile(fileName, creationDisposition);
        if (!host.file) {
            return fail(host.error);
        }
        sim::OpenFile file;
        file.path = fileName;
        file.access = desiredAccess;
        file.disposition = creationDisposition;
        file.hostFile = host.file;
        return sim::AddOpenFile(std::move(file), record);
    }
    const auto target = sim::ResolvePath(machine, fileName);
    if (!target) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    // Share modes are not enforced: device stacks of this kind let a second open
    // through whatever the first one shares.
    const auto deviceName = sim::DeviceName(fileName);
    const bool physicalDrivePath = deviceName && sim::PhysicalDriveNumber(*deviceName).has_value();
    if (const DWORD refusal = sim::OpenRefusal(machine, *target, physicalDrivePath); refusal != 0) {
        return fail(refusal);
    }
    sim::OpenFile file;
    file.path = fileName;
    file.access = desiredAccess;
    file.share = shareMode;
    file.disposition = creationDisposition;
    file.flags = flagsAndAttributes;
    file.target = *target;
    return sim::AddOpenFile(std::move(file), record);
}

BOOL CloseHandle(HANDLE object) {
    TraceRecord record("CloseHandle");
    record.Number("handle", sim::HandleNumber(object));
    auto found = State().files.find(reinterpret_cast<std::uintptr_t>(object));
    if (found == State().files.end()) {
        State().lastError = ERROR_INVALID_HANDLE;
        record.Commit(false);
        return FALSE;
    }
    record.Wide("path", found->second.path);
    sim::CloseHostFile(found->second);
    State().files.erase(found);
    record.Commit(true);
    return TRUE;
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, void* inBuffer, DWORD inBufferSize,
                     void* outBuffer, DWORD outBufferSize, DWORD* bytesReturned,
                     OVERLAPPED* overlapped) {
    (void)overlapped;  // every request completes before the call returns
    TraceRecord record("DeviceIoControl");
    record.Number("handle", sim::HandleNumber(device));
    const std::span<const std::uint8_t> inView =
        inBuffer == nullptr ? std::span<const std::uint8_t>()
                            : std::span<const std::uint8_t>(
                                  static_cast<const std::uint8_t*>(inBuffer), inBufferSize);
    const std::span<std::uint8_t> outView =
        outBuffer == nullptr
            ? std::span<std::uint8_t>()
            : std::span<std::uint8_t>(static_cast<std::uint8_t*>(outBuffer), outBufferSize);
    auto finish = [&](DWORD error, DWORD returned) {
        if (bytesReturned != nullptr) {
            *bytesReturned = returned;
        }
        if (error != ERROR_SUCCESS) {
            State().lastError = error;
        }
        record.Hex("out", outView).Number("bytesReturned", returned).Commit(error == ERROR_SUCCESS);
        return error == ERROR_SUCCESS ? TRUE : FALSE;
    };

    auto found = State().files.find(reinterpret_cast<std::uintptr_t>(device));
    if (found != State().files.end()) {
        record.Wide("path", found->second.path);
    }
    record.Number("code", ioControlCode)
        .Number("inSize", inBufferSize)
        .Number("outSize", outBufferSize)
        .Hex("in", inView);
    if (found == State().files.end()) {
        return finish(ERROR_INVALID_HANDLE, 0);
    }
    sim::Machine& machine = CurrentMachine();
    const sim::OpenFile& file = found->second;
    if (file.hostFile != nullptr) {
        return finish(ERROR_INVALID_FUNCTION, 0);
    }
    if ((inBuffer == nullptr && inBufferSize != 0) ||
        (outBuffer == nullptr && outBufferSize != 0)) {
        return finish(ERROR_NOACCESS, 0);
    }
    if (bytesReturned == nullptr) {
        // Windows writes the count through the pointer and faults on a null one.
        sim::RecordProtocolError(machine, nullptr,
                                 "DeviceIoControl without a bytes-returned pointer");
        return finish(ERROR_INVALID_PARAMETER, 0);
    }
    if ((sim::CodeNeedsRead(ioControlCode) && !sim::GrantsRead(file.access)) ||
        (sim::CodeNeedsWrite(ioControlCode) && !sim::GrantsWrite(file.access))) {
        return finish(ERROR_ACCESS_DENIED, 0);
    }

    const sim::BufferedResult result =
        sim::CallBuffered(machine, file.target, file.path, ioControlCode, inView, outView);
    return finish(result.error, result.bytesReturned);
}

}  // namespace win
