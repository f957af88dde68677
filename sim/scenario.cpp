// Reading a scenario: JSON text to a ScenarioDraft, every key checked, every problem
// reported as one line with its place ("disks[2].drive.sn: ...").
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/scenario_draft.h"
#include "sim/sim.h"
#include "sim/text.h"

namespace sim {
namespace {

using Json = nlohmann::ordered_json;

// Builds the document through the SAX interface, so that a syntax error arrives as a
// value rather than an exception and a key written twice is caught instead of the
// later value silently winning.
class DocumentBuilder : public nlohmann::json_sax<Json> {
  public:
    Json root;
    std::string error;

    bool null() override { return Value(Json(nullptr)); }
    bool boolean(bool value) override { return Value(Json(value)); }
    bool number_integer(number_integer_t value) override { return Value(Json(value)); }
    bool number_unsigned(number_unsigned_t value) override { return Value(Json(value)); }
    bool number_float(number_float_t value, const string_t&) override { return Value(Json(value)); }
    bool string(string_t& value) override { return Value(Json(value)); }
    bool binary(binary_t&) override {
        error = "invalid JSON: binary values are not JSON";
        return false;
    }
    bool start_object(std::size_t) override { return Open(Json::object()); }
    bool start_array(std::size_t) override { return Open(Json::array()); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }

    bool key(string_t& name) override {
        Json& object = *stack_.back();
        if (object.contains(name)) {
            error = Place(places_.back(), name) + ": the key appears twice";
            return false;
        }
        slot_ = &object[name];
        slotPlace_ = Place(places_.back(), name);
        return true;
    }

    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& problem) override {
        // "[json.exception.parse_error.101] parse error at line 2, column 5: syntax
        // error while parsing ..." becomes "invalid JSON at line 2, column 5: ...".
        std::string text = problem.what();
        const std::size_t at = text.find("at line");
        error = "invalid JSON " + (at == std::string::npos ? text : text.substr(at));
        return false;
    }

    static std::string Place(const std::string& parent, const std::string& key) {
        return parent.empty() ? key : parent + "." + key;
    }

  private:
    // Where the next value goes, and its place.
    Json* Target(std::string& place) {
        if (stack_.empty()) {
            place.clear();
            return &root;
        }
        Json& container = *stack_.back();
        if (container.is_array()) {
            place = places_.back() + "[" + std::to_string(container.size()) + "]";
            container.push_back(Json());
            return &container.back();
        }
        place = slotPlace_;
        return slot_;
    }

    bool Value(Json value) {
        std::string place;
        *Target(place) = std::move(value);
        return true;
    }

    bool Open(Json container) {
        std::string place;
        Json* target = Target(place);
        *target = std::move(container);
        stack_.push_back(target);
        places_.push_back(place);
        return true;
    }

    bool Close() {
        stack_.pop_back();
        places_.pop_back();
        return true;
    }

    std::vector<Json*> stack_;
    std::vector<std::string> places_;
    Json* slot_ = nullptr;
    std::string slotPlace_;
};

std::string Kind(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null:
            return "null";
        case Json::value_t::boolean:
            return "true or false";
        case Json::value_t::string:
            return "a string";
        case Json::value_t::array:
            return "an array";
        case Json::value_t::object:
            return "an object";
        case Json::value_t::number_float:
            return "a number with a fraction";
        default:
            return "a number";
    }
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

// The code points of a UTF-8 text the JSON parser has already checked.
std::vector<std::uint32_t> CodePoints(std::string_view utf8) {
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::uint8_t lead = static_cast<std::uint8_t>(utf8[i]);
        std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::uint32_t code = length == 1   ? lead
                             : length == 2 ? lead & 0x1Fu
                             : length == 3 ? lead & 0x0Fu
                                           : lead & 0x07u;
        for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
            code = (code << 6) | (static_cast<std::uint8_t>(utf8[i + k]) & 0x3Fu);
        }
        out.push_back(code);
        i += length;
    }
    return out;
}

class Reader {
  public:
    std::string error;  // "<place>: <problem>"

    bool Fail(const std::string& place, const std::string& problem) {
        error = place.empty() ? problem : place + ": " + problem;
        return false;
    }

    static std::string At(const std::string& parent, std::string_view key) {
        return DocumentBuilder::Place(parent, std::string(key));
    }
    static std::string At(const std::string& parent, std::size_t index) {
        return parent + "[" + std::to_string(index) + "]";
    }

    bool Expect(const Json& value, Json::value_t type, const std::string& place,
                std::string_view wanted) {
        const bool matches = value.type() == type ||
                             (type == Json::value_t::number_integer && value.is_number_unsigned());
        if (!matches) {
            return Fail(place, "expected " + std::string(wanted) + ", found " + Kind(value));
        }
        return true;
    }

    bool Object(const Json& value, const std::string& place,
                std::initializer_list<std::string_view> keys) {
        if (!Expect(value, Json::value_t::object, place, "an object")) {
            return false;
        }
        for (const auto& item : value.items()) {
            bool known = false;
            for (std::string_view key : keys) {
                known = known || item.key() == key;
            }
            if (!known) {
                std::string list;
                for (std::string_view key : keys) {
                    list += (list.empty() ? "" : ", ") + std::string(key);
                }
                return Fail(At(place, item.key()), "unknown key (known here: " + list + ")");
            }
        }
        return true;
    }

    bool Text(const Json& value, const std::string& place, std::string& out) {
        if (!Expect(value, Json::value_t::string, place, "a string")) {
            return false;
        }
        out = value.get<std::string>();
        return true;
    }

    bool WideText(const Json& value, const std::string& place, std::wstring& out) {
        std::string text;
        if (!Text(value, place, text)) {
            return false;
        }
        out = Utf8ToUtf16(text);
        return true;
    }

    bool Flag(const Json& value, const std::string& place, bool& out) {
        if (!Expect(value, Json::value_t::boolean, place, "true or false")) {
            return false;
        }
        out = value.get<bool>();
        return true;
    }

    bool Integer(const Json& value, const std::string& place, std::int64_t low, std::int64_t high,
                 std::int64_t& out) {
        if (!value.is_number_integer()) {
            return Fail(place, "expected a whole number, found " + Kind(value));
        }
        if (value.is_number_unsigned()) {
            const std::uint64_t big = value.get<std::uint64_t>();
            if (big > static_cast<std::uint64_t>(high)) {
                return Fail(place, std::to_string(big) + " is out of range " + std::to_string(low) +
                                       " to " + std::to_string(high));
            }
            out = static_cast<std::int64_t>(big);
        } else {
            out = value.get<std::int64_t>();
        }
        if (out < low || out > high) {
            return Fail(place, std::to_string(out) + " is out of range " + std::to_string(low) +
                                   " to " + std::to_string(high));
        }
        return true;
    }

    bool Choice(const Json& value, const std::string& place,
                std::initializer_list<std::string_view> choices, std::size_t& out) {
        std::string text;
        if (!Text(value, place, text)) {
            return false;
        }
        std::string list;
        std::size_t index = 0;
        for (std::string_view choice : choices) {
            if (text == choice) {
                out = index;
                return true;
            }
            list += (index++ == 0 ? "" : ", ") + Quoted(choice);
        }
        return Fail(place, Quoted(text) + " is not one of " + list);
    }

    template <typename T, typename ReadValue>
    bool Nullable(const Json& value, const std::string& place, Override<T>& out, ReadValue read) {
        out.given = true;
        if (value.is_null()) {
            out.value.reset();
            return true;
        }
        T parsed{};
        if (!read(value, place, parsed)) {
            return false;
        }
        out.value = std::move(parsed);
        return true;
    }

    // An Identify text: one byte per character U+0000 to U+00FF, padded with blanks.
    bool IdentifyText(const Json& value, const std::string& place, std::uint8_t* field,
                      std::size_t width) {
        std::string text;
        if (!Text(value, place, text)) {
            return false;
        }
        const std::vector<std::uint32_t> codes = CodePoints(text);
        for (std::size_t i = 0; i < codes.size(); ++i) {
            if (codes[i] > 0xFF) {
                char code[16];
                std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(codes[i]));
                return Fail(place, "character " + std::string(code) + " at position " +
                                       std::to_string(i) + " is not one byte (U+0000 to U+00FF)");
            }
        }
        if (codes.size() > width) {
            return Fail(place, std::to_string(codes.size()) + " characters, longer than the " +
                                   std::to_string(width) + "-byte field");
        }
        for (std::size_t i = 0; i < width; ++i) {
            field[i] = i < codes.size() ? static_cast<std::uint8_t>(codes[i]) : 0x20;
        }
        return true;
    }

    bool Version(const Json& value, const std::string& place, std::uint32_t& out) {
        std::string text;
        if (!Text(value, place, text)) {
            return false;
        }
        std::vector<std::uint32_t> parts;
        std::string digits;
        bool wellFormed = true;
        for (std::size_t i = 0; i <= text.size() && wellFormed; ++i) {
            if (i == text.size() || text[i] == '.') {
                wellFormed = !digits.empty() && digits.size() <= 5;
                if (wellFormed) {
                    parts.push_back(static_cast<std::uint32_t>(std::stoul(digits)));
                }
                digits.clear();
            } else if (text[i] >= '0' && text[i] <= '9') {
                digits.push_back(text[i]);
            } else {
                wellFormed = false;
            }
        }
        const std::uint32_t tertiary = parts.size() == 3 ? parts[2] : 0;
        if (!wellFormed || parts.size() < 2 || parts.size() > 3 || parts[0] > 0xFFFF ||
            parts[1] > 0xFF || tertiary > 0xFF) {
            return Fail(place, Quoted(text) +
                                   " is not a version \"MJR.MNR\" (major 0 to 65535, minor 0 "
                                   "to 255)");
        }
        out = (parts[0] << 16) | (parts[1] << 8) | tertiary;
        return true;
    }

    // "fail" or {"returnCode": N}
    bool Answer(const Json& value, const std::string& place, ForcedAnswer& out) {
        if (value.is_string()) {
            std::size_t choice = 0;
            if (!Choice(value, place, {"fail"}, choice)) {
                return false;
            }
            out.kind = ForcedAnswer::Kind::Fail;
            return true;
        }
        if (!value.is_object()) {
            return Fail(place,
                        "expected \"fail\" or an object with \"returnCode\", found " + Kind(value));
        }
        if (!Object(value, place, {"returnCode"})) {
            return false;
        }
        if (!value.contains("returnCode")) {
            return Fail(place, "missing required key \"returnCode\"");
        }
        std::int64_t code = 0;
        if (!Integer(value["returnCode"], At(place, "returnCode"), 0, 0xFFFFFFFFll, code)) {
            return false;
        }
        out.kind = ForcedAnswer::Kind::ReturnCode;
        out.returnCode = static_cast<std::uint32_t>(code);
        return true;
    }

    bool DownloadFaultValue(const Json& value, const std::string& place, DownloadFault& out) {
        if (!Object(value, place, {"chunk", "fail", "returnCode"})) {
            return false;
        }
        if (!value.contains("chunk")) {
            return Fail(place, "missing required key \"chunk\"");
        }
        std::int64_t chunk = 0;
        if (!Integer(value["chunk"], At(place, "chunk"), 0, 0xFFFFFFFFll, chunk)) {
            return false;
        }
        out.chunk = static_cast<std::uint32_t>(chunk);
        ForcedAnswer& answer = out.fault.answer;
        bool fail = false;
        if (value.contains("fail") && !Flag(value["fail"], At(place, "fail"), fail)) {
            return false;
        }
        if (value.contains("returnCode")) {
            if (fail) {
                return Fail(place, "\"fail\": true and \"returnCode\" together; give one of them");
            }
            std::int64_t code = 0;
            if (!Integer(value["returnCode"], At(place, "returnCode"), 0, 0xFFFFFFFFll, code)) {
                return false;
            }
            answer.kind = ForcedAnswer::Kind::ReturnCode;
            answer.returnCode = static_cast<std::uint32_t>(code);
        } else if (fail) {
            answer.kind = ForcedAnswer::Kind::Fail;
        } else {
            return Fail(place, "needs \"fail\": true or a \"returnCode\"");
        }
        return true;
    }

    bool Faults(const Json& value, const std::string& place, DriveFaults& out) {
        if (!Object(value, place, {"open", "identify", "firmwareInfo", "download", "activate"})) {
            return false;
        }
        std::size_t choice = 0;
        if (value.contains("open")) {
            if (!Choice(value["open"], At(place, "open"), {"deny"}, choice)) {
                return false;
            }
            out.denyOpen = true;
        }
        if (value.contains("identify")) {
            if (!Choice(value["identify"], At(place, "identify"), {"fail"}, choice)) {
                return false;
            }
            out.identify.answer.kind = ForcedAnswer::Kind::Fail;
        }
        if (value.contains("firmwareInfo") &&
            !Answer(value["firmwareInfo"], At(place, "firmwareInfo"), out.firmwareInfo.answer)) {
            return false;
        }
        if (value.contains("download")) {
            DownloadFault fault;
            if (!DownloadFaultValue(value["download"], At(place, "download"), fault)) {
                return false;
            }
            out.download = fault;
        }
        if (value.contains("activate") &&
            !Answer(value["activate"], At(place, "activate"), out.activate.answer)) {
            return false;
        }
        return true;
    }

    bool Slots(const Json& value, const std::string& place, std::vector<FirmwareSlot>& out) {
        if (!Expect(value, Json::value_t::array, place, "an array")) {
            return false;
        }
        if (value.empty() || value.size() > 7) {
            return Fail(place, std::to_string(value.size()) +
                                   " slots; an NVMe drive has 1 to 7 firmware slots");
        }
        out.clear();
        for (std::size_t i = 0; i < value.size(); ++i) {
            const std::string at = At(place, i);
            const Json& slot = value[i];
            if (!Object(slot, at, {"number", "readOnly"})) {
                return false;
            }
            if (!slot.contains("number")) {
                return Fail(at, "missing required key \"number\"");
            }
            std::int64_t number = 0;
            if (!Integer(slot["number"], At(at, "number"), 1, 7, number)) {
                return false;
            }
            for (const FirmwareSlot& earlier : out) {
                if (earlier.number == number) {
                    return Fail(At(at, "number"),
                                "slot " + std::to_string(number) + " is listed twice");
                }
            }
            FirmwareSlot parsed;
            parsed.number = static_cast<std::uint8_t>(number);
            if (slot.contains("readOnly") &&
                !Flag(slot["readOnly"], At(at, "readOnly"), parsed.readOnly)) {
                return false;
            }
            if (parsed.readOnly && number != 1) {
                return Fail(At(at, "readOnly"), "only slot 1 can be read-only on an NVMe drive");
            }
            out.push_back(parsed);
        }
        return true;
    }

    bool DriveValue(const Json& value, const std::string& place, DriveDraft& out) {
        if (!Object(value, place,
                    {"id", "sn", "mn", "fr", "version", "fwug", "upgradeSupport", "slots",
                     "activeSlot", "activation", "faults"})) {
            return false;
        }
        out.place = place;
        out.drive = DefaultDrive();
        Drive& drive = out.drive;
        if (value.contains("id")) {
            if (!Text(value["id"], At(place, "id"), drive.id)) {
                return false;
            }
            if (drive.id.empty()) {
                return Fail(At(place, "id"), "an empty id");
            }
            out.hasId = true;
        }
        if (value.contains("sn")) {
            if (!IdentifyText(value["sn"], At(place, "sn"), drive.serialNumber.data(),
                              drive.serialNumber.size())) {
                return false;
            }
            out.hasSerial = true;
        }
        if (value.contains("mn") &&
            !IdentifyText(value["mn"], At(place, "mn"), drive.modelNumber.data(),
                          drive.modelNumber.size())) {
            return false;
        }
        if (value.contains("fr")) {
            if (!IdentifyText(value["fr"], At(place, "fr"), drive.firmwareRevision.data(),
                              drive.firmwareRevision.size())) {
                return false;
            }
        }
        if (value.contains("version") &&
            !Version(value["version"], At(place, "version"), drive.version)) {
            return false;
        }
        std::int64_t number = 0;
        if (value.contains("fwug")) {
            if (!Integer(value["fwug"], At(place, "fwug"), 0, 255, number)) {
                return false;
            }
            drive.fwug = static_cast<std::uint8_t>(number);
        }
        if (value.contains("upgradeSupport") &&
            !Flag(value["upgradeSupport"], At(place, "upgradeSupport"), drive.upgradeSupport)) {
            return false;
        }
        if (value.contains("slots") && !Slots(value["slots"], At(place, "slots"), drive.slots)) {
            return false;
        }
        drive.activeSlot = drive.slots.front().number;
        for (const FirmwareSlot& slot : drive.slots) {
            drive.activeSlot = std::min(drive.activeSlot, slot.number);
        }
        if (value.contains("activeSlot")) {
            if (!Integer(value["activeSlot"], At(place, "activeSlot"), 1, 7, number)) {
                return false;
            }
            bool listed = false;
            for (const FirmwareSlot& slot : drive.slots) {
                listed = listed || slot.number == number;
            }
            if (!listed) {
                return Fail(At(place, "activeSlot"),
                            "slot " + std::to_string(number) + " is not among the drive's slots");
            }
            drive.activeSlot = static_cast<std::uint8_t>(number);
        }
        if (value.contains("activation")) {
            std::size_t choice = 0;
            if (!Choice(value["activation"], At(place, "activation"), {"power-cycle", "immediate"},
                        choice)) {
                return false;
            }
            drive.activation = choice == 0 ? Activation::PowerCycle : Activation::Immediate;
        }
        if (value.contains("faults") &&
            !Faults(value["faults"], At(place, "faults"), drive.faults)) {
            return false;
        }
        // The running image is in the active slot; the others hold nothing yet.
        drive.revisionAfterPowerCycle = drive.firmwareRevision;
        for (FirmwareSlot& slot : drive.slots) {
            slot.revision =
                slot.number == drive.activeSlot ? drive.firmwareRevision : RevisionBytes{};
        }
        return true;
    }

    bool PathNumber(const std::string& key, const std::string& place, std::uint8_t& out) {
        const bool digits = !key.empty() && key.size() <= 3 &&
                            key.find_first_not_of("0123456789") == std::string::npos &&
                            (key.size() == 1 || key[0] != '0');
        if (!digits || std::stoi(key) > 255) {
            return Fail(place, "a drive's key is its path number, 0 to 255, not " + Quoted(key));
        }
        out = static_cast<std::uint8_t>(std::stoi(key));
        return true;
    }

    bool ControllerValue(const Json& value, const std::string& place, ControllerDraft& out) {
        if (!Object(value, place,
                    {"id", "path", "driverDescription", "instanceId", "openable", "raidSets",
                     "drives", "faults"})) {
            return false;
        }
        out.place = place;
        if (!value.contains("id")) {
            return Fail(place, "missing required key \"id\"");
        }
        if (!Text(value["id"], At(place, "id"), out.id)) {
            return false;
        }
        if (out.id.empty()) {
            return Fail(At(place, "id"), "an empty id");
        }
        auto wide = [this](const Json& v, const std::string& p, std::wstring& o) {
            return WideText(v, p, o);
        };
        if (value.contains("path")) {
            std::wstring path;
            if (!WideText(value["path"], At(place, "path"), path)) {
                return false;
            }
            out.path = path;
        }
        if (value.contains("driverDescription") &&
            !Nullable(value["driverDescription"], At(place, "driverDescription"),
                      out.driverDescription, wide)) {
            return false;
        }
        if (value.contains("instanceId") &&
            !Nullable(value["instanceId"], At(place, "instanceId"), out.instanceId, wide)) {
            return false;
        }
        if (value.contains("openable") &&
            !Flag(value["openable"], At(place, "openable"), out.openable)) {
            return false;
        }
        if (value.contains("raidSets") &&
            !RaidSets(value["raidSets"], At(place, "raidSets"), out)) {
            return false;
        }
        if (value.contains("drives")) {
            const std::string at = At(place, "drives");
            if (!Expect(value["drives"], Json::value_t::object, at, "an object")) {
                return false;
            }
            for (const auto& item : value["drives"].items()) {
                std::uint8_t path = 0;
                if (!PathNumber(item.key(), At(at, item.key()), path)) {
                    return false;
                }
                if (out.drives.count(path) != 0) {
                    return Fail(At(at, item.key()),
                                "path " + std::to_string(path) + " is given twice");
                }
                DriveDraft drive;
                if (!DriveValue(item.value(), At(at, item.key()), drive)) {
                    return false;
                }
                out.drives.emplace(path, std::move(drive));
            }
        }
        if (value.contains("faults")) {
            const std::string at = At(place, "faults");
            if (!Object(value["faults"], at, {"raidConfig"})) {
                return false;
            }
            if (value["faults"].contains("raidConfig") &&
                !Answer(value["faults"]["raidConfig"], At(at, "raidConfig"), out.raidConfigFault)) {
                return false;
            }
        }
        return true;
    }

    bool RaidSets(const Json& value, const std::string& place, ControllerDraft& out) {
        if (!Expect(value, Json::value_t::array, place, "an array")) {
            return false;
        }
        std::vector<std::vector<std::uint8_t>> sets;
        std::map<std::int64_t, std::string> seen;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const std::string at = At(place, i);
            if (!Expect(value[i], Json::value_t::array, at, "an array of path numbers")) {
                return false;
            }
            if (value[i].empty()) {
                return Fail(at, "a RAID set without members");
            }
            std::vector<std::uint8_t> members;
            for (std::size_t k = 0; k < value[i].size(); ++k) {
                std::int64_t path = 0;
                if (!Integer(value[i][k], At(at, k), 0, 255, path)) {
                    return false;
                }
                if (seen.count(path) != 0) {
                    return Fail(At(at, k), "path " + std::to_string(path) +
                                               " is already a member at " + seen[path]);
                }
                seen[path] = At(at, k);
                members.push_back(static_cast<std::uint8_t>(path));
            }
            sets.push_back(std::move(members));
        }
        out.raidSets = std::move(sets);
        return true;
    }

    bool DiskValue(const Json& value, const std::string& place, DiskDraft& out) {
        if (!Object(value, place,
                    {"attach", "controller", "pathId", "drive", "parent", "instanceId",
                     "hardwareIds", "locationInfo", "interfacePath", "deviceNumber", "openable",
                     "deviceNumberFails"})) {
            return false;
        }
        out.place = place;
        if (!value.contains("attach")) {
            return Fail(place, "missing required key \"attach\"");
        }
        std::size_t attach = 0;
        if (!Choice(value["attach"], At(place, "attach"), {"inbox", "rst", "raid-volume", "other"},
                    attach)) {
            return false;
        }
        out.attach = static_cast<Attach>(attach);
        const bool behindRst = out.attach == Attach::Rst || out.attach == Attach::RaidVolume;
        const std::string attachText = Quoted(value["attach"].get<std::string>());
        if (value.contains("controller")) {
            if (!behindRst) {
                return Fail(At(place, "controller"),
                            "only a disk attached \"rst\" or \"raid-volume\" has a controller, "
                            "not one attached " +
                                attachText);
            }
            std::string id;
            if (!Text(value["controller"], At(place, "controller"), id)) {
                return false;
            }
            out.controllerId = id;
        } else if (behindRst) {
            return Fail(place,
                        "missing required key \"controller\" for a disk attached " + attachText);
        }
        if (value.contains("pathId")) {
            if (out.attach != Attach::Rst) {
                return Fail(
                    At(place, "pathId"),
                    "only a disk attached \"rst\" has a pathId, not one attached " + attachText);
            }
            std::int64_t path = 0;
            if (!Integer(value["pathId"], At(place, "pathId"), 0, 255, path)) {
                return false;
            }
            out.pathId = static_cast<std::uint8_t>(path);
        }
        if (value.contains("drive")) {
            if (out.attach == Attach::RaidVolume) {
                return Fail(At(place, "drive"),
                            "a RAID volume has no drive of its own; its members are the "
                            "controller's drives");
            }
            DriveDraft drive;
            if (!DriveValue(value["drive"], At(place, "drive"), drive)) {
                return false;
            }
            out.drive = std::move(drive);
        }
        auto wide = [this](const Json& v, const std::string& p, std::wstring& o) {
            return WideText(v, p, o);
        };
        for (auto [key, field] :
             {std::pair{"parent", &out.parent}, std::pair{"instanceId", &out.instanceId},
              std::pair{"locationInfo", &out.locationInfo},
              std::pair{"interfacePath", &out.interfacePath}}) {
            if (value.contains(key) && !Nullable(value[key], At(place, key), *field, wide)) {
                return false;
            }
        }
        if (value.contains("hardwareIds")) {
            auto list = [this](const Json& v, const std::string& p, std::vector<std::wstring>& o) {
                if (!Expect(v, Json::value_t::array, p, "an array of strings or null")) {
                    return false;
                }
                for (std::size_t i = 0; i < v.size(); ++i) {
                    std::wstring id;
                    if (!WideText(v[i], At(p, i), id)) {
                        return false;
                    }
                    o.push_back(std::move(id));
                }
                return true;
            };
            if (!Nullable(value["hardwareIds"], At(place, "hardwareIds"), out.hardwareIds, list)) {
                return false;
            }
        }
        if (value.contains("deviceNumber")) {
            auto number = [this](const Json& v, const std::string& p, DWORD& o) {
                std::int64_t n = 0;
                if (!Integer(v, p, 0, 999999999, n)) {
                    return false;
                }
                o = static_cast<DWORD>(n);
                return true;
            };
            if (!Nullable(value["deviceNumber"], At(place, "deviceNumber"), out.deviceNumber,
                          number)) {
                return false;
            }
        }
        if (value.contains("openable") &&
            !Flag(value["openable"], At(place, "openable"), out.openable)) {
            return false;
        }
        if (value.contains("deviceNumberFails") &&
            !Flag(value["deviceNumberFails"], At(place, "deviceNumberFails"),
                  out.deviceNumberFails)) {
            return false;
        }
        return true;
    }

    bool LocalTime(const Json& value, const std::string& place, SYSTEMTIME& out) {
        std::string text;
        if (!Text(value, place, text)) {
            return false;
        }
        // YYYY-MM-DDTHH:MM:SS with optional .mmm
        auto digitsAt = [&](std::size_t at, std::size_t count, int& number) {
            if (at + count > text.size()) {
                return false;
            }
            number = 0;
            for (std::size_t i = at; i < at + count; ++i) {
                if (text[i] < '0' || text[i] > '9') {
                    return false;
                }
                number = number * 10 + (text[i] - '0');
            }
            return true;
        };
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
        bool ok = (text.size() == 19 || text.size() == 23) && digitsAt(0, 4, year) &&
                  text[4] == '-' && digitsAt(5, 2, month) && text[7] == '-' &&
                  digitsAt(8, 2, day) && text[10] == 'T' && digitsAt(11, 2, hour) &&
                  text[13] == ':' && digitsAt(14, 2, minute) && text[16] == ':' &&
                  digitsAt(17, 2, second) &&
                  (text.size() == 19 || (text[19] == '.' && digitsAt(20, 3, millis)));
        static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        ok = ok && year >= 1601 && year <= 30827 && month >= 1 && month <= 12 && day >= 1 &&
             day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0) && hour <= 23 && minute <= 59 &&
             second <= 59;
        if (!ok) {
            return Fail(place, Quoted(text) + " is not a local time \"YYYY-MM-DDTHH:MM:SS\"");
        }
        // Day of the week by Sakamoto's method; 0 is Sunday, as SYSTEMTIME counts.
        static constexpr int kMonthOffset[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
        const int y = month < 3 ? year - 1 : year;
        const int weekday = (y + y / 4 - y / 100 + y / 400 + kMonthOffset[month - 1] + day) % 7;
        out = SYSTEMTIME{};
        out.wYear = static_cast<WORD>(year);
        out.wMonth = static_cast<WORD>(month);
        out.wDayOfWeek = static_cast<WORD>(weekday);
        out.wDay = static_cast<WORD>(day);
        out.wHour = static_cast<WORD>(hour);
        out.wMinute = static_cast<WORD>(minute);
        out.wSecond = static_cast<WORD>(second);
        out.wMilliseconds = static_cast<WORD>(millis);
        return true;
    }

    bool Scenario(const Json& root, ScenarioDraft& out) {
        if (!root.is_object()) {
            return Fail("", "a scenario is a JSON object, found " + Kind(root));
        }
        if (!Object(root, "", {"controllers", "disks", "localTime", "moduleHandleFails"})) {
            return false;
        }
        if (root.contains("controllers")) {
            const Json& list = root["controllers"];
            if (!Expect(list, Json::value_t::array, "controllers", "an array")) {
                return false;
            }
            for (std::size_t i = 0; i < list.size(); ++i) {
                ControllerDraft controller;
                if (!ControllerValue(list[i], At("controllers", i), controller)) {
                    return false;
                }
                for (const ControllerDraft& earlier : out.controllers) {
                    if (earlier.id == controller.id) {
                        return Fail(
                            At(controller.place, "id"),
                            "id " + Quoted(controller.id) + " is already used by " + earlier.place);
                    }
                }
                out.controllers.push_back(std::move(controller));
            }
        }
        if (root.contains("disks")) {
            const Json& list = root["disks"];
            if (!Expect(list, Json::value_t::array, "disks", "an array")) {
                return false;
            }
            for (std::size_t i = 0; i < list.size(); ++i) {
                DiskDraft disk;
                if (!DiskValue(list[i], At("disks", i), disk)) {
                    return false;
                }
                out.disks.push_back(std::move(disk));
            }
        }
        if (root.contains("localTime")) {
            SYSTEMTIME time{};
            if (!LocalTime(root["localTime"], "localTime", time)) {
                return false;
            }
            out.localTime = time;
        }
        if (root.contains("moduleHandleFails") &&
            !Flag(root["moduleHandleFails"], "moduleHandleFails", out.moduleHandleFails)) {
            return false;
        }
        return true;
    }
};

}  // namespace

bool LoadScenarioText(std::string_view json, std::string_view sourceName, Machine& out,
                      std::string& error) {
    const std::string prefix = std::string(sourceName) + ": ";
    DocumentBuilder builder;
    if (!Json::sax_parse(json, &builder)) {
        error = prefix + (builder.error.empty() ? "invalid JSON" : builder.error);
        return false;
    }
    Reader reader;
    ScenarioDraft draft;
    if (!reader.Scenario(builder.root, draft)) {
        error = prefix + reader.error;
        return false;
    }
    Machine machine;
    std::string problem;
    if (!AssembleMachine(std::move(draft), machine, problem)) {
        error = prefix + problem;
        return false;
    }
    out = std::move(machine);
    return true;
}

bool LoadScenarioFile(const std::string& path, Machine& out, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot open the scenario file";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        error = path + ": cannot read the scenario file";
        return false;
    }
    return LoadScenarioText(text.str(), path, out, error);
}

}  // namespace sim
