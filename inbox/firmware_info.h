// The information request that opens every inbox update, and what its answer lets the
// update do. The updater acts on it; the read-only preflight asks it the same way, in a
// buffer of the same size, and reports it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "app/disk_info.h"
#include "drivers/byte_layout.h"
#include "drivers/firmware_request.h"
#include "platform/win32.h"

// One buffer of the size the drive's chunks need serves every request of an inbox
// update, the information request first.
Bytes InboxRequestBuffer(const DiskInfo& disk);

struct InboxInfoAnswer {
    enum class Kind {
        NotSent,         // the buffer cannot hold the request
        CallFailed,      // DeviceIoControl failed; `error` holds GetLastError
        Refused,         // ReturnCode not success, or not inside the returned bytes
        TableOutside,    // the slot table lies outside the returned bytes
        NoUpgrade,       // UpgradeSupport 0
        NoWritableSlot,  // every slot read-only, or none listed
        Usable,          // `slot` is the one the update activates
    };
    Kind kind = Kind::NotSent;
    DWORD error = ERROR_SUCCESS;
    std::uint32_t status = 0;  // the ReturnCode read, srb::kNoReturnCode when short of it
    std::size_t returned = 0;  // bytes the driver returned
    std::optional<fwreq::FirmwareInfo> info;
    std::uint8_t slot = 0;
};

// Sends the information request in `buffer` and reads the answer as the update does:
// only what the driver returned counts.
InboxInfoAnswer AskInboxFirmwareInfo(HANDLE drive, Bytes& buffer);

// The first writable slot of the table; nothing when every slot is read-only. Whether the
// drive takes updates at all is the caller's question (UpgradeSupport).
std::optional<std::uint8_t> SlotToActivate(const fwreq::FirmwareInfo& info);
