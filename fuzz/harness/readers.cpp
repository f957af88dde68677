#include "fuzz/harness/readers.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "drivers/csmi_raid_config.h"
#include "drivers/firmware_request.h"
#include "drivers/miniport_firmware.h"
#include "drivers/nvme_identify.h"
#include "drivers/rst_address.h"
#include "drivers/rst_firmware.h"
#include "drivers/rst_nvme_pass_through.h"
#include "drivers/srb_io_control.h"
#include "drivers/storage_requests.h"

namespace fuzzreaders {
namespace {

using fuzzharness::Findings;

// ---- The bytes, read without the system's readers

bool Inside(std::size_t size, std::uint64_t at, std::uint64_t width) {
    return at <= size && width <= size - at;
}

std::optional<std::uint64_t> Le(std::span<const std::uint8_t> b, std::uint64_t at,
                                std::size_t width) {
    if (!Inside(b.size(), at, width)) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
        value = (value << 8) | b[static_cast<std::size_t>(at) + i];
    }
    return value;
}

std::uint64_t At(std::span<const std::uint8_t> b, std::uint64_t at, std::size_t width) {
    return Le(b, at, width).value_or(0);
}

class Checker {
  public:
    Checker(Findings& findings, std::string reader)
        : findings_(findings), reader_(std::move(reader)) {}

    void Expect(bool holds, const std::string& what) {
        if (!holds) {
            fuzzharness::Report(findings_, "reader", reader_ + ": " + what);
        }
    }
    template <typename A, typename B>
    void Equal(const char* field, A actual, B expected) {
        Expect(static_cast<std::uint64_t>(actual) == static_cast<std::uint64_t>(expected),
               std::string(field) + " is " + std::to_string(static_cast<std::uint64_t>(actual)) +
                   ", the bytes say " + std::to_string(static_cast<std::uint64_t>(expected)));
    }
    // A reader's answer is there exactly when the structure lies inside the buffer.
    template <typename T>
    bool Presence(const std::optional<T>& result, bool fits) {
        Expect(result.has_value() == fits,
               fits ? "nothing read from a buffer that holds the structure"
                    : "a value read from a buffer too short for it");
        return result.has_value() && fits;
    }

  private:
    Findings& findings_;
    std::string reader_;
};

// A span the reader handed back must be the named bytes of the buffer, or empty.
void ExpectSpan(Checker& check, std::span<const std::uint8_t> result,
                std::span<const std::uint8_t> buffer, std::uint64_t at, std::uint64_t length) {
    if (!Inside(buffer.size(), at, length)) {
        check.Expect(result.empty(), "bytes handed back from outside the buffer");
        return;
    }
    check.Expect(result.size() == length && (length == 0 || result.data() == buffer.data() + at),
                 "not the " + std::to_string(length) + " bytes at " + std::to_string(at));
}

// ---- SRB_IO_CONTROL

constexpr const char* kSignatures[] = {"FIRMWARE", "CSMIARY", "IntelNvm", "IntelFw "};

void CheckSrbBuffer(Findings& findings, std::span<const std::uint8_t> b) {
    Checker check(findings, "srb::ReadSrbIoControl");
    const auto header = srb::ReadSrbIoControl(b);
    if (check.Presence(header, b.size() >= 28)) {
        check.Equal("HeaderLength", header->HeaderLength, At(b, 0, 4));
        check.Expect(
            std::equal(std::begin(header->Signature), std::end(header->Signature), b.begin() + 4),
            "Signature is not bytes 4..11");
        check.Equal("Timeout", header->Timeout, At(b, 12, 4));
        check.Equal("ControlCode", header->ControlCode, At(b, 16, 4));
        check.Equal("ReturnCode", header->ReturnCode, At(b, 20, 4));
        check.Equal("Length", header->Length, At(b, 24, 4));
        Checker signature(findings, "srb::HasSignature");
        for (const char* text : kSignatures) {
            // Eight bytes each, "CSMIARY" with its terminating zero.
            const std::string_view s(text, 8);
            signature.Expect(srb::HasSignature(*header, s) == (std::memcmp(&b[4], text, 8) == 0),
                             "answers wrongly for \"" + std::string(text) + "\"");
        }
        signature.Expect(!srb::HasSignature(*header, "FIRMWAR"), "takes a 7-byte signature");
    }

    Checker status(findings, "srb::ReturnCode");
    const auto code = srb::ReturnCode(b);
    if (status.Presence(code, b.size() >= 24)) {
        status.Equal("ReturnCode", *code, At(b, 20, 4));
    }
    status.Equal("ReturnCodeOrFailure", srb::ReturnCodeOrFailure(b),
                 code.value_or(srb::kNoReturnCode));

    Bytes copy(b.begin(), b.end());
    const std::uint32_t value = static_cast<std::uint32_t>(At(b, 0, 4) ^ 0x5A5A0000u);
    status.Expect(
        srb::SetReturnCode(copy, value) == (b.size() >= 24),
        "SetReturnCode refuses a buffer that holds ReturnCode, or takes one that does not");
    if (b.size() >= 24) {
        status.Equal("ReturnCode after SetReturnCode", *srb::ReturnCode(copy), value);
        std::copy_n(b.begin() + 20, 4, copy.begin() + 20);
    }
    status.Expect(std::equal(copy.begin(), copy.end(), b.begin()),
                  "SetReturnCode wrote outside ReturnCode");
}

// ---- Firmware request structures

struct InfoExpectation {
    bool fits = false;
    std::size_t count = 0;
};

InfoExpectation ExpectedInfo(std::span<const std::uint8_t> b, std::uint64_t at) {
    if (!Inside(b.size(), at, 16)) {
        return {};
    }
    const std::size_t count = static_cast<std::size_t>(At(b, at + 9, 1));
    return {Inside(b.size(), at, 16 + 16 * count), count};
}

void CheckInfo(Checker& check, const std::optional<fwreq::FirmwareInfo>& info,
               std::span<const std::uint8_t> b, std::uint64_t at) {
    const InfoExpectation expected = ExpectedInfo(b, at);
    if (!check.Presence(info, expected.fits)) {
        return;
    }
    check.Equal("UpgradeSupport", info->upgradeSupport, At(b, at + 8, 1) != 0);
    check.Equal("SlotCount", info->slots.size(), expected.count);
    check.Equal("ActiveSlot", info->activeSlot, At(b, at + 10, 1));
    check.Equal("PendingActivateSlot", info->pendingActivateSlot, At(b, at + 11, 1));
    for (std::size_t i = 0; i < info->slots.size() && i < expected.count; ++i) {
        const std::uint64_t entry = at + 16 + 16 * i;
        const fwreq::FirmwareSlot& slot = info->slots[i];
        check.Equal("SlotNumber", slot.number, At(b, entry, 1));
        check.Equal("ReadOnly", slot.readOnly, At(b, entry + 1, 1) != 0);
        check.Expect(std::equal(slot.revision.begin(), slot.revision.end(),
                                b.begin() + static_cast<std::ptrdiff_t>(entry + 8)),
                     "Revision of slot entry " + std::to_string(i) + " is not its bytes 8..15");
    }
}

bool SameInfo(const fwreq::FirmwareInfo& a, const fwreq::FirmwareInfo& b) {
    if (a.upgradeSupport != b.upgradeSupport || a.activeSlot != b.activeSlot ||
        a.pendingActivateSlot != b.pendingActivateSlot || a.slots.size() != b.slots.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.slots.size(); ++i) {
        if (a.slots[i].number != b.slots[i].number || a.slots[i].readOnly != b.slots[i].readOnly ||
            a.slots[i].revision != b.slots[i].revision) {
            return false;
        }
    }
    return true;
}

void CheckBlock(Checker& check, const std::optional<sdk::FIRMWARE_REQUEST_BLOCK>& block,
                std::span<const std::uint8_t> b, std::uint64_t at) {
    if (check.Presence(block, Inside(b.size(), at, 24))) {
        check.Equal("Version", block->Version, At(b, at, 4));
        check.Equal("Size", block->Size, At(b, at + 4, 4));
        check.Equal("Function", block->Function, At(b, at + 8, 4));
        check.Equal("Flags", block->Flags, At(b, at + 12, 4));
        check.Equal("DataBufferOffset", block->DataBufferOffset, At(b, at + 16, 4));
        check.Equal("DataBufferLength", block->DataBufferLength, At(b, at + 20, 4));
    }
}

void CheckDownload(Checker& check, const std::optional<fwreq::Download>& download,
                   std::span<const std::uint8_t> b, std::uint64_t at, bool version2) {
    const std::size_t fixed = version2 ? 32 : 24;
    if (!check.Presence(download, Inside(b.size(), at, fixed))) {
        return;
    }
    check.Equal("Version", download->fixed.Version, At(b, at, 4));
    check.Equal("Size", download->fixed.Size, At(b, at + 4, 4));
    check.Equal("Offset", download->fixed.Offset, At(b, at + 8, 8));
    check.Equal("BufferSize", download->fixed.BufferSize, At(b, at + 16, 8));
    if (version2) {
        check.Equal("Slot", download->fixed.Slot, At(b, at + 24, 1));
        check.Equal("ImageSize", download->fixed.ImageSize, At(b, at + 28, 4));
    }
    ExpectSpan(check, download->image, b, at + fixed, At(b, at + 16, 8));
}

void CheckActivate(Checker& check, const std::optional<sdk::STORAGE_FIRMWARE_ACTIVATE>& activate,
                   std::span<const std::uint8_t> b, std::uint64_t at) {
    if (check.Presence(activate, Inside(b.size(), at, 12))) {
        check.Equal("Version", activate->Version, At(b, at, 4));
        check.Equal("Size", activate->Size, At(b, at + 4, 4));
        check.Equal("SlotToActivate", activate->SlotToActivate, At(b, at + 8, 1));
    }
}

// ---- CSMI RAID configuration

void CheckCsmiBuffer(Findings& findings, std::span<const std::uint8_t> b) {
    Checker check(findings, "csmi");
    const auto count = csmi::DriveCount(b);
    if (check.Presence(count, b.size() >= 44)) {
        check.Equal("bDriveCount", *count, b[43]);
    }
    const std::size_t capacity = b.size() < 64 ? 0 : (b.size() - 64) / 136;
    check.Equal("MemberRecordCapacity", csmi::MemberRecordCapacity(b.size()), capacity);
    for (std::size_t member = 0; member <= capacity + 1; ++member) {
        const auto path = csmi::MemberPathNumber(b, member);
        if (check.Presence(path, member < capacity)) {
            check.Equal("member path number", *path, b[64 + 136 * member + 90]);
        }
    }
    check.Expect(!csmi::MemberPathNumber(b, SIZE_MAX).has_value(),
                 "a path number for member SIZE_MAX");
    const auto index = csmi::RaidSetIndex(b);
    if (check.Presence(index, b.size() >= 32)) {
        check.Equal("uRaidSetIndex", *index, At(b, 28, 4));
    }

    // What the writers put in, the readers take out, and nothing else changes.
    Bytes copy(b.begin(), b.end());
    const std::uint8_t value = static_cast<std::uint8_t>(b.size() ^ 0xA5);
    check.Expect(
        csmi::WriteDriveCount(copy, value) == (b.size() >= 44),
        "WriteDriveCount refuses a buffer that holds the count, or takes one that does not");
    for (std::size_t member = 0; member <= capacity; ++member) {
        check.Expect(csmi::WriteMemberPathNumber(copy, member, value) == (member < capacity),
                     "WriteMemberPathNumber for member " + std::to_string(member) + " of " +
                         std::to_string(capacity));
    }
    for (std::size_t i = 0; i < copy.size(); ++i) {
        const bool written =
            (i == 43) || (i >= 64 && i < 64 + 136 * capacity && (i - 64) % 136 == 90);
        check.Expect(copy[i] == (written ? value : b[i]),
                     "byte " + std::to_string(i) + " after the writers");
        if (copy[i] != (written ? value : b[i])) {
            break;
        }
    }
}

// ---- Identify data and the requests around it

void CheckIdentifyData(Findings& findings, std::span<const std::uint8_t> d) {
    Checker check(findings, "nvme");
    for (const nvme::IdentifyField field :
         {nvme::kSerialNumber, nvme::kModelNumber, nvme::kFirmwareRevision}) {
        ExpectSpan(check, nvme::FieldBytes(d, field), d, field.offset, field.width);
        for (const bool stopAtNul : {true, false}) {
            std::wstring expected;
            if (Inside(d.size(), field.offset, field.width)) {
                for (std::size_t i = 0; i < field.width; ++i) {
                    const std::uint8_t byte = d[field.offset + i];
                    if (stopAtNul && byte == 0) {
                        break;
                    }
                    expected.push_back(static_cast<wchar_t>(byte < 0x80 ? byte : 0xFF00u | byte));
                }
            }
            check.Expect(nvme::IdentifyText(d, field, stopAtNul) == expected,
                         "IdentifyText of the field at " + std::to_string(field.offset) +
                             (stopAtNul ? " (to the first NUL)" : " (whole field)"));
        }
    }
    const auto granularity = nvme::DownloadGranularityOf(d);
    if (check.Presence(granularity, d.size() >= 320)) {
        const std::uint64_t minor = At(d, 81, 1);
        const std::uint64_t major = At(d, 82, 2);
        const std::uint64_t fwug = At(d, 319, 1);
        const bool atLeast13 = major > 1 || (major == 1 && minor >= 3);
        check.Equal("download granularity", *granularity,
                    atLeast13 && fwug != 0 && fwug != 0xFF ? fwug : 1);
    }
}

// The Identify data sits at a fixed place of each reply, and only a whole one counts.
void CheckIdentifyArea(Findings& findings, const char* reader, std::span<const std::uint8_t> area,
                       std::span<const std::uint8_t> b, std::size_t at) {
    Checker check(findings, reader);
    const bool whole = b.size() >= at + 4096;
    check.Expect(area.empty() != whole,
                 "Identify data of a reply that cannot hold it, or none of one that can");
    if (whole) {
        ExpectSpan(check, area, b, at, 4096);
        CheckIdentifyData(findings, area);
    }
}

// The input as a buffer of its own, exactly as long.
Findings CheckOwnBuffer(std::span<const std::uint8_t> input,
                        void (*check)(Findings&, std::span<const std::uint8_t>)) {
    Findings findings;
    const Bytes buffer(input.begin(), input.end());
    check(findings, buffer);
    return findings;
}

}  // namespace

Findings CheckSrbReply(std::span<const std::uint8_t> input) {
    return CheckOwnBuffer(input, CheckSrbBuffer);
}

Findings CheckFirmwareReply(std::span<const std::uint8_t> input) {
    FuzzedDataProvider fdp(input.data(), input.size());
    const std::uint64_t at = fdp.ConsumeBool() ? fdp.ConsumeIntegral<std::uint64_t>()
                                               : fdp.ConsumeIntegralInRange<std::uint64_t>(0, 128);
    const Bytes buffer = fdp.ConsumeRemainingBytes<std::uint8_t>();
    const std::span<const std::uint8_t> b = buffer;

    Findings findings;
    Checker info(findings, "fwreq::ReadFirmwareInfo");
    const auto read = fwreq::ReadFirmwareInfo(b, at);
    CheckInfo(info, read, b, at);
    if (read && at <= b.size()) {
        Bytes written(b.size(), 0xEE);
        info.Expect(fwreq::WriteFirmwareInfo(written, static_cast<std::size_t>(at), *read),
                    "WriteFirmwareInfo refuses what was just read from the same place");
        const auto again = fwreq::ReadFirmwareInfo(written, at);
        info.Expect(again && SameInfo(*again, *read), "what WriteFirmwareInfo wrote reads back");
    }
    // The information sits where the reply's own request block (bytes 28..51) places it.
    Checker parse(findings, "inbox_fw::ParseFirmwareInfo");
    if (b.size() >= 52) {
        CheckInfo(parse, inbox_fw::ParseFirmwareInfo(b), b, At(b, 44, 4));
    } else {
        parse.Expect(!inbox_fw::ParseFirmwareInfo(b), "read without a request block");
    }

    Checker block(findings, "fwreq::ReadRequestBlock");
    CheckBlock(block, fwreq::ReadRequestBlock(b, at), b, at);
    CheckBlock(block, inbox_fw::ReadRequestBlock(b), b, 28);
    CheckBlock(block, rst_fw::ReadRequestBlock(b), b, 32);
    Checker download(findings, "fwreq::ReadDownload");
    CheckDownload(download, fwreq::ReadDownload(b, at), b, at, false);
    CheckDownload(download, inbox_fw::ReadDownload(b), b, 52, false);
    Checker downloadV2(findings, "fwreq::ReadDownloadV2");
    CheckDownload(downloadV2, fwreq::ReadDownloadV2(b, at), b, at, true);
    CheckDownload(downloadV2, rst_fw::ReadDownload(b), b, 56, true);
    Checker activate(findings, "fwreq::ReadActivate");
    CheckActivate(activate, fwreq::ReadActivate(b, at), b, at);
    CheckActivate(activate, inbox_fw::ReadActivate(b), b, 52);
    CheckActivate(activate, rst_fw::ReadActivate(b), b, 56);
    return findings;
}

Findings CheckCsmiReply(std::span<const std::uint8_t> input) {
    return CheckOwnBuffer(input, CheckCsmiBuffer);
}

Findings CheckIdentifyReply(std::span<const std::uint8_t> input) {
    // Replies this long take a long input; the input's bytes start the buffer and a
    // filler byte of its choice makes up the rest.
    FuzzedDataProvider fdp(input.data(), input.size());
    const std::size_t size = fdp.ConsumeIntegralInRange<std::size_t>(0, 4400);
    const std::uint8_t filler = fdp.ConsumeIntegral<std::uint8_t>();
    const Bytes bytes = fdp.ConsumeRemainingBytes<std::uint8_t>();
    Bytes buffer(size, filler);
    std::copy_n(bytes.begin(), std::min(bytes.size(), size), buffer.begin());
    const std::span<const std::uint8_t> b = buffer;

    Findings findings;
    CheckIdentifyData(findings, b);
    CheckIdentifyArea(findings, "storage::IdentifyData", storage::IdentifyData(b), b, 48);
    CheckIdentifyArea(findings, "rst_nvme::IdentifyData", rst_nvme::IdentifyData(b), b, 164);

    Checker number(findings, "storage::ReadDeviceNumber");
    const auto device = storage::ReadDeviceNumber(b);
    if (number.Presence(device, b.size() >= 12)) {
        number.Equal("DeviceType", device->DeviceType, At(b, 0, 4));
        number.Equal("DeviceNumber", device->DeviceNumber, At(b, 4, 4));
        number.Equal("PartitionNumber", device->PartitionNumber, At(b, 8, 4));
    }
    Bytes copy(b.begin(), b.end());
    const sdk::STORAGE_DEVICE_NUMBER written{7, static_cast<std::uint32_t>(size), 0};
    number.Expect(storage::WriteDeviceNumber(copy, written) == (b.size() >= 12),
                  "WriteDeviceNumber and the buffer size disagree");
    if (b.size() >= 12) {
        number.Equal("DeviceNumber written", storage::ReadDeviceNumber(copy)->DeviceNumber, size);
    }

    Checker query(findings, "storage::ReadProtocolQuery");
    const auto protocol = storage::ReadProtocolQuery(b);
    if (query.Presence(protocol, b.size() >= 48)) {
        query.Equal("PropertyId", protocol->Query.PropertyId, At(b, 0, 4));
        query.Equal("QueryType", protocol->Query.QueryType, At(b, 4, 4));
        query.Equal("ProtocolType", protocol->ProtocolSpecific.ProtocolType, At(b, 8, 4));
        query.Equal("DataType", protocol->ProtocolSpecific.DataType, At(b, 12, 4));
        query.Equal("ProtocolDataRequestValue", protocol->ProtocolSpecific.ProtocolDataRequestValue,
                    At(b, 16, 4));
        query.Equal("ProtocolDataRequestSubValue",
                    protocol->ProtocolSpecific.ProtocolDataRequestSubValue, At(b, 20, 4));
        query.Equal("ProtocolDataOffset", protocol->ProtocolSpecific.ProtocolDataOffset,
                    At(b, 24, 4));
        query.Equal("ProtocolDataLength", protocol->ProtocolSpecific.ProtocolDataLength,
                    At(b, 28, 4));
    }

    Checker address(findings, "rst_address::ReadAddress");
    const auto read = rst_address::ReadAddress(b);
    if (address.Presence(read, b.size() >= 32)) {
        address.Equal("constant", read->Constant, At(b, 28, 1));
        address.Equal("path number", read->PathNumber, At(b, 29, 1));
        address.Equal("reserved", read->Reserved[0] | (read->Reserved[1] << 8), At(b, 30, 2));
    }
    Checker pass(findings, "rst_nvme::ReadPassThroughRequest");
    const auto request = rst_nvme::ReadPassThroughRequest(b);
    if (pass.Presence(request, b.size() >= 164)) {
        pass.Equal("path number", request->address.PathNumber, At(b, 29, 1));
        for (std::size_t n = 0; n < std::size(request->parameters.Command); ++n) {
            pass.Equal("command dword", request->parameters.Command[n], At(b, 32 + 4 * n, 4));
        }
        pass.Equal("data offset", request->parameters.DataBufferOffset, At(b, 116, 4));
        pass.Equal("data length", request->parameters.DataBufferLength, At(b, 120, 4));
    }
    return findings;
}

}  // namespace fuzzreaders
