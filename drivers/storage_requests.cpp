#include "drivers/storage_requests.h"

namespace storage {

std::optional<DeviceNumber> ReadDeviceNumber(std::span<const std::uint8_t> reply) {
    const auto type = layout::GetU32(reply, kDeviceTypeOffset);
    const auto number = layout::GetU32(reply, kDeviceNumberOffset);
    const auto partition = layout::GetU32(reply, kPartitionNumberOffset);
    if (!type || !number || !partition) {
        return std::nullopt;
    }
    return DeviceNumber{*type, *number, *partition};
}

bool WriteDeviceNumber(std::span<std::uint8_t> reply, const DeviceNumber& number) {
    if (reply.size() < kDeviceNumberSize) {
        return false;
    }
    layout::PutU32(reply, kDeviceTypeOffset, number.deviceType);
    layout::PutU32(reply, kDeviceNumberOffset, number.deviceNumber);
    layout::PutU32(reply, kPartitionNumberOffset, number.partitionNumber);
    return true;
}

Bytes BuildIdentifyQuery() {
    Bytes query(kIdentifyQuerySize, 0);
    layout::PutU32(query, kPropertyIdOffset, kStorageAdapterProtocolSpecificProperty);
    layout::PutU32(query, kQueryTypeOffset, kPropertyStandardQuery);
    layout::PutU32(query, kProtocolTypeOffset, kProtocolTypeNvme);
    layout::PutU32(query, kDataTypeOffset, kNvmeDataTypeIdentify);
    layout::PutU32(query, kRequestValueOffset, nvme::kCnsController);
    layout::PutU32(query, kRequestSubValueOffset, 0);
    layout::PutU32(query, kProtocolDataOffsetOffset, kIdentifyProtocolDataOffset);
    layout::PutU32(query, kProtocolDataLengthOffset,
                   static_cast<std::uint32_t>(nvme::kIdentifyDataLength));
    return query;
}

std::span<const std::uint8_t> IdentifyData(std::span<const std::uint8_t> reply) {
    if (!layout::FieldFits(reply.size(), kIdentifyDataOffset, nvme::kIdentifyDataLength)) {
        return {};
    }
    return reply.subspan(kIdentifyDataOffset, nvme::kIdentifyDataLength);
}

std::span<std::uint8_t> MutableIdentifyData(std::span<std::uint8_t> reply) {
    if (!layout::FieldFits(reply.size(), kIdentifyDataOffset, nvme::kIdentifyDataLength)) {
        return {};
    }
    return reply.subspan(kIdentifyDataOffset, nvme::kIdentifyDataLength);
}

std::optional<ProtocolQuery> ReadProtocolQuery(std::span<const std::uint8_t> request) {
    if (request.size() < kProtocolDataOffset + kProtocolDataSize) {
        return std::nullopt;
    }
    ProtocolQuery query;
    query.propertyId = *layout::GetU32(request, kPropertyIdOffset);
    query.queryType = *layout::GetU32(request, kQueryTypeOffset);
    query.protocolType = *layout::GetU32(request, kProtocolTypeOffset);
    query.dataType = *layout::GetU32(request, kDataTypeOffset);
    query.requestValue = *layout::GetU32(request, kRequestValueOffset);
    query.requestSubValue = *layout::GetU32(request, kRequestSubValueOffset);
    query.protocolDataOffset = *layout::GetU32(request, kProtocolDataOffsetOffset);
    query.protocolDataLength = *layout::GetU32(request, kProtocolDataLengthOffset);
    return query;
}

}  // namespace storage
