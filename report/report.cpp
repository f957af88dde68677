#include "report/report.h"

#include <cstdio>
#include <string_view>

#include "base/utf8.h"
#include "firmware/firmware_package.h"
#include "platform/win32.h"
#include "report/console.h"
#include "report/text.h"

namespace {

constexpr char kUpdatedMessage[] = "Updated firmware successfully.\n";
constexpr char kRebootMessage[] =
    "Downloaded firmware successfully, but firmware activation requires reboot.\n";
constexpr char kFailedMessage[] = "Unable to update firmware.\n";
constexpr char kLatestMessage[] = "Already have the latest firmware.\n";

// The report is 8-bit text: each UTF-16 unit keeps its low 8 bits.
void AppendNarrowed(std::string& text, const std::wstring& wide) {
    for (wchar_t unit : wide) {
        text.push_back(static_cast<char>(static_cast<unsigned char>(unit & 0xFF)));
    }
}

// The message for one drive's final code, and what it does to the run's result.
// A failure sticks. Otherwise a drive that waits for a reboot outweighs one that is
// already up to date, in whatever order they come: a deployment tool told "nothing
// to do" would never schedule the reboot the other drive needs. Any code the table
// does not know is a failure: a drive that could not be opened, or whose driver
// refused a request, was not updated, and the run must not claim that it was.
const char* ApplyDriveResult(std::int32_t updateResult, std::int32_t& finalResult) {
    switch (updateResult) {
        case kUpdateSucceeded:
            return kUpdatedMessage;
        case kUpdateNeedsReboot:
            if (finalResult != kUpdateFailed) {
                finalResult = kUpdateNeedsReboot;
            }
            return kRebootMessage;
        case kUpdateLatestFirmware:
            if (finalResult != kUpdateFailed && finalResult != kUpdateNeedsReboot) {
                finalResult = kUpdateLatestFirmware;
            }
            return kLatestMessage;
        default:
            finalResult = kUpdateFailed;
            return kFailedMessage;
    }
}

const char* FinalLine(std::int32_t finalResult) {
    switch (finalResult) {
        case kUpdateSucceeded:
            return "Result Details : Updated firmware successfully.\n";
        case kUpdateNeedsReboot:
            return "Result Details : Downloaded firmware successfully, but firmware activation "
                   "requires reboot.\n";
        case kUpdateLatestFirmware:
            return kLatestMessage;
        default:
            return "Result Details : Unable to update firmware.\n";
    }
}

}  // namespace

std::string FormatLocalTime() {
    SYSTEMTIME now{};
    win::GetLocalTime(&now);
    char text[64];
    std::snprintf(text, sizeof text, "%02u-%02u-%04u(%02u:%02u:%02u)", unsigned{now.wDay},
                  unsigned{now.wMonth}, unsigned{now.wYear}, unsigned{now.wHour},
                  unsigned{now.wMinute}, unsigned{now.wSecond});
    return text;
}

std::int32_t WriteReport(UpdateSession& session) {
    session.endTime = utf8::FromLatin1(FormatLocalTime());

    std::string text = "Start Time : ";
    AppendNarrowed(text, session.startTime);
    text += "\nEnd Time : ";
    AppendNarrowed(text, session.endTime);
    text += "\n";

    if (session.updateList.empty()) {
        text += "\n[No Disk]\nUpdated Firmware Version : ";
        AppendNarrowed(text, targetRevision);
        text += "\nResult Details : No disks are available for download.\n";
        session.finalResult = kUpdateFailed;
    } else {
        int number = 1;
        for (DiskInfo& disk : session.updateList) {
            text += "\n[Disk #" + std::to_string(number++) + "]\nModel Number : ";
            AppendNarrowed(text, disk.modelNumber);
            text += "\nSerial Number : ";
            AppendNarrowed(text, disk.serialNumber);
            text += "\nCurrent Firmware Version : ";
            AppendNarrowed(text, disk.firmwareRevision);
            text += "\nUpdated Firmware Version : ";
            AppendNarrowed(text, targetRevision);
            text += "\n";

            if (SameRevision(disk.firmwareRevision, targetRevision)) {
                disk.updateResult = kUpdateLatestFirmware;
            }
            if (disk.driverKind != Inbox && disk.updateResult == kUpdateSucceeded) {
                disk.updateResult = kUpdateNeedsReboot;
            }
            text += "Result Details : ";
            text += ApplyDriveResult(disk.updateResult, session.finalResult);
        }
    }

    text += "\n[Final Result]\n";
    text += FinalLine(session.finalResult);

    console::WideLine(Utf8ToWide(text.data(), text.size()));
    return session.finalResult;
}
