// A binding of namespace win made for timing the program's own work: a machine of N
// drives whose drivers answer every request at once from replies prepared before the
// clock starts. Nothing here models a drive: no image is assembled, nothing is
// checked or traced, and a download request costs the driver side one status write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

enum class Path {
    Inbox,  // N drives of the maker on the inbox NVMe driver
    Rst,    // N drives behind one Intel RST controller: a RAID volume and single disks
};

struct MachineShape {
    Path path = Path::Inbox;
    std::size_t drives = 1;
    std::uint8_t granularity = 8;  // FWUG every drive reports, in 4096-byte units
};

// Builds the machine and its prepared replies; every platform call answers from it
// until the next Install.
void Install(const MachineShape& shape);

// How the RST machine splits its drives: the first `RaidMembers(n)` path numbers make
// up RAID set 0 and the rest are single disks. One drive is a single disk.
std::size_t RaidMembers(std::size_t drives);

// Requests the drivers answered since Install, for checking that a run did its work.
struct Counts {
    std::size_t downloads = 0;
    std::size_t activations = 0;
};
Counts RequestCounts();

}  // namespace bench
