#include "drivers/device_io.h"

#include <algorithm>
#include <utility>

#include "drivers/storage_requests.h"
#include "drivers/watch.h"

DeviceHandle::~DeviceHandle() {
    Close();
}

DeviceHandle::DeviceHandle(DeviceHandle&& other) noexcept
    : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)),
      openError_(std::exchange(other.openError_, ERROR_SUCCESS)) {}

DeviceHandle& DeviceHandle::operator=(DeviceHandle&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        openError_ = std::exchange(other.openError_, ERROR_SUCCESS);
    }
    return *this;
}

DeviceHandle DeviceHandle::Open(const std::wstring& path, DWORD shareMode,
                                DWORD flagsAndAttributes) {
    DeviceHandle device;
    device.handle_ = win::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, shareMode,
                                      nullptr, OPEN_EXISTING, flagsAndAttributes, nullptr);
    if (device.handle_ == INVALID_HANDLE_VALUE) {
        device.openError_ = win::GetLastError();
    }
    if (watch::Watcher* watcher = watch::Current()) {
        watcher->Opened(device.handle_, path, shareMode, flagsAndAttributes, device.openError_);
    }
    return device;
}

void DeviceHandle::Close() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        win::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

namespace {

// A watcher's copy of a request before the driver answers into the same bytes.
Bytes RequestForWatcher(std::span<const std::uint8_t> request) {
    return watch::Current() != nullptr ? Bytes(request.begin(), request.end()) : Bytes();
}

// Tells the watcher, if any, about a finished call. GetLastError is read only for a
// watcher and left as the call set it.
void TellWatcher(HANDLE device, DWORD code, std::span<const std::uint8_t> request, BOOL completed,
                 DWORD returned, std::span<const std::uint8_t> output) {
    watch::Watcher* watcher = watch::Current();
    if (watcher == nullptr) {
        return;
    }
    const DWORD error = completed ? ERROR_SUCCESS : win::GetLastError();
    watcher->Controlled(device, code, request, completed != FALSE, error, returned, output);
    if (!completed) {
        win::SetLastError(error);
    }
}

ControlReply Answered(BOOL completed, std::span<const std::uint8_t> buffer, DWORD returned) {
    ControlReply reply;
    reply.completed = completed != FALSE;
    if (reply.completed) {
        // A driver may report more than it was given room for; only the buffer is ours.
        reply.bytes = buffer.first(std::min<std::size_t>(returned, buffer.size()));
    }
    return reply;
}

}  // namespace

ControlReply SendControlRequest(HANDLE device, DWORD controlCode, std::span<std::uint8_t> buffer) {
    const DWORD length = static_cast<DWORD>(buffer.size());
    DWORD returned = 0;
    const Bytes request = RequestForWatcher(buffer);
    const BOOL completed = win::DeviceIoControl(device, controlCode, buffer.data(), length,
                                                buffer.data(), length, &returned, nullptr);
    TellWatcher(device, controlCode, request, completed, returned, buffer);
    return Answered(completed, buffer, returned);
}

ControlReply ReadControlReply(HANDLE device, DWORD controlCode, std::span<std::uint8_t> reply) {
    DWORD returned = 0;
    const BOOL completed =
        win::DeviceIoControl(device, controlCode, nullptr, 0, reply.data(),
                             static_cast<DWORD>(reply.size()), &returned, nullptr);
    TellWatcher(device, controlCode, {}, completed, returned, reply);
    return Answered(completed, reply, returned);
}

bool QueryDeviceNumber(HANDLE disk, std::uint32_t& deviceNumber) {
    Bytes buffer(sizeof(sdk::STORAGE_DEVICE_NUMBER), 0);
    const ControlReply reply = ReadControlReply(disk, IOCTL_STORAGE_GET_DEVICE_NUMBER, buffer);
    if (!reply) {
        return false;
    }
    // A reply without the whole record is no disk number; the zeros of the buffer
    // would read as disk 0.
    const auto number = storage::ReadDeviceNumber(reply.bytes);
    if (!number) {
        return false;
    }
    deviceNumber = number->DeviceNumber;
    return true;
}
