#include "drivers/device_io.h"

#include <algorithm>
#include <utility>

#include "drivers/storage_requests.h"

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
    return device;
}

void DeviceHandle::Close() {
    if (handle_ != INVALID_HANDLE_VALUE) {
        win::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

namespace {

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
    const BOOL completed = win::DeviceIoControl(device, controlCode, buffer.data(), length,
                                                buffer.data(), length, &returned, nullptr);
    return Answered(completed, buffer, returned);
}

ControlReply ReadControlReply(HANDLE device, DWORD controlCode, std::span<std::uint8_t> reply) {
    DWORD returned = 0;
    const BOOL completed =
        win::DeviceIoControl(device, controlCode, nullptr, 0, reply.data(),
                             static_cast<DWORD>(reply.size()), &returned, nullptr);
    return Answered(completed, reply, returned);
}

bool QueryDeviceNumber(HANDLE disk, std::uint32_t& deviceNumber) {
    Bytes buffer(storage::kDeviceNumberSize, 0);
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
    deviceNumber = number->deviceNumber;
    return true;
}
