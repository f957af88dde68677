#include <string>

#include "firmware/firmware_package.h"
#include "inbox/inbox.h"
#include "report/console.h"

void PrintTargetTable(const DiskInfo& disk, std::wstring_view updateLabel) {
    const std::wstring rule(45, L'-');
    // The target revision is shown up to a NUL it may carry.
    const std::wstring target = targetRevision.substr(0, targetRevision.find(L'\0'));

    console::WideLine(L"");
    console::WideLine(rule);
    console::WideLine(L" Firmware Download | Target Disk Information ");
    console::WideLine(rule);
    console::WideLine(std::wstring(L" Driver : ") +
                      (disk.driverKind == Inbox ? L"Inbox Driver" : L"IRST Driver"));
    console::WideLine(std::wstring(L" Raid : ") + (disk.driverKind == RstRaid ? L"Yes" : L"No"));
    console::WideLine(L" Model Number : " + disk.modelNumber);
    console::WideLine(L" Serial Number : " + disk.serialNumber);
    console::WideLine(L" Current FW : " + disk.firmwareRevision);
    console::WideLine(std::wstring(updateLabel) + target);
    console::WideLine(rule);
}
