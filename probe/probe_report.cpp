#include "probe/probe_report.h"

#include <string>

#include "firmware/firmware_package.h"
#include "report/console.h"

namespace probe {
namespace {

// A slot revision as text: its bytes up to the first NUL, each widened by value.
std::wstring Revision(const fwreq::FirmwareSlot& slot) {
    std::wstring text;
    for (std::uint8_t byte : slot.revision) {
        if (byte == 0) {
            break;
        }
        text.push_back(static_cast<wchar_t>(byte));
    }
    return text;
}

std::wstring SlotList(const fwreq::FirmwareInfo& info) {
    if (info.slots.empty()) {
        return L"none";
    }
    std::wstring text;
    for (const fwreq::FirmwareSlot& slot : info.slots) {
        if (!text.empty()) {
            text += L", ";
        }
        text += NumberText(slot.number);
        std::wstring notes;
        if (slot.readOnly) {
            notes = L"read-only";
        }
        if (slot.number == info.activeSlot) {
            notes += notes.empty() ? L"active" : L", active";
        }
        const std::wstring revision = Revision(slot);
        if (!revision.empty()) {
            notes += (notes.empty() ? L"" : L", ") + revision;
        }
        if (!notes.empty()) {
            text += L" (" + notes + L")";
        }
    }
    return text;
}

// One information request's answer on one line.
std::wstring Answer(const InfoReply& reply) {
    if (!reply.completed) {
        return L"failed, error " + HexText(reply.error);
    }
    if (!reply.status) {
        return L"no status: " + NumberText(static_cast<std::int64_t>(reply.returned)) +
               L" bytes returned";
    }
    if (*reply.status != fwreq::kStatusSuccess) {
        return L"refused, status " + NumberText(*reply.status);
    }
    std::wstring text = L"accepted";
    if (reply.version) {
        text += L", Version " + NumberText(*reply.version);
    }
    if (reply.size) {
        text += L", Size " + NumberText(*reply.size);
    }
    if (!reply.info) {
        return text + L"; the slot table lies outside the reply";
    }
    return text;
}

void PrintSlots(const InfoReply& reply) {
    if (reply.Accepted() && reply.info) {
        console::WideLine(L"Slots : " + SlotList(*reply.info));
    }
}

void PrintRaidVolume(std::size_t number, const RaidVolumeSeen& volume) {
    console::WideLine(L"");
    console::WideLine(L"[RAID Volume #" + NumberText(static_cast<std::int64_t>(number)) + L"]");
    console::WideLine(L"Controller : " + volume.entry.devicePath);
    console::WideLine(L"RAID Set : " + NumberText(volume.raidSetIndex));
    if (!volume.result.controllerOpened) {
        console::WideLine(
            L"Members : none: the controller cannot be opened; the updater "
            L"updates no drive of this volume");
    } else if (!volume.result.listed) {
        console::WideLine(
            L"Members : none: the RAID configuration query failed; the updater "
            L"updates no drive of this volume");
    } else {
        std::wstring members;
        for (std::uint8_t member : volume.result.members) {
            members += (members.empty() ? L"" : L", ") + NumberText(member);
        }
        console::WideLine(L"Members : " + (members.empty() ? std::wstring(L"none") : members));
    }
}

void PrintDrive(std::size_t number, const DriveReport& drive) {
    const DiskInfo& disk = drive.disk;
    const bool inbox = disk.driverKind == Inbox;
    console::WideLine(L"");
    console::WideLine(L"[Disk #" + NumberText(static_cast<std::int64_t>(number)) + L"]");
    console::WideLine(L"Path : " + disk.devicePath);
    if (!inbox) {
        console::WideLine(L"Path Number : " + NumberText(disk.pathId & 0xFF));
    }
    console::WideLine(std::wstring(L"Driver : ") + (inbox ? L"Inbox Driver" : L"IRST Driver"));
    console::WideLine(std::wstring(L"Raid : ") + (disk.driverKind == RstRaid ? L"Yes" : L"No"));
    console::WideLine(L"Model Number : " + disk.modelNumber);
    console::WideLine(L"Serial Number : " + disk.serialNumber);
    console::WideLine(L"Current Firmware Version : " + disk.firmwareRevision);
    console::WideLine(L"Updated Firmware Version : " + targetRevision);
    console::WideLine(L"Granularity : " + NumberText(disk.downloadGranularity) + L" x 4096 bytes");
    if (drive.queried && drive.opened) {
        if (inbox) {
            console::WideLine(L"Firmware Information : " + Answer(drive.updaterReply));
            PrintSlots(drive.updaterReply);
            if (drive.updaterForm && drive.updaterForm->kind == InboxInfoAnswer::Kind::Usable) {
                console::WideLine(L"Slot To Activate : " + NumberText(drive.updaterForm->slot));
            }
            if (drive.publicReply.sent) {
                console::WideLine(L"Firmware Information (public form) : " +
                                  Answer(drive.publicReply));
                PrintSlots(drive.publicReply);
            }
        } else {
            console::WideLine(L"Firmware Information (public form) : " + Answer(drive.publicReply));
            PrintSlots(drive.publicReply);
        }
    }
    console::WideLine(L"Verdict : " + drive.verdict);
}

std::wstring ResultLine(std::int32_t exitCode, bool anyDrive) {
    switch (exitCode) {
        case kReady:
            return L"Preflight Result : Ready: the updater will download the firmware "
                   L"(expect exit code 1602, a restart).";
        case kUpToDate:
            return L"Preflight Result : Nothing to do: the drives already have the latest "
                   L"firmware (expect exit code 4000).";
        default:
            return anyDrive ? L"Preflight Result : The update would fail on this PC (expect "
                              L"exit code 1)."
                            : L"Preflight Result : No disks are available for download "
                              L"(expect exit code 1).";
    }
}

}  // namespace

std::int32_t PredictedExitCode(const std::vector<DriveReport>& drives) {
    if (drives.empty()) {
        return kWouldFail;
    }
    bool updated = false;
    for (const DriveReport& drive : drives) {
        if (drive.outcome == Outcome::Fails) {
            return kWouldFail;
        }
        updated = updated || drive.outcome == Outcome::WillBeUpdated;
    }
    return updated ? kReady : kUpToDate;
}

void PrintReport(const std::vector<RaidVolumeSeen>& raidVolumes,
                 const std::vector<DriveReport>& drives, std::int32_t exitCode) {
    std::size_t number = 1;
    for (const RaidVolumeSeen& volume : raidVolumes) {
        PrintRaidVolume(number++, volume);
    }
    number = 1;
    for (const DriveReport& drive : drives) {
        PrintDrive(number++, drive);
    }
    console::WideLine(L"");
    console::WideLine(L"[Final Result]");
    console::WideLine(ResultLine(exitCode, !drives.empty()));
}

}  // namespace probe
