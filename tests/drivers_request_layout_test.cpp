// Every request builder against the literal bytes each driver expects: the expected
// buffer is written here from plain (offset, width, value) tables, independently of
// the named offsets, and compared with the built request byte for byte, so a stray
// byte anywhere fails as surely as a wrong field.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/csmi_raid_config.h"
#include "drivers/miniport_firmware.h"
#include "drivers/rst_address.h"
#include "drivers/rst_firmware.h"
#include "drivers/rst_nvme_pass_through.h"
#include "drivers/storage_requests.h"

namespace {

struct Field {
    std::size_t offset;
    std::size_t width;
    std::uint64_t value;
};

struct Blob {
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
};

Blob Text(std::size_t offset, std::string_view text) {
    return {offset, std::vector<std::uint8_t>(text.begin(), text.end())};
}

std::vector<std::uint8_t> Pattern(std::size_t length, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    }
    return bytes;
}

struct Golden {
    std::string name;
    Bytes actual;
    std::size_t size;
    std::vector<Field> fields;
    std::vector<Blob> blobs;
};

Bytes Expected(const Golden& golden) {
    Bytes expected(golden.size, 0);
    for (const Field& field : golden.fields) {
        for (std::size_t i = 0; i < field.width; ++i) {
            expected.at(field.offset + i) = static_cast<std::uint8_t>(field.value >> (8 * i));
        }
    }
    for (const Blob& blob : golden.blobs) {
        for (std::size_t i = 0; i < blob.bytes.size(); ++i) {
            expected.at(blob.offset + i) = blob.bytes[i];
        }
    }
    return expected;
}

void ExpectGolden(const Golden& golden) {
    SCOPED_TRACE(golden.name);
    const Bytes expected = Expected(golden);
    ASSERT_EQ(golden.actual.size(), expected.size());
    int reported = 0;
    for (std::size_t i = 0; i < expected.size() && reported < 8; ++i) {
        if (golden.actual[i] != expected[i]) {
            ADD_FAILURE() << "byte " << i << ": got " << int{golden.actual[i]} << ", want "
                          << int{expected[i]};
            ++reported;
        }
    }
}

// The common header of the inbox "FIRMWARE" requests in a buffer of b bytes.
std::vector<Field> InboxHeader(std::size_t b, std::uint32_t function) {
    return {{0, 4, 28},      {12, 4, 30}, {16, 4, 0x1B0780}, {20, 4, 0},
            {24, 4, b - 28}, {28, 4, 1},  {32, 4, 24},       {36, 4, function},
            {40, 4, 1},      {44, 4, 52}, {48, 4, b - 52}};
}

// Header, address bytes and request block of the RST "IntelFw " requests.
std::vector<Field> RstFirmwareHeader(std::size_t size, std::uint8_t path, std::uint32_t function) {
    return {{0, 4, 28},         {12, 4, 30},       {16, 4, 0xF0000040}, {20, 4, 0},
            {24, 4, size - 28}, {28, 1, 1},        {29, 1, path},       {30, 2, 0},
            {32, 4, 1},         {36, 4, 24},       {40, 4, function},   {44, 4, 1},
            {48, 4, 56},        {52, 4, size - 56}};
}

template <typename T>
std::vector<T> Join(std::vector<T> a, const std::vector<T>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes InboxRequest(std::size_t b, const auto& fill) {
    Bytes buffer(b, 0xEE);  // stale bytes must not survive a fill
    EXPECT_TRUE(fill(buffer));
    return buffer;
}

TEST(DriversRequestLayout, BuildersMatchTheDriversLayouts) {
    const std::vector<std::uint8_t> page = Pattern(4096, 3);
    const std::vector<std::uint8_t> shortChunk = Pattern(8192, 9);
    constexpr std::size_t kB1 = 4096 + 76;      // granularity 1
    constexpr std::size_t kB3 = 3 * 4096 + 76;  // granularity 3, shorter last chunk

    Bytes rstDownload;
    ASSERT_TRUE(rst_fw::FillDownloadRequest(rstDownload, 0x02, 2093056, page));
    Bytes rstShortDownload;
    ASSERT_TRUE(rst_fw::FillDownloadRequest(rstShortDownload, 0x81, 2088960, shortChunk));

    const std::vector<Golden> cases = {
        {"storage identify query",
         storage::BuildIdentifyQuery(),
         4144,
         {{0, 4, 49},
          {4, 4, 0},
          {8, 4, 3},
          {12, 4, 1},
          {16, 4, 1},
          {20, 4, 0},
          {24, 4, 40},
          {28, 4, 4096}},
         {}},
        {"inbox information, granularity 1",
         InboxRequest(kB1, [](auto& b) { return inbox_fw::FillGetInfoRequest(b); }),
         kB1,
         InboxHeader(kB1, 1),
         {Text(4, "FIRMWARE")}},
        {"inbox download, granularity 1",
         InboxRequest(kB1, [&](auto& b) { return inbox_fw::FillDownloadRequest(b, 4096, page); }),
         kB1,
         Join(InboxHeader(kB1, 2), {{52, 4, 1}, {56, 4, 24}, {60, 8, 4096}, {68, 8, 4096}}),
         {Text(4, "FIRMWARE"), {76, page}}},
        {"inbox download, shorter last chunk",
         InboxRequest(
             kB3, [&](auto& b) { return inbox_fw::FillDownloadRequest(b, 2088960, shortChunk); }),
         kB3,
         Join(InboxHeader(kB3, 2), {{52, 4, 1}, {56, 4, 24}, {60, 8, 2088960}, {68, 8, 8192}}),
         {Text(4, "FIRMWARE"), {76, shortChunk}}},
        {"inbox activation",
         InboxRequest(kB1, [](auto& b) { return inbox_fw::FillActivateRequest(b, 2); }),
         kB1,
         Join(InboxHeader(kB1, 3), {{52, 4, 1}, {56, 4, 12}, {60, 1, 2}}),
         {Text(4, "FIRMWARE")}},
        {"inbox information, public form",
         inbox_fw::BuildPublicGetInfoRequest(),
         6200,
         {{0, 4, 28},
          {12, 4, 30},
          {16, 4, 0x1B0780},
          {20, 4, 0},
          {24, 4, 6172},
          {28, 4, 1},
          {32, 4, 24},
          {36, 4, 1},
          {40, 4, 1},
          {44, 4, 56},
          {48, 4, 6144},
          {52, 4, 0},
          {56, 4, 2},
          {60, 4, 24}},
         {Text(4, "FIRMWARE")}},
        {"CSMI RAID configuration, set 0",
         csmi::BuildRaidConfigRequest(0),
         336,
         {{0, 4, 28}, {12, 4, 30}, {16, 4, 11}, {20, 4, 0}, {24, 4, 308}, {28, 4, 0}},
         {Text(4, std::string_view("CSMIARY\0", 8))}},
        {"CSMI RAID configuration, set 1 with room for 4 members",
         csmi::BuildRaidConfigRequest(1, 4),
         608,
         {{0, 4, 28}, {12, 4, 30}, {16, 4, 11}, {24, 4, 580}, {28, 4, 1}},
         {Text(4, std::string_view("CSMIARY\0", 8))}},
        {"RST identify, path 3",
         rst_nvme::BuildIdentifyControllerRequest(3),
         4260,
         {{0, 4, 28},
          {12, 4, 10},
          {16, 4, 0xF0002808},
          {20, 4, 0},
          {24, 4, 4232},
          {28, 1, 1},
          {29, 1, 3},
          {30, 2, 0},
          {32, 4, 6},
          {36, 4, 0},
          {72, 4, 1},
          {116, 4, 164},
          {120, 4, 4096}},
         {Text(4, "IntelNvm")}},
        {"RST identify, pathId -1",
         rst_nvme::BuildIdentifyControllerRequest(rst_address::PathNumberByte(-1)),
         4260,
         {{0, 4, 28},
          {12, 4, 10},
          {16, 4, 0xF0002808},
          {24, 4, 4232},
          {28, 1, 1},
          {29, 1, 0xFF},
          {32, 4, 6},
          {72, 4, 1},
          {116, 4, 164},
          {120, 4, 4096}},
         {Text(4, "IntelNvm")}},
        {"RST download, granularity 1",
         rstDownload,
         4184,
         Join(
             RstFirmwareHeader(4184, 0x02, 2),
             {{56, 4, 2}, {60, 4, 32}, {64, 8, 2093056}, {72, 8, 4096}, {80, 1, 0xFF}, {84, 4, 0}}),
         {Text(4, "IntelFw "), {88, page}}},
        {"RST download, shorter last chunk",
         rstShortDownload,
         8192 + 88,
         Join(RstFirmwareHeader(8192 + 88, 0x81, 2),
              {{56, 4, 2}, {60, 4, 32}, {64, 8, 2088960}, {72, 8, 8192}, {80, 1, 0xFF}}),
         {Text(4, "IntelFw "), {88, shortChunk}}},
        {"RST information, path 0x81",
         rst_fw::BuildGetInfoRequest(0x81),
         6200,
         Join(RstFirmwareHeader(6200, 0x81, 1), {{56, 4, 2}, {60, 4, 24}}),
         {Text(4, "IntelFw ")}},
        {"RST activation",
         rst_fw::BuildActivateRequest(0x05),
         68,
         Join(RstFirmwareHeader(68, 0x05, 3), {{56, 4, 1}, {60, 4, 12}, {64, 1, 2}}),
         {Text(4, "IntelFw ")}},
    };
    for (const Golden& golden : cases) {
        ExpectGolden(golden);
    }
}

// Every writer takes a buffer that just holds what it writes, and refuses one a byte
// shorter without touching it.
TEST(DriversRequestLayout, WritersRefuseWhatDoesNotFit) {
    const std::vector<std::uint8_t> chunk(4096, 0x5A);
    struct Writer {
        const char* name;
        std::size_t fits;
        std::function<bool(std::span<std::uint8_t>)> write;
    };
    const std::vector<Writer> writers = {
        {"inbox download request", 4096 + 76,
         [&](auto b) { return inbox_fw::FillDownloadRequest(b, 0, chunk); }},
        {"inbox download payload", 4096 + 76,
         [&](auto b) { return inbox_fw::WriteDownloadPayload(b, 0, chunk); }},
        {"inbox get-info request", 64, [](auto b) { return inbox_fw::FillGetInfoRequest(b); }},
        {"inbox activation request", 64,
         [](auto b) { return inbox_fw::FillActivateRequest(b, 2); }},
        {"SRB_IO_CONTROL", 28, [](auto b) { return srb::WriteHeader(b, inbox_fw::kRequest); }},
        {"SRB_IO_CONTROL.ReturnCode", 24, [](auto b) { return srb::SetReturnCode(b, 5); }},
        {"STORAGE_DEVICE_NUMBER", 12,
         [](auto b) {
             return storage::WriteDeviceNumber(b, {7, 3, 0});
         }},
        {"CSMI bDriveCount", 44, [](auto b) { return csmi::WriteDriveCount(b, 2); }},
        {"CSMI member path number", 64 + 136,
         [](auto b) { return csmi::WriteMemberPathNumber(b, 0, 4); }},
        {"STORAGE_FIRMWARE_INFO_V2 request body", 24,
         [](auto b) { return fwreq::WriteInfoV2Request(b, 0); }},
        {"STORAGE_FIRMWARE_ACTIVATE", 12, [](auto b) { return fwreq::WriteActivate(b, 0, 1); }},
        {"STORAGE_FIRMWARE_DOWNLOAD without a chunk", 24,
         [](auto b) { return fwreq::WriteDownload(b, 0, 0, {}); }},
        {"STORAGE_FIRMWARE_DOWNLOAD and its chunk", 24 + 4096,
         [&](auto b) { return fwreq::WriteDownload(b, 0, 0, chunk); }},
        {"STORAGE_FIRMWARE_DOWNLOAD_V2 and its chunk", 32 + 4096,
         [&](auto b) { return fwreq::WriteDownloadV2(b, 0, 0, chunk, 0xFF); }},
        {"STORAGE_FIRMWARE_INFO with one slot", 16 + 16,
         [](auto b) { return fwreq::WriteFirmwareInfo(b, 0, {.slots = {{}}}); }},
    };
    for (const Writer& writer : writers) {
        Bytes exact(writer.fits, 0x11);
        EXPECT_TRUE(writer.write(exact)) << writer.name;
        Bytes shorter(writer.fits - 1, 0x11);
        EXPECT_FALSE(writer.write(shorter)) << writer.name;
        EXPECT_TRUE(std::all_of(shorter.begin(), shorter.end(), [](auto b) { return b == 0x11; }))
            << writer.name << ": a refused write leaves the buffer untouched";
    }
    // A chunk whose request would not fit the request's 32-bit sizes is refused before
    // anything is allocated; its bytes are never read.
    Bytes request;
    const std::span<const std::uint8_t> huge(chunk.data(), std::size_t{0xFFFFFFFF});
    EXPECT_FALSE(rst_fw::FillDownloadRequest(request, 1, 0, huge));
    EXPECT_TRUE(request.empty());
}

// A granularity outside 1..255 units is held to that range; the image goes out in
// order, the last piece short, nothing past its end, and a refused piece stops it.
TEST(DriversRequestLayout, ChunksCoverTheImageInOrder) {
    for (const auto& [granularity, bytes] : std::vector<std::pair<std::int32_t, std::size_t>>{
             {-1, 4096}, {0, 4096}, {1, 4096}, {255, 255 * 4096}, {256, 255 * 4096}}) {
        EXPECT_EQ(fwreq::ChunkSizeFor(granularity), bytes) << "granularity " << granularity;
    }
    const std::vector<std::uint8_t> image(10000, 1);
    std::vector<std::pair<std::uint64_t, std::size_t>> sent;
    auto record = [&](std::uint64_t offset, std::span<const std::uint8_t> piece) {
        sent.emplace_back(offset, piece.size());
        return offset < 8192;
    };
    EXPECT_FALSE(fwreq::ForEachChunk(image, 4096, record));
    EXPECT_EQ(sent, (std::vector<std::pair<std::uint64_t, std::size_t>>{
                        {0, 4096}, {4096, 4096}, {8192, 1808}}));
    sent.clear();
    EXPECT_FALSE(fwreq::ForEachChunk(image, 0, record)) << "no chunk size, no progress";
    EXPECT_TRUE(fwreq::ForEachChunk({}, 0, record));
    EXPECT_TRUE(sent.empty());
}

TEST(DriversRequestLayout, RstDownloadReusesOneBufferForEveryChunk) {
    const std::vector<std::uint8_t> image = Pattern(3 * 4096 + 512, 1);
    const std::size_t chunkSize = 4096;
    Bytes buffer(rst_fw::DownloadRequestSize(chunkSize));
    const std::uint8_t* storage = buffer.data();
    for (std::size_t offset = 0; offset < image.size(); offset += chunkSize) {
        const std::size_t length = std::min(chunkSize, image.size() - offset);
        ASSERT_TRUE(rst_fw::FillDownloadRequest(
            buffer, 7, offset, std::span<const std::uint8_t>(image).subspan(offset, length)));
        EXPECT_EQ(buffer.data(), storage);
        EXPECT_EQ(buffer.size(), length + 88);
        const auto download = rst_fw::ReadDownload(buffer);
        ASSERT_TRUE(download);
        EXPECT_EQ(download->fixed.Offset, offset);
        EXPECT_EQ(download->fixed.BufferSize, length);
        EXPECT_TRUE(std::equal(download->image.begin(), download->image.end(),
                               image.begin() + static_cast<std::ptrdiff_t>(offset)));
    }
}

}  // namespace
