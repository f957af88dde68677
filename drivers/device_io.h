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

// What a driver answered to one control request. `bytes` is the part of the buffer
// the driver says it filled: the count it returned, never more than the buffer. A
// reply is read only within `bytes`; whatever lies beyond is still the request as
// this program wrote it, and must not be taken for the driver's answer.
struct ControlReply {
    bool completed = false;
    std::span<const std::uint8_t> bytes;

    explicit operator bool() const { return completed; }
};

// One synchronous DeviceIoControl with the buffer as input and as output, the same
// length both ways; the driver's reply lands in the same bytes. Not completed when
// the call returned zero; GetLastError then holds the reason.
[[nodiscard]] ControlReply SendControlRequest(HANDLE device, DWORD controlCode,
                                              std::span<std::uint8_t> buffer);

// A request that takes no input and answers into `reply`.
[[nodiscard]] ControlReply ReadControlReply(HANDLE device, DWORD controlCode,
                                            std::span<std::uint8_t> reply);

// Sends IOCTL_STORAGE_GET_DEVICE_NUMBER to an open disk and takes its DeviceNumber.
// False when the request fails (GetLastError holds the reason) or its reply is short.
bool QueryDeviceNumber(HANDLE disk, std::uint32_t& deviceNumber);
