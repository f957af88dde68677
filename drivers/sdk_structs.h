// Windows structures the requests carry that mingw-w64's headers do not define, and
// the control codes no header of that toolchain names.
//
// The structs exist only so that the compiler can confirm the offsets the request
// headers name: nothing is ever read or written through them. They live in their
// own namespace so that they cannot clash with the definitions of an SDK that does
// carry them.
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
