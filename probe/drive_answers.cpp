#include "probe/drive_answers.h"

#include <string>

#include "base/utf8.h"
#include "drivers/byte_layout.h"
#include "drivers/device_io.h"
#include "drivers/miniport_firmware.h"
#include "drivers/rst_address.h"
#include "drivers/rst_firmware.h"
#include "drivers/srb_io_control.h"
#include "firmware/firmware_package.h"
#include "report/console.h"

namespace probe {
namespace {

// The updater's slot for an Intel RST activation.
constexpr std::uint8_t kRstSlot = rst_fw::kActivateSlot;

// Where a family's request block lies in its requests and replies.
using ReadBlock = std::optional<sdk::FIRMWARE_REQUEST_BLOCK> (*)(std::span<const std::uint8_t>);

// Version and Size of the information structure the reply's own request block places,
// each only when the driver returned it.
void ReadInfoHeader(std::span<const std::uint8_t> reply, ReadBlock readBlock, InfoReply& out) {
    const auto block = readBlock(reply);
    if (!block) {
        return;
    }
    const std::uint64_t at = block->DataBufferOffset;
    out.version = layout::GetU32(reply, at + offsetof(sdk::STORAGE_FIRMWARE_INFO, Version));
    out.size = layout::GetU32(reply, at + offsetof(sdk::STORAGE_FIRMWARE_INFO, Size));
}

template <typename Parse>
InfoReply Ask(HANDLE device, Bytes& request, ReadBlock readBlock, Parse parse) {
    InfoReply answer;
    answer.sent = true;
    const ControlReply reply = SendControlRequest(device, IOCTL_SCSI_MINIPORT, request);
    if (!reply) {
        answer.error = win::GetLastError();
        return answer;
    }
    answer.completed = true;
    answer.returned = reply.bytes.size();
    answer.status = srb::ReturnCode(reply.bytes);
    ReadInfoHeader(reply.bytes, readBlock, answer);
    answer.info = parse(reply.bytes);
    return answer;
}

// The updater's reason to stop at an information reply it cannot use.
std::wstring InfoFailure(const InfoReply& reply) {
    if (!reply.completed) {
        return L"the firmware information request failed (error " + HexText(reply.error) + L")";
    }
    if (!reply.status) {
        return L"the driver's reply to the firmware information request stops short of its "
               L"status";
    }
    return L"the driver refuses the firmware information request (status " +
           NumberText(*reply.status) + L")";
}

// Opens the drive's path as the updater opens it for the update; when that fails, the
// verdict names `what` could not be opened.
DeviceHandle OpenAsTheUpdater(DriveReport& report, DWORD shareMode, const wchar_t* what) {
    DeviceHandle device = DeviceHandle::Open(report.disk.devicePath, shareMode, 0);
    report.opened = device.IsOpen();
    if (!report.opened) {
        report.openError = device.OpenError();
        report.verdict = std::wstring(L"the update would fail: ") + what +
                         L" cannot be opened (error " + HexText(report.openError) + L")";
    }
    return device;
}

void AskInboxDrive(DriveReport& report) {
    DeviceHandle drive = OpenAsTheUpdater(report, FILE_SHARE_READ | FILE_SHARE_WRITE, L"the drive");
    if (!drive.IsOpen()) {
        return;
    }

    // Exactly the updater's first request: its form, in a buffer of the updater's size.
    Bytes buffer = InboxRequestBuffer(report.disk);
    const InboxInfoAnswer answer = AskInboxFirmwareInfo(drive.Get(), buffer);
    report.updaterForm = answer;
    InfoReply& updater = report.updaterReply;
    updater.sent = answer.kind != InboxInfoAnswer::Kind::NotSent;
    updater.completed = updater.sent && answer.kind != InboxInfoAnswer::Kind::CallFailed;
    updater.error = answer.error;
    if (updater.completed) {
        const std::span<const std::uint8_t> reply(buffer.data(), answer.returned);
        updater.returned = answer.returned;
        updater.status = srb::ReturnCode(reply);
        ReadInfoHeader(reply, inbox_fw::ReadRequestBlock, updater);
        updater.info = answer.info;  // read whenever the status is success
    }

    switch (answer.kind) {
        case InboxInfoAnswer::Kind::Usable:
            report.outcome = Outcome::WillBeUpdated;
            report.verdict = L"will be updated";
            return;
        case InboxInfoAnswer::Kind::TableOutside:
            report.verdict = L"the update would fail: the slot table lies outside the reply";
            return;
        case InboxInfoAnswer::Kind::NoUpgrade:
            report.verdict =
                L"the update would fail: the drive takes no firmware update (UpgradeSupport 0)";
            return;
        case InboxInfoAnswer::Kind::NoWritableSlot:
            report.verdict = L"the update would fail: the drive reports no writable slot";
            return;
        case InboxInfoAnswer::Kind::NotSent:
            report.verdict =
                L"the update would fail: the firmware information request cannot "
                L"be built";
            return;
        case InboxInfoAnswer::Kind::CallFailed:
        case InboxInfoAnswer::Kind::Refused:
            break;
    }
    report.verdict = L"the update would fail: " + InfoFailure(updater);
    // Would a driver that refuses the updater's form take the form the SDK describes?
    Bytes publicRequest = inbox_fw::BuildPublicGetInfoRequest();
    report.publicReply = Ask(drive.Get(), publicRequest, inbox_fw::ReadRequestBlock,
                             inbox_fw::ParsePublicFirmwareInfo);
}

// What slot 2 is in a table, for the verdict; empty when the activation can take it.
std::wstring SlotTwoFailure(const fwreq::FirmwareInfo& info) {
    for (const fwreq::FirmwareSlot& slot : info.slots) {
        if (slot.number == kRstSlot) {
            return slot.readOnly ? L"slot 2 is read-only" : L"";
        }
    }
    return L"the drive has no slot 2";
}

void AskRstDrive(DriveReport& report) {
    // The updater opens the controller unshared for every drive it updates through it.
    DeviceHandle controller = OpenAsTheUpdater(report, 0, L"the controller");
    if (!controller.IsOpen()) {
        return;
    }
    Bytes request = rst_fw::BuildGetInfoRequest(rst_address::PathNumberByte(report.disk.pathId));
    report.publicReply =
        Ask(controller.Get(), request, rst_fw::ReadRequestBlock, rst_fw::ParseFirmwareInfo);
    // The updater activates slot 2 without asking: only a table that names slot 2 as
    // missing or read-only foretells a failure. Without a table the download and the
    // activation decide, which no query can see.
    report.outcome = Outcome::WillBeUpdated;
    report.verdict = L"will be updated";
    if (report.publicReply.Accepted() && report.publicReply.info) {
        const std::wstring failure = SlotTwoFailure(*report.publicReply.info);
        if (!failure.empty()) {
            report.outcome = Outcome::Fails;
            report.verdict = L"the update would fail: " + failure;
        }
    }
}

}  // namespace

std::wstring HexText(DWORD value) {
    return L"0x" + utf8::FromLatin1(console::HexLower(value));
}

std::wstring NumberText(std::int64_t value) {
    return utf8::FromLatin1(console::Decimal(value));
}

DriveReport AskDrive(const DiskInfo& disk) {
    DriveReport report;
    report.disk = disk;
    if (SameRevision(disk.firmwareRevision, targetRevision)) {
        report.outcome = Outcome::LatestFirmware;
        report.verdict = L"already has the latest firmware";
        return report;
    }
    report.queried = true;
    if (disk.driverKind == Inbox) {
        AskInboxDrive(report);
    } else {
        AskRstDrive(report);
    }
    return report;
}

}  // namespace probe
