// The operating system's storage stack with its NVMe driver, as seen through a disk
// handle: storage property queries and the miniport firmware requests, carried to
// the drive record of the disk.
#include "sim/io.h"

namespace sim {

// No model yet: every request is answered as an unsupported function.
DWORD InboxStackIo(IoCall& call) {
    (void)call;
    return ERROR_INVALID_FUNCTION;
}

}  // namespace sim
