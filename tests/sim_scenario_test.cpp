// The scenario loader: one clear line with the place for every kind of mistake, and
// defaults that make a short scenario a real machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/win32.h"
#include "sim/models/machine.h"
#include "sim/models/text.h"
#include "sim/sim.h"
#include "test_support.h"

namespace {

std::wstring Property(const sim::Machine& machine, std::size_t device, const DEVPROPKEY& key) {
    const std::wstring* text = sim::FindProperty(machine.devices[device], key);
    return text == nullptr ? L"<absent>" : *text;
}

bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

template <std::size_t N>
std::string Field(const std::array<std::uint8_t, N>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(SimScenario, EachMistakeGivesOneLineWithItsPlace) {
    const struct {
        const char* json;
        const char* message;
    } cases[] = {
        {R"([])", "scenario.json: a scenario is a JSON object, found an array"},
        {R"({"disk": []})",
         "scenario.json: disk: unknown key (known here: controllers, disks, localTime, "
         "moduleHandleFails)"},
        {R"({"disks": [{"attach": "inbox"}, {"attach": "inbox", "atach": 1}]})",
         "scenario.json: disks[1].atach: unknown key (known here: attach, controller, pathId, "
         "drive, parent, instanceId, hardwareIds, locationInfo, interfacePath, deviceNumber, "
         "openable, deviceNumberFails, faults)"},
        {R"({"disks": [{"attach": "inbox"}, {"attach": "inbox", "drive": {"sn": "A", "sn": "A"}}]})",
         "scenario.json: disks[1].drive.sn: the key appears twice"},
        {R"({"disks": [{}]})", "scenario.json: disks[0]: missing required key \"attach\""},
        {R"({"controllers": [{"path": "x"}]})",
         "scenario.json: controllers[0]: missing required key \"id\""},
        {R"({"disks": {}})", "scenario.json: disks: expected an array, found an object"},
        {R"({"disks": [{"attach": "inbox", "openable": "no"}]})",
         "scenario.json: disks[0].openable: expected true or false, found a string"},
        {R"({"disks": [{"attach": "usb"}]})",
         "scenario.json: disks[0].attach: \"usb\" is not one of \"inbox\", \"rst\", "
         "\"raid-volume\", \"other\""},
        {R"({"disks": [{"attach": "inbox"}, {"attach": "inbox"},
            {"attach": "inbox", "drive": {"sn": "12345678901234567890123"}}]})",
         "scenario.json: disks[2].drive.sn: 23 characters, longer than the 20-byte field"},
        {R"({"disks": [{"attach": "inbox", "drive": {"fr": "QZT3VKLA1"}}]})",
         "scenario.json: disks[0].drive.fr: 9 characters, longer than the 8-byte field"},
        {R"({"disks": [{"attach": "inbox", "drive": {"mn": "KORVANE \u0100"}}]})",
         "scenario.json: disks[0].drive.mn: character U+0100 at position 8 is not one byte "
         "(U+0000 to U+00FF)"},
        {R"({"disks": [{"attach": "inbox", "drive": {"fr": "\u00e9\ud83d\ude00"}}]})",
         "scenario.json: disks[0].drive.fr: character U+1F600 at position 1 is not one byte "
         "(U+0000 to U+00FF)"},
        {R"({"disks": [{"attach": "inbox", "drive": {"fwug": 256}}]})",
         "scenario.json: disks[0].drive.fwug: 256 is out of range 0 to 255"},
        {R"({"disks": [{"attach": "inbox", "drive": {"fwug": -1}}]})",
         "scenario.json: disks[0].drive.fwug: -1 is out of range 0 to 255"},
        {R"({"disks": [{"attach": "inbox", "drive": {"fwug": 8.5}}]})",
         "scenario.json: disks[0].drive.fwug: expected a whole number, found a number with a "
         "fraction"},
        {R"({"disks": [{"attach": "inbox", "drive": {"version": "1"}}]})",
         "scenario.json: disks[0].drive.version: \"1\" is not a version \"MJR.MNR\" (major 0 to "
         "65535, minor 0 to 255)"},
        {R"({"disks": [{"attach": "inbox", "drive": {"activation": "reboot"}}]})",
         "scenario.json: disks[0].drive.activation: \"reboot\" is not one of \"power-cycle\", "
         "\"immediate\""},
        {R"({"disks": [{"attach": "inbox", "drive": {"firmwareRequests": "strict"}}]})",
         "scenario.json: disks[0].drive.firmwareRequests: \"strict\" is not one of \"any\", "
         "\"public-form-only\""},
        {R"({"controllers": [{"id": "rst0", "drives": {"0": {"firmwareRequests": "public-form-only"}}}]})",
         "scenario.json: controllers[0].drives.0.firmwareRequests: the Intel RST driver's firmware "
         "requests come in one form only; \"public-form-only\" is for a drive on the inbox path"},
        {R"({"controllers": [{"id": "rst0"}], "disks": [{"attach": "rst", "controller": "rst0",
            "drive": {"firmwareRequests": "public-form-only"}}]})",
         "scenario.json: disks[0].drive.firmwareRequests: the Intel RST driver's firmware requests "
         "come in one form only; \"public-form-only\" is for a drive on the inbox path"},
        {R"({"disks": [{"attach": "inbox", "drive": {"faults": {"download": {"chunk": 1}}}}]})",
         "scenario.json: disks[0].drive.faults.download: needs \"fail\": true, \"error\", "
         "\"returnCode\", "
         "\"patch\" or \"returned\""},
        {R"({"disks": [{"attach": "inbox", "drive": {"faults": {"activate": "boom"}}}]})",
         "scenario.json: disks[0].drive.faults.activate: \"boom\" is not one of \"fail\""},
        {R"({"disks": [{"attach": "inbox", "drive": {"faults": {"open": true}}}]})",
         "scenario.json: disks[0].drive.faults.open: expected a string, found true or false"},
        {R"({"controllers": [{"id": "rst0", "faults": {"raidConfig": {"returnCode": "x"}}}]})",
         "scenario.json: controllers[0].faults.raidConfig.returnCode: expected a whole number, "
         "found a string"},
        {R"({"controllers": [{"id": "rst0", "drives": {"02": {}}}]})",
         "scenario.json: controllers[0].drives.02: a drive's key is its path number, 0 to 255, "
         "not \"02\""},
        {R"({"controllers": [{"id": "rst0", "raidSets": [[0, 1], [1, 2]]}]})",
         "scenario.json: controllers[0].raidSets[1][0]: path 1 is already a member at "
         "controllers[0].raidSets[0][1]"},
        {R"({"controllers": [{"id": "rst0"}, {"id": "rst0"}]})",
         "scenario.json: controllers[1].id: id \"rst0\" is already used by controllers[0]"},
        {R"({"disks": [{"attach": "rst", "controller": "rst9", "pathId": 0}]})",
         "scenario.json: disks[0].controller: no controller with id \"rst9\""},
        {R"({"disks": [{"attach": "rst", "pathId": 0}]})",
         "scenario.json: disks[0]: missing required key \"controller\" for a disk attached "
         "\"rst\""},
        {R"({"controllers": [{"id": "rst0"}], "disks": [{"attach": "inbox", "controller": "rst0"}]})",
         "scenario.json: disks[0].controller: only a disk attached \"rst\" or \"raid-volume\" has "
         "a controller, not one attached \"inbox\""},
        {R"({"controllers": [{"id": "rst0"}],
            "disks": [{"attach": "rst", "controller": "rst0", "pathId": 3},
                      {"attach": "rst", "controller": "rst0", "pathId": 3}]})",
         "scenario.json: disks[1].pathId: path 3 of controller \"rst0\" is already used by "
         "disks[0]"},
        {R"({"controllers": [{"id": "rst0", "drives": {"3": {}}}],
            "disks": [{"attach": "rst", "controller": "rst0", "pathId": 3, "drive": {}}]})",
         "scenario.json: disks[0].drive: controller \"rst0\" already has a drive at path 3 "
         "(controllers[0].drives.3)"},
        {R"({"controllers": [{"id": "rst0"}],
            "disks": [{"attach": "raid-volume", "controller": "rst0", "drive": {}}]})",
         "scenario.json: disks[0].drive: a RAID volume has no drive of its own; its members are "
         "the controller's drives"},
        {R"({"disks": [{"attach": "inbox", "deviceNumber": 1}, {"attach": "other", "deviceNumber": 1}]})",
         "scenario.json: disks[1].deviceNumber: 1 is already used by disks[0]"},
        {R"({"disks": [{"attach": "inbox", "drive": {"id": "A"}}, {"attach": "inbox", "drive": {"id": "A"}}]})",
         "scenario.json: disks[1].drive.id: drive id \"A\" is already used by disks[0].drive"},
        {R"({"disks": [{"attach": "inbox", "hardwareIds": ["a", 2]}]})",
         "scenario.json: disks[0].hardwareIds[1]: expected a string, found a number"},
        {R"({"localTime": "2026-02-29T10:00:00"})",
         "scenario.json: localTime: \"2026-02-29T10:00:00\" is not a local time "
         "\"YYYY-MM-DDTHH:MM:SS\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        sim::Machine machine = MachineFrom(R"({"disks": [{"attach": "inbox"}]})");
        std::string error;
        EXPECT_FALSE(sim::LoadScenarioText(c.json, "scenario.json", machine, error));
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(machine.disks.size(), 1u) << "a failed load leaves the machine alone";
    }
}

TEST(SimScenario, AnEmptyObjectIsAnEmptyMachine) {
    const sim::Machine machine = MachineFrom("{}");
    EXPECT_TRUE(machine.devices.empty());
    EXPECT_TRUE(machine.disks.empty());
    EXPECT_TRUE(machine.controllers.empty());
    EXPECT_TRUE(machine.drives.empty());
    EXPECT_FALSE(machine.localTime.has_value());
    EXPECT_FALSE(machine.moduleHandleFails);
}

TEST(SimScenario, AnInboxDiskDefaultsToTheMakersDriveAtTheBaseRevision) {
    const sim::Machine machine = MachineFrom(R"({"disks": [{"attach": "inbox"}]})");
    ASSERT_EQ(machine.drives.size(), 1u);
    const sim::Drive& drive = machine.drives[0];
    EXPECT_EQ(drive.id, "disks[0]");
    EXPECT_EQ(Field(drive.serialNumber), "KV2311000001        ");
    EXPECT_EQ(Field(drive.modelNumber), "KORVANE QZRX4C7 1TB                     ");
    EXPECT_EQ(Field(drive.firmwareRevision), "QZT2VKLA");
    EXPECT_EQ(drive.revisionAfterPowerCycle, drive.firmwareRevision);
    EXPECT_EQ(drive.version, 0x00010300u);
    EXPECT_EQ(drive.fwug, 8);
    EXPECT_TRUE(drive.upgradeSupport);
    ASSERT_EQ(drive.slots.size(), 3u);
    EXPECT_TRUE(drive.slots[0].readOnly);
    EXPECT_FALSE(drive.slots[1].readOnly);
    EXPECT_EQ(drive.activeSlot, 1);
    EXPECT_EQ(drive.slots[0].revision, drive.firmwareRevision);
    EXPECT_EQ(drive.slots[1].revision, sim::RevisionBytes{});
    EXPECT_EQ(drive.activation, sim::Activation::PowerCycle);

    const sim::Disk& disk = machine.disks[0];
    EXPECT_EQ(disk.drive, 0u);
    EXPECT_EQ(disk.deviceNumber, 0u);
    const std::size_t d = disk.device;
    EXPECT_TRUE(Contains(Property(machine, d, win::DEVPKEY_Device_Parent), L"PCI\\VEN_7C1E&DEV_"));
    EXPECT_EQ(Property(machine, d, win::DEVPKEY_Device_InstanceId)
                  .rfind(L"SCSI\\DISK&VEN_NVME&PROD_KORVANE_QZRX4C7\\5&", 0),
              0u);
    const auto& ids = *machine.devices[d].hardwareIds;
    EXPECT_NE(std::find(ids.begin(), ids.end(), L"SCSI\\DiskNVMe____KORVANE_QZRX4C7_1TB"),
              ids.end());
    EXPECT_NE(std::find(ids.begin(), ids.end(), L"SCSI\\DiskNVMe____"), ids.end());
    EXPECT_EQ(ids.back(), L"GenDisk");
    const std::wstring path = *machine.devices[d].interfaces[0].path;
    EXPECT_EQ(path.rfind(L"\\\\?\\scsi#disk&ven_nvme&prod_korvane_qzrx4c7#5&", 0), 0u)
        << path.size();
    EXPECT_TRUE(Contains(path, L"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"));
    EXPECT_EQ(path, sim::LowerCase(path));
    // The PCI controller the disk hangs from is a device of its own.
    EXPECT_EQ(machine.devices.size(), 2u);
    EXPECT_EQ(Property(machine, 0, win::DEVPKEY_Device_InstanceId),
              Property(machine, d, win::DEVPKEY_Device_Parent));
}

TEST(SimScenario, RstDisksHangFromTheControllerAndGetItsDrives) {
    const sim::Machine machine = MachineFrom(R"({"controllers": [{"id": "rst0"}], "disks": [
        {"attach": "raid-volume", "controller": "rst0"},
        {"attach": "rst", "controller": "rst0", "pathId": 4},
        {"attach": "rst", "controller": "rst0"}]})");
    const sim::Controller& controller = machine.controllers[0];
    const std::size_t c = controller.device;
    const std::wstring controllerId = Property(machine, c, win::DEVPKEY_Device_InstanceId);
    const std::wstring description = Property(machine, c, win::DEVPKEY_Device_DriverDesc);
    EXPECT_TRUE(Contains(description, L"Intel") && Contains(description, L"Controller") &&
                Contains(description, L"RST"));
    EXPECT_TRUE(Contains(sim::UpperCase(*machine.devices[c].interfaces[0].path), L"VEN_8086"));
    EXPECT_TRUE(win::SameGuid(machine.devices[c].interfaces[0].classGuid,
                              win::GUID_DEVINTERFACE_STORAGEPORT));

    // The volume becomes a mirror of two new drives; the second single disk takes the
    // first free path.
    EXPECT_EQ(controller.raidSets, (std::vector<std::vector<std::uint8_t>>{{0, 1}}));
    EXPECT_EQ(machine.disks[2].pathId, 2);
    std::vector<std::string> ids;
    for (const sim::Drive& drive : machine.drives) {
        ids.push_back(drive.id);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"rst0:0", "rst0:1", "rst0:2", "rst0:4"}));
    EXPECT_EQ(machine.disks[1].drive, controller.drives.at(4));
    EXPECT_FALSE(machine.disks[0].drive.has_value());
    EXPECT_EQ(machine.disks[0].raidSet, 0);

    const std::size_t volume = machine.disks[0].device;
    const std::size_t single = machine.disks[1].device;
    EXPECT_EQ(Property(machine, volume, win::DEVPKEY_Device_Parent), controllerId);
    EXPECT_EQ(Property(machine, single, win::DEVPKEY_Device_Parent), controllerId);
    EXPECT_TRUE(Contains(controllerId, L"VEN_8086"));
    const std::wstring volumeId = Property(machine, volume, win::DEVPKEY_Device_InstanceId);
    EXPECT_TRUE(Contains(volumeId, L"VEN_INTEL") && Contains(volumeId, L"PROD_RAID"));
    const std::wstring singleId = Property(machine, single, win::DEVPKEY_Device_InstanceId);
    EXPECT_EQ(singleId.rfind(L"SCSI\\DISK&VEN_NVME&PROD_KORVANE_QZRX4C7\\5&", 0), 0u);
    EXPECT_FALSE(Contains(singleId, L"PROD_RAID"));
    EXPECT_EQ(Property(machine, single, win::DEVPKEY_Device_LocationInfo),
              L"Bus Number 4, Target Id 0, LUN 0");
    EXPECT_EQ(Property(machine, machine.disks[2].device, win::DEVPKEY_Device_LocationInfo),
              L"Bus Number 2, Target Id 0, LUN 0");
    // No device beyond the controller and the three disks: they hang from it.
    EXPECT_EQ(machine.devices.size(), 4u);
}

TEST(SimScenario, OverridesAndUnreadableProperties) {
    const sim::Machine machine = MachineFrom(R"({
      "controllers": [{"id": "rst0", "driverDescription": null, "instanceId": "PCI\\X\\1",
                       "openable": false, "faults": {"raidConfig": {"returnCode": 4}}}],
      "disks": [
        {"attach": "other", "parent": null, "instanceId": null, "hardwareIds": ["A", "B"],
         "locationInfo": "", "deviceNumber": null, "deviceNumberFails": true, "openable": false,
         "drive": {"sn": "\u00e9\u0000Z", "version": "2.10.3", "fwug": 0, "upgradeSupport": false,
                   "slots": [{"number": 1}, {"number": 4}], "activeSlot": 4,
                   "activation": "immediate",
                   "faults": {"open": "deny", "identify": "fail", "firmwareInfo": "fail",
                              "download": {"chunk": 9, "returnCode": 4},
                              "activate": {"returnCode": 7}}}}
      ],
      "localTime": "2026-12-07T21:05:09",
      "moduleHandleFails": true
    })");
    const sim::Controller& controller = machine.controllers[0];
    EXPECT_FALSE(controller.openable);
    EXPECT_EQ(controller.raidConfigFaults.at(0).fault.answer.kind,
              sim::ForcedAnswer::Kind::ReturnCode);
    EXPECT_EQ(controller.raidConfigFaults.at(0).fault.answer.returnCode, 4u);
    const std::size_t c = controller.device;
    EXPECT_EQ(Property(machine, c, win::DEVPKEY_Device_DriverDesc), L"<absent>");
    EXPECT_EQ(*machine.devices[c].interfaces[0].path,
              L"\\\\?\\pci#x#1#{2accfe60-c130-11d2-b082-00a0c91efb8b}");

    const sim::Disk& disk = machine.disks[0];
    const std::size_t d = disk.device;
    EXPECT_EQ(Property(machine, d, win::DEVPKEY_Device_Parent), L"<absent>");
    EXPECT_EQ(Property(machine, d, win::DEVPKEY_Device_InstanceId), L"<absent>");
    EXPECT_EQ(Property(machine, d, win::DEVPKEY_Device_LocationInfo), L"");
    EXPECT_EQ(*machine.devices[d].hardwareIds, (std::vector<std::wstring>{L"A", L"B"}));
    EXPECT_FALSE(disk.deviceNumber.has_value());
    EXPECT_EQ(disk.deviceNumberFault.answer.kind, sim::ForcedAnswer::Kind::Fail);
    EXPECT_FALSE(disk.openable);

    const sim::Drive& drive = machine.drives[0];
    EXPECT_EQ(Field(drive.serialNumber), std::string("\xE9\0Z                 ", 20));
    EXPECT_EQ(drive.version, 0x00020A03u);
    EXPECT_EQ(drive.fwug, 0);
    EXPECT_FALSE(drive.upgradeSupport);
    EXPECT_EQ(drive.activeSlot, 4);
    EXPECT_EQ(drive.slots[1].revision, drive.firmwareRevision);
    EXPECT_EQ(drive.activation, sim::Activation::Immediate);
    EXPECT_TRUE(drive.faults.denyOpen);
    EXPECT_EQ(drive.faults.identify.answer.kind, sim::ForcedAnswer::Kind::Fail);
    EXPECT_EQ(drive.faults.firmwareInfo.answer.kind, sim::ForcedAnswer::Kind::Fail);
    ASSERT_TRUE(drive.faults.download.has_value());
    EXPECT_EQ(drive.faults.download->chunk, 9u);
    EXPECT_EQ(drive.faults.download->fault.answer.returnCode, 4u);
    EXPECT_EQ(drive.faults.activate.answer.returnCode, 7u);

    ASSERT_TRUE(machine.localTime.has_value());
    EXPECT_EQ(machine.localTime->wYear, 2026);
    EXPECT_EQ(machine.localTime->wMonth, 12);
    EXPECT_EQ(machine.localTime->wDay, 7);
    EXPECT_EQ(machine.localTime->wDayOfWeek, 1) << "a Monday";
    EXPECT_EQ(machine.localTime->wHour, 21);
    EXPECT_EQ(machine.localTime->wSecond, 9);
    EXPECT_TRUE(machine.moduleHandleFails);
}

// Which forms of the inbox "FIRMWARE" requests a drive's driver takes: both unless the
// scenario says otherwise, on every disk of the inbox path; through Intel RST only the
// default has a meaning.
TEST(SimScenario, FirmwareRequestsKeyLandsOnTheDrive) {
    using sim::FirmwareRequests;
    const struct {
        const char* name;
        const char* scenario;
        FirmwareRequests expected;
    } cases[] = {
        {"default", R"({"disks": [{"attach": "inbox"}]})", FirmwareRequests::Any},
        {"an inbox drive",
         R"({"disks": [{"attach": "inbox", "drive": {"firmwareRequests": "public-form-only"}}]})",
         FirmwareRequests::PublicFormOnly},
        {"another maker's drive",
         R"({"disks": [{"attach": "other", "drive": {"firmwareRequests": "public-form-only"}}]})",
         FirmwareRequests::PublicFormOnly},
        {"a drive behind Intel RST",
         R"({"controllers": [{"id": "rst0", "drives": {"0": {"firmwareRequests": "any"}}}]})",
         FirmwareRequests::Any},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const sim::Machine machine = MachineFrom(c.scenario);
        ASSERT_EQ(machine.drives.size(), 1u);
        EXPECT_EQ(machine.drives[0].firmwareRequests, c.expected);
    }
}

TEST(SimScenario, DefaultNumbersPathsAndParentsAroundGivenOnes) {
    const sim::Machine machine = MachineFrom(R"({"disks": [
        {"attach": "inbox"}, {"attach": "inbox", "deviceNumber": 0},
        {"attach": "other", "parent": "PCI\\VEN_1\\SAME"}, {"attach": "inbox", "deviceNumber": 2},
        {"attach": "inbox"}, {"attach": "other", "parent": "pci\\ven_1\\same"}]})");
    std::vector<DWORD> numbers;
    std::vector<std::wstring> paths;
    for (const sim::Disk& disk : machine.disks) {
        numbers.push_back(disk.deviceNumber.value_or(999));
        paths.push_back(*machine.devices[disk.device].interfaces[0].path);
    }
    EXPECT_EQ(numbers, (std::vector<DWORD>{1, 0, 3, 2, 4, 5}));
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(std::unique(paths.begin(), paths.end()), paths.end());
    // Each inbox disk hangs from a controller node of its own; the other maker's two
    // name one parent (as Windows compares instance IDs), so one node serves both.
    const auto nodes = std::count_if(
        machine.devices.begin(), machine.devices.end(), [](const sim::Device& device) {
            return device.target.kind == sim::DeviceTarget::Kind::Unset;
        });
    EXPECT_EQ(nodes, 5);
}

TEST(SimScenario, DefaultMachineShowsEveryPath) {
    std::ifstream file(std::string(FWUPDATE_TEST_DATA_DIR) + "/default-machine.json");
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), sim::DefaultScenarioText()) << "keep the readable copy in step";

    const sim::Machine machine = sim::DefaultMachine();
    std::vector<std::string> drives;
    for (const sim::Drive& drive : machine.drives) {
        drives.push_back(drive.id + "=" + Field(drive.firmwareRevision));
    }
    EXPECT_EQ(drives, (std::vector<std::string>{"raid-member-0=QZT2VKLA", "raid-member-1=QZT2VKLA",
                                                "rst-single=QZT2VKLA", "other-maker=2B0QALD1",
                                                "inbox-base=QZT2VKLA", "inbox-target=QZT3VKLA"}));
    ASSERT_EQ(machine.controllers.size(), 1u);
    EXPECT_EQ(machine.controllers[0].raidSets, (std::vector<std::vector<std::uint8_t>>{{0, 1}}));
    std::vector<sim::Attach> attach;
    for (const sim::Disk& disk : machine.disks) {
        attach.push_back(disk.attach);
    }
    EXPECT_EQ(attach,
              (std::vector<sim::Attach>{sim::Attach::Other, sim::Attach::Inbox, sim::Attach::Inbox,
                                        sim::Attach::RaidVolume, sim::Attach::Rst}));
    const std::wstring otherParent =
        Property(machine, machine.disks[0].device, win::DEVPKEY_Device_Parent);
    EXPECT_FALSE(Contains(otherParent, L"VEN_7C1E") || Contains(otherParent, L"VEN_8086"));
}

}  // namespace
