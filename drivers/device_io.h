// Opening a device path, sending it a control request and closing it: the one place
// through which the system talks to a driver.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "drivers/byte_layout.h"
#include "platform/win32.h"

// A device opened for reading and writing; closed when it goes out of scope.
class DeviceHandle {
  public:
    DeviceHandle() = default;
    ~DeviceHandle();

    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;
    DeviceHandle(DeviceHandle&& other) noexcept;
    DeviceHandle& operator=(DeviceHandle&& other) noexcept;

    // CreateFileW(path, GENERIC_READ | GENERIC_WRITE, shareMode, no security
    // attributes, OPEN_EXISTING, flagsAndAttributes, no template). When the open
    // fails, the handle is not open and OpenError() holds GetLastError as it stood
    // right after the failed call.
    static DeviceHandle Open(const std::wstring& path, DWORD shareMode, DWORD flagsAndAttributes);

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    DWORD OpenError() const { return openError_; }

    void Close();

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DWORD openError_ = ERROR_SUCCESS;
};

// One synchronous DeviceIoControl with the buffer as input and as output, the same
// length both ways. The driver's reply lands in the same bytes. True when the call
// returned nonzero; otherwise GetLastError holds the reason. The count of returned
// bytes is never examined: what a reply holds is judged by its own fields.
bool SendControlRequest(HANDLE device, DWORD controlCode, std::span<std::uint8_t> buffer);

inline bool SendControlRequest(HANDLE device, DWORD controlCode, RequestBuffer& buffer) {
    return SendControlRequest(device, controlCode, std::span<std::uint8_t>(buffer));
}

// A request that takes no input and answers into `reply`.
bool ReadControlReply(HANDLE device, DWORD controlCode, std::span<std::uint8_t> reply);
