// Requests to the Windows storage stack: the disk number behind a disk interface,
// and the NVMe Identify Controller data through the inbox driver's storage property
// query.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "drivers/byte_layout.h"
#include "drivers/nvme_identify.h"
#include "platform/win32.h"

namespace storage {

// ---- IOCTL_STORAGE_GET_DEVICE_NUMBER: a 12-byte STORAGE_DEVICE_NUMBER reply.

inline constexpr std::size_t kDeviceNumberSize = 12;
inline constexpr std::size_t kDeviceTypeOffset = 0;
inline constexpr std::size_t kDeviceNumberOffset = 4;
inline constexpr std::size_t kPartitionNumberOffset = 8;

struct DeviceNumber {
    std::uint32_t deviceType = 0;
    std::uint32_t deviceNumber = 0;
    std::uint32_t partitionNumber = 0;
};

std::optional<DeviceNumber> ReadDeviceNumber(std::span<const std::uint8_t> reply);
// How the storage stack answers the request.
[[nodiscard]] bool WriteDeviceNumber(std::span<std::uint8_t> reply, const DeviceNumber& number);

// ---- IOCTL_STORAGE_QUERY_PROPERTY for the Identify Controller data.
//
// Request: STORAGE_PROPERTY_QUERY whose AdditionalParameters are a
// STORAGE_PROTOCOL_SPECIFIC_DATA, then room for the data. Reply: a
// STORAGE_PROTOCOL_DATA_DESCRIPTOR (Version, Size, the same protocol data) followed
// by the data.

inline constexpr std::size_t kPropertyIdOffset = 0;
inline constexpr std::size_t kQueryTypeOffset = 4;
// STORAGE_PROTOCOL_SPECIFIC_DATA, in the request and in the reply alike.
inline constexpr std::size_t kProtocolDataOffset = 8;
inline constexpr std::size_t kProtocolDataSize = 40;
inline constexpr std::size_t kProtocolTypeOffset = kProtocolDataOffset + 0;
inline constexpr std::size_t kDataTypeOffset = kProtocolDataOffset + 4;
inline constexpr std::size_t kRequestValueOffset = kProtocolDataOffset + 8;
inline constexpr std::size_t kRequestSubValueOffset = kProtocolDataOffset + 12;
inline constexpr std::size_t kProtocolDataOffsetOffset = kProtocolDataOffset + 16;
inline constexpr std::size_t kProtocolDataLengthOffset = kProtocolDataOffset + 20;
// Reply descriptor fields.
inline constexpr std::size_t kDescriptorVersionOffset = 0;
inline constexpr std::size_t kDescriptorSizeOffset = 4;

inline constexpr std::uint32_t kStorageAdapterProtocolSpecificProperty = 49;
inline constexpr std::uint32_t kPropertyStandardQuery = 0;
inline constexpr std::uint32_t kProtocolTypeNvme = 3;
inline constexpr std::uint32_t kNvmeDataTypeIdentify = 1;
// ProtocolDataOffset counts from the start of STORAGE_PROTOCOL_SPECIFIC_DATA.
inline constexpr std::uint32_t kIdentifyProtocolDataOffset = kProtocolDataSize;

inline constexpr std::size_t kIdentifyDataOffset = kProtocolDataOffset + kProtocolDataSize;
inline constexpr std::size_t kIdentifyQuerySize = kIdentifyDataOffset + nvme::kIdentifyDataLength;
static_assert(kIdentifyDataOffset == 48 && kIdentifyQuerySize == 4144);

// The zero-filled 4144-byte query for the Identify Controller data.
Bytes BuildIdentifyQuery();

// The Identify data of a reply, at its fixed place; empty when the reply is too short.
std::span<const std::uint8_t> IdentifyData(std::span<const std::uint8_t> reply);
std::span<std::uint8_t> MutableIdentifyData(std::span<std::uint8_t> reply);

// The request fields as a driver reads them.
struct ProtocolQuery {
    std::uint32_t propertyId = 0;
    std::uint32_t queryType = 0;
    std::uint32_t protocolType = 0;
    std::uint32_t dataType = 0;
    std::uint32_t requestValue = 0;
    std::uint32_t requestSubValue = 0;
    std::uint32_t protocolDataOffset = 0;
    std::uint32_t protocolDataLength = 0;
};

std::optional<ProtocolQuery> ReadProtocolQuery(std::span<const std::uint8_t> request);

}  // namespace storage

#ifdef _WIN32
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == storage::kDeviceNumberSize);
static_assert(offsetof(STORAGE_DEVICE_NUMBER, DeviceType) == storage::kDeviceTypeOffset);
static_assert(offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber) == storage::kDeviceNumberOffset);
static_assert(offsetof(STORAGE_DEVICE_NUMBER, PartitionNumber) == storage::kPartitionNumberOffset);

static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, PropertyId) == storage::kPropertyIdOffset);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, QueryType) == storage::kQueryTypeOffset);
static_assert(offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters) ==
              storage::kProtocolDataOffset);

static_assert(sizeof(STORAGE_PROTOCOL_SPECIFIC_DATA) == storage::kProtocolDataSize);
static_assert(storage::kProtocolDataOffset +
                  offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolType) ==
              storage::kProtocolTypeOffset);
static_assert(storage::kProtocolDataOffset + offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, DataType) ==
              storage::kDataTypeOffset);
static_assert(storage::kProtocolDataOffset +
                  offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestValue) ==
              storage::kRequestValueOffset);
static_assert(storage::kProtocolDataOffset +
                  offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataRequestSubValue) ==
              storage::kRequestSubValueOffset);
static_assert(storage::kProtocolDataOffset +
                  offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataOffset) ==
              storage::kProtocolDataOffsetOffset);
static_assert(storage::kProtocolDataOffset +
                  offsetof(STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataLength) ==
              storage::kProtocolDataLengthOffset);

static_assert(sizeof(STORAGE_PROTOCOL_DATA_DESCRIPTOR) == storage::kIdentifyDataOffset);
static_assert(offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, Version) ==
              storage::kDescriptorVersionOffset);
static_assert(offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, Size) == storage::kDescriptorSizeOffset);
static_assert(offsetof(STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData) ==
              storage::kProtocolDataOffset);

static_assert(StorageAdapterProtocolSpecificProperty ==
              storage::kStorageAdapterProtocolSpecificProperty);
static_assert(PropertyStandardQuery == storage::kPropertyStandardQuery);
static_assert(ProtocolTypeNvme == storage::kProtocolTypeNvme);
static_assert(NVMeDataTypeIdentify == storage::kNvmeDataTypeIdentify);
#endif
