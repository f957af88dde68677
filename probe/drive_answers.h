// What the preflight asks each drive the updater would update, and what came back.
// Every request here is a query: the information request of the drive's driver, in the
// updater's form and in the public one. Nothing here can change a drive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/disk_info.h"
#include "drivers/byte_layout.h"
#include "drivers/firmware_request.h"
#include "inbox/firmware_info.h"
#include "platform/win32.h"

namespace probe {

// One information request as its driver answered it. Every value is read from the
// bytes the driver returned, never from what the buffer still holds of the request.
struct InfoReply {
    bool sent = false;
    bool completed = false;
    DWORD error = ERROR_SUCCESS;  // when the call failed
    std::size_t returned = 0;
    std::optional<std::uint32_t> status;  // ReturnCode
    // Version and Size of the information structure at the reply's DataBufferOffset.
    std::optional<std::uint32_t> version;
    std::optional<std::uint32_t> size;
    std::optional<fwreq::FirmwareInfo> info;  // when every announced entry was returned

    bool Accepted() const { return completed && status == fwreq::kStatusSuccess; }
};

// What the updater's answers for one drive will be, as far as a query can tell.
enum class Outcome {
    WillBeUpdated,
    LatestFirmware,
    Fails,
};

struct DriveReport {
    DiskInfo disk;
    bool queried = false;  // false for a drive already at the target revision
    bool opened = false;
    DWORD openError = ERROR_SUCCESS;
    // Inbox: the request exactly as the updater sends it.
    std::optional<InboxInfoAnswer> updaterForm;
    InfoReply updaterReply;
    // Inbox: the public form, sent only when the driver did not accept the updater's.
    // Intel RST: the "IntelFw " information request (the updater sends none).
    InfoReply publicReply;
    Outcome outcome = Outcome::Fails;
    std::wstring verdict;
};

// Asks the drive what the updater will ask it, in the updater's order, and predicts the
// updater's result for it.
DriveReport AskDrive(const DiskInfo& disk);

// Numbers as the preflight's lines show them: "0x1f" and "42".
std::wstring HexText(DWORD value);
std::wstring NumberText(std::int64_t value);

}  // namespace probe
