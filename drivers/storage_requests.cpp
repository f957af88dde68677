#include "drivers/storage_requests.h"

namespace storage {

std::optional<sdk::STORAGE_DEVICE_NUMBER> ReadDeviceNumber(std::span<const std::uint8_t> reply) {
    return layout::ReadAs<sdk::STORAGE_DEVICE_NUMBER>(reply, 0);
}

bool WriteDeviceNumber(std::span<std::uint8_t> reply, const sdk::STORAGE_DEVICE_NUMBER& number) {
    return layout::WriteAs(reply, 0, number);
}

Bytes BuildIdentifyQuery() {
    sdk::STORAGE_PROTOCOL_QUERY query{};
    query.Query.PropertyId = kStorageAdapterProtocolSpecificProperty;
    query.Query.QueryType = kPropertyStandardQuery;
    query.ProtocolSpecific.ProtocolType = kProtocolTypeNvme;
    query.ProtocolSpecific.DataType = kNvmeDataTypeIdentify;
    query.ProtocolSpecific.ProtocolDataRequestValue = nvme::kCnsController;
    query.ProtocolSpecific.ProtocolDataOffset = kIdentifyProtocolDataOffset;
    query.ProtocolSpecific.ProtocolDataLength =
        static_cast<std::uint32_t>(nvme::kIdentifyDataLength);
    Bytes bytes(kIdentifyQuerySize, 0);
    // Sized for the whole query above: the record always fits.
    static_cast<void>(layout::WriteAs(bytes, 0, query));
    return bytes;
}

std::span<const std::uint8_t> IdentifyData(std::span<const std::uint8_t> reply) {
    return layout::Area(reply, kIdentifyDataOffset, nvme::kIdentifyDataLength);
}

std::span<std::uint8_t> MutableIdentifyData(std::span<std::uint8_t> reply) {
    return layout::Area(reply, kIdentifyDataOffset, nvme::kIdentifyDataLength);
}

std::optional<sdk::STORAGE_PROTOCOL_QUERY> ReadProtocolQuery(
    std::span<const std::uint8_t> request) {
    return layout::ReadAs<sdk::STORAGE_PROTOCOL_QUERY>(request, 0);
}

}  // namespace storage
