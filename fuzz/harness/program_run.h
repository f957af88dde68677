// The whole-program target: the program run once on a simulated machine whose every
// answer the input chooses, with the invariants a run must keep whatever the drivers
// say.
//
// Every DeviceIoControl goes to the harness (Disk::io and Controller::io). It lets the
// simulated drivers and drives answer first, then changes the answer as the input
// says, and keeps its own account of what each drive was sent and what the driver
// returned. Before the run:
//
//   machine                      the simulator refused the machine the input describes
//                                (a fault of the harness: every input is a machine)
//
// After the run:
//
//   handles-left-open            a handle or device set is still open
//   protocol-error               an unaltered run sent a request the drivers refuse
//   report                       the report cannot be read
//   final-line                   the final line does not match the exit code
//   verdict                      the exit code does not follow from the drive blocks
//   unaccepted-update-reported   a block says updated (or reboot) for a drive that was
//                                not sent the whole image, in order, each piece and then
//                                the activation answered as accepted inside the bytes
//                                the driver returned
//   reported-twice               one drive has two report blocks
//   raid-members-skipped         the last RAID reply of a set announced more members
//                                than it held, and the run did not fail
//
// and while it runs:
//
//   not-a-maker-disk             a request on a disk interface that is not the maker's
//                                NVMe disk (parent VEN_7C1E, an "NVMe" hardware ID)
//   unreported-disk-number       a request on \\.\PHYSICALDRIVE<n> although no
//                                device-number reply returned n
//   unknown-rst-path             an RST request for a path no RAID reply returned and
//                                no RST disk's location names
//
// Report blocks are matched to drives by serial number: each drive's Identify data
// carries a unique tag ("FZTAG-<n>"), and a tag that reaches the program any other way
// is spoiled, so a tag in a block always names the drive it came from.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "fuzz/harness/findings.h"
#include "fuzz/harness/program_input.h"
#include "sim/models/machine.h"

namespace fuzzprogram {

// What one run did, besides what it broke: for tests that the inputs reach somewhere.
struct Outcome {
    fuzzharness::Findings findings;
    std::int32_t exitCode = 0;
    std::string output;  // what the program printed
    std::size_t reportBlocks = 0;
    // Whole images sent in order and activated, each request accepted.
    std::size_t acceptedUpdates = 0;
};

Outcome RunProgramInput(const ProgramInput& input);

// The machine `input` describes, its answers altered as the input says, handed to `use`
// while the harness that answers for it lives; for running another program on it (the
// read-only preflight). Nothing is checked; `use` is not called when the simulator
// refuses the machine.
void WithProgramMachine(const ProgramInput& input, const std::function<void(sim::Machine&)>& use);
fuzzharness::Findings CheckProgramBytes(std::span<const std::uint8_t> data);

}  // namespace fuzzprogram
