#include "drivers/nvme_identify.h"

#include "drivers/byte_layout.h"

namespace nvme {

std::span<const std::uint8_t> FieldBytes(std::span<const std::uint8_t> identifyData,
                                         IdentifyField field) {
    if (!layout::FieldFits(identifyData.size(), field.offset, field.width)) {
        return {};
    }
    return identifyData.subspan(field.offset, field.width);
}

std::optional<std::int32_t> DownloadGranularityOf(std::span<const std::uint8_t> identifyData) {
    const auto head = layout::ReadAs<IdentifyControllerHead>(identifyData, 0);
    if (!head) {
        return std::nullopt;
    }
    return DownloadGranularity(static_cast<std::uint16_t>(head->VER >> 16),
                               static_cast<std::uint8_t>(head->VER >> 8), head->FWUG);
}

std::wstring IdentifyText(std::span<const std::uint8_t> identifyData, IdentifyField field,
                          bool stopAtNul) {
    std::wstring text;
    for (std::uint8_t byte : FieldBytes(identifyData, field)) {
        if (stopAtNul && byte == 0) {
            break;
        }
        // A UTF-16 unit on every platform, whatever the width of wchar_t.
        const auto unit = static_cast<std::uint16_t>(static_cast<std::int8_t>(byte));
        text.push_back(static_cast<wchar_t>(unit));
    }
    return text;
}

}  // namespace nvme
