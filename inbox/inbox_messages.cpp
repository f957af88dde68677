#include "inbox/inbox_messages.h"

#include <string>

#include "report/console.h"

void PrintOpenFailure(DWORD error) {
    console::Narrow("  [ERROR] Failed to get disk handle: 0x" + console::HexLower(error) + "\n\n");
}
