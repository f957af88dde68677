// The fixed-size Windows, CSMI and Intel RST structures the requests carry, and the
// control codes no header of mingw-w64 names.
//
// Every request and reply is read and written through these records, whole (see
// layout::ReadAs and layout::WriteAs): a field's place is where the compiler puts it.
// Each is pinned by a literal size and offsets below, and where mingw-w64 defines the
// same structure the Windows build checks the two agree. They live in their own
// namespace, with every field a fixed-width integer and no padding, so that they
// cannot clash with an SDK's definitions and copy the same in both worlds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

#ifndef IOCTL_SCSI_MINIPORT_FIRMWARE
#define IOCTL_SCSI_MINIPORT_FIRMWARE 0x001B0780u
#endif
#ifndef CC_CSMI_SAS_GET_RAID_CONFIG
#define CC_CSMI_SAS_GET_RAID_CONFIG 11u
#endif
// The Intel RST driver's own miniport control codes (signatures "IntelNvm" and
// "IntelFw ").
#ifndef RST_IOCTL_NVME_PASS_THROUGH
#define RST_IOCTL_NVME_PASS_THROUGH 0xF0002808u
#endif
#ifndef RST_IOCTL_FIRMWARE
#define RST_IOCTL_FIRMWARE 0xF0000040u
#endif

static_assert(IOCTL_SCSI_MINIPORT == 0x0004D008u);
static_assert(IOCTL_SCSI_MINIPORT_FIRMWARE == 0x001B0780u);
static_assert(IOCTL_STORAGE_GET_DEVICE_NUMBER == 0x002D1080u);
static_assert(IOCTL_STORAGE_QUERY_PROPERTY == 0x002D1400u);
static_assert(CC_CSMI_SAS_GET_RAID_CONFIG == 11u);
static_assert(RST_IOCTL_NVME_PASS_THROUGH == 0xF0002808u);
static_assert(RST_IOCTL_FIRMWARE == 0xF0000040u);

namespace sdk {

struct SRB_IO_CONTROL {
    std::uint32_t HeaderLength;
    std::uint8_t Signature[8];
    std::uint32_t Timeout;
    std::uint32_t ControlCode;
    std::uint32_t ReturnCode;
    std::uint32_t Length;
};

struct STORAGE_DEVICE_NUMBER {
    std::uint32_t DeviceType;
    std::uint32_t DeviceNumber;
    std::uint32_t PartitionNumber;
};

// STORAGE_PROPERTY_QUERY up to its AdditionalParameters, which follow it.
struct STORAGE_PROPERTY_QUERY_HEADER {
    std::uint32_t PropertyId;
    std::uint32_t QueryType;
};

struct STORAGE_PROTOCOL_SPECIFIC_DATA {
    std::uint32_t ProtocolType;
    std::uint32_t DataType;
    std::uint32_t ProtocolDataRequestValue;
    std::uint32_t ProtocolDataRequestSubValue;
    std::uint32_t ProtocolDataOffset;
    std::uint32_t ProtocolDataLength;
    std::uint32_t FixedProtocolReturnData;
    std::uint32_t ProtocolDataRequestSubValue2;
    std::uint32_t ProtocolDataRequestSubValue3;
    std::uint32_t ProtocolDataRequestSubValue4;
};

// A protocol-specific property query: the header, its protocol data as the
// AdditionalParameters, then the data area.
struct STORAGE_PROTOCOL_QUERY {
    STORAGE_PROPERTY_QUERY_HEADER Query;
    STORAGE_PROTOCOL_SPECIFIC_DATA ProtocolSpecific;
};

struct STORAGE_PROTOCOL_DATA_DESCRIPTOR {
    std::uint32_t Version;
    std::uint32_t Size;
    STORAGE_PROTOCOL_SPECIFIC_DATA ProtocolSpecificData;
};

// The four bytes behind SRB_IO_CONTROL in the Intel RST pass-through and firmware
// requests: 1, the drive's path number, two zero bytes.
struct RST_ADDRESS {
    std::uint8_t Constant;
    std::uint8_t PathNumber;
    std::uint8_t Reserved[2];
};

// The Intel RST NVMe pass-through parameters: the 64-byte command, the completion the
// driver fills in, and where the data area lies.
struct NVME_PASS_THROUGH_PARAMETERS {
    std::uint32_t Command[16];
    std::uint8_t IsIOCommandSet;
    std::uint8_t Reserved0[3];
    std::uint32_t Completion[4];
    std::uint32_t DataBufferOffset;
    std::uint32_t DataBufferLength;
    std::uint32_t Reserved[10];
};

struct FIRMWARE_REQUEST_BLOCK {
    std::uint32_t Version;
    std::uint32_t Size;
    std::uint32_t Function;
    std::uint32_t Flags;
    std::uint32_t DataBufferOffset;
    std::uint32_t DataBufferLength;
};

struct STORAGE_FIRMWARE_SLOT_INFO {
    std::uint8_t SlotNumber;
    std::uint8_t ReadOnly;
    std::uint8_t Reserved[6];
    std::uint8_t Revision[8];
};

// Fixed part; the slot entries follow it.
struct STORAGE_FIRMWARE_INFO {
    std::uint32_t Version;
    std::uint32_t Size;
    std::uint8_t UpgradeSupport;
    std::uint8_t SlotCount;
    std::uint8_t ActiveSlot;
    std::uint8_t PendingActivateSlot;
    std::uint32_t Reserved;
};

// The version 2 slot entry: a 16-byte revision.
struct STORAGE_FIRMWARE_SLOT_INFO_V2 {
    std::uint8_t SlotNumber;
    std::uint8_t ReadOnly;
    std::uint8_t Reserved[6];
    std::uint8_t Revision[16];
};

// Fixed part; the version 2 slot entries follow it.
struct STORAGE_FIRMWARE_INFO_V2 {
    std::uint32_t Version;
    std::uint32_t Size;
    std::uint8_t UpgradeSupport;
    std::uint8_t SlotCount;
    std::uint8_t ActiveSlot;
    std::uint8_t PendingActivateSlot;
    std::uint8_t FirmwareShared;
    std::uint8_t Reserved[3];
    std::uint32_t ImagePayloadAlignment;
    std::uint32_t ImagePayloadMaxSize;
};

// Fixed part; the image bytes follow it.
struct STORAGE_FIRMWARE_DOWNLOAD {
    std::uint32_t Version;
    std::uint32_t Size;
    std::uint64_t Offset;
    std::uint64_t BufferSize;
};

// Fixed part; the image bytes follow it.
struct STORAGE_FIRMWARE_DOWNLOAD_V2 {
    std::uint32_t Version;
    std::uint32_t Size;
    std::uint64_t Offset;
    std::uint64_t BufferSize;
    std::uint8_t Slot;
    std::uint8_t Reserved[3];
    std::uint32_t ImageSize;
};

struct STORAGE_FIRMWARE_ACTIVATE {
    std::uint32_t Version;
    std::uint32_t Size;
    std::uint8_t SlotToActivate;
    std::uint8_t Reserved0[3];
};

// CSMI_SAS_RAID_CONFIG without its trailing member records.
struct CSMI_SAS_RAID_CONFIG {
    std::uint32_t uRaidSetIndex;
    std::uint32_t uCapacity;
    std::uint32_t uStripeSize;
    std::uint8_t bRaidType;
    std::uint8_t bStatus;
    std::uint8_t bInformation;
    std::uint8_t bDriveCount;
    std::uint8_t bReserved[20];
};

struct CSMI_SAS_RAID_DRIVES {
    std::uint8_t bModel[40];
    std::uint8_t bFirmware[8];
    std::uint8_t bSerialNumber[40];
    std::uint8_t bSASAddress[8];
    std::uint8_t bSASLun[8];
    std::uint8_t bDriveStatus;
    std::uint8_t bDriveUsage;
    std::uint8_t bReserved[30];
};

static_assert(sizeof(SRB_IO_CONTROL) == 28);
static_assert(offsetof(SRB_IO_CONTROL, Signature) == 4);
static_assert(offsetof(SRB_IO_CONTROL, Timeout) == 12);
static_assert(offsetof(SRB_IO_CONTROL, ControlCode) == 16);
static_assert(offsetof(SRB_IO_CONTROL, ReturnCode) == 20);
static_assert(offsetof(SRB_IO_CONTROL, Length) == 24);

static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12);
static_assert(offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber) == 4);
static_assert(offsetof(STORAGE_DEVICE_NUMBER, PartitionNumber) == 8);

static_assert(sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) == 40);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, DataType) == 4);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestValue) == 8);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestSubValue) == 12);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataOffset) == 16);
static_assert(offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataLength) == 20);
static_assert(sizeof(STORAGE_PROTOCOL_QUERY) == 48);
static_assert(offsetof(STORAGE_PROTOCOL_QUERY, ProtocolSpecific) == 8);
static_assert(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) == 48);
static_assert(offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) == 8);

static_assert(sizeof(RST_ADDRESS) == 4);
static_assert(offsetof(RST_ADDRESS, PathNumber) == 1);

static_assert(sizeof(NVME_PASS_THROUGH_PARAMETERS) == 132);
static_assert(offsetof(NVME_PASS_THROUGH_PARAMETERS, IsIOCommandSet) == 64);
static_assert(offsetof(NVME_PASS_THROUGH_PARAMETERS, Completion) == 68);
static_assert(offsetof(NVME_PASS_THROUGH_PARAMETERS, DataBufferOffset) == 84);
static_assert(offsetof(NVME_PASS_THROUGH_PARAMETERS, DataBufferLength) == 88);

static_assert(sizeof(FIRMWARE_REQUEST_BLOCK) == 24);
static_assert(offsetof(FIRMWARE_REQUEST_BLOCK, Version) == 0);
static_assert(offsetof(FIRMWARE_REQUEST_BLOCK, Size) == 4);
static_assert(offsetof(FIRMWARE_REQUEST_BLOCK, Function) == 8);
static_assert(offsetof(FIRMWARE_REQUEST_BLOCK, Flags) == 12);
static_assert(offsetof(FIRMWARE_REQUEST_BLOCK, DataBufferOffset) == 16);
static_assert(offsetof(FIRMWARE_REQUEST_BLOCK, DataBufferLength) == 20);

static_assert(sizeof(STORAGE_FIRMWARE_SLOT_INFO) == 16);
static_assert(offsetof(STORAGE_FIRMWARE_SLOT_INFO, SlotNumber) == 0);
static_assert(offsetof(STORAGE_FIRMWARE_SLOT_INFO, ReadOnly) == 1);
static_assert(offsetof(STORAGE_FIRMWARE_SLOT_INFO, Revision) == 8);

static_assert(sizeof(STORAGE_FIRMWARE_INFO) == 16);
static_assert(offsetof(STORAGE_FIRMWARE_INFO, Version) == 0);
static_assert(offsetof(STORAGE_FIRMWARE_INFO, Size) == 4);
static_assert(offsetof(STORAGE_FIRMWARE_INFO, UpgradeSupport) == 8);
static_assert(offsetof(STORAGE_FIRMWARE_INFO, SlotCount) == 9);
static_assert(offsetof(STORAGE_FIRMWARE_INFO, ActiveSlot) == 10);
static_assert(offsetof(STORAGE_FIRMWARE_INFO, PendingActivateSlot) == 11);

static_assert(sizeof(STORAGE_FIRMWARE_SLOT_INFO_V2) == 24);
static_assert(offsetof(STORAGE_FIRMWARE_SLOT_INFO_V2, SlotNumber) == 0);
static_assert(offsetof(STORAGE_FIRMWARE_SLOT_INFO_V2, ReadOnly) == 1);
static_assert(offsetof(STORAGE_FIRMWARE_SLOT_INFO_V2, Revision) == 8);

static_assert(sizeof(STORAGE_FIRMWARE_INFO_V2) == 24);
static_assert(offsetof(STORAGE_FIRMWARE_INFO_V2, Version) == 0);
static_assert(offsetof(STORAGE_FIRMWARE_INFO_V2, Size) == 4);
static_assert(offsetof(STORAGE_FIRMWARE_INFO_V2, UpgradeSupport) == 8);
static_assert(offsetof(STORAGE_FIRMWARE_INFO_V2, SlotCount) == 9);
static_assert(offsetof(STORAGE_FIRMWARE_INFO_V2, ActiveSlot) == 10);
static_assert(offsetof(STORAGE_FIRMWARE_INFO_V2, PendingActivateSlot) == 11);
static_assert(offsetof(STORAGE_FIRMWARE_INFO_V2, FirmwareShared) == 12);
static_assert(offsetof(STORAGE_FIRMWARE_INFO_V2, ImagePayloadAlignment) == 16);
static_assert(offsetof(STORAGE_FIRMWARE_INFO_V2, ImagePayloadMaxSize) == 20);

static_assert(sizeof(STORAGE_FIRMWARE_DOWNLOAD) == 24);
static_assert(offsetof(STORAGE_FIRMWARE_DOWNLOAD, Version) == 0);
static_assert(offsetof(STORAGE_FIRMWARE_DOWNLOAD, Size) == 4);
static_assert(offsetof(STORAGE_FIRMWARE_DOWNLOAD, Offset) == 8);
static_assert(offsetof(STORAGE_FIRMWARE_DOWNLOAD, BufferSize) == 16);

static_assert(sizeof(STORAGE_FIRMWARE_DOWNLOAD_V2) == 32);
static_assert(offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, Version) == 0);
static_assert(offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, Size) == 4);
static_assert(offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, Offset) == 8);
static_assert(offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, BufferSize) == 16);
static_assert(offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, Slot) == 24);
static_assert(offsetof(STORAGE_FIRMWARE_DOWNLOAD_V2, ImageSize) == 28);

static_assert(sizeof(STORAGE_FIRMWARE_ACTIVATE) == 12);
static_assert(offsetof(STORAGE_FIRMWARE_ACTIVATE, Version) == 0);
static_assert(offsetof(STORAGE_FIRMWARE_ACTIVATE, Size) == 4);
static_assert(offsetof(STORAGE_FIRMWARE_ACTIVATE, SlotToActivate) == 8);

static_assert(sizeof(CSMI_SAS_RAID_CONFIG) == 36);
static_assert(offsetof(CSMI_SAS_RAID_CONFIG, uRaidSetIndex) == 0);
static_assert(offsetof(CSMI_SAS_RAID_CONFIG, uCapacity) == 4);
static_assert(offsetof(CSMI_SAS_RAID_CONFIG, uStripeSize) == 8);
static_assert(offsetof(CSMI_SAS_RAID_CONFIG, bRaidType) == 12);
static_assert(offsetof(CSMI_SAS_RAID_CONFIG, bDriveCount) == 15);

static_assert(sizeof(CSMI_SAS_RAID_DRIVES) == 136);
static_assert(offsetof(CSMI_SAS_RAID_DRIVES, bFirmware) == 40);
static_assert(offsetof(CSMI_SAS_RAID_DRIVES, bSerialNumber) == 48);
static_assert(offsetof(CSMI_SAS_RAID_DRIVES, bSASAddress) == 88);
static_assert(offsetof(CSMI_SAS_RAID_DRIVES, bSASLun) == 96);

}  // namespace sdk

// The same structures as mingw-w64 declares them, where it does.
#ifdef _WIN32
#define FWUPDATE_SAME_FIELD(ours, theirs, field)                           \
    static_assert(offsetof(sdk::ours, field) == offsetof(theirs, field) && \
                  sizeof(sdk::ours::field) == sizeof(theirs::field))
static_assert(sizeof(sdk::SRB_IO_CONTROL) == sizeof(SRB_IO_CONTROL));
FWUPDATE_SAME_FIELD(SRB_IO_CONTROL, SRB_IO_CONTROL, HeaderLength);
FWUPDATE_SAME_FIELD(SRB_IO_CONTROL, SRB_IO_CONTROL, Signature);
FWUPDATE_SAME_FIELD(SRB_IO_CONTROL, SRB_IO_CONTROL, Timeout);
FWUPDATE_SAME_FIELD(SRB_IO_CONTROL, SRB_IO_CONTROL, ControlCode);
FWUPDATE_SAME_FIELD(SRB_IO_CONTROL, SRB_IO_CONTROL, ReturnCode);
FWUPDATE_SAME_FIELD(SRB_IO_CONTROL, SRB_IO_CONTROL, Length);
static_assert(sizeof(sdk::STORAGE_DEVICE_NUMBER) == sizeof(STORAGE_DEVICE_NUMBER));
FWUPDATE_SAME_FIELD(STORAGE_DEVICE_NUMBER, STORAGE_DEVICE_NUMBER, DeviceType);
FWUPDATE_SAME_FIELD(STORAGE_DEVICE_NUMBER, STORAGE_DEVICE_NUMBER, DeviceNumber);
FWUPDATE_SAME_FIELD(STORAGE_DEVICE_NUMBER, STORAGE_DEVICE_NUMBER, PartitionNumber);
FWUPDATE_SAME_FIELD(STORAGE_PROPERTY_QUERY_HEADER, STORAGE_PROPERTY_QUERY, PropertyId);
FWUPDATE_SAME_FIELD(STORAGE_PROPERTY_QUERY_HEADER, STORAGE_PROPERTY_QUERY, QueryType);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) ==
              offsetof(sdk::STORAGE_PROTOCOL_QUERY, ProtocolSpecific));
static_assert(sizeof(sdk::STORAGE_PROTOCOL_SPECIFIC_DATA) ==
              sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA));
FWUPDATE_SAME_FIELD(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolType);
FWUPDATE_SAME_FIELD(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA, DataType);
FWUPDATE_SAME_FIELD(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA,
                    ProtocolDataRequestValue);
FWUPDATE_SAME_FIELD(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA,
                    ProtocolDataRequestSubValue);
FWUPDATE_SAME_FIELD(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA,
                    ProtocolDataOffset);
FWUPDATE_SAME_FIELD(STORAGE_PROTOCOL_SPECIFIC_DATA, STORAGE_PROTOCOL_SPECIFIC_DATA,
                    ProtocolDataLength);
static_assert(sizeof(sdk::STORAGE_PROTOCOL_DATA_DESCRIPTOR) ==
              sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR));
FWUPDATE_SAME_FIELD(STORAGE_PROTOCOL_DATA_DESCRIPTOR, STORAGE_PROTOCOL_DATA_DESCRIPTOR, Version);
FWUPDATE_SAME_FIELD(STORAGE_PROTOCOL_DATA_DESCRIPTOR, STORAGE_PROTOCOL_DATA_DESCRIPTOR, Size);
FWUPDATE_SAME_FIELD(STORAGE_PROTOCOL_DATA_DESCRIPTOR, STORAGE_PROTOCOL_DATA_DESCRIPTOR,
                    ProtocolSpecificData);
#undef FWUPDATE_SAME_FIELD
#endif
