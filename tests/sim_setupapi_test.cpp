// The simulated device-setup interface: set contents and order, and the size-query
// and record checks that system code must get right against Windows.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "sim/models/machine.h"
#include "sim/sim.h"
#include "test_support.h"

namespace {

constexpr std::string_view kThreeDisks = R"({
  "controllers": [ { "id": "rst0" }, { "id": "port1", "driverDescription": null } ],
  "disks": [
    { "attach": "inbox", "parent": "", "hardwareIds": null },
    { "attach": "other", "locationInfo": "Bus Number 7, Target Id 0, LUN 0" },
    { "attach": "rst", "controller": "rst0", "pathId": 4 }
  ]
})";

struct SetGuard {
    HDEVINFO set;
    ~SetGuard() { win::SetupDiDestroyDeviceInfoList(set); }
};

// The present interfaces of one class, as a set destroyed at the end of the scope.
class PresentSet {
  public:
    explicit PresentSet(const GUID& guid)
        : set_(win::SetupDiGetClassDevsW(&guid, nullptr, nullptr, 0x12)) {}
    ~PresentSet() { win::SetupDiDestroyDeviceInfoList(set_); }
    PresentSet(const PresentSet&) = delete;
    PresentSet& operator=(const PresentSet&) = delete;
    operator HDEVINFO() const { return set_; }

  private:
    HDEVINFO set_;
};

SP_DEVINFO_DATA Element(HDEVINFO set, DWORD index) {
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    EXPECT_TRUE(win::SetupDiEnumDeviceInfo(set, index, &data)) << "element " << index;
    return data;
}

std::wstring InterfacePath(HDEVINFO set, const GUID& guid, DWORD index) {
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    if (!win::SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &iface)) {
        return L"<none>";
    }
    DWORD required = 0;
    win::SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &required, nullptr);
    std::vector<std::uint8_t> buffer(required);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_TRUE(
        win::SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, required, nullptr, nullptr));
    return reinterpret_cast<const wchar_t*>(
        buffer.data() + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath));
}

TEST(SimSetupApi, InterfaceSetsListDevicesOfTheClassInScenarioOrder) {
    sim::Machine machine = MachineFrom(kThreeDisks);
    sim::MachineInstall install(machine);

    HDEVINFO disks = win::SetupDiGetClassDevsW(&win::GUID_DEVINTERFACE_DISK, nullptr, nullptr,
                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(disks, INVALID_HANDLE_VALUE);
    SetGuard guardDisks{disks};
    for (DWORD i = 0; i < 3; ++i) {
        const SP_DEVINFO_DATA data = Element(disks, i);
        const sim::Device& device = machine.devices[machine.disks[i].device];
        EXPECT_EQ(data.DevInst, device.devInst);
        EXPECT_TRUE(win::SameGuid(data.ClassGuid, sim::GUID_DEVCLASS_DISKDRIVE));
        EXPECT_EQ(InterfacePath(disks, win::GUID_DEVINTERFACE_DISK, i), *device.interfaces[0].path);
    }
    SP_DEVINFO_DATA past{};
    past.cbSize = sizeof past;
    EXPECT_FALSE(win::SetupDiEnumDeviceInfo(disks, 3, &past));
    EXPECT_EQ(win::GetLastError(), ERROR_NO_MORE_ITEMS);
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    EXPECT_FALSE(
        win::SetupDiEnumDeviceInterfaces(disks, nullptr, &win::GUID_DEVINTERFACE_DISK, 3, &iface));
    EXPECT_EQ(win::GetLastError(), ERROR_NO_MORE_ITEMS);

    HDEVINFO ports = win::SetupDiGetClassDevsW(&win::GUID_DEVINTERFACE_STORAGEPORT, nullptr,
                                               nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SetGuard guardPorts{ports};
    for (DWORD i = 0; i < 2; ++i) {
        EXPECT_EQ(Element(ports, i).DevInst,
                  machine.devices[machine.controllers[i].device].devInst);
    }
    EXPECT_FALSE(win::SetupDiEnumDeviceInfo(ports, 2, &past));
}

TEST(SimSetupApi, AllClassesIgnoresTheClassArgument) {
    sim::Machine machine = MachineFrom(kThreeDisks);
    sim::MachineInstall install(machine);
    for (const GUID* guid : {&win::GUID_DEVINTERFACE_DISK, &win::GUID_DEVINTERFACE_STORAGEPORT,
                             static_cast<const GUID*>(nullptr)}) {
        HDEVINFO set =
            win::SetupDiGetClassDevsW(guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
        ASSERT_NE(set, INVALID_HANDLE_VALUE);
        SetGuard guard{set};
        // Two controllers, the PCI controller above the other maker's disk (the inbox
        // disk's parent is blank), three disks.
        ASSERT_EQ(machine.devices.size(), 6u);
        for (DWORD i = 0; i < machine.devices.size(); ++i) {
            EXPECT_EQ(Element(set, i).DevInst, machine.devices[i].devInst);
        }
        SP_DEVINFO_DATA past{};
        past.cbSize = sizeof past;
        EXPECT_FALSE(win::SetupDiEnumDeviceInfo(set, 6, &past));
    }
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
}

TEST(SimSetupApi, RejectsFlagCombinationsWindowsRejects) {
    sim::Machine machine = MachineFrom(kThreeDisks);
    sim::MachineInstall install(machine);
    const struct {
        const GUID* guid;
        DWORD flags;
        DWORD error;
    } cases[] = {
        {nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE, ERROR_INVALID_PARAMETER},
        {nullptr, DIGCF_PRESENT, ERROR_INVALID_PARAMETER},
        {&win::GUID_DEVINTERFACE_DISK, 0x100, ERROR_INVALID_FLAGS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        EXPECT_EQ(win::SetupDiGetClassDevsW(c.guid, nullptr, nullptr, c.flags),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(win::GetLastError(), c.error);
    }
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
}

TEST(SimSetupApi, EnumerationChecksTheRecordSize) {
    sim::Machine machine = MachineFrom(kThreeDisks);
    sim::MachineInstall install(machine);
    const PresentSet set(win::GUID_DEVINTERFACE_DISK);
    for (DWORD size : {0u, 28u, 31u, 33u, 40u}) {
        SCOPED_TRACE(size);
        SP_DEVINFO_DATA data{};
        data.cbSize = size;
        EXPECT_FALSE(win::SetupDiEnumDeviceInfo(set, 0, &data));
        EXPECT_EQ(win::GetLastError(), ERROR_INVALID_USER_BUFFER);
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = size;
        EXPECT_FALSE(win::SetupDiEnumDeviceInterfaces(set, nullptr, &win::GUID_DEVINTERFACE_DISK, 0,
                                                      &iface));
        EXPECT_EQ(win::GetLastError(), ERROR_INVALID_USER_BUFFER);
    }
}

TEST(SimSetupApi, DevicePropertySizeQueryAndRead) {
    sim::Machine machine = MachineFrom(kThreeDisks);
    sim::MachineInstall install(machine);
    const PresentSet disks(win::GUID_DEVINTERFACE_DISK);
    const PresentSet ports(win::GUID_DEVINTERFACE_STORAGEPORT);

    const struct {
        HDEVINFO set;
        DWORD element;
        DEVPROPKEY key;
        const wchar_t* text;  // nullptr: absent
    } cases[] = {
        {disks, 0, win::DEVPKEY_Device_Parent, L""},
        {disks, 1, win::DEVPKEY_Device_LocationInfo, L"Bus Number 7, Target Id 0, LUN 0"},
        {disks, 2, win::DEVPKEY_Device_LocationInfo, L"Bus Number 4, Target Id 0, LUN 0"},
        {ports, 0, win::DEVPKEY_Device_DriverDesc,
         L"Intel(R) Chipset SATA/PCIe RST Premium Controller"},
        {ports, 1, win::DEVPKEY_Device_DriverDesc, nullptr},
        {disks, 0, DEVPROPKEY{win::DEVPKEY_Device_Parent.fmtid, 99}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "element " << c.element << " pid " << c.key.pid);
        SP_DEVINFO_DATA data = Element(c.set, c.element);
        DEVPROPTYPE type = 0;
        DWORD required = 0;
        EXPECT_FALSE(
            win::SetupDiGetDevicePropertyW(c.set, &data, &c.key, &type, nullptr, 0, &required, 0));
        if (c.text == nullptr) {
            EXPECT_EQ(win::GetLastError(), ERROR_NOT_FOUND);
            continue;
        }
        const std::wstring text = c.text;
        const DWORD expected = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
        EXPECT_EQ(win::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(required, expected);
        EXPECT_EQ(type, DEVPROP_TYPE_STRING);

        std::vector<BYTE> buffer(expected + 16, 0xCC);
        EXPECT_FALSE(win::SetupDiGetDevicePropertyW(c.set, &data, &c.key, &type, buffer.data(),
                                                    expected - 1, &required, 0));
        EXPECT_EQ(win::GetLastError(), ERROR_INSUFFICIENT_BUFFER);

        type = 0;
        ASSERT_TRUE(win::SetupDiGetDevicePropertyW(c.set, &data, &c.key, &type, buffer.data(),
                                                   expected, &required, 0));
        EXPECT_EQ(type, DEVPROP_TYPE_STRING);
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(buffer.data())), text);
        EXPECT_EQ(buffer[expected], 0xCC) << "wrote past the text and its terminator";
    }
}

TEST(SimSetupApi, PropertyCallsRefuseRecordsOfAnotherSet) {
    sim::Machine machine = MachineFrom(kThreeDisks);
    sim::MachineInstall install(machine);
    const PresentSet first(win::GUID_DEVINTERFACE_DISK);
    const PresentSet second(win::GUID_DEVINTERFACE_DISK);
    SP_DEVINFO_DATA data = Element(first, 1);
    DEVPROPTYPE type = 0;
    DWORD required = 0;
    EXPECT_FALSE(win::SetupDiGetDevicePropertyW(second, &data, &win::DEVPKEY_Device_Parent, &type,
                                                nullptr, 0, &required, 0));
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_PARAMETER);
    SP_DEVINFO_DATA forged{};
    forged.cbSize = sizeof forged;
    forged.DevInst = data.DevInst;
    EXPECT_FALSE(win::SetupDiGetDevicePropertyW(first, &forged, &win::DEVPKEY_Device_Parent, &type,
                                                nullptr, 0, &required, 0));
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(SimSetupApi, HardwareIdsAreAMultiStringWithItsSizeQuery) {
    sim::Machine machine = MachineFrom(kThreeDisks);
    sim::MachineInstall install(machine);
    const PresentSet set(win::GUID_DEVINTERFACE_DISK);

    SP_DEVINFO_DATA absent = Element(set, 0);
    DWORD type = 0;
    DWORD required = 0;
    EXPECT_FALSE(win::SetupDiGetDeviceRegistryPropertyW(set, &absent, SPDRP_HARDWAREID, &type,
                                                        nullptr, 0, &required));
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_DATA);

    SP_DEVINFO_DATA data = Element(set, 1);
    const std::vector<std::wstring>& ids = *machine.devices[machine.disks[1].device].hardwareIds;
    std::wstring multi;
    for (const std::wstring& id : ids) {
        multi += id;
        multi.push_back(L'\0');
    }
    multi.push_back(L'\0');
    const DWORD expected = static_cast<DWORD>(multi.size() * sizeof(wchar_t));
    EXPECT_FALSE(win::SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, &type,
                                                        nullptr, 0, &required));
    EXPECT_EQ(win::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, expected);
    std::vector<BYTE> buffer(expected);
    EXPECT_FALSE(win::SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, &type,
                                                        buffer.data(), expected - 1, &required));
    EXPECT_EQ(win::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_TRUE(win::SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, &type,
                                                       buffer.data(), expected, &required));
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(buffer.data()), multi.size()), multi);
    EXPECT_FALSE(win::SetupDiGetDeviceRegistryPropertyW(set, &data, 0x0C, &type, buffer.data(),
                                                        expected, &required));
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_DATA);
}

TEST(SimSetupApi, InterfaceDetailSizeQueryAndRecordChecks) {
    sim::Machine machine = MachineFrom(kThreeDisks);
    sim::MachineInstall install(machine);
    const PresentSet set(win::GUID_DEVINTERFACE_DISK);
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    ASSERT_TRUE(
        win::SetupDiEnumDeviceInterfaces(set, nullptr, &win::GUID_DEVINTERFACE_DISK, 2, &iface));
    const std::wstring path = *machine.devices[machine.disks[2].device].interfaces[0].path;
    const DWORD expected = static_cast<DWORD>(4 + (path.size() + 1) * sizeof(wchar_t));

    DWORD required = 0;
    EXPECT_FALSE(
        win::SetupDiGetDeviceInterfaceDetailW(set, &iface, nullptr, 0, &required, nullptr));
    EXPECT_EQ(win::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, expected);

    std::vector<std::uint8_t> buffer(expected);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    // Windows wants the size of the fixed part; the whole-buffer size or the 32-bit
    // value 6 are refused before the size is looked at.
    for (DWORD cbSize : std::initializer_list<DWORD>{0, 4, 6, 16, expected}) {
        SCOPED_TRACE(cbSize);
        detail->cbSize = cbSize;
        EXPECT_FALSE(
            win::SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, expected, nullptr, nullptr));
        EXPECT_EQ(win::GetLastError(), ERROR_INVALID_USER_BUFFER);
    }
    detail->cbSize = 8;
    EXPECT_FALSE(
        win::SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, expected - 1, nullptr, nullptr));
    EXPECT_EQ(win::GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    SP_DEVINFO_DATA element{};
    element.cbSize = 24;
    EXPECT_FALSE(
        win::SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, expected, nullptr, &element));
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_USER_BUFFER);
    element.cbSize = sizeof element;
    ASSERT_TRUE(
        win::SetupDiGetDeviceInterfaceDetailW(set, &iface, detail, expected, nullptr, &element));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(buffer.data() + 4)), path);
    EXPECT_EQ(element.DevInst, machine.devices[machine.disks[2].device].devInst);
    // The element record it returns is as good as one from SetupDiEnumDeviceInfo.
    DEVPROPTYPE type = 0;
    EXPECT_FALSE(win::SetupDiGetDevicePropertyW(set, &element, &win::DEVPKEY_Device_LocationInfo,
                                                &type, nullptr, 0, &required, 0));
    EXPECT_EQ(win::GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(SimSetupApi, AnUnreadableInterfaceShiftsTheInterfacesAgainstTheElements) {
    sim::Machine machine = MachineFrom(R"({"disks": [
        {"attach": "inbox", "interfacePath": null}, {"attach": "inbox"}]})");
    sim::MachineInstall install(machine);
    const PresentSet set(win::GUID_DEVINTERFACE_DISK);
    Element(set, 1);
    EXPECT_EQ(InterfacePath(set, win::GUID_DEVINTERFACE_DISK, 0),
              *machine.devices[machine.disks[1].device].interfaces[0].path);
    EXPECT_EQ(InterfacePath(set, win::GUID_DEVINTERFACE_DISK, 1), L"<none>");
}

// One read of a property that can lie about its size, with `room` bytes of buffer, by
// the call the program reads it with. Sentinels go in first, so a result the call did
// not set shows as 0xdeadbeef.
struct SizedRead {
    BOOL ok;
    DWORD error;
    DWORD required;
};

SizedRead ReadSized(HDEVINFO set, SP_DEVINFO_DATA element, sim::PropertyName name, DWORD room) {
    std::vector<BYTE> buffer(room + 8, 0xCC);
    SizedRead read{FALSE, 0, 0xdeadbeef};
    win::SetLastError(0xdeadbeef);
    if (name == sim::PropertyName::InterfaceDetail) {
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof iface;
        EXPECT_TRUE(win::SetupDiEnumDeviceInterfaces(set, &element, &win::GUID_DEVINTERFACE_DISK, 0,
                                                     &iface));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        win::SetLastError(0xdeadbeef);
        read.ok = win::SetupDiGetDeviceInterfaceDetailW(set, &iface, room == 0 ? nullptr : detail,
                                                        room, &read.required, nullptr);
    } else if (name == sim::PropertyName::HardwareIds) {
        DWORD type = 0;
        read.ok = win::SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_HARDWAREID, &type,
                                                         room == 0 ? nullptr : buffer.data(), room,
                                                         &read.required);
    } else {
        const DEVPROPKEY key =
            name == sim::PropertyName::Parent         ? win::DEVPKEY_Device_Parent
            : name == sim::PropertyName::InstanceId   ? win::DEVPKEY_Device_InstanceId
            : name == sim::PropertyName::LocationInfo ? win::DEVPKEY_Device_LocationInfo
                                                      : win::DEVPKEY_Device_DriverDesc;
        DEVPROPTYPE type = 0;
        read.ok = win::SetupDiGetDevicePropertyW(set, &element, &key, &type,
                                                 room == 0 ? nullptr : buffer.data(), room,
                                                 &read.required, 0);
    }
    read.error = win::GetLastError();
    return read;
}

TEST(SimSetupApi, PropertiesLieAboutTheirSizeAsTheScenarioSays) {
    sim::Machine machine = MachineFrom(R"({"disks": [{"attach": "inbox"}]})");
    sim::MachineInstall install(machine);
    const PresentSet set(win::GUID_DEVINTERFACE_DISK);
    const SP_DEVINFO_DATA element = Element(set, 0);
    sim::Device& device = machine.devices[machine.disks[0].device];

    using Kind = sim::PropertyFault::Kind;
    const struct {
        const char* name;
        sim::PropertyFault fault;
        bool aboveTrueSize;  // requiredSize: the true size plus 10 bytes
    } faults[] = {
        {"too small forever", {Kind::TooSmallForever, 0}, false},
        {"a required size above the true one", {Kind::RequiredSize, 0}, true},
        {"a required size of 2", {Kind::RequiredSize, 2}, false},
        {"a required size of 0", {Kind::RequiredSize, 0}, false},
        {"a required size of 4 GiB", {Kind::RequiredSize, 0xFFFFFFFF}, false},
    };
    const sim::PropertyName names[] = {
        sim::PropertyName::Parent,
        sim::PropertyName::InstanceId,
        sim::PropertyName::HardwareIds,
        sim::PropertyName::LocationInfo,
        sim::PropertyName::DriverDescription,
        sim::PropertyName::InterfaceDetail,
    };
    for (const auto& f : faults) {
        for (const sim::PropertyName name : names) {
            SCOPED_TRACE(testing::Message() << f.name << ", property " << static_cast<int>(name));
            device.propertyFaults.clear();
            const DWORD size = ReadSized(set, element, name, 0).required;
            sim::PropertyFault fault = f.fault;
            if (f.aboveTrueSize) {
                fault.requiredSize = size + 10;
            }
            device.propertyFaults[name] = fault;
            const bool forever = fault.kind == Kind::TooSmallForever;
            const DWORD reported = forever ? size : fault.requiredSize;
            for (const DWORD room : {DWORD{0}, size - 1, size, size + 100}) {
                SCOPED_TRACE(testing::Message() << "room " << room << " of " << size);
                const SizedRead read = ReadSized(set, element, name, room);
                if (!forever && room >= size) {
                    EXPECT_TRUE(read.ok);
                    EXPECT_EQ(read.required, size) << "a read that succeeds tells the truth";
                    continue;
                }
                EXPECT_FALSE(read.ok);
                EXPECT_EQ(read.error, ERROR_INSUFFICIENT_BUFFER);
                EXPECT_EQ(read.required, reported);
                EXPECT_NE(
                    sim::TraceJsonLines().rfind("\"requiredSize\":" + std::to_string(reported)),
                    std::string::npos)
                    << "the trace shows the size the call reported";
            }
        }
    }
    // A fault on one property leaves the others alone.
    device.propertyFaults = {{sim::PropertyName::Parent, {Kind::TooSmallForever, 0}}};
    const DWORD size = ReadSized(set, element, sim::PropertyName::InstanceId, 0).required;
    EXPECT_TRUE(ReadSized(set, element, sim::PropertyName::InstanceId, size).ok);
}

TEST(SimSetupApi, SetsCountAsOpenUntilDestroyed) {
    sim::Machine machine = MachineFrom(kThreeDisks);
    sim::MachineInstall install(machine);
    HDEVINFO set = win::SetupDiGetClassDevsW(&win::GUID_DEVINTERFACE_DISK, nullptr, nullptr, 0x12);
    EXPECT_EQ(sim::OpenHandleCount(), 1u);
    EXPECT_FALSE(win::CloseHandle(set)) << "a set is not a kernel handle";
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(win::SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(sim::OpenHandleCount(), 0u);
    EXPECT_FALSE(win::SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_HANDLE);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    EXPECT_FALSE(win::SetupDiEnumDeviceInfo(set, 0, &data));
    EXPECT_EQ(win::GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
