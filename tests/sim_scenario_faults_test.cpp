// The scenario keys of hostile drivers: reply faults on every request, slot tables as
// a driver may report them, and property reads that lie about their size. Each key
// must land in its record with its values, and each mistake give its one line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/models/machine.h"
#include "sim/models/text.h"
#include "sim/sim.h"
#include "test_support.h"

namespace {

std::string InboxDrive(const std::string& drive) {
    return R"({"disks": [{"attach": "inbox", "drive": {)" + drive + "}}]}";
}
std::string RstDrive(const std::string& drive) {
    return R"({"controllers": [{"id": "rst0", "drives": {"0": {)" + drive + "}}}]}";
}
std::string SingleRstDisk(const std::string& drive) {
    return R"({"controllers": [{"id": "rst0"}],
               "disks": [{"attach": "rst", "controller": "rst0", "drive": {)" +
           drive + "}}]}";
}
std::string Controller(const std::string& faults) {
    return R"({"controllers": [{"id": "rst0", "faults": {)" + faults + "}}]}";
}
std::string Disk(const std::string& keys) {
    return R"({"disks": [{"attach": "other", )" + keys + "}]}";
}

// A fault as one line: its forced answer, then each patch and the returned count.
std::string Describe(const sim::RequestFault& fault) {
    std::string out;
    switch (fault.answer.kind) {
        case sim::ForcedAnswer::Kind::Unset:
            break;
        case sim::ForcedAnswer::Kind::Fail:
            out = "fail";
            break;
        case sim::ForcedAnswer::Kind::ReturnCode:
            out = "returnCode " + std::to_string(fault.answer.returnCode);
            break;
    }
    // Appended piece by piece: GCC 12 at -O3 misreads a chain of string sums here.
    auto word = [&out](const std::string& text) {
        if (!out.empty()) {
            out.push_back(' ');
        }
        out.append(text);
    };
    for (const auto& [offset, bytes] : fault.reply.patch) {
        word("patch " + std::to_string(offset));
        out.append("=").append(sim::HexBytes(bytes));
    }
    if (fault.reply.returned) {
        word("returned " + std::to_string(*fault.reply.returned));
    }
    return out.empty() ? "none" : out;
}

std::string Which(const std::optional<std::uint32_t>& request) {
    return request ? "#" + std::to_string(*request) + " " : "every ";
}

// The fault a row names, read back from the machine: the first drive's, the first
// controller's or the first disk's.
std::string FaultOf(const sim::Machine& machine, std::string_view which) {
    if (which == "raidConfig") {
        std::string described;
        for (const sim::RaidConfigFault& fault : machine.controllers.at(0).raidConfigFaults) {
            described +=
                (described.empty() ? "" : "; ") + Which(fault.query) + Describe(fault.fault);
        }
        return described;
    }
    if (which == "deviceNumber") {
        return Describe(machine.disks.at(0).deviceNumberFault);
    }
    const sim::DriveFaults& faults = machine.drives.at(0).faults;
    if (which == "download") {
        return faults.download ? Which(faults.download->chunk) + Describe(faults.download->fault)
                               : "none";
    }
    return Describe(which == "identify"       ? faults.identify
                    : which == "firmwareInfo" ? faults.firmwareInfo
                                              : faults.activate);
}

TEST(SimScenarioFaults, EachFaultKeyLandsInItsRecord) {
    const struct {
        const char* name;
        std::string scenario;
        const char* which;
        const char* fault;
    } cases[] = {
        {"identify fail, the old form", InboxDrive(R"("faults": {"identify": "fail"})"), "identify",
         "fail"},
        {"identify return code, the largest",
         InboxDrive(R"("faults": {"identify": {"returnCode": 4294967295}})"), "identify",
         "returnCode 4294967295"},
        {"identify patch in scenario order",
         InboxDrive(R"("faults": {"identify": {"patch": {"375": "ff", "20": "00000000"}}})"),
         "identify", "patch 375=ff patch 20=00000000"},
        {"identify patch ending the inbox query",
         InboxDrive(R"("faults": {"identify": {"patch": {"4140": "01020304"}}})"), "identify",
         "patch 4140=01020304"},
        {"identify patch ending the RST pass-through",
         RstDrive(R"("faults": {"identify": {"patch": {"4256": "0a0b0c0d"}}})"), "identify",
         "patch 4256=0a0b0c0d"},
        {"firmware information cut short",
         InboxDrive(R"("faults": {"firmwareInfo": {"returnCode": 0, "returned": 16}})"),
         "firmwareInfo", "returnCode 0 returned 16"},
        {"firmware information through RST, a patch ending its request",
         RstDrive(R"("faults": {"firmwareInfo": {"patch": {"6196": "01020304"}}})"), "firmwareInfo",
         "patch 6196=01020304"},
        {"firmware information fail, the old form",
         InboxDrive(R"("faults": {"firmwareInfo": "fail"})"), "firmwareInfo", "fail"},
        {"download chunk fail, the old form",
         InboxDrive(R"("faults": {"download": {"chunk": 9, "fail": true}})"), "download",
         "#9 fail"},
        {"download chunk return code, the old form",
         RstDrive(R"("faults": {"download": {"chunk": 0, "returnCode": 4}})"), "download",
         "#0 returnCode 4"},
        {"download without chunk hits every request",
         InboxDrive(R"("faults": {"download": {"patch": {"1044555": "01"}}})"), "download",
         "every patch 1044555=01"},
        {"download fail false with a patch",
         InboxDrive(R"("faults": {"download": {"fail": false, "returned": 0}})"), "download",
         "every returned 0"},
        {"download patch ending the largest RST request",
         RstDrive(R"("faults": {"download": {"chunk": 3, "patch": {"1044567": "ff"}}})"),
         "download", "#3 patch 1044567=ff"},
        {"a single RST disk's drive is reached through RST",
         SingleRstDisk(R"("faults": {"activate": {"patch": {"64": "03"}}})"), "activate",
         "patch 64=03"},
        {"activate return code and patch",
         InboxDrive(R"("faults": {"activate": {"returnCode": 7, "patch": {"0": "aa"}}})"),
         "activate", "returnCode 7 patch 0=aa"},
        {"another maker's drive is on the inbox path",
         Disk(R"("drive": {"faults": {"activate": {"patch": {"1044555": "ee"}}}})"), "activate",
         "patch 1044555=ee"},
        {"raidConfig fail, the old form", Controller(R"("raidConfig": "fail")"), "raidConfig",
         "every fail"},
        {"raidConfig on one query",
         Controller(
             R"("raidConfig": {"query": 1, "returnCode": 4, "patch": {"34743": "00"}, "returned": 64})"),
         "raidConfig", "#1 returnCode 4 patch 34743=00 returned 64"},
        {"deviceNumber fail", Disk(R"("faults": {"deviceNumber": "fail"})"), "deviceNumber",
         "fail"},
        {"deviceNumberFails, the old form", Disk(R"("deviceNumberFails": true)"), "deviceNumber",
         "fail"},
        {"deviceNumber patched and cut",
         Disk(R"("faults": {"deviceNumber": {"patch": {"4": "07000000"}, "returned": 8}})"),
         "deviceNumber", "patch 4=07000000 returned 8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FaultOf(MachineFrom(c.scenario), c.which), c.fault);
    }
}

TEST(SimScenarioFaults, EachMistakeGivesOneLineWithItsPlace) {
    std::string manySlots;
    for (int i = 0; i < 256; ++i) {
        manySlots += (i == 0 ? "" : ", ") + std::string(R"({"number": 1})");
    }
    const struct {
        const char* name;
        std::string scenario;
        const char* message;
    } cases[] = {
        {"patch past the inbox identify query",
         InboxDrive(R"("faults": {"identify": {"patch": {"4141": "00000000"}}})"),
         "t: disks[0].drive.faults.identify.patch.4141: 4 bytes at offset 4141 reach past the "
         "largest buffer of an identify request on the inbox path (4144 bytes)"},
        {"patch far past a download",
         InboxDrive(R"("faults": {"download": {"chunk": 1, "patch": {"9999999": "00"}}})"),
         "t: disks[0].drive.faults.download.patch.9999999: 1 byte at offset 9999999 reaches past "
         "the largest buffer of a download request on the inbox path (1044556 bytes)"},
        {"patch past the inbox firmware request",
         InboxDrive(R"("faults": {"activate": {"patch": {"1044555": "0000"}}})"),
         "t: disks[0].drive.faults.activate.patch.1044555: 2 bytes at offset 1044555 reach past "
         "the largest buffer of an activation request on the inbox path (1044556 bytes)"},
        {"patch past the RST download",
         RstDrive(R"("faults": {"download": {"patch": {"1044565": "00000000"}}})"),
         "t: controllers[0].drives.0.faults.download.patch.1044565: 4 bytes at offset 1044565 "
         "reach past the largest buffer of a download request through Intel RST (1044568 bytes)"},
        {"patch past the RST activation",
         SingleRstDisk(R"("faults": {"activate": {"patch": {"68": "00"}}})"),
         "t: disks[0].drive.faults.activate.patch.68: 1 byte at offset 68 reaches past the "
         "largest buffer of an activation request through Intel RST (68 bytes)"},
        {"patch past the RST identify",
         RstDrive(R"("faults": {"identify": {"patch": {"4260": "00"}}})"),
         "t: controllers[0].drives.0.faults.identify.patch.4260: 1 byte at offset 4260 reaches "
         "past the largest buffer of an identify request through Intel RST (4260 bytes)"},
        {"patch past the RST information request",
         RstDrive(R"("faults": {"firmwareInfo": {"patch": {"6197": "01020304"}}})"),
         "t: controllers[0].drives.0.faults.firmwareInfo.patch.6197: 4 bytes at offset 6197 "
         "reach past the largest buffer of a firmware-information request through Intel RST "
         "(6200 bytes)"},
        {"patch past the CSMI buffer", Controller(R"("raidConfig": {"patch": {"34744": "00"}})"),
         "t: controllers[0].faults.raidConfig.patch.34744: 1 byte at offset 34744 reaches past "
         "the largest buffer of a CSMI RAID configuration request (34744 bytes)"},
        {"patch past the device number",
         Disk(R"("faults": {"deviceNumber": {"patch": {"8": "0000000000"}}})"),
         "t: disks[0].faults.deviceNumber.patch.8: 5 bytes at offset 8 reach past the largest "
         "buffer of a device-number request (12 bytes)"},
        {"an offset far too long for any buffer",
         InboxDrive(R"("faults": {"identify": {"patch": {"184467440737095516160": "00"}}})"),
         "t: disks[0].drive.faults.identify.patch.184467440737095516160: 1 byte at offset "
         "184467440737095516160 reaches past the largest buffer of an identify request on the "
         "inbox path (4144 bytes)"},
        {"patch key not a number",
         InboxDrive(R"("faults": {"identify": {"patch": {"0x14": "00"}}})"),
         "t: disks[0].drive.faults.identify.patch.0x14: a patch's key is a decimal buffer offset, "
         "not \"0x14\""},
        {"patch key with a leading zero",
         InboxDrive(R"("faults": {"identify": {"patch": {"020": "00"}}})"),
         "t: disks[0].drive.faults.identify.patch.020: a patch's key is a decimal buffer offset, "
         "not \"020\""},
        {"patch key negative", InboxDrive(R"("faults": {"identify": {"patch": {"-1": "00"}}})"),
         "t: disks[0].drive.faults.identify.patch.-1: a patch's key is a decimal buffer offset, "
         "not \"-1\""},
        {"upper-case hex", InboxDrive(R"("faults": {"identify": {"patch": {"0": "0A"}}})"),
         "t: disks[0].drive.faults.identify.patch.0: \"A\" at position 1 is not a lower-case hex "
         "digit (0-9, a-f)"},
        {"a letter beyond ASCII",
         InboxDrive(R"("faults": {"identify": {"patch": {"0": "00\u00e9"}}})"),
         "t: disks[0].drive.faults.identify.patch.0: \"\xC3\xA9\" at position 2 is not a "
         "lower-case hex digit (0-9, a-f)"},
        {"odd hex", InboxDrive(R"("faults": {"identify": {"patch": {"0": "abc"}}})"),
         "t: disks[0].drive.faults.identify.patch.0: 3 hex digits, an odd number; a byte takes "
         "two"},
        {"empty hex", InboxDrive(R"("faults": {"identify": {"patch": {"0": ""}}})"),
         "t: disks[0].drive.faults.identify.patch.0: an empty string; a patch writes at least one "
         "byte"},
        {"hex as a number", InboxDrive(R"("faults": {"identify": {"patch": {"0": 12}}})"),
         "t: disks[0].drive.faults.identify.patch.0: expected a string of hex bytes, found a "
         "number"},
        {"an empty patch", InboxDrive(R"("faults": {"identify": {"patch": {}}})"),
         "t: disks[0].drive.faults.identify.patch: an empty patch; give at least one \"OFFSET\": "
         "\"hex\""},
        {"an empty fault", InboxDrive(R"("faults": {"identify": {}})"),
         "t: disks[0].drive.faults.identify: needs \"error\", \"returnCode\", \"patch\" or "
         "\"returned\""},
        {"an unknown fault key", InboxDrive(R"("faults": {"identify": {"chunk": 1}})"),
         "t: disks[0].drive.faults.identify.chunk: unknown key (known here: error, returnCode, "
         "patch, returned)"},
        {"identify as a number", InboxDrive(R"("faults": {"identify": 31})"),
         "t: disks[0].drive.faults.identify: expected \"fail\" or an object, found a number"},
        {"return code negative", InboxDrive(R"("faults": {"firmwareInfo": {"returnCode": -1}})"),
         "t: disks[0].drive.faults.firmwareInfo.returnCode: -1 is out of range 0 to 4294967295"},
        {"returned too large", InboxDrive(R"("faults": {"activate": {"returned": 4294967296}})"),
         "t: disks[0].drive.faults.activate.returned: 4294967296 is out of range 0 to "
         "4294967295"},
        {"download as text", InboxDrive(R"("faults": {"download": "fail"})"),
         "t: disks[0].drive.faults.download: expected an object, found a string"},
        {"download chunk alone", InboxDrive(R"("faults": {"download": {"chunk": 2}})"),
         "t: disks[0].drive.faults.download: needs \"fail\": true, \"error\", \"returnCode\", "
         "\"patch\" or "
         "\"returned\""},
        {"download fail and return code",
         InboxDrive(R"("faults": {"download": {"fail": true, "returnCode": 4}})"),
         "t: disks[0].drive.faults.download: a failure (\"fail\": true or \"error\") and "
         "\"returnCode\" together; give one of them"},
        {"a failure has no reply to patch",
         InboxDrive(R"("faults": {"download": {"chunk": 1, "fail": true, "patch": {"0": "00"}}})"),
         "t: disks[0].drive.faults.download: a failure (\"fail\": true or \"error\") with "
         "\"patch\" or \"returned\"; a failed request returns no reply to alter"},
        {"raidConfig query alone", Controller(R"("raidConfig": {"query": 2})"),
         "t: controllers[0].faults.raidConfig: needs \"error\", \"returnCode\", \"patch\" or "
         "\"returned\""},
        {"raidConfig query negative", Controller(R"("raidConfig": {"query": -2, "returned": 0})"),
         "t: controllers[0].faults.raidConfig.query: -2 is out of range 0 to 4294967295"},
        {"deviceNumber has no return code",
         Disk(R"("faults": {"deviceNumber": {"returnCode": 1}})"),
         "t: disks[0].faults.deviceNumber.returnCode: unknown key (known here: error, patch, "
         "returned)"},
        {"deviceNumber as a flag", Disk(R"("faults": {"deviceNumber": true})"),
         "t: disks[0].faults.deviceNumber: expected \"fail\" or an object, found true or false"},
        {"deviceNumberFails and its fault together",
         Disk(R"("deviceNumberFails": true, "faults": {"deviceNumber": {"returned": 4}})"),
         "t: disks[0].faults.deviceNumber: deviceNumberFails already makes the request fail; give "
         "one of them"},
        {"an unknown disk fault", Disk(R"("faults": {"open": "deny"})"),
         "t: disks[0].faults.open: unknown key (known here: deviceNumber, properties)"},
        {"an unknown property", Disk(R"("faults": {"properties": {"model": "too-small-forever"}})"),
         "t: disks[0].faults.properties.model: unknown key (known here: parent, instanceId, "
         "hardwareIds, locationInfo, driverDescription, interfaceDetail)"},
        {"an unknown property fault", Controller(R"("properties": {"parent": "too-small"})"),
         "t: controllers[0].faults.properties.parent: \"too-small\" is not one of "
         "\"too-small-forever\""},
        {"a property fault as a number", Controller(R"("properties": {"instanceId": 40})"),
         "t: controllers[0].faults.properties.instanceId: expected \"too-small-forever\" or an "
         "object with \"requiredSize\", found a number"},
        {"requiredSize missing", Disk(R"("faults": {"properties": {"hardwareIds": {}}})"),
         "t: disks[0].faults.properties.hardwareIds: missing required key \"requiredSize\""},
        {"requiredSize negative",
         Disk(R"("faults": {"properties": {"locationInfo": {"requiredSize": -1}}})"),
         "t: disks[0].faults.properties.locationInfo.requiredSize: -1 is out of range 0 to "
         "4294967295"},
        {"more slots than a reply lists", InboxDrive(R"("slots": [)" + manySlots + "]"),
         "t: disks[0].drive.slots: 256 slots; a firmware-information reply lists at most 255"},
        {"a slot number past a byte", InboxDrive(R"("slots": [{"number": 256}])"),
         "t: disks[0].drive.slots[0].number: 256 is out of range 0 to 255"},
        {"a slot without its number", InboxDrive(R"("slots": [{"readOnly": true}])"),
         "t: disks[0].drive.slots[0]: missing required key \"number\""},
        {"an active slot of a drive without slots", InboxDrive(R"("slots": [], "activeSlot": 1)"),
         "t: disks[0].drive.activeSlot: slot 1 is not among the drive's slots"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LoadError(c.scenario, "t"), c.message);
    }
}

TEST(SimScenarioFaults, SlotsAreExactlyWhatTheReplyLists) {
    const struct {
        const char* name;
        std::string drive;
        std::vector<std::pair<int, bool>> slots;  // number, read-only
        int activeSlot;
        int runningEntry;  // the entry holding the running revision; -1: none
    } cases[] = {
        {"no slot at all", R"("slots": [])", {}, 0, -1},
        {"every slot read-only",
         R"("slots": [{"number": 3, "readOnly": true}, {"number": 2, "readOnly": true}])",
         {{3, true}, {2, true}},
         2,
         1},
        {"slot 0 and slot 255, in reply order",
         R"("slots": [{"number": 255}, {"number": 0}])",
         {{255, false}, {0, false}},
         0,
         1},
        {"a number twice: the first entry runs",
         R"("slots": [{"number": 5, "readOnly": true}, {"number": 5}], "activeSlot": 5)",
         {{5, true}, {5, false}},
         5,
         0},
        {"an active slot past 7",
         R"("slots": [{"number": 1}, {"number": 9}], "activeSlot": 9)",
         {{1, false}, {9, false}},
         9,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const sim::Machine machine = MachineFrom(InboxDrive(R"("fr": "QZT2VKLA", )" + c.drive));
        const sim::Drive& drive = machine.drives.at(0);
        std::vector<std::pair<int, bool>> slots;
        for (const sim::FirmwareSlot& slot : drive.slots) {
            slots.emplace_back(slot.number, slot.readOnly);
        }
        EXPECT_EQ(slots, c.slots);
        EXPECT_EQ(drive.activeSlot, c.activeSlot);
        for (std::size_t i = 0; i < drive.slots.size(); ++i) {
            EXPECT_EQ(drive.slots[i].revision == drive.firmwareRevision,
                      static_cast<int>(i) == c.runningEntry)
                << "entry " << i;
        }
    }
}

TEST(SimScenarioFaults, PropertyFaultsLandOnTheDevice) {
    sim::Machine machine;
    std::string error;
    ASSERT_TRUE(sim::LoadScenarioText(R"({
      "controllers": [{"id": "rst0", "faults": {"properties": {
        "driverDescription": "too-small-forever", "interfaceDetail": {"requiredSize": 4294967295}}}}],
      "disks": [{"attach": "inbox", "faults": {"properties": {
        "parent": {"requiredSize": 0}, "instanceId": "too-small-forever",
        "hardwareIds": {"requiredSize": 6}, "locationInfo": "too-small-forever"}}},
                {"attach": "inbox"}]})",
                                      "t", machine, error))
        << error;
    using Name = sim::PropertyName;
    using Kind = sim::PropertyFault::Kind;
    auto faults = [&](std::size_t device) {
        std::vector<std::string> out;
        for (const auto& [name, fault] : machine.devices.at(device).propertyFaults) {
            out.push_back(std::to_string(static_cast<int>(name)) + ":" +
                          (fault.kind == Kind::TooSmallForever
                               ? std::string("forever")
                               : std::to_string(fault.requiredSize)));
        }
        return out;
    };
    const auto number = [](Name name) { return std::to_string(static_cast<int>(name)); };
    EXPECT_EQ(faults(machine.controllers[0].device),
              (std::vector<std::string>{number(Name::DriverDescription) + ":forever",
                                        number(Name::InterfaceDetail) + ":4294967295"}));
    EXPECT_EQ(faults(machine.disks[0].device),
              (std::vector<std::string>{
                  number(Name::Parent) + ":0", number(Name::InstanceId) + ":forever",
                  number(Name::HardwareIds) + ":6", number(Name::LocationInfo) + ":forever"}));
    EXPECT_TRUE(machine.devices.at(machine.disks[1].device).propertyFaults.empty());
}

}  // namespace
