// The public facts of the wire that no header pins: control codes, signatures,
// versions, functions, statuses and sentinels. Each row holds the fact, written down
// here from the file named above its table, and the program's own constant. The bytes
// the program builds are pinned whole by the golden requests of
// drivers_request_layout_test.cpp. In the Windows build the rows mingw-w64's
// headers define are checked against those headers too. The layouts of the structures
// themselves are pinned where they are declared (drivers/sdk_structs.h and the request
// headers), by literal sizes and offsets and, in the Windows build, against mingw-w64.
//
// Where the program keeps the original wire layout against a public definition, the
// row is a known difference (last test): it holds both values, so a change on either
// side fails here. docs/WIRE-CONFORMANCE.md says why each stays and how it would show
// on a real PC.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drivers/byte_layout.h"
#include "drivers/csmi_raid_config.h"
#include "drivers/miniport_firmware.h"
#include "drivers/nvme_identify.h"
#include "drivers/rst_address.h"
#include "drivers/rst_firmware.h"
#include "drivers/rst_nvme_pass_through.h"
#include "drivers/storage_requests.h"
#include "firmware/firmware_package.h"
#include "run_support.h"

#ifdef _WIN32
// platform/win32.h has already brought in windows.h, winioctl.h and ntddscsi.h.
#include <nvme.h>
#define SDK(expr) std::optional<std::uint64_t>(expr)
#else
#define SDK(expr) std::nullopt
#endif

namespace {

struct Fact {
    const char* name;
    std::uint64_t published;
    std::uint64_t program;
    std::optional<std::uint64_t> sdk = std::nullopt;  // the same fact from mingw-w64
};

void ExpectFacts(const std::vector<Fact>& facts) {
    for (const Fact& fact : facts) {
        EXPECT_EQ(fact.program, fact.published) << fact.name;
        if (fact.sdk) {
            EXPECT_EQ(*fact.sdk, fact.published) << fact.name << ", as mingw-w64 defines it";
        }
    }
}

constexpr std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

#ifdef _WIN32
// The Identify byte where one part of the NVME_VERSION bit field lands.
std::uint64_t VersionByte(void (*set)(NVME_VERSION&)) {
    NVME_VERSION version{};
    set(version);
    std::uint64_t byte = 0;
    while (byte < 3 && ((version.AsUlong >> (8 * byte)) & 0xFF) == 0) {
        ++byte;
    }
    return offsetof(NVME_IDENTIFY_CONTROLLER_DATA, VER) + byte;
}
#endif

std::uint64_t U32(const Bytes& request, std::size_t offset) {
    return layout::GetU32(request, offset).value_or(0xDEADBEEF);
}

// microsoft/win32metadata generation/WinSDK/RecompiledIdlHeaders/shared/ntddscsi.h (the
// Windows SDK header): SRB_IO_CONTROL, FIRMWARE_REQUEST_BLOCK, STORAGE_FIRMWARE_SLOT_INFO,
// STORAGE_FIRMWARE_INFO, STORAGE_FIRMWARE_DOWNLOAD(_V2), STORAGE_FIRMWARE_ACTIVATE and
// their constants. Offsets count from the start of each structure.
TEST(WireConformance, MiniportFirmwareStructuresMatchTheSdk) {
    ExpectFacts({
        {"IOCTL_SCSI_MINIPORT (inbox)", 0x0004D008, inbox_fw::kRequest.ioControlCode,
         SDK(IOCTL_SCSI_MINIPORT)},
        {"IOCTL_SCSI_MINIPORT_FIRMWARE", 0x001B0780, inbox_fw::kRequest.controlCode},

        {"FIRMWARE_REQUEST_BLOCK_STRUCTURE_VERSION", 1, fwreq::kRequestBlockVersion},
        {"FIRMWARE_FUNCTION_GET_INFO", 1, fwreq::kFunctionGetInfo},
        {"FIRMWARE_FUNCTION_DOWNLOAD", 2, fwreq::kFunctionDownload},
        {"FIRMWARE_FUNCTION_ACTIVATE", 3, fwreq::kFunctionActivate},
        {"FIRMWARE_REQUEST_FLAG_CONTROLLER", 0x1, fwreq::kFlagController},
        {"FIRMWARE_STATUS_SUCCESS", 0x00, fwreq::kStatusSuccess},
        {"FIRMWARE_STATUS_ERROR", 0x01, fwreq::kStatusError},
        {"FIRMWARE_STATUS_ILLEGAL_REQUEST", 0x02, fwreq::kStatusIllegalRequest},
        {"FIRMWARE_STATUS_INVALID_PARAMETER", 0x03, fwreq::kStatusInvalidParameter},
        {"FIRMWARE_STATUS_INPUT_BUFFER_TOO_BIG", 0x04, fwreq::kStatusInputBufferTooBig},
        {"FIRMWARE_STATUS_OUTPUT_BUFFER_TOO_SMALL", 0x05, fwreq::kStatusOutputBufferTooSmall},
        {"FIRMWARE_STATUS_INVALID_SLOT", 0x06, fwreq::kStatusInvalidSlot},
        {"FIRMWARE_STATUS_INVALID_IMAGE", 0x07, fwreq::kStatusInvalidImage},
        {"FIRMWARE_STATUS_CONTROLLER_ERROR", 0x10, fwreq::kStatusControllerError},
        {"FIRMWARE_STATUS_POWER_CYCLE_REQUIRED", 0x20, fwreq::kStatusPowerCycleRequired},

        {"STORAGE_FIRMWARE_INFO_STRUCTURE_VERSION", 1, fwreq::kInfoVersion},
        {"STORAGE_FIRMWARE_INFO_STRUCTURE_VERSION_V2", 2, fwreq::kInfoVersionV2},
        {"DataBufferOffset = ALIGN_UP(sizeof(SRB_IO_CONTROL) + sizeof(FIRMWARE_REQUEST_BLOCK), "
         "PVOID), the public form's",
         56, inbox_fw::kPublicDataAreaOffset,
         SDK(AlignUp(sizeof(SRB_IO_CONTROL) + 24, sizeof(PVOID)))},

        {"STORAGE_FIRMWARE_DOWNLOAD_STRUCTURE_VERSION", 1, fwreq::kDownloadVersion},
        {"STORAGE_FIRMWARE_DOWNLOAD_STRUCTURE_VERSION_V2", 2, fwreq::kDownloadV2Version},
        {"STORAGE_FIRMWARE_INFO_INVALID_SLOT (slot left to the driver)", 0xFF,
         fwreq::kSlotUnspecified},
        {"STORAGE_FIRMWARE_ACTIVATE_STRUCTURE_VERSION", 1, fwreq::kActivateVersion},
    });
}

// microsoft/win32metadata generation/WinSDK/RecompiledIdlHeaders/shared/ntddstor.h:
// STORAGE_PROPERTY_QUERY, STORAGE_PROTOCOL_SPECIFIC_DATA (its ProtocolDataOffset counts
// from its own start), STORAGE_PROTOCOL_DATA_DESCRIPTOR, STORAGE_DEVICE_NUMBER, the
// property and protocol enums and the IOCTL codes.
TEST(WireConformance, StorageQueryAndDeviceNumberMatchTheSdk) {
    ExpectFacts({
        {"IOCTL_STORAGE_QUERY_PROPERTY", 0x002D1400, IOCTL_STORAGE_QUERY_PROPERTY,
         SDK(IOCTL_STORAGE_QUERY_PROPERTY)},
        {"IOCTL_STORAGE_GET_DEVICE_NUMBER", 0x002D1080, IOCTL_STORAGE_GET_DEVICE_NUMBER,
         SDK(IOCTL_STORAGE_GET_DEVICE_NUMBER)},
        {"StorageAdapterProtocolSpecificProperty", 49,
         storage::kStorageAdapterProtocolSpecificProperty,
         SDK(StorageAdapterProtocolSpecificProperty)},
        {"PropertyStandardQuery", 0, storage::kPropertyStandardQuery, SDK(PropertyStandardQuery)},
        {"ProtocolTypeNvme", 3, storage::kProtocolTypeNvme, SDK(ProtocolTypeNvme)},
        {"NVMeDataTypeIdentify", 1, storage::kNvmeDataTypeIdentify, SDK(NVMeDataTypeIdentify)},
        {"ProtocolDataOffset of data right behind STORAGE_PROTOCOL_SPECIFIC_DATA", 40,
         storage::kIdentifyProtocolDataOffset},
    });
}

// smartmontools lib/csmisas.h (the same file as opensea-transport
// include/external/csmi/csmisas.h), Windows part: IOCTL_HEADER is SRB_IO_CONTROL, so
// CSMI_SAS_RAID_CONFIG_BUFFER.Configuration follows it; CSMI_SAS_RAID_CONFIG,
// CSMI_SAS_RAID_DRIVES, CC_CSMI_SAS_GET_RAID_CONFIG and the bDriveCount values. The
// path number in bSASAddress[2] is from opensea-transport src/csmi_helper.c.
TEST(WireConformance, CsmiRaidConfigMatchesCsmisas) {
    ExpectFacts({
        {"IOCTL_SCSI_MINIPORT (CSMI)", 0x0004D008, csmi::kRequest.ioControlCode,
         SDK(IOCTL_SCSI_MINIPORT)},
        {"CC_CSMI_SAS_GET_RAID_CONFIG (Windows)", 11, csmi::kRequest.controlCode},
        {"CSMI_SAS_RAID_DRIVE_COUNT_TOO_BIG", 0xF1, csmi::kDriveCountTooBig},
        {"CSMI_SAS_RAID_DRIVE_COUNT_SUPRESSED", 0xF2, csmi::kDriveCountSuppressed},
        {"largest bDriveCount that is a count (0xF1 to 0xFF reserved)", 0xF0, csmi::kMaxDriveCount},
    });
}

// Seagate/opensea-transport include/intel_rst_defs.h: NVME_IOCTL_PASS_THROUGH
// ("IntelNvm", IOCTL_NVME_PASSTHROUGH) and IOCTL_RAID_FIRMWARE_BUFFER ("IntelFw ",
// IOCTL_RAID_FIRMWARE), both SRB_IO_CONTROL then Version, PathId, TargetId, Lun.
// Offsets count from the start of the buffer.
TEST(WireConformance, IntelRstBuffersMatchOpenseaTransport) {
    ExpectFacts({
        {"IOCTL_SCSI_MINIPORT (IntelNvm)", 0x0004D008, rst_nvme::kRequest.ioControlCode,
         SDK(IOCTL_SCSI_MINIPORT)},
        {"IOCTL_NVME_PASSTHROUGH", 0xF0002808, rst_nvme::kRequest.controlCode,
         SDK(CTL_CODE(0xF000u, 0xA02, METHOD_BUFFERED, FILE_ANY_ACCESS))},
        {"NVME_PASS_THROUGH_VERSION", 1, rst_address::kConstant},
        {"IOCTL_SCSI_MINIPORT (IntelFw)", 0x0004D008, rst_fw::kRequest.ioControlCode,
         SDK(IOCTL_SCSI_MINIPORT)},
        {"IOCTL_RAID_FIRMWARE", 0xF0000040, rst_fw::kRequest.controlCode,
         SDK(CTL_CODE(0xF000u, 0x010, METHOD_BUFFERED, FILE_ANY_ACCESS))},
        {"RAID_FIRMWARE_REQUEST_BLOCK_VERSION", 1, rst_address::kConstant},
    });
}

// linux-nvme/libnvme src/nvme/types.h: struct nvme_id_ctrl (sn, mn, fr, ver with
// NVME_VS_MNR bits 15:8 and NVME_VS_MJR bits 31:16, fwug and its 00h/FFh values),
// nvme_admin_identify, NVME_IDENTIFY_CNS_CTRL. drivers/nvme_identify.h pins the fields'
// places, against mingw-w64's NVME_IDENTIFY_CONTROLLER_DATA too; here, where VER's
// parts lie in mingw-w64's NVME_VERSION bit field.
TEST(WireConformance, IdentifyControllerFieldsMatchLibnvme) {
    ExpectFacts({
        {"nvme_admin_identify", 0x06, nvme::kIdentifyOpcode, SDK(NVME_ADMIN_COMMAND_IDENTIFY)},
        {"NVME_IDENTIFY_CNS_CTRL", 0x01, nvme::kCnsController, SDK(NVME_IDENTIFY_CNS_CONTROLLER)},
        {"nvme_id_ctrl.ver, MNR byte", 81, offsetof(nvme::IdentifyControllerHead, VER) + 1,
         SDK(VersionByte([](NVME_VERSION& v) { v.MNR = 1; }))},
        {"nvme_id_ctrl.ver, MJR low byte", 82, offsetof(nvme::IdentifyControllerHead, VER) + 2,
         SDK(VersionByte([](NVME_VERSION& v) { v.MJR = 1; }))},
        {"fwug unit (4 KiB)", 4096, nvme::kGranularityUnit},
        {"fwug 00h: no information", 0x00, nvme::kFwugNotReported},
        {"fwug FFh: no restriction", 0xFF, nvme::kFwugNoRestriction},
    });
}

// The granularity the program takes from Identify data laid out as struct nvme_id_ctrl
// has it: ver a little-endian 32-bit word (MJR.MNR.TER), fwug one byte. FWUG exists
// from NVMe 1.3 on, and VER compares as a version.
TEST(WireConformance, GranularityIsReadFromVerAndFwugWhereLibnvmeHasThem) {
    struct Case {
        const char* name;
        std::uint32_t ver;
        std::uint8_t fwug;
        std::int32_t units;
    };
    for (const Case& c : std::vector<Case>{
             {"1.3.0, fwug 8", 0x00010300, 8, 8},
             {"1.2.1, fwug 8: no FWUG before 1.3", 0x00010201, 8, 1},
             {"2.0.0, fwug 8: 2.0 is past 1.3", 0x00020000, 8, 8},
             {"1.4.0, fwug 00h", 0x00010400, 0x00, 1},
             {"1.4.0, fwug FFh", 0x00010400, 0xFF, 1},
         }) {
        std::vector<std::uint8_t> identify(4096, 0);
        layout::PutU32(identify, 80, c.ver);
        identify[319] = c.fwug;
        EXPECT_EQ(nvme::DownloadGranularityOf(identify), c.units) << c.name;
    }
}

// The "IntelFw " requests of a whole simulated update of one RST drive, as hex.
std::vector<std::string> IntelFwRequests() {
    LoadFirmwarePackage();
    const std::string revision(baseRevision.begin(), baseRevision.end());
    const ProgramRun run = RunScenario(
        R"({"controllers":[{"id":"c","drives":{"2":{"id":"S","sn":"S","mn":"M","version":"1.3",)"
        R"("fr":")" +
        revision + R"(","fwug":128}}}],"disks":[{"attach":"rst","controller":"c","pathId":2}]})");
    std::vector<std::string> requests;
    for (const nlohmann::json& call : run.Calls("DeviceIoControl")) {
        const std::string in = As<std::string>(call, "in");
        if (in.size() >= 24 && in.substr(8, 16) == "496e74656c467720") {
            requests.push_back(in);
        }
    }
    return requests;
}

TEST(WireConformance, KnownDifferencesStandAsRecorded) {
    Bytes inboxInfo(inbox_fw::RequestSize(4096));
    ASSERT_TRUE(inbox_fw::FillGetInfoRequest(inboxInfo));
    const std::size_t infoAt = U32(inboxInfo, 28 + 16);

    const std::vector<std::string> intelFw = IntelFwRequests();
    ASSERT_GE(intelFw.size(), 3u) << "downloads and an activation";
    const std::string& firstDownload = intelFw.front();
    const std::string& lastDownload = intelFw[intelFw.size() - 2];
    ASSERT_EQ(HexField(firstDownload, 72, 8), 524288u) << "FWUG 128: 512 KiB chunks";
    std::uint64_t getInfos = 0;
    for (const std::string& request : intelFw) {
        getInfos += HexField(request, 40, 4) == fwreq::kFunctionGetInfo;
    }
    EXPECT_EQ(HexField(intelFw.back(), 40, 4), fwreq::kFunctionActivate);
    EXPECT_EQ(HexField(intelFw.back(), 64, 1), 2u) << "SlotToActivate, fixed";

    struct KnownDifference {
        const char* name;
        const char* evidence;
        std::uint64_t published;
        std::uint64_t program;
        std::uint64_t wire;
        std::optional<std::uint64_t> sdk = std::nullopt;
    };
    for (const KnownDifference& d : std::vector<KnownDifference>{
             {"(a) FIRMWARE DataBufferOffset",
              "ntddscsi.h: ALIGN_UP(sizeof(SRB_IO_CONTROL) + sizeof(FIRMWARE_REQUEST_BLOCK), "
              "PVOID), 56 on x64; storahci common.c FirmwareIoctlProcess answers less with "
              "FIRMWARE_STATUS_INVALID_PARAMETER",
              56, 52, U32(inboxInfo, 28 + 16),
              SDK(AlignUp(sizeof(SRB_IO_CONTROL) + 24, sizeof(PVOID)))},
             {"(b) FIRMWARE get-info STORAGE_FIRMWARE_INFO.Version",
              "storahci common.c FirmwareGetInfo: below STORAGE_FIRMWARE_INFO_STRUCTURE_VERSION_V2 "
              "is FIRMWARE_STATUS_INVALID_PARAMETER",
              2, 0, U32(inboxInfo, infoAt)},
             {"(b) FIRMWARE get-info STORAGE_FIRMWARE_INFO.Size",
              "storahci common.c FirmwareGetInfo: below sizeof(STORAGE_FIRMWARE_INFO_V2) is "
              "FIRMWARE_STATUS_INVALID_PARAMETER",
              24, 0, U32(inboxInfo, infoAt + 4)},
             {"(c) IntelFw first chunk Flags",
              "opensea intel_rst_helper.c send_Intel_NVM_Firmware_Download: "
              "FLAG_CONTROLLER | INTEL_FIRMWARE_REQUEST_FLAG_FIRST_SEGMENT",
              0x1 | 0x4, 0x1, HexField(firstDownload, 44, 4)},
             {"(c) IntelFw last chunk Flags",
              "opensea intel_rst_helper.c send_Intel_NVM_Firmware_Download: "
              "FLAG_CONTROLLER | INTEL_FIRMWARE_REQUEST_FLAG_LAST_SEGMENT",
              0x1 | 0x2, 0x1, HexField(lastDownload, 44, 4)},
             {"(c) IntelFw STORAGE_FIRMWARE_DOWNLOAD_V2.ImageSize",
              "opensea intel_rst_helper.c internal_Intel_FWDL_Function_Download: ImageSize is "
              "the chunk's length (BufferSize)",
              524288, 0, HexField(firstDownload, 84, 4)},
             {"(d) IntelFw get-info requests before activating slot 2",
              "ntddscsi.h FIRMWARE_FUNCTION_GET_INFO names the slots (STORAGE_FIRMWARE_INFO_V2 "
              "from the RST driver, intel_rst_defs.h); opensea activates the slot its caller "
              "chose",
              1, 0, getInfos},
             {"(e) CSMIARY SRB_IO_CONTROL.Timeout",
              "csmisas.h CSMI_RAID_TIMEOUT: default of 60 seconds (IoctlHeader.Timeout)", 60, 30,
              U32(csmi::BuildRaidConfigRequest(0), 12)},
         }) {
        EXPECT_EQ(d.wire, d.program) << d.name << ": the program's wire changed";
        EXPECT_NE(d.published, d.program)
            << d.name << ": no longer a difference from " << d.evidence;
        if (d.sdk) {
            EXPECT_EQ(*d.sdk, d.published) << d.name << ", from mingw-w64's sizes";
        }
    }
}

}  // namespace
