// The built-in default machine. It shows every path of the program: an Intel RST
// controller with a two-drive RAID-1 volume and a single drive, an inbox drive at the
// base revision, one already at the target revision, and a disk of another maker.
// tests/data/default-machine.json holds the same text for reading.
#include <string_view>

#include "sim/scenario/scenario.h"

namespace sim {
namespace {

constexpr std::string_view kDefaultScenario = R"json({
  "controllers": [
    {
      "id": "rst0",
      "raidSets": [[0, 1]],
      "drives": {
        "0": { "id": "raid-member-0", "sn": "KV2311000101", "fr": "QZT2VKLA", "version": "1.3", "fwug": 8 },
        "1": { "id": "raid-member-1", "sn": "KV2311000102", "fr": "QZT2VKLA", "version": "1.3", "fwug": 8 },
        "2": { "id": "rst-single", "sn": "KV2311000103", "fr": "QZT2VKLA", "version": "1.3", "fwug": 8 }
      }
    }
  ],
  "disks": [
    {
      "attach": "other",
      "drive": {
        "id": "other-maker", "sn": "AW22K0417733", "mn": "ALDERWEN NV3 512GB", "fr": "2B0QALD1",
        "version": "1.4", "fwug": 1,
        "slots": [ { "number": 1 }, { "number": 2 } ],
        "activation": "immediate"
      }
    },
    {
      "attach": "inbox",
      "drive": { "id": "inbox-base", "sn": "KV2311000201", "fr": "QZT2VKLA", "version": "1.3", "fwug": 8 }
    },
    {
      "attach": "inbox",
      "drive": { "id": "inbox-target", "sn": "KV2311000202", "fr": "QZT3VKLA", "version": "1.3", "fwug": 8 }
    },
    { "attach": "raid-volume", "controller": "rst0" },
    { "attach": "rst", "controller": "rst0", "pathId": 2 }
  ]
}
)json";

}  // namespace

std::string_view DefaultScenarioText() {
    return kDefaultScenario;
}

Machine DefaultMachine() {
    Machine machine;
    std::string error;
    // The text is fixed and covered by a test, so it always loads.
    LoadScenarioText(kDefaultScenario, "default machine", machine, error);
    return machine;
}

}  // namespace sim
