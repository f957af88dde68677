// Device I/O of the simulated machine: what DeviceIoControl hands to the device
// behind a handle, and where the device models plug in.
//
// DeviceIoControl checks the handle, the buffers and the access the control code
// needs, copies the request, and passes one IoCall to the device:
//
//   disk handle        Disk::io if set, else DiskStackIo: the device-number request,
//                      then the inbox NVMe stack (InboxStackIo) for inbox and
//                      other-maker disks
//   controller handle  Controller::io if set, else RstDriverIo
//
// The models read and change the drive records of the machine (sim/machine.h), and
// record every malformed request with ProtocolError.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/win32.h"
#include "sim/machine.h"

namespace sim {

// An open file handle.
struct OpenFile {
    std::wstring path;  // as the program passed it
    DWORD access = 0;
    DWORD share = 0;
    DWORD disposition = 0;
    DWORD flags = 0;
    DeviceTarget target;
};

struct IoCall {
    Machine& machine;
    const OpenFile& file;
    DWORD code = 0;
    // The request as sent: a copy, so that a model may write `out` even when the
    // program passed one buffer for both.
    std::span<const std::uint8_t> in;
    // The caller's reply buffer, outBufferSize bytes.
    std::span<std::uint8_t> out;
    DWORD bytesReturned = 0;

    Disk* TargetDisk() const;
    Controller* TargetController() const;
    // The drive of the disk behind the handle; nullptr for controllers and empty disks.
    Drive* TargetDrive() const;
    // Records a malformed request against `drive` (machine-wide when nullptr).
    void ProtocolError(Drive* drive, std::string text) const;
};

// The standard answer of the device behind the handle; DeviceIoControl calls it when
// the device has no handler of its own.
DWORD StandardIo(IoCall& call);

// Disks: the device-number request, then by attach kind.
DWORD DiskStackIo(IoCall& call);
// The operating system's storage stack with its NVMe driver, for a disk's requests
// other than the device number.
DWORD InboxStackIo(IoCall& call);
// The Intel RST driver, for requests on a controller handle.
DWORD RstDriverIo(IoCall& call);

// The access a control code requires, from its RequiredAccess bits.
inline bool CodeNeedsRead(DWORD code) {
    return ((code >> 14) & 1u) != 0;
}
inline bool CodeNeedsWrite(DWORD code) {
    return ((code >> 14) & 2u) != 0;
}

}  // namespace sim
