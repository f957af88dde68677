// Console lines shared by the drive operations of both driver paths.
#pragma once

#include "platform/win32.h"

// "  [ERROR] Failed to get disk handle: 0x<error>" and an empty line, on the narrow
// stream.
void PrintOpenFailure(DWORD error);
