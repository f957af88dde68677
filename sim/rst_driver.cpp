// The Intel RST driver, as seen through a controller handle: CSMI RAID configuration,
// NVMe pass-through and firmware requests, carried to the controller's drives by
// path number.
#include "sim/io.h"

namespace sim {

// No model yet: every request is answered as an unsupported function.
DWORD RstDriverIo(IoCall& call) {
    (void)call;
    return ERROR_INVALID_FUNCTION;
}

}  // namespace sim
