// Device I/O of the simulated machine: what DeviceIoControl hands to the device
// behind a handle, and where the device models plug in.
//
// The binding (sim/win32/handles.cpp) checks the handle, the buffers and the access the
// control code needs, then does what the Windows I/O manager does for a
// METHOD_BUFFERED request: it gives the device one system buffer of
// max(input, output) bytes holding the request (zero beyond it), lets the device
// answer into it, and on success copies the first min(bytesReturned, output size)
// bytes back to the caller. The device is chosen by the handle's target:
//
//   disk handle        Disk::io if set, else DiskStackIo: the device-number request,
//                      then the inbox NVMe stack (InboxStackIo) for inbox and
//                      other-maker disks
//   controller handle  Controller::io if set, else RstDriverIo
//
// The models read and change the records of the machine (sim/models/machine.h) and nothing
// of the binding, so that another host (a kernel-side one) can carry the same calls
// to them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/win32.h"
#include "sim/models/machine.h"

namespace sim {

struct IoCall {
    Machine& machine;
    // What the handle reaches, and the path it was opened with (for messages).
    DeviceTarget target;
    std::wstring_view path;
    DWORD code = 0;
    // The request as sent: a copy of the caller's input, so that it reads as sent
    // whatever the device writes into `out`.
    std::span<const std::uint8_t> in;
    // The system buffer: max(in.size(), outSize) bytes, holding the request on entry.
    // The device writes its reply here; only the first min(bytesReturned, outSize)
    // bytes reach the caller.
    std::span<std::uint8_t> out;
    // The length of the caller's output buffer.
    DWORD outSize = 0;
    // What the device reports. It may exceed outSize (a lying driver); the caller
    // still gets no more than outSize bytes.
    DWORD bytesReturned = 0;

    Disk* TargetDisk() const;
    Controller* TargetController() const;
    // The drive of the disk behind the handle; nullptr for controllers and empty disks.
    Drive* TargetDrive() const;
    // Records a malformed request against `drive` (machine-wide when nullptr).
    void ProtocolError(Drive* drive, std::string text) const;
};

// The standard answer of the device behind the handle, for a device without a handler
// of its own.
DWORD StandardIo(IoCall& call);

// What a METHOD_BUFFERED request came to: the Win32 error (0 for success) and the byte
// count the device reported, which a lying device may put past the output buffer (0
// when the request failed).
struct BufferedResult {
    DWORD error = ERROR_SUCCESS;
    DWORD bytesReturned = 0;
};

// One METHOD_BUFFERED request as the Windows I/O manager carries it, for every host:
// the device behind `target` (its own handler when set, else StandardIo) answers into
// a system buffer of max(input, output) bytes that starts out as the request, zero
// beyond it; on success the first min(bytesReturned, callerOut.size()) bytes are copied
// into `callerOut` and the rest of it is left as it was. `in` and `callerOut` may be
// one buffer.
BufferedResult CallBuffered(Machine& machine, const DeviceTarget& target, std::wstring_view path,
                            DWORD code, std::span<const std::uint8_t> in,
                            std::span<std::uint8_t> callerOut);

// Disks: the device-number request, then by attach kind.
DWORD DiskStackIo(IoCall& call);
// The operating system's storage stack with its NVMe driver, for a disk's requests
// other than the device number.
DWORD InboxStackIo(IoCall& call);
// The Intel RST driver, for requests on a controller handle.
DWORD RstDriverIo(IoCall& call);

// A scenario's reply fault on a call that completed: every patch written over the
// system buffer (cut to the buffer), then the reported count replaced when the
// alteration sets one. Does nothing to a failed call (`error` not 0) or with no
// alteration; returns `error`.
DWORD AlterReply(IoCall& call, DWORD error, const ReplyAlteration* alteration);

// The caller's output buffer as it will read after the call completes: the reply's
// first min(bytesReturned, outSize) bytes, then the request as sent (zero past its
// end), outSize bytes in all.
Bytes CallerView(const IoCall& call);
// The bytes that reach the caller: the reply's first min(bytesReturned, outSize).
std::span<const std::uint8_t> ReturnedBytes(const IoCall& call);

// The access a control code requires, from its RequiredAccess bits.
inline bool CodeNeedsRead(DWORD code) {
    return ((code >> 14) & 1u) != 0;
}
inline bool CodeNeedsWrite(DWORD code) {
    return ((code >> 14) & 2u) != 0;
}

}  // namespace sim
