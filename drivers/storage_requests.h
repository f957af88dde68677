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
#include "drivers/sdk_structs.h"
#include "platform/win32.h"

namespace storage {

// ---- IOCTL_STORAGE_GET_DEVICE_NUMBER: a STORAGE_DEVICE_NUMBER reply.
std::optional<sdk::STORAGE_DEVICE_NUMBER> ReadDeviceNumber(std::span<const std::uint8_t> reply);
// How the storage stack answers the request.
[[nodiscard]] bool WriteDeviceNumber(std::span<std::uint8_t> reply,
                                     const sdk::STORAGE_DEVICE_NUMBER& number);

// ---- IOCTL_STORAGE_QUERY_PROPERTY for the Identify Controller data.
//
// Request: STORAGE_PROPERTY_QUERY whose AdditionalParameters are a
// STORAGE_PROTOCOL_SPECIFIC_DATA, then room for the data. Reply: a
// STORAGE_PROTOCOL_DATA_DESCRIPTOR (Version, Size, the same protocol data) followed
// by the data.
inline constexpr std::uint32_t kStorageAdapterProtocolSpecificProperty = 49;
inline constexpr std::uint32_t kPropertyStandardQuery = 0;
inline constexpr std::uint32_t kProtocolTypeNvme = 3;
inline constexpr std::uint32_t kNvmeDataTypeIdentify = 1;
// ProtocolDataOffset counts from the start of STORAGE_PROTOCOL_SPECIFIC_DATA.
inline constexpr std::uint32_t kIdentifyProtocolDataOffset =
    sizeof(sdk::STORAGE_PROTOCOL_SPECIFIC_DATA);
inline constexpr std::size_t kIdentifyDataOffset = sizeof(sdk::STORAGE_PROTOCOL_DATA_DESCRIPTOR);
inline constexpr std::size_t kIdentifyQuerySize = kIdentifyDataOffset + nvme::kIdentifyDataLength;
static_assert(sizeof(sdk::STORAGE_PROTOCOL_QUERY) == kIdentifyDataOffset &&
              offsetof(sdk::STORAGE_PROTOCOL_QUERY, ProtocolSpecific) ==
                  offsetof(sdk::STORAGE_PROTOCOL_DATA_DESCRIPTOR, ProtocolSpecificData));
static_assert(kIdentifyDataOffset == 48 && kIdentifyQuerySize == 4144);

// The zero-filled 4144-byte query for the Identify Controller data.
Bytes BuildIdentifyQuery();

// The Identify data of a reply, at its fixed place; empty when the reply is too short.
std::span<const std::uint8_t> IdentifyData(std::span<const std::uint8_t> reply);
std::span<std::uint8_t> MutableIdentifyData(std::span<std::uint8_t> reply);

// The request as a driver reads it.
std::optional<sdk::STORAGE_PROTOCOL_QUERY> ReadProtocolQuery(std::span<const std::uint8_t> request);

}  // namespace storage

#ifdef _WIN32
static_assert(StorageAdapterProtocolSpecificProperty ==
              storage::kStorageAdapterProtocolSpecificProperty);
static_assert(PropertyStandardQuery == storage::kPropertyStandardQuery);
static_assert(ProtocolTypeNvme == storage::kProtocolTypeNvme);
static_assert(NVMeDataTypeIdentify == storage::kNvmeDataTypeIdentify);
#endif
