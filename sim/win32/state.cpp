// The state file: what the drives of the installed machine report after the run.
#include <nlohmann/json.hpp>

#include "base/utf8.h"
#include "sim/models/text.h"
#include "sim/win32/binding.h"
#include "sim/win32/runtime.h"
#include "sim/win32/sha256.h"

namespace sim {

std::string StateJson(std::int32_t exitCode) {
    using Json = nlohmann::ordered_json;
    Json state = Json::object();
    state["exitCode"] = exitCode;
    Json drives = Json::array();
    const Machine* machine = InstalledMachine();
    if (machine != nullptr) {
        for (const Drive& drive : machine->drives) {
            Json entry = Json::object();
            entry["id"] = drive.id;
            entry["firmwareRevision"] = utf8::FromUtf16(utf8::FromLatin1(drive.firmwareRevision));
            entry["revisionAfterPowerCycle"] =
                utf8::FromUtf16(utf8::FromLatin1(drive.revisionAfterPowerCycle));
            entry["downloadRequests"] = drive.downloadRequests;
            entry["activations"] = drive.activations;
            Json slots = Json::array();
            for (const FirmwareSlot& slot : drive.slots) {
                if (!slot.image) {
                    continue;
                }
                Json item = Json::object();
                item["number"] = slot.number;
                item["revision"] = utf8::FromUtf16(utf8::FromLatin1(slot.revision));
                item["sha256"] = Sha256Hex(*slot.image);
                slots.push_back(std::move(item));
            }
            entry["slots"] = std::move(slots);
            entry["protocolErrors"] = drive.protocolErrors;
            drives.push_back(std::move(entry));
        }
    }
    state["drives"] = std::move(drives);
    // Beyond the drives: malformed requests no drive received, and handles the run
    // left open.
    state["protocolErrors"] =
        machine != nullptr ? machine->protocolErrors : std::vector<std::string>{};
    state["openHandles"] = OpenHandleCount();
    return state.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace sim
