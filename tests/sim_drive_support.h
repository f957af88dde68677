// Helpers for the tests of the simulated drivers and drive: an image the drive takes,
// and requests sent the way the program sends them (one buffer both ways), built with
// the drivers/ builders so that a test changes only the field it means to break.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/csmi_raid_config.h"
#include "drivers/miniport_firmware.h"
#include "drivers/rst_firmware.h"
#include "drivers/rst_nvme_pass_through.h"
#include "drivers/srb_io_control.h"
#include "drivers/storage_requests.h"
#include "platform/win32.h"
#include "sim/models/machine.h"
#include "sim/models/nvme_drive.h"
#include "sim/sim.h"

namespace simtest {

// A whole image with the metadata block in place, carrying `revision`; the other
// bytes follow a pattern that differs from image to image by `seed`.
inline Bytes MakeImage(std::string_view revision = "QZT3VKLA", std::uint8_t seed = 1) {
    Bytes image(sim::kFirmwareImageSize);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>((i * 131 + seed * 7 + (i >> 12)) & 0xFF);
    }
    std::copy(sim::kImageSignature.begin(), sim::kImageSignature.end(),
              image.begin() + sim::kImageSignatureOffset);
    std::copy(revision.begin(), revision.end(), image.begin() + sim::kImageRevisionOffset);
    return image;
}

inline std::string Text(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

struct Reply {
    bool ok = false;
    DWORD error = 0;
    DWORD returned = 0;
    Bytes buffer;

    std::uint32_t ReturnCode() const { return srb::ReturnCode(buffer).value_or(0xFFFFFFFF); }
};

inline HANDLE Open(const std::wstring& path) {
    return win::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// One request, the buffer as input and as output with the same length.
inline Reply Send(HANDLE handle, DWORD code, Bytes buffer) {
    Reply reply;
    const DWORD size = static_cast<DWORD>(buffer.size());
    reply.ok = win::DeviceIoControl(handle, code, buffer.data(), size, buffer.data(), size,
                                    &reply.returned, nullptr) != FALSE;
    reply.error = reply.ok ? 0 : win::GetLastError();
    reply.buffer = std::move(buffer);
    return reply;
}

inline std::wstring ControllerPath(const sim::Machine& machine, std::size_t controller = 0) {
    return *machine.devices.at(machine.controllers.at(controller).device).interfaces.at(0).path;
}

// Every protocol error of the machine, on drives and machine-wide.
inline std::vector<std::string> AllProtocolErrors(const sim::Machine& machine) {
    std::vector<std::string> all = machine.protocolErrors;
    for (const sim::Drive& drive : machine.drives) {
        all.insert(all.end(), drive.protocolErrors.begin(), drive.protocolErrors.end());
    }
    return all;
}

// ---- inbox "FIRMWARE" requests in a buffer sized for chunks of `chunkSize` bytes

inline Bytes InboxGetInfo(std::size_t chunkSize = 4096) {
    Bytes buffer(inbox_fw::RequestSize(chunkSize));
    EXPECT_TRUE(inbox_fw::FillGetInfoRequest(buffer));
    return buffer;
}

inline Bytes InboxDownload(std::uint64_t offset, std::span<const std::uint8_t> piece,
                           std::size_t chunkSize) {
    Bytes buffer(inbox_fw::RequestSize(chunkSize));
    EXPECT_TRUE(inbox_fw::FillDownloadRequest(buffer, offset, piece));
    return buffer;
}

inline Bytes InboxActivate(std::uint8_t slot, std::size_t chunkSize = 4096) {
    Bytes buffer(inbox_fw::RequestSize(chunkSize));
    EXPECT_TRUE(inbox_fw::FillActivateRequest(buffer, slot));
    return buffer;
}

// Sends the image in pieces of `chunkSize` (the last one shorter when it must be);
// the ReturnCode of every piece, or ~0 for a failed call.
inline std::vector<std::uint32_t> InboxDownloadAll(HANDLE disk, std::span<const std::uint8_t> image,
                                                   std::size_t chunkSize) {
    std::vector<std::uint32_t> codes;
    for (std::size_t offset = 0; offset < image.size(); offset += chunkSize) {
        const std::size_t length = std::min(chunkSize, image.size() - offset);
        const Reply reply = Send(disk, IOCTL_SCSI_MINIPORT,
                                 InboxDownload(offset, image.subspan(offset, length), chunkSize));
        codes.push_back(reply.ok ? reply.ReturnCode() : 0xFFFFFFFF);
    }
    return codes;
}

// ---- information replies in the version 2 layout

struct SlotEntry {
    std::uint8_t number = 0;
    bool readOnly = false;
    std::string revision;  // 8 characters, or empty for a slot that holds nothing
};

struct InfoV2 {
    bool upgradeSupport = true;
    std::uint8_t activeSlot = 0;
    std::uint8_t pendingSlot = 0xFF;
    std::vector<SlotEntry> slots;
};

// A STORAGE_FIRMWARE_INFO_V2 at `at` of a reply, read at the offsets ntddscsi.h gives,
// with the payload limits both simulated drivers report and the 16-byte revisions; the
// rest of the reply, from the end of the table on, must be zero as the request was.
inline void ExpectInfoV2(std::span<const std::uint8_t> reply, std::size_t at,
                         const InfoV2& expected) {
    const std::size_t count = expected.slots.size();
    ASSERT_GE(reply.size(), at + 24 + 24 * count);
    auto u32 = [&](std::size_t offset) { return layout::GetU32(reply, at + offset).value_or(0); };
    EXPECT_EQ(u32(0), 2u) << "Version";
    EXPECT_EQ(u32(4), 24u) << "Size";
    EXPECT_EQ(reply[at + 8], expected.upgradeSupport ? 1 : 0) << "UpgradeSupport";
    EXPECT_EQ(std::size_t{reply[at + 9]}, count) << "SlotCount";
    EXPECT_EQ(reply[at + 10], expected.activeSlot) << "ActiveSlot";
    EXPECT_EQ(reply[at + 11], expected.pendingSlot) << "PendingActivateSlot";
    EXPECT_EQ(u32(12), 0u) << "FirmwareShared and reserved";
    EXPECT_EQ(u32(16), 4096u) << "ImagePayloadAlignment";
    EXPECT_EQ(u32(20), 131072u) << "ImagePayloadMaxSize";
    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(testing::Message() << "slot entry " << i);
        const std::span<const std::uint8_t> entry = reply.subspan(at + 24 + 24 * i, 24);
        const SlotEntry& slot = expected.slots[i];
        EXPECT_EQ(entry[0], slot.number);
        EXPECT_EQ(entry[1], slot.readOnly ? 1 : 0);
        EXPECT_EQ(Text(entry.subspan(2, 6)), std::string(6, '\0'));
        const std::string revision = slot.revision.empty() ? std::string(8, '\0') : slot.revision;
        EXPECT_EQ(Text(entry.subspan(8, 16)), revision + std::string(8, '\0'));
    }
    const std::span<const std::uint8_t> rest = reply.subspan(at + 24 + 24 * count);
    EXPECT_TRUE(std::all_of(rest.begin(), rest.end(), [](std::uint8_t b) { return b == 0; }));
}

// A completed reply to a public-form information request (either driver's): the whole
// 6200 bytes returned with status 0, the request's first 56 bytes as sent but for
// ReturnCode, the table at 56, and `parse`, the program's reader, taking every entry.
template <typename Parse>
void ExpectPublicInfoReply(const Bytes& request, const Reply& reply, const InfoV2& expected,
                           Parse parse) {
    ASSERT_TRUE(reply.ok) << reply.error;
    EXPECT_EQ(reply.returned, 6200u);
    EXPECT_EQ(reply.ReturnCode(), 0u);
    Bytes before(reply.buffer.begin(), reply.buffer.begin() + 56);
    layout::PutU32(before, 20, 0);
    EXPECT_TRUE(before == Bytes(request.begin(), request.begin() + 56));
    ExpectInfoV2(reply.buffer, 56, expected);
    const auto parsed = parse(reply.buffer);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->slots.size(), expected.slots.size());
}

// ---- Intel RST requests

inline Bytes RstDownload(std::uint8_t path, std::uint64_t offset,
                         std::span<const std::uint8_t> piece) {
    Bytes buffer;
    EXPECT_TRUE(rst_fw::FillDownloadRequest(buffer, path, offset, piece));
    return buffer;
}

inline std::vector<std::uint32_t> RstDownloadAll(HANDLE controller, std::uint8_t path,
                                                 std::span<const std::uint8_t> image,
                                                 std::size_t chunkSize) {
    std::vector<std::uint32_t> codes;
    for (std::size_t offset = 0; offset < image.size(); offset += chunkSize) {
        const std::size_t length = std::min(chunkSize, image.size() - offset);
        const Reply reply = Send(controller, IOCTL_SCSI_MINIPORT,
                                 RstDownload(path, offset, image.subspan(offset, length)));
        codes.push_back(reply.ok ? reply.ReturnCode() : 0xFFFFFFFF);
    }
    return codes;
}

// ---- sequences of firmware requests judged against the drive they go to

// One request of a sequence: an information request (the updater's form on the inbox
// path), the public-form information request (inbox only), a download piece or an
// activation.
struct Step {
    enum Kind { kInfo, kPublicInfo, kPiece, kActivate };
    Kind kind = kInfo;
    std::size_t chunk = 0;     // inbox: the buffer is sized for chunks of this many bytes
    std::uint64_t offset = 0;  // a piece: where it starts
    std::size_t size = 0;      // a piece: its BufferSize
    std::uint8_t slot = 0;     // an activation: SlotToActivate
    const char* refused =
        nullptr;  // part of the protocol error it causes; nullptr: it goes through
};
using Steps = std::vector<Step>;

inline Steps Info(std::size_t chunk, const char* refused = nullptr) {
    return {Step{Step::kInfo, chunk, 0, 0, 0, refused}};
}
inline Steps PublicInfo(const char* refused = nullptr) {
    return {Step{Step::kPublicInfo, 0, 0, 0, 0, refused}};
}
inline Steps Piece(std::uint64_t offset, std::size_t size, std::size_t chunk,
                   const char* refused = nullptr) {
    return {Step{Step::kPiece, chunk, offset, size, 0, refused}};
}
inline Steps Activate(std::uint8_t slot, std::size_t chunk, const char* refused = nullptr) {
    return {Step{Step::kActivate, chunk, 0, 0, slot, refused}};
}
// The program's pieces of `chunk` bytes from `from` to `to`, the last one cut to `to`.
inline Steps InOrder(std::size_t chunk, std::uint64_t from = 0,
                     std::uint64_t to = sim::kFirmwareImageSize) {
    Steps steps;
    for (std::uint64_t offset = from; offset < to; offset += chunk) {
        steps.push_back(Piece(offset,
                              static_cast<std::size_t>(std::min<std::uint64_t>(chunk, to - offset)),
                              chunk)[0]);
    }
    return steps;
}
inline Steps Seq(std::initializer_list<Steps> parts) {
    Steps all;
    for (const Steps& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// The bytes of a piece: the image's where the piece lies inside it, else filler.
inline std::span<const std::uint8_t> PieceBytes(const Bytes& image, std::uint64_t offset,
                                                std::size_t size) {
    static const Bytes filler(sim::kFirmwareImageSize, 0x5A);
    if (offset <= image.size() && size <= image.size() - offset) {
        return std::span<const std::uint8_t>(image).subspan(offset, size);
    }
    return std::span<const std::uint8_t>(filler).first(size);
}

// Sends the steps in turn through `handle`, each built by `build`. A step with a
// `refused` text must fail with ERROR_INVALID_PARAMETER and add exactly one protocol
// error, on `drive` and containing that text, without reaching the drive; any other
// step must complete (information and pieces with ReturnCode 0) and add none.
inline void ExpectSteps(HANDLE handle, const sim::Machine& machine, const sim::Drive& drive,
                        const Steps& steps, const std::function<Bytes(const Step&)>& build) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE(testing::Message() << "step " << i << " (offset " << step.offset << ")");
        const std::size_t errors = AllProtocolErrors(machine).size();
        const std::uint32_t requests = drive.downloadRequests;
        const Reply reply = Send(handle, IOCTL_SCSI_MINIPORT, build(step));
        const std::vector<std::string> after = AllProtocolErrors(machine);
        if (step.refused == nullptr) {
            EXPECT_TRUE(reply.ok) << reply.error;
            EXPECT_EQ(after.size(), errors) << (after.empty() ? std::string() : after.back());
            if (step.kind != Step::kActivate) {
                EXPECT_EQ(reply.ReturnCode(), 0u);
            }
            continue;
        }
        EXPECT_FALSE(reply.ok);
        EXPECT_EQ(reply.error, ERROR_INVALID_PARAMETER);
        EXPECT_EQ(drive.downloadRequests, requests) << "a refused request never reaches the drive";
        ASSERT_EQ(after.size(), errors + 1);
        ASSERT_FALSE(drive.protocolErrors.empty());
        EXPECT_NE(drive.protocolErrors.back().find(step.refused), std::string::npos)
            << drive.protocolErrors.back();
    }
}

}  // namespace simtest
