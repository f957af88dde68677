// Reading what a driver answers: every reply is untrusted, so each reader is driven
// with offsets and counts that point past the buffer or overflow, as well as with
// the well-formed replies it must read exactly.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "drivers/csmi_raid_config.h"
#include "drivers/miniport_firmware.h"
#include "drivers/nvme_identify.h"
#include "drivers/rst_firmware.h"
#include "drivers/rst_nvme_pass_through.h"
#include "drivers/storage_requests.h"

namespace {

void Put32(Bytes& buffer, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        buffer.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

TEST(DriversReplyParsing, DeviceNumberIsTheMiddleDword) {
    Bytes reply = {7, 0, 0, 0, 12, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    const auto number = storage::ReadDeviceNumber(reply);
    ASSERT_TRUE(number);
    EXPECT_EQ(number->DeviceType, 7u);
    EXPECT_EQ(number->DeviceNumber, 12u);
    EXPECT_EQ(number->PartitionNumber, 0xFFFFFFFFu);

    reply.pop_back();
    EXPECT_FALSE(storage::ReadDeviceNumber(reply));
}

// The granularity rule, read through both identify paths at their own data offsets.
TEST(DriversReplyParsing, GranularityRule) {
    struct Case {
        std::uint16_t major;
        std::uint8_t minor;
        std::uint8_t fwug;
        std::int32_t expected;
    };
    const Case cases[] = {
        {1, 2, 8, 1},
        {1, 3, 8, 8},
        {1, 4, 0, 1},
        {0, 3, 8, 1},
        {1, 3, 1, 1},
        {1, 3, 254, 254},
        // VER compares as a version: 2.x is past 1.3 whatever its minor number.
        {2, 0, 8, 8},
        {2, 1, 16, 16},
        {0x0100, 0, 8, 8},  // MJR is 16 bits wide
        // FWUG FFh is "no restriction": one unit, never 255.
        {1, 3, 255, 1},
        {2, 0, 255, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "VER " << c.major << "." << int{c.minor} << " FWUG " << int{c.fwug});
        EXPECT_EQ(nvme::DownloadGranularity(c.major, c.minor, c.fwug), c.expected);

        Bytes inboxReply = storage::BuildIdentifyQuery();
        Bytes rstReply = rst_nvme::BuildIdentifyControllerRequest(0);
        const std::pair<Bytes*, std::size_t> replies[] = {{&inboxReply, 48}, {&rstReply, 164}};
        for (auto [reply, at] : replies) {
            reply->at(at + 81) = c.minor;
            reply->at(at + 82) = static_cast<std::uint8_t>(c.major);
            reply->at(at + 83) = static_cast<std::uint8_t>(c.major >> 8);
            reply->at(at + 319) = c.fwug;
        }
        EXPECT_EQ(nvme::DownloadGranularityOf(storage::IdentifyData(inboxReply)), c.expected);
        EXPECT_EQ(nvme::DownloadGranularityOf(rst_nvme::IdentifyData(rstReply)), c.expected);
    }
}

TEST(DriversReplyParsing, IdentifyDataNeedsTheWholeArea) {
    Bytes reply = storage::BuildIdentifyQuery();
    reply[48 + 4] = 'K';
    reply[48 + 23] = 'Z';
    const auto data = storage::IdentifyData(reply);
    ASSERT_EQ(data.size(), 4096u);
    const auto serial = nvme::FieldBytes(data, nvme::kSerialNumber);
    ASSERT_EQ(serial.size(), 20u);
    EXPECT_EQ(serial.front(), 'K');
    EXPECT_EQ(serial.back(), 'Z');
    EXPECT_EQ(nvme::FieldBytes(data, nvme::kModelNumber).data(), data.data() + 24);
    EXPECT_EQ(nvme::FieldBytes(data, nvme::kFirmwareRevision).size(), 8u);

    reply.pop_back();
    EXPECT_TRUE(storage::IdentifyData(reply).empty());
    Bytes rstReply(4259);
    EXPECT_TRUE(rst_nvme::IdentifyData(rstReply).empty());

    // Data cut short of FWUG: the text fields are still there, the granularity is not.
    const std::vector<std::uint8_t> shortData(319);
    EXPECT_EQ(nvme::FieldBytes(shortData, nvme::kFirmwareRevision).size(), 8u);
    EXPECT_FALSE(nvme::DownloadGranularityOf(shortData));
    EXPECT_TRUE(nvme::FieldBytes(std::vector<std::uint8_t>(23), nvme::kSerialNumber).empty());
}

// An information reply in a granularity-1 buffer (B = 4172), with the
// STORAGE_FIRMWARE_INFO at `dataOffset` announcing `slotCount` entries.
Bytes InfoReply(std::uint32_t dataOffset, std::uint8_t slotCount, std::size_t size = 4172) {
    Bytes reply(size, 0);
    if (size >= 76) {
        EXPECT_TRUE(inbox_fw::FillGetInfoRequest(reply));
    }
    if (size >= 48) {
        Put32(reply, 44, dataOffset);
    }
    if (dataOffset < size) {
        std::uint64_t at = dataOffset;
        if (at + 8 < size)
            reply[at + 8] = 1;
        if (at + 9 < size)
            reply[at + 9] = slotCount;
        for (std::size_t i = 0; i < slotCount; ++i) {
            const std::uint64_t entry = at + 16 + 16 * i;
            if (entry + 1 < size) {
                reply[entry] = static_cast<std::uint8_t>(i + 1);
                reply[entry + 1] = i == 0 ? 1 : 0;
            }
        }
    }
    return reply;
}

TEST(DriversReplyParsing, FirmwareInformationAtTheRepliesOwnOffset) {
    struct Case {
        const char* name;
        Bytes reply;
        std::optional<std::size_t> slots;  // nothing: the reply must be refused
    };
    const Case cases[] = {
        {"usual offset 52, three slots", InfoReply(52, 3), 3},
        {"offset 56 is taken as named", InfoReply(56, 3), 3},
        {"255 entries fit behind offset 52", InfoReply(52, 255), 255},
        {"entries end exactly at the buffer end", InfoReply(4172 - 16 - 16 * 3, 3), 3},
        {"last entry one byte past the end", InfoReply(4172 - 16 - 16 * 3 + 1, 3), std::nullopt},
        {"255 entries behind offset 80 do not fit", InfoReply(80, 255), std::nullopt},
        {"fixed part past the end", InfoReply(4172 - 15, 0), std::nullopt},
        {"offset at the very end", InfoReply(4172, 0), std::nullopt},
        {"offset 0xFFFFFFFF", InfoReply(0xFFFFFFFFu, 0), std::nullopt},
        {"reply too short for the request block", InfoReply(52, 0, 47), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto info = inbox_fw::ParseFirmwareInfo(c.reply);
        ASSERT_EQ(info.has_value(), c.slots.has_value());
        if (!info) {
            continue;
        }
        EXPECT_TRUE(info->upgradeSupport);
        ASSERT_EQ(info->slots.size(), *c.slots);
        EXPECT_EQ(info->slots[0].number, 1);
        EXPECT_TRUE(info->slots[0].readOnly);
        EXPECT_EQ(info->slots[1].number, 2);
        EXPECT_FALSE(info->slots[1].readOnly);
    }
}

TEST(DriversReplyParsing, FirmwareInformationRoundTripsThroughTheDriversWriter) {
    Bytes reply(inbox_fw::RequestSize(4096));
    ASSERT_TRUE(inbox_fw::FillGetInfoRequest(reply));
    fwreq::FirmwareInfo written;
    written.upgradeSupport = true;
    written.activeSlot = 2;
    written.pendingActivateSlot = 3;
    written.slots = {
        {1, true, {'Q', 'Z', 'T', '2', 'V', 'K', 'L', 'A'}}, {2, false, {}}, {7, false, {}}};
    ASSERT_TRUE(inbox_fw::WriteFirmwareInfoReply(reply, written));
    EXPECT_EQ(reply[52 + 9], 3) << "SlotCount";
    EXPECT_EQ(reply[52 + 16 + 8], 'Q') << "revision of entry 0";
    EXPECT_EQ(reply[52 + 16 + 32], 7) << "SlotNumber of entry 2";

    const auto read = inbox_fw::ParseFirmwareInfo(reply);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->activeSlot, 2);
    EXPECT_EQ(read->pendingActivateSlot, 3);
    ASSERT_EQ(read->slots.size(), 3u);
    EXPECT_EQ(read->slots[0].revision, written.slots[0].revision);
    EXPECT_EQ(read->slots[2].number, 7);

    fwreq::FirmwareInfo tooMany;
    tooMany.slots.resize(256);
    EXPECT_FALSE(inbox_fw::WriteFirmwareInfoReply(reply, tooMany)) << "SlotCount is one byte";
    Bytes tooShort(reply.begin(), reply.begin() + 52 + 16 + 16 * 3 - 1);
    EXPECT_FALSE(inbox_fw::WriteFirmwareInfoReply(tooShort, written));
}

// A version 2 information reply of `size` bytes whose request block, at `blockAt` (28
// inbox, 32 through Intel RST), names `dataOffset`; the STORAGE_FIRMWARE_INFO_V2 there
// announces `slotCount` entries and holds as many of them as fit.
Bytes InfoV2Reply(std::size_t blockAt, std::uint32_t dataOffset, std::uint8_t slotCount,
                  std::size_t size = 6200) {
    Bytes reply(size, 0);
    if (blockAt + 20 <= size) {
        Put32(reply, blockAt + 16, dataOffset);
    }
    const std::uint64_t at = dataOffset;
    const std::uint64_t fields[][2] = {{at, 2}, {at + 8, 1}, {at + 9, slotCount}, {at + 16, 4}};
    for (const auto& [offset, value] : fields) {
        if (offset < size) {
            reply[offset] = static_cast<std::uint8_t>(value);
        }
    }
    for (std::size_t i = 0; i < slotCount; ++i) {
        const std::uint64_t entry = at + 24 + 24 * i;
        if (entry + 24 <= size) {
            reply[entry] = static_cast<std::uint8_t>(i + 1);
            reply[entry + 1] = i == 0 ? 1 : 0;
            reply[entry + 8] = 'R';
            reply[entry + 15] = 'V';
        }
    }
    return reply;
}

// Both readers of the version 2 layout, each at its own request block's offset.
TEST(DriversReplyParsing, Version2InformationAtTheRepliesOwnOffset) {
    struct Case {
        const char* name;
        std::uint32_t dataOffset;
        std::uint8_t slotCount;
        std::size_t size;
        std::optional<std::size_t> slots;  // nothing: the reply must be refused
    };
    const Case cases[] = {
        {"offset 56, three slots", 56, 3, 6200, 3},
        {"255 entries end exactly at the buffer end", 56, 255, 6200, 255},
        {"255 entries one byte past the end", 57, 255, 6200, std::nullopt},
        {"three entries, one byte short of the last", 56, 3, 56 + 24 + 24 * 3 - 1, std::nullopt},
        {"fixed part one byte past the end", 6200 - 23, 0, 6200, std::nullopt},
        {"offset at the very end", 6200, 0, 6200, std::nullopt},
        {"offset that wraps", 0xFFFFFFF0u, 0, 6200, std::nullopt},
        {"reply too short for the request block", 56, 0, 40, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<fwreq::FirmwareInfo> read[] = {
            inbox_fw::ParsePublicFirmwareInfo(InfoV2Reply(28, c.dataOffset, c.slotCount, c.size)),
            rst_fw::ParseFirmwareInfo(InfoV2Reply(32, c.dataOffset, c.slotCount, c.size)),
        };
        for (const auto& info : read) {
            ASSERT_EQ(info.has_value(), c.slots.has_value());
            if (!info) {
                continue;
            }
            EXPECT_EQ(info->version, 2u);
            EXPECT_TRUE(info->upgradeSupport);
            EXPECT_EQ(info->imagePayloadAlignment, 4u);
            ASSERT_EQ(info->slots.size(), *c.slots);
            EXPECT_EQ(info->slots[0].number, 1);
            EXPECT_TRUE(info->slots[0].readOnly);
            EXPECT_EQ(info->slots[0].revision[0], 'R');
            EXPECT_EQ(info->slots[0].revision[7], 'V');
            EXPECT_EQ(std::size_t{info->slots.back().number}, *c.slots);
        }
    }
}

// The writers the simulated drivers answer with refuse a table the reply cannot hold.
TEST(DriversReplyParsing, Version2WritersRefuseWhatDoesNotFit) {
    fwreq::FirmwareInfo info;
    info.slots.resize(2);
    const std::size_t oneShort = 56 + 24 + 24 * 2 - 1;
    const Bytes inbox = inbox_fw::BuildPublicGetInfoRequest();
    const Bytes rst = rst_fw::BuildGetInfoRequest(3);
    Bytes inboxShort(inbox.begin(), inbox.begin() + oneShort);
    Bytes rstShort(rst.begin(), rst.begin() + oneShort);
    EXPECT_FALSE(inbox_fw::WritePublicFirmwareInfoReply(inboxShort, info));
    EXPECT_FALSE(rst_fw::WriteFirmwareInfoReply(rstShort, info));
    EXPECT_TRUE(inboxShort == Bytes(inbox.begin(), inbox.begin() + oneShort)) << "untouched";
    // A reply too short for its own request block names no place for the information.
    Bytes noBlock(55);
    EXPECT_FALSE(rst_fw::WriteFirmwareInfoReply(noBlock, info));
    Bytes noInboxBlock(51);
    EXPECT_FALSE(inbox_fw::WriteFirmwareInfoReply(noInboxBlock, info));
    Bytes whole = rst;
    info.slots.resize(256);
    EXPECT_FALSE(rst_fw::WriteFirmwareInfoReply(whole, info)) << "SlotCount is one byte";
}

TEST(DriversReplyParsing, CsmiMembersOnlyFromRecordsInsideTheBuffer) {
    Bytes reply = csmi::BuildRaidConfigRequest(0);
    reply[43] = 5;          // bDriveCount announces more members than there is room for
    reply[64 + 90] = 2;     // member 0, bSASAddress[2]
    reply[64 + 89] = 0x44;  // neighbouring address bytes are not the path number
    reply[64 + 91] = 0x55;
    reply[200 + 90] = 0x80;  // member 1

    EXPECT_EQ(csmi::DriveCount(reply), 5);
    EXPECT_EQ(csmi::MemberPathNumber(reply, 0), 2);
    EXPECT_EQ(csmi::MemberPathNumber(reply, 1), 0x80);
    EXPECT_FALSE(csmi::MemberPathNumber(reply, 2));
    EXPECT_FALSE(csmi::MemberPathNumber(reply, 4));
    EXPECT_FALSE(csmi::MemberPathNumber(reply, std::numeric_limits<std::size_t>::max()));
    EXPECT_FALSE(csmi::MemberPathNumber(reply, std::numeric_limits<std::size_t>::max() / 136 + 1));

    // A record cut short is not read even where its path-number byte would fit.
    Bytes cut(reply.begin(), reply.begin() + 300);
    EXPECT_EQ(csmi::MemberPathNumber(cut, 0), 2);
    EXPECT_FALSE(csmi::MemberPathNumber(cut, 1));

    EXPECT_FALSE(csmi::DriveCount(Bytes(43)));
    EXPECT_FALSE(csmi::MemberPathNumber(Bytes(63), 0));

    // A larger buffer asked for more members and holds them.
    Bytes larger = csmi::BuildRaidConfigRequest(0, 4);
    ASSERT_TRUE(csmi::WriteMemberPathNumber(larger, 3, 9));
    EXPECT_EQ(larger[64 + 3 * 136 + 90], 9);
    EXPECT_EQ(csmi::MemberPathNumber(larger, 3), 9);
    EXPECT_FALSE(csmi::WriteMemberPathNumber(larger, 4, 9));
}

TEST(DriversReplyParsing, ReturnCodeNeedsTheHeader) {
    Bytes reply = rst_fw::BuildActivateRequest(1);
    ASSERT_TRUE(srb::SetReturnCode(reply, 0x20));
    EXPECT_EQ(srb::ReturnCode(reply), 0x20u);
    EXPECT_EQ(reply[20], 0x20);
    EXPECT_FALSE(srb::ReturnCode(Bytes(23)));
    EXPECT_EQ(srb::ReturnCode(Bytes(24)), 0u);
    EXPECT_EQ(srb::ReturnCodeOrFailure(Bytes(23)), srb::kNoReturnCode) << "never success";
    EXPECT_EQ(srb::ReturnCodeOrFailure(reply), 0x20u);
}

// The checker side: what a simulated driver reads back from the requests.
TEST(DriversReplyParsing, RequestReadersSeeWhatTheBuildersWrote) {
    const std::vector<std::uint8_t> chunk(4096, 0xA5);
    Bytes inbox(inbox_fw::RequestSize(chunk.size()));
    ASSERT_TRUE(inbox_fw::FillDownloadRequest(inbox, 8192, chunk));
    const auto header = srb::ReadSrbIoControl(inbox);
    ASSERT_TRUE(header);
    EXPECT_TRUE(srb::HasSignature(*header, inbox_fw::kRequest.signature));
    EXPECT_FALSE(srb::HasSignature(*header, "FIRMWAR")) << "a signature is all 8 bytes";
    EXPECT_FALSE(srb::HasSignature(*header, rst_fw::kRequest.signature));
    EXPECT_EQ(header->ControlCode, inbox_fw::kRequest.controlCode);
    const auto block = inbox_fw::ReadRequestBlock(inbox);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->Function, fwreq::kFunctionDownload);
    EXPECT_EQ(block->DataBufferLength, inbox.size() - 52);
    const auto download = inbox_fw::ReadDownload(inbox);
    ASSERT_TRUE(download);
    EXPECT_EQ(download->fixed.Offset, 8192u);
    EXPECT_EQ(download->image.size(), 4096u);
    EXPECT_EQ(download->image.data(), inbox.data() + 76);

    // A BufferSize reaching past the buffer leaves the image empty instead of reading on.
    for (std::uint64_t hostile : {std::uint64_t{4097}, ~std::uint64_t{0}}) {
        for (std::size_t i = 0; i < 8; ++i) {
            inbox.at(68 + i) = static_cast<std::uint8_t>(hostile >> (8 * i));
        }
        const auto bad = inbox_fw::ReadDownload(inbox);
        ASSERT_TRUE(bad);
        EXPECT_EQ(bad->fixed.BufferSize, hostile);
        EXPECT_TRUE(bad->image.empty());
    }

    Bytes activate(inbox_fw::kMinimumRequestSize);
    ASSERT_TRUE(inbox_fw::FillActivateRequest(activate, 3));
    EXPECT_EQ(inbox_fw::ReadActivate(activate)->SlotToActivate, 3);
    EXPECT_FALSE(inbox_fw::ReadActivate(Bytes(63)));

    const Bytes identify = rst_nvme::BuildIdentifyControllerRequest(0x42);
    const auto passThrough = rst_nvme::ReadPassThroughRequest(identify);
    ASSERT_TRUE(passThrough);
    EXPECT_EQ(passThrough->address.Constant, 1);
    EXPECT_EQ(passThrough->address.PathNumber, 0x42);
    EXPECT_EQ(passThrough->parameters.Command[0], nvme::kIdentifyOpcode);
    EXPECT_EQ(passThrough->parameters.Command[10], nvme::kCnsController);
    EXPECT_EQ(passThrough->parameters.DataBufferOffset, 164u);
    EXPECT_FALSE(rst_nvme::ReadPassThroughRequest(Bytes(163)));

    Bytes rst;
    ASSERT_TRUE(rst_fw::FillDownloadRequest(rst, 0x42, 4096, chunk));
    const auto rstDownload = rst_fw::ReadDownload(rst);
    ASSERT_TRUE(rstDownload);
    EXPECT_EQ(rstDownload->fixed.Version, 2u);
    EXPECT_EQ(rstDownload->fixed.Slot, fwreq::kSlotUnspecified);
    EXPECT_EQ(rstDownload->image.size(), 4096u);
    EXPECT_EQ(rst_fw::ReadActivate(rst_fw::BuildActivateRequest(1))->SlotToActivate, 2);
    EXPECT_EQ(csmi::RaidSetIndex(csmi::BuildRaidConfigRequest(6)), 6u);
}

}  // namespace
