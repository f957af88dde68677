// Reading a scenario: JSON text to a ScenarioDraft, every key checked, every problem
// reported as one line with its place ("disks[2].drive.sn: ...").
//
// Each object is read through one table of its keys and their readers, so a key is
// spelled once: the table both refuses unknown keys and reads the known ones, in the
// table's order (a reader may rely on the keys above it having been read).
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "drivers/csmi_raid_config.h"
#include "drivers/miniport_firmware.h"
#include "drivers/nvme_identify.h"
#include "drivers/rst_firmware.h"
#include "drivers/rst_nvme_pass_through.h"
#include "drivers/storage_requests.h"
#include "sim/models/text.h"
#include "sim/scenario/scenario.h"
#include "sim/scenario/scenario_draft.h"

namespace sim {
namespace {

using Json = nlohmann::ordered_json;

std::string Place(const std::string& parent, std::string_view key) {
    return parent.empty() ? std::string(key) : parent + "." + std::string(key);
}

// Builds the document through nlohmann's SAX interface, so that a syntax error arrives
// as a value rather than an exception, and a key given twice is refused with its place
// instead of the later value silently winning. Members are appended directly: the
// ordered object's own insertion searches every member first, which makes a wide
// object quadratic.
class DocumentBuilder : public nlohmann::json_sax<Json> {
  public:
    Json root;
    std::string error;

    bool null() override { return Value(nullptr); }
    bool boolean(bool value) override { return Value(value); }
    bool number_integer(number_integer_t value) override { return Value(value); }
    bool number_unsigned(number_unsigned_t value) override { return Value(value); }
    bool number_float(number_float_t value, const string_t&) override { return Value(value); }
    bool string(string_t& value) override { return Value(std::move(value)); }
    bool binary(binary_t&) override { return false; }  // JSON text has none
    bool start_object(std::size_t) override { return Open(Json::object()); }
    bool start_array(std::size_t) override { return Open(Json::array()); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }

    bool key(string_t& name) override {
        Frame& object = open_.back();
        if (!object.keys.insert(name).second) {
            error = Place(PlaceOfInnermost(), name) + ": the key appears twice";
            return false;
        }
        object.value->get_ref<Json::object_t&>().emplace_back(std::move(name), nullptr);
        return true;
    }

    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& problem) override {
        // "[json.exception.parse_error.101] parse error at line 2, column 5: syntax
        // error while parsing ..." becomes "invalid JSON at line 2, column 5: ...".
        const std::string text = problem.what();
        const std::size_t at = text.find("at line");
        error = "invalid JSON " + (at == std::string::npos ? text : text.substr(at));
        return false;
    }

  private:
    struct Frame {
        Json* value = nullptr;
        std::unordered_set<std::string> keys;  // of an object, to refuse one given twice
    };

    // Where the next value goes: the root, a new element, or the last key's value.
    Json& Next() {
        if (open_.empty()) {
            return root;
        }
        Json& container = *open_.back().value;
        if (container.is_array()) {
            return container.emplace_back();
        }
        return container.get_ref<Json::object_t&>().back().second;
    }

    template <typename T>
    bool Value(T&& value) {
        Next() = std::forward<T>(value);
        return true;
    }
    bool Open(Json container) {
        Json& target = Next();
        target = std::move(container);
        open_.push_back({&target, {}});
        return true;
    }
    bool Close() {
        open_.pop_back();
        return true;
    }

    // "disks[2].drive": each open container's last member leads to the next. Built
    // only for a message, so that a deep document costs no more than its length.
    std::string PlaceOfInnermost() const {
        std::string place;
        for (std::size_t i = 0; i + 1 < open_.size(); ++i) {
            const Json& container = *open_[i].value;
            place = container.is_array()
                        ? place + "[" + std::to_string(container.size() - 1) + "]"
                        : Place(place, container.get_ref<const Json::object_t&>().back().first);
        }
        return place;
    }

    std::vector<Frame> open_;
};

// The document of a scenario text, or the one-line problem with it.
bool ParseDocument(std::string_view text, Json& root, std::string& error) {
    DocumentBuilder builder;
    if (!Json::sax_parse(text, &builder)) {
        error = builder.error.empty() ? "invalid JSON" : builder.error;
        return false;
    }
    // The parser takes a NUL byte outside a string for the end of the text, so a
    // document it took whole may still hold one, and what follows, after its value.
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
        const std::size_t lineStart = text.rfind('\n', nul) + 1;  // 0 on the first line
        error = "invalid JSON at line " +
                std::to_string(1 + std::count(text.begin(), text.begin() + nul, '\n')) +
                ", column " + std::to_string(nul - lineStart + 1) + ": bytes after the JSON value";
        return false;
    }
    root = std::move(builder.root);
    return true;
}

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

// A decimal key without sign or leading zero ("0", "17"); a key too long for any
// offset the scenario can mean reads as the largest number.
bool DecimalKey(const std::string& key, std::uint64_t& out) {
    if (key.empty() || key.find_first_not_of("0123456789") != std::string::npos ||
        (key.size() > 1 && key[0] == '0')) {
        return false;
    }
    out = key.size() > 18 ? std::numeric_limits<std::uint64_t>::max() : std::stoull(key);
    return true;
}

// A choice a scenario spells as text, and what it means.
template <typename T>
struct Named {
    std::string_view name;
    T value;
};

constexpr Named<Attach> kAttachNames[] = {
    {"inbox", Attach::Inbox},
    {"rst", Attach::Rst},
    {"raid-volume", Attach::RaidVolume},
    {"other", Attach::Other},
};
constexpr Named<Activation> kActivationNames[] = {
    {"power-cycle", Activation::PowerCycle},
    {"immediate", Activation::Immediate},
};
constexpr Named<FirmwareRequests> kFirmwareRequestNames[] = {
    {"any", FirmwareRequests::Any},
    {"public-form-only", FirmwareRequests::PublicFormOnly},
};
constexpr Named<ForcedAnswer::Kind> kFailNames[] = {{"fail", ForcedAnswer::Kind::Fail}};
constexpr Named<bool> kOpenNames[] = {{"deny", true}};
constexpr Named<PropertyName> kPropertyNames[] = {
    {"parent", PropertyName::Parent},
    {"instanceId", PropertyName::InstanceId},
    {"hardwareIds", PropertyName::HardwareIds},
    {"locationInfo", PropertyName::LocationInfo},
    {"driverDescription", PropertyName::DriverDescription},
    {"interfaceDetail", PropertyName::InterfaceDetail},
};
constexpr Named<PropertyFault::Kind> kPropertyFaultNames[] = {
    {"too-small-forever", PropertyFault::Kind::TooSmallForever},
};

template <typename T, std::size_t N>
std::string_view NameOf(const Named<T> (&names)[N], T value) {
    for (const Named<T>& named : names) {
        if (named.value == value) {
            return named.name;
        }
    }
    return {};
}

// The largest buffer a kind of request can have where it is sent; a patch must lie
// inside it.
struct BufferLimit {
    std::size_t size = 0;
    std::string_view what;  // "an identify request on the inbox path"
};

// FWUG is one byte, so a download chunk is at most 255 granules, and every inbox
// firmware request is as large as the largest download.
constexpr std::size_t kLargestChunk =
    std::numeric_limits<std::uint8_t>::max() * nvme::kGranularityUnit;

// The requests a drive is sent on the path that reaches it.
struct DriveRoute {
    BufferLimit identify;
    BufferLimit firmwareInfo;
    BufferLimit download;
    BufferLimit activate;
    // Why a drive on this path cannot be given "public-form-only"; empty where it can.
    std::string_view publicFormOnly;
};

constexpr DriveRoute kInboxRoute{
    {storage::kIdentifyQuerySize, "an identify request on the inbox path"},
    {inbox_fw::RequestSize(kLargestChunk), "a firmware-information request on the inbox path"},
    {inbox_fw::RequestSize(kLargestChunk), "a download request on the inbox path"},
    {inbox_fw::RequestSize(kLargestChunk), "an activation request on the inbox path"},
    {},
};
constexpr DriveRoute kRstRoute{
    {rst_nvme::kRequestSize, "an identify request through Intel RST"},
    {rst_fw::kGetInfoRequestSize, "a firmware-information request through Intel RST"},
    {rst_fw::DownloadRequestSize(kLargestChunk), "a download request through Intel RST"},
    {sizeof(rst_fw::ActivateRequest), "an activation request through Intel RST"},
    "the Intel RST driver's firmware requests come in one form only; \"public-form-only\" is "
    "for a drive on the inbox path",
};
// bDriveCount is one byte, so the program never makes room for more members.
constexpr BufferLimit kRaidConfigLimit{csmi::RequestSize(std::numeric_limits<std::uint8_t>::max()),
                                       "a CSMI RAID configuration request"};
constexpr BufferLimit kDeviceNumberLimit{sizeof(sdk::STORAGE_DEVICE_NUMBER),
                                         "a device-number request"};

static_assert(kInboxRoute.identify.size == 4144 && kInboxRoute.download.size == 1044556);
static_assert(kRstRoute.identify.size == 4260 && kRstRoute.firmwareInfo.size == 6200 &&
              kRstRoute.download.size == 1044568 && kRstRoute.activate.size == 68);
// The inbox path's public-form information request fits inside its limit too.
static_assert(kInboxRoute.firmwareInfo.size >= inbox_fw::kPublicGetInfoRequestSize);
static_assert(kRaidConfigLimit.size == 34744 && kDeviceNumberLimit.size == 12);

// What a fault value may hold where it is written.
struct FaultShape {
    bool failText = true;    // the text "fail" makes the request fail
    bool failFlag = false;   // the object's "fail": true does (download)
    bool returnCode = true;  // the object may force a return code
    BufferLimit limit;       // where a patch must lie
};

class Reader {
  public:
    std::string error;  // "<place>: <problem>"

    // One key of an object: its reader gets the value and its place.
    struct Field {
        std::string_view key;
        std::function<bool(const Json&, const std::string&)> read;
        bool required = false;
    };
    static constexpr bool kRequired = true;

    template <typename T>
    using ReadInto = bool (Reader::*)(const Json&, const std::string&, T&);

    // A key read by one of the readers below into `out`.
    template <typename T>
    Field Key(std::string_view key, ReadInto<T> read, T& out, bool required = false) {
        return {key,
                [this, read, &out](const Json& v, const std::string& p) {
                    return (this->*read)(v, p, out);
                },
                required};
    }

    bool Fail(const std::string& place, const std::string& problem) {
        error = place.empty() ? problem : place + ": " + problem;
        return false;
    }

    static std::string At(const std::string& parent, std::string_view key) {
        return Place(parent, key);
    }
    static std::string At(const std::string& parent, std::size_t index) {
        return parent + "[" + std::to_string(index) + "]";
    }

    bool Expect(const Json& value, Json::value_t type, const std::string& place,
                std::string_view wanted) {
        if (value.type() != type) {
            return Fail(place, "expected " + std::string(wanted) + ", found " + Kind(value));
        }
        return true;
    }

    // An object read through its table: unknown keys refused, required ones present,
    // then each given key read in the table's order.
    bool Fields(const Json& value, const std::string& place, std::span<const Field> fields) {
        if (!Expect(value, Json::value_t::object, place, "an object")) {
            return false;
        }
        for (const auto& item : value.items()) {
            const bool known = std::any_of(fields.begin(), fields.end(),
                                           [&](const Field& f) { return f.key == item.key(); });
            if (!known) {
                std::string list;
                for (const Field& field : fields) {
                    list += (list.empty() ? "" : ", ") + std::string(field.key);
                }
                return Fail(At(place, item.key()), "unknown key (known here: " + list + ")");
            }
        }
        for (const Field& field : fields) {
            if (field.required && !value.contains(std::string(field.key))) {
                return Fail(place, "missing required key " + Quoted(field.key));
            }
        }
        for (const Field& field : fields) {
            const auto found = value.find(std::string(field.key));
            if (found != value.end() && !field.read(*found, At(place, field.key))) {
                return false;
            }
        }
        return true;
    }
    bool Fields(const Json& value, const std::string& place, std::initializer_list<Field> fields) {
        return Fields(value, place, std::span<const Field>(fields.begin(), fields.size()));
    }

    template <typename T, typename ReadItem>
    bool List(const Json& value, const std::string& place, std::vector<T>& out, ReadItem read) {
        if (!Expect(value, Json::value_t::array, place, "an array")) {
            return false;
        }
        for (std::size_t i = 0; i < value.size(); ++i) {
            T item{};
            if (!read(value[i], At(place, i), item)) {
                return false;
            }
            out.push_back(std::move(item));
        }
        return true;
    }
    template <typename T, ReadInto<T> kRead>
    bool ListOf(const Json& value, const std::string& place, std::vector<T>& out) {
        return List(value, place, out, [this](const Json& v, const std::string& p, T& item) {
            return (this->*kRead)(v, p, item);
        });
    }

    bool Text(const Json& value, const std::string& place, std::string& out) {
        if (!Expect(value, Json::value_t::string, place, "a string")) {
            return false;
        }
        out = value.get<std::string>();
        return true;
    }

    bool Id(const Json& value, const std::string& place, std::string& out) {
        return Text(value, place, out) && (!out.empty() || Fail(place, "an empty id"));
    }

    bool WideText(const Json& value, const std::string& place, std::wstring& out) {
        std::string text;
        if (!Text(value, place, text)) {
            return false;
        }
        out = utf8::ToUtf16(text);
        return true;
    }

    // A path in a scenario file is a text; only a draft built in code registers the
    // interface without one.
    bool Path(const Json& value, const std::string& place, Override<std::wstring>& out) {
        out.given = true;
        return WideText(value, place, out.value.emplace());
    }

    bool Flag(const Json& value, const std::string& place, bool& out) {
        if (!Expect(value, Json::value_t::boolean, place, "true or false")) {
            return false;
        }
        out = value.get<bool>();
        return true;
    }

    // A whole number 0 to `high` into a field of type T. The parser reads every number
    // without a minus sign as unsigned.
    template <typename T>
    bool Whole(const Json& value, const std::string& place, std::uint64_t high, T& out) {
        if (!value.is_number_integer()) {
            return Fail(place, "expected a whole number, found " + Kind(value));
        }
        const bool negative = !value.is_number_unsigned() && value.get<std::int64_t>() < 0;
        if (negative || value.get<std::uint64_t>() > high) {
            return Fail(place, value.dump() + " is out of range 0 to " + std::to_string(high));
        }
        out = static_cast<T>(value.get<std::uint64_t>());
        return true;
    }

    bool Byte(const Json& value, const std::string& place, std::uint8_t& out) {
        return Whole(value, place, 255, out);
    }

    // A return code, a byte count, a request count: 0 to 0xFFFFFFFF, into a uint32_t
    // or a DWORD (not the same type on Windows).
    template <typename T>
    bool Dword(const Json& value, const std::string& place, T& out) {
        static_assert(sizeof(T) == 4);
        return Whole(value, place, 0xFFFFFFFF, out);
    }
    bool OptionalDword(const Json& value, const std::string& place,
                       std::optional<std::uint32_t>& out) {
        return Dword(value, place, out.emplace());
    }

    bool DeviceNumber(const Json& value, const std::string& place, DWORD& out) {
        return Whole(value, place, 999999999, out);
    }

    template <typename T, std::size_t N>
    bool Choice(const Json& value, const std::string& place, const Named<T> (&names)[N], T& out) {
        std::string text;
        if (!Text(value, place, text)) {
            return false;
        }
        std::string list;
        for (const Named<T>& named : names) {
            if (text == named.name) {
                out = named.value;
                return true;
            }
            list += (list.empty() ? "" : ", ") + Quoted(named.name);
        }
        return Fail(place, Quoted(text) + " is not one of " + list);
    }
    template <const auto& kNames, typename T>
    bool ChoiceOf(const Json& value, const std::string& place, T& out) {
        return Choice(value, place, kNames, out);
    }

    // A property override: null makes the property unreadable.
    template <typename T, ReadInto<T> kRead>
    bool Nullable(const Json& value, const std::string& place, Override<T>& out) {
        out.given = true;
        if (value.is_null()) {
            out.value.reset();
            return true;
        }
        return (this->*kRead)(value, place, out.value.emplace());
    }

    bool HardwareIds(const Json& value, const std::string& place, std::vector<std::wstring>& out) {
        return Expect(value, Json::value_t::array, place, "an array of strings or null") &&
               ListOf<std::wstring, &Reader::WideText>(value, place, out);
    }

    // An Identify text: one byte per character U+0000 to U+00FF, padded with blanks.
    template <std::size_t N>
    bool IdentifyText(const Json& value, const std::string& place,
                      std::array<std::uint8_t, N>& field) {
        std::string text;
        if (!Text(value, place, text)) {
            return false;
        }
        // The parser took only well-formed UTF-8, so every step is a character; a
        // position counts characters, as one unit each of the UTF-16 the field shows.
        std::vector<std::uint8_t> bytes;
        for (std::size_t at = 0; at < text.size();) {
            const utf8::Step step = utf8::Decode(text, at);
            const std::uint32_t code = step.codePoint.value_or(0xFFFD);
            if (code > 0xFF) {
                char name[16];
                std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(code));
                return Fail(place, "character " + std::string(name) + " at position " +
                                       std::to_string(bytes.size()) +
                                       " is not one byte (U+0000 to U+00FF)");
            }
            bytes.push_back(static_cast<std::uint8_t>(code));
            at += step.length;
        }
        if (bytes.size() > N) {
            return Fail(place, std::to_string(bytes.size()) + " characters, longer than the " +
                                   std::to_string(N) + "-byte field");
        }
        for (std::size_t i = 0; i < N; ++i) {
            field[i] = i < bytes.size() ? bytes[i] : 0x20;
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

    // Lower-case hex, two digits a byte.
    bool HexText(const Json& value, const std::string& place, Bytes& out) {
        if (!value.is_string()) {
            return Fail(place, "expected a string of hex bytes, found " + Kind(value));
        }
        const std::string& text = value.get_ref<const std::string&>();
        if (text.empty()) {
            return Fail(place, "an empty string; a patch writes at least one byte");
        }
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
                // Everything before is a hex digit, so the byte index is the position.
                const std::size_t width = utf8::Decode(text, i).length;
                return Fail(place, Quoted(text.substr(i, width)) + " at position " +
                                       std::to_string(i) +
                                       " is not a lower-case hex digit (0-9, a-f)");
            }
        }
        if (text.size() % 2 != 0) {
            return Fail(place, std::to_string(text.size()) +
                                   " hex digits, an odd number; a byte takes two");
        }
        auto digit = [](char c) { return c >= 'a' ? c - 'a' + 10 : c - '0'; };
        out.resize(text.size() / 2);
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i] = static_cast<std::uint8_t>(digit(text[2 * i]) * 16 + digit(text[2 * i + 1]));
        }
        return true;
    }

    // {"OFFSET": "hex", ...}, every byte inside the largest buffer of the request.
    bool Patch(const Json& value, const std::string& place, const BufferLimit& limit,
               std::vector<std::pair<std::size_t, Bytes>>& out) {
        if (!Expect(value, Json::value_t::object, place, "an object")) {
            return false;
        }
        if (value.empty()) {
            return Fail(place, "an empty patch; give at least one \"OFFSET\": \"hex\"");
        }
        for (const auto& item : value.items()) {
            const std::string at = At(place, item.key());
            std::uint64_t offset = 0;
            if (!DecimalKey(item.key(), offset)) {
                return Fail(at,
                            "a patch's key is a decimal buffer offset, not " + Quoted(item.key()));
            }
            Bytes bytes;
            if (!HexText(item.value(), at, bytes)) {
                return false;
            }
            if (offset > limit.size || bytes.size() > limit.size - offset) {
                return Fail(at, std::to_string(bytes.size()) +
                                    (bytes.size() == 1 ? " byte at offset " : " bytes at offset ") +
                                    item.key() + (bytes.size() == 1 ? " reaches" : " reach") +
                                    " past the largest buffer of " + std::string(limit.what) +
                                    " (" + std::to_string(limit.size) + " bytes)");
            }
            out.emplace_back(static_cast<std::size_t>(offset), std::move(bytes));
        }
        return true;
    }

    // A fault on one kind of request: "fail", or an object with a forced answer, the
    // alterations of the reply, and the caller's own keys `own` (chunk, query).
    bool FaultValue(const Json& value, const std::string& place, const FaultShape& shape,
                    RequestFault& out, std::initializer_list<Field> own = {}) {
        if (value.is_string() && shape.failText) {
            return Choice(value, place, kFailNames, out.answer.kind);
        }
        if (!value.is_object()) {
            return Fail(place, std::string("expected ") + (shape.failText ? "\"fail\" or " : "") +
                                   "an object, found " + Kind(value));
        }
        bool fail = false;
        std::vector<Field> fields(own);
        std::string wanted;
        if (shape.failFlag) {
            fields.push_back(Key("fail", &Reader::Flag, fail));
            wanted = "\"fail\": true, ";
        }
        if (shape.failFlag || shape.failText) {
            // A failure with the Win32 error a real driver gave, as a capture records it.
            fields.push_back({"error", [&](const Json& v, const std::string& p) {
                                  fail = true;
                                  return Dword(v, p, out.answer.error.emplace()) &&
                                         (*out.answer.error != 0 ||
                                          Fail(p, "0 is no error; a failed request has one"));
                              }});
            wanted += "\"error\", ";
        }
        if (shape.returnCode) {
            fields.push_back({"returnCode", [&](const Json& v, const std::string& p) {
                                  out.answer.kind = ForcedAnswer::Kind::ReturnCode;
                                  return Dword(v, p, out.answer.returnCode);
                              }});
            wanted += "\"returnCode\", ";
        }
        fields.push_back({"patch", [&](const Json& v, const std::string& p) {
                              return Patch(v, p, shape.limit, out.reply.patch);
                          }});
        fields.push_back({"returned", [&](const Json& v, const std::string& p) {
                              return Dword(v, p, out.reply.returned.emplace());
                          }});
        if (!Fields(value, place, fields)) {
            return false;
        }
        if (fail) {
            if (out.answer.kind == ForcedAnswer::Kind::ReturnCode) {
                return Fail(place,
                            "a failure (\"fail\": true or \"error\") and \"returnCode\" "
                            "together; give one of them");
            }
            out.answer.kind = ForcedAnswer::Kind::Fail;
        }
        if (out.answer.kind == ForcedAnswer::Kind::Fail && out.reply.IsSet()) {
            return Fail(place,
                        "a failure (\"fail\": true or \"error\") with \"patch\" or \"returned\"; "
                        "a failed request returns no reply to alter");
        }
        if (!out.IsSet()) {
            return Fail(place, "needs " + wanted + "\"patch\" or \"returned\"");
        }
        return true;
    }

    // {"parent": "too-small-forever", "hardwareIds": {"requiredSize": N}, ...}
    bool PropertyFaults(const Json& value, const std::string& place,
                        std::map<PropertyName, PropertyFault>& out) {
        std::vector<Field> fields;
        for (const Named<PropertyName>& named : kPropertyNames) {
            fields.push_back({named.name, [this, &out, property = named.value](
                                              const Json& v, const std::string& p) {
                                  return PropertyFaultValue(v, p, out[property]);
                              }});
        }
        return Fields(value, place, fields);
    }

    bool PropertyFaultValue(const Json& value, const std::string& place, PropertyFault& out) {
        if (value.is_string()) {
            return Choice(value, place, kPropertyFaultNames, out.kind);
        }
        if (!value.is_object()) {
            return Fail(place,
                        "expected \"too-small-forever\" or an object with \"requiredSize\", "
                        "found " +
                            Kind(value));
        }
        out.kind = PropertyFault::Kind::RequiredSize;
        return Fields(value, place,
                      {Key("requiredSize", &Reader::Dword, out.requiredSize, kRequired)});
    }

    bool DriveFaultsValue(const Json& value, const std::string& place, const DriveRoute& route,
                          DriveFaults& out) {
        auto fault = [this](std::string_view key, const BufferLimit& limit, RequestFault& target) {
            return Field{key, [this, &limit, &target](const Json& v, const std::string& p) {
                             return FaultValue(v, p, FaultShape{.limit = limit}, target);
                         }};
        };
        auto download = [&](const Json& v, const std::string& p) {
            DownloadFault fault;
            const FaultShape shape{.failText = false, .failFlag = true, .limit = route.download};
            if (!FaultValue(v, p, shape, fault.fault,
                            {Key("chunk", &Reader::OptionalDword, fault.chunk)})) {
                return false;
            }
            out.download = std::move(fault);
            return true;
        };
        return Fields(value, place,
                      {Key("open", &Reader::ChoiceOf<kOpenNames>, out.denyOpen),
                       fault("identify", route.identify, out.identify),
                       fault("firmwareInfo", route.firmwareInfo, out.firmwareInfo),
                       {"download", download},
                       fault("activate", route.activate, out.activate)});
    }

    bool SlotValue(const Json& value, const std::string& place, FirmwareSlot& out) {
        return Fields(value, place,
                      {Key("number", &Reader::Byte, out.number, kRequired),
                       Key("readOnly", &Reader::Flag, out.readOnly)});
    }

    // The slots exactly as the firmware-information reply lists them.
    bool Slots(const Json& value, const std::string& place, Drive& drive) {
        if (value.is_array() && value.size() > std::numeric_limits<std::uint8_t>::max()) {
            return Fail(place, std::to_string(value.size()) +
                                   " slots; a firmware-information reply lists at most 255");
        }
        drive.slots.clear();
        if (!ListOf<FirmwareSlot, &Reader::SlotValue>(value, place, drive.slots)) {
            return false;
        }
        // The lowest slot runs unless activeSlot says otherwise; a drive that lists no
        // slot runs from slot 0, which is no slot of NVMe's.
        drive.activeSlot = 0;
        if (!drive.slots.empty()) {
            drive.activeSlot = std::min_element(drive.slots.begin(), drive.slots.end(),
                                                [](const FirmwareSlot& a, const FirmwareSlot& b) {
                                                    return a.number < b.number;
                                                })
                                   ->number;
        }
        return true;
    }

    bool ActiveSlot(const Json& value, const std::string& place, Drive& drive) {
        std::uint8_t number = 0;
        if (!Byte(value, place, number)) {
            return false;
        }
        const bool listed = std::any_of(drive.slots.begin(), drive.slots.end(),
                                        [&](const FirmwareSlot& s) { return s.number == number; });
        if (!listed) {
            return Fail(place,
                        "slot " + std::to_string(number) + " is not among the drive's slots");
        }
        drive.activeSlot = number;
        return true;
    }

    bool DriveValue(const Json& value, const std::string& place, const DriveRoute& route,
                    DriveDraft& out) {
        out.place = place;
        out.drive = DefaultDrive();
        Drive& drive = out.drive;
        auto id = [&](const Json& v, const std::string& p) {
            out.hasId = true;
            return Id(v, p, drive.id);
        };
        auto serial = [&](const Json& v, const std::string& p) {
            out.hasSerial = true;
            return IdentifyText(v, p, drive.serialNumber);
        };
        auto faults = [&](const Json& v, const std::string& p) {
            return DriveFaultsValue(v, p, route, drive.faults);
        };
        auto firmwareRequests = [&](const Json& v, const std::string& p) {
            return Choice(v, p, kFirmwareRequestNames, drive.firmwareRequests) &&
                   (drive.firmwareRequests == FirmwareRequests::Any ||
                    route.publicFormOnly.empty() || Fail(p, std::string(route.publicFormOnly)));
        };
        if (!Fields(value, place,
                    {{"id", id},
                     {"sn", serial},
                     Key("mn", &Reader::IdentifyText, drive.modelNumber),
                     Key("fr", &Reader::IdentifyText, drive.firmwareRevision),
                     Key("version", &Reader::Version, drive.version),
                     Key("fwug", &Reader::Byte, drive.fwug),
                     Key("upgradeSupport", &Reader::Flag, drive.upgradeSupport),
                     Key("slots", &Reader::Slots, drive),
                     Key("activeSlot", &Reader::ActiveSlot, drive),
                     Key("activation", &Reader::ChoiceOf<kActivationNames>, drive.activation),
                     {"firmwareRequests", firmwareRequests},
                     {"faults", faults}})) {
            return false;
        }
        // The running image is in the active slot (its first entry, where a commit to
        // that number would go too); the others hold nothing yet.
        drive.revisionAfterPowerCycle = drive.firmwareRevision;
        bool placed = false;
        for (FirmwareSlot& slot : drive.slots) {
            const bool running = !placed && slot.number == drive.activeSlot;
            slot.revision = running ? drive.firmwareRevision : RevisionBytes{};
            placed = placed || running;
        }
        return true;
    }

    // {"PATH": drive, ...}: the drives behind a controller, reached through it.
    bool ControllerDrives(const Json& value, const std::string& place,
                          std::map<std::uint8_t, DriveDraft>& out) {
        if (!Expect(value, Json::value_t::object, place, "an object")) {
            return false;
        }
        for (const auto& item : value.items()) {
            const std::string at = At(place, item.key());
            std::uint64_t path = 0;
            if (!DecimalKey(item.key(), path) || path > 255) {
                return Fail(
                    at, "a drive's key is its path number, 0 to 255, not " + Quoted(item.key()));
            }
            DriveDraft drive;
            if (!DriveValue(item.value(), at, kRstRoute, drive)) {
                return false;
            }
            out.emplace(static_cast<std::uint8_t>(path), std::move(drive));
        }
        return true;
    }

    bool RaidSets(const Json& value, const std::string& place,
                  std::optional<std::vector<std::vector<std::uint8_t>>>& out) {
        std::map<std::uint8_t, std::string> seen;  // member path -> its place
        auto member = [&](const Json& v, const std::string& p, std::uint8_t& path) {
            if (!Byte(v, p, path)) {
                return false;
            }
            const auto [earlier, fresh] = seen.emplace(path, p);
            return fresh || Fail(p, "path " + std::to_string(path) + " is already a member at " +
                                        earlier->second);
        };
        auto set = [&](const Json& v, const std::string& p, std::vector<std::uint8_t>& members) {
            return Expect(v, Json::value_t::array, p, "an array of path numbers") &&
                   (!v.empty() || Fail(p, "a RAID set without members")) &&
                   List(v, p, members, member);
        };
        return List(value, place, out.emplace(), set);
    }

    bool ControllerFaults(const Json& value, const std::string& place, ControllerDraft& out) {
        // One fault, or a list of them each naming its query (as a capture writes every
        // answer the controller gave), the first that hits a request applying to it.
        auto one = [&](const Json& v, const std::string& p, const FaultShape& shape,
                       RaidConfigFault& fault) {
            return FaultValue(v, p, shape, fault.fault,
                              {Key("query", &Reader::OptionalDword, fault.query)});
        };
        auto raidConfig = [&](const Json& v, const std::string& p) {
            if (!v.is_array()) {
                return one(v, p, FaultShape{.limit = kRaidConfigLimit},
                           out.raidConfigFaults.emplace_back());
            }
            const FaultShape shape{.failText = false, .failFlag = true, .limit = kRaidConfigLimit};
            return List(v, p, out.raidConfigFaults,
                        [&](const Json& item, const std::string& at, RaidConfigFault& fault) {
                            return one(item, at, shape, fault);
                        });
        };
        return Fields(value, place,
                      {{"raidConfig", raidConfig},
                       Key("properties", &Reader::PropertyFaults, out.propertyFaults)});
    }

    bool ControllerValue(const Json& value, const std::string& place, ControllerDraft& out) {
        constexpr auto kText = &Reader::Nullable<std::wstring, &Reader::WideText>;
        out.place = place;
        return Fields(
            value, place,
            {Key("id", &Reader::Id, out.id, kRequired), Key("path", &Reader::Path, out.path),
             Key("driverDescription", kText, out.driverDescription),
             Key("instanceId", kText, out.instanceId), Key("openable", &Reader::Flag, out.openable),
             Key("raidSets", &Reader::RaidSets, out.raidSets),
             Key("drives", &Reader::ControllerDrives, out.drives),
             Key("faults", &Reader::ControllerFaults, out)});
    }

    bool DiskFaults(const Json& value, const std::string& place, DiskDraft& out) {
        auto deviceNumber = [&](const Json& v, const std::string& p) {
            const FaultShape shape{.returnCode = false, .limit = kDeviceNumberLimit};
            return FaultValue(v, p, shape, out.deviceNumberFault);
        };
        return Fields(value, place,
                      {{"deviceNumber", deviceNumber},
                       Key("properties", &Reader::PropertyFaults, out.propertyFaults)});
    }

    bool DiskValue(const Json& value, const std::string& place, DiskDraft& out) {
        constexpr auto kText = &Reader::Nullable<std::wstring, &Reader::WideText>;
        constexpr auto kIds = &Reader::Nullable<std::vector<std::wstring>, &Reader::HardwareIds>;
        constexpr auto kNumber = &Reader::Nullable<DWORD, &Reader::DeviceNumber>;
        out.place = place;
        std::string attached;  // "attached \"inbox\"", for messages
        bool deviceNumberFails = false;
        auto behindRst = [&] {
            return out.attach == Attach::Rst || out.attach == Attach::RaidVolume;
        };
        auto attach = [&](const Json& v, const std::string& p) {
            if (!Choice(v, p, kAttachNames, out.attach)) {
                return false;
            }
            attached = "attached " + Quoted(NameOf(kAttachNames, out.attach));
            return true;
        };
        auto controller = [&](const Json& v, const std::string& p) {
            return (behindRst() || Fail(p,
                                        "only a disk attached \"rst\" or \"raid-volume\" has a "
                                        "controller, not one " +
                                            attached)) &&
                   Text(v, p, out.controllerId.emplace());
        };
        auto pathId = [&](const Json& v, const std::string& p) {
            return (out.attach == Attach::Rst ||
                    Fail(p, "only a disk attached \"rst\" has a pathId, not one " + attached)) &&
                   Byte(v, p, out.pathId.emplace());
        };
        auto drive = [&](const Json& v, const std::string& p) {
            if (out.attach == Attach::RaidVolume) {
                return Fail(p,
                            "a RAID volume has no drive of its own; its members are the "
                            "controller's drives");
            }
            // A single disk's drive is reached through its controller; another maker's
            // disk sits on the inbox stack like the maker's own.
            return DriveValue(v, p, out.attach == Attach::Rst ? kRstRoute : kInboxRoute,
                              out.drive.emplace());
        };
        if (!Fields(value, place,
                    {{"attach", attach, kRequired},
                     {"controller", controller},
                     {"pathId", pathId},
                     {"drive", drive},
                     Key("parent", kText, out.parent),
                     Key("instanceId", kText, out.instanceId),
                     Key("hardwareIds", kIds, out.hardwareIds),
                     Key("locationInfo", kText, out.locationInfo),
                     Key("interfacePath", kText, out.interfacePath),
                     Key("deviceNumber", kNumber, out.deviceNumber),
                     Key("openable", &Reader::Flag, out.openable),
                     Key("deviceNumberFails", &Reader::Flag, deviceNumberFails),
                     Key("faults", &Reader::DiskFaults, out)})) {
            return false;
        }
        if (behindRst() && !out.controllerId) {
            return Fail(place, "missing required key \"controller\" for a disk " + attached);
        }
        if (deviceNumberFails) {
            if (out.deviceNumberFault.IsSet()) {
                return Fail(At(At(place, "faults"), "deviceNumber"),
                            "deviceNumberFails already makes the request fail; give one of them");
            }
            out.deviceNumberFault.answer.kind = ForcedAnswer::Kind::Fail;
        }
        return true;
    }

    bool LocalTime(const Json& value, const std::string& place, std::optional<SYSTEMTIME>& time) {
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
        SYSTEMTIME& out = time.emplace();
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

    bool Controllers(const Json& value, const std::string& place,
                     std::vector<ControllerDraft>& out) {
        std::map<std::string, std::string> places;  // id -> where it was given
        return List(value, place, out,
                    [&](const Json& v, const std::string& p, ControllerDraft& controller) {
                        if (!ControllerValue(v, p, controller)) {
                            return false;
                        }
                        const auto [earlier, fresh] = places.emplace(controller.id, p);
                        return fresh ||
                               Fail(At(p, "id"), "id " + Quoted(controller.id) +
                                                     " is already used by " + earlier->second);
                    });
    }

    bool Scenario(const Json& root, ScenarioDraft& out) {
        if (!root.is_object()) {
            return Fail("", "a scenario is a JSON object, found " + Kind(root));
        }
        return Fields(root, "",
                      {Key("controllers", &Reader::Controllers, out.controllers),
                       Key("disks", &Reader::ListOf<DiskDraft, &Reader::DiskValue>, out.disks),
                       Key("localTime", &Reader::LocalTime, out.localTime),
                       Key("moduleHandleFails", &Reader::Flag, out.moduleHandleFails)});
    }
};

}  // namespace

bool LoadScenarioText(std::string_view json, std::string_view sourceName, Machine& out,
                      std::string& error) {
    std::string problem;
    Json root;
    Reader reader;
    ScenarioDraft draft;
    Machine machine;
    if (!ParseDocument(json, root, problem)) {
        // problem set
    } else if (!reader.Scenario(root, draft)) {
        problem = reader.error;
    } else if (AssembleMachine(std::move(draft), machine, problem)) {
        out = std::move(machine);
        return true;
    }
    // Names, keys and texts from the file may hold any character; the message stays
    // one line that shows all of them.
    error = PrintableLine(std::string(sourceName) + ": " + problem);
    return false;
}

bool LoadScenarioFile(const std::string& path, Machine& out, std::string& error) {
    auto fail = [&](const std::string& problem) {
        error = PrintableLine(path + ": " + problem);
        return false;
    };
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        return fail("is a directory, not a scenario file");
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return fail(std::string("cannot read the scenario file: ") + std::strerror(errno));
    }
    std::string text;
    char chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    const int readError = std::ferror(file) != 0 ? errno : 0;
    std::fclose(file);
    if (readError == EISDIR) {
        return fail("is a directory, not a scenario file");
    }
    if (readError != 0) {
        return fail(std::string("cannot read the scenario file: ") + std::strerror(readError));
    }
    return LoadScenarioText(text, path, out, error);
}

}  // namespace sim
