// The simulated NVMe drive: Identify data, the download and commit rules (on the drive
// model itself, below the storage drivers' checks), faults and what the state file
// reports, the rest driven through the inbox stack as the program drives it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/entry.h"
#include "sim/win32/sha256.h"
#include "sim_drive_support.h"
#include "test_support.h"

namespace {

using simtest::Reply;
using simtest::Send;

constexpr std::size_t kHalfMiB = 524288;  // the chunk of granularity 128
constexpr std::uint32_t kFailedCall = 0xFFFFFFFF;

// A machine with one inbox disk, \\.\PHYSICALDRIVE0, carrying `drive`.
sim::Machine InboxMachine(const std::string& drive) {
    return MachineFrom(R"({"disks": [{"attach": "inbox", "deviceNumber": 0, "drive": )" + drive +
                       "}]}");
}

const std::wstring kDisk = L"\\\\.\\PHYSICALDRIVE0";

Bytes Identify(HANDLE disk) {
    const Reply reply = Send(disk, IOCTL_STORAGE_QUERY_PROPERTY, storage::BuildIdentifyQuery());
    EXPECT_TRUE(reply.ok) << reply.error;
    const auto data = storage::IdentifyData(reply.buffer);
    return Bytes(data.begin(), data.end());
}

std::string Padded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

TEST(SimDriveIdentify, DataCarriesTheDriveRecord) {
    const struct {
        const char* drive;
        std::string sn, mn, fr;
        std::uint8_t ter, mnr, mjr, fwug, frmw;
    } cases[] = {
        // Defaults: three slots, slot 1 read-only, activation after a power cycle.
        {"{}", Padded("KV2311000001", 20), Padded("KORVANE QZRX4C7 1TB", 40), "QZT2VKLA", 0, 3, 1,
         8, 0x07},
        {R"({"sn": "AB\u0000CD", "mn": "M\u00e9", "fr": "QZT3VKLA", "version": "1.4.2",
             "fwug": 255, "slots": [{"number": 1}, {"number": 2}], "activation": "immediate"})",
         Padded(std::string("AB\0CD", 5), 20), Padded("M\xE9", 40), "QZT3VKLA", 2, 4, 1, 255, 0x14},
        {R"({"version": "2.0", "fwug": 0, "slots": [{"number": 1, "readOnly": true}]})",
         Padded("KV2311000001", 20), Padded("KORVANE QZRX4C7 1TB", 40), "QZT2VKLA", 0, 0, 2, 0,
         0x03},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.drive);
        sim::Machine machine = InboxMachine(c.drive);
        sim::MachineInstall install(machine);
        HANDLE disk = simtest::Open(kDisk);
        const Bytes data = Identify(disk);
        win::CloseHandle(disk);
        ASSERT_EQ(data.size(), 4096u);
        EXPECT_EQ(data[0] | data[1] << 8, sim::kMakerVendorId);
        EXPECT_EQ(simtest::Text(nvme::FieldBytes(data, nvme::kSerialNumber)), c.sn);
        EXPECT_EQ(simtest::Text(nvme::FieldBytes(data, nvme::kModelNumber)), c.mn);
        EXPECT_EQ(simtest::Text(nvme::FieldBytes(data, nvme::kFirmwareRevision)), c.fr);
        EXPECT_EQ(data[80], c.ter);
        EXPECT_EQ(data[81], c.mnr);
        EXPECT_EQ(data[82] | data[83] << 8, c.mjr);
        EXPECT_EQ(data[319], c.fwug);
        EXPECT_EQ(data[260], c.frmw);
    }
}

// One piece handed to the drive model directly, below the storage drivers (which
// refuse whatever the program would not send before the drive sees it): its status
// and whether the drive took it.
TEST(SimDriveDownload, PiecesFollowTheNvmeRules) {
    constexpr std::uint64_t kEnd = sim::kFirmwareImageSize;
    const struct {
        const char* version;
        int fwug;
        std::uint64_t offset;
        std::size_t size;
        std::uint32_t status;  // 0 taken, 3 refused
        const char* why;
    } cases[] = {
        {"1.3", 1, 0, 4096, 0, "one granule"},
        {"1.3", 1, 2, 4096, 3, "offset not dword-aligned"},
        {"1.3", 1, 0, 4098, 3, "size not dword-aligned"},
        {"1.3", 1, 0, 0, 3, "an empty piece"},
        {"1.3", 1, 0, 1024, 3, "size below the 4096-byte granule"},
        {"1.3", 255, 1024, 1024, 0, "FWUG 0xFF: dword alignment only"},
        {"1.3", 0, 1024, 1024, 0, "FWUG 0: dword alignment only"},
        {"1.3", 8, 4096, 32768, 3, "offset off the 32 KiB granule"},
        {"1.3", 8, 32768, 4096, 3, "size off the granule, not ending the image"},
        {"1.3", 8, 65536, 65536, 0, "two granules at once"},
        {"1.3", 8, kEnd - 4096, 4096, 3, "ends the image but starts off the granule"},
        {"1.3", 3, kEnd - 8192, 8192, 0, "short last piece of granularity 3"},
        {"1.3", 3, kEnd - 8192, 12288, 3, "a full granule past the end"},
        {"1.3", 1, kEnd, 4096, 3, "starts at the end"},
        {"1.3", 8, 0, kEnd, 0, "the whole image at once"},
        {"1.2", 8, 4096, 4096, 0, "FWUG is not a field before 1.3"},
        {"2.0", 8, 4096, 4096, 3, "a 2.0 drive enforces FWUG: 2.0 is past 1.3"},
        {"2.1", 8, 32768, 32768, 0, "a 2.1 drive takes one granule"},
    };
    const Bytes image = simtest::MakeImage();
    const Bytes tail(12288, 0x5A);  // bytes for pieces that reach past the image
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        sim::Machine machine = InboxMachine(R"({"version": ")" + std::string(c.version) +
                                            R"(", "fwug": )" + std::to_string(c.fwug) + "}");
        sim::Drive& drive = machine.drives[0];
        const std::span<const std::uint8_t> piece =
            c.offset + c.size <= image.size()
                ? std::span<const std::uint8_t>(image).subspan(c.offset, c.size)
                : std::span<const std::uint8_t>(tail).first(c.size);
        EXPECT_EQ(sim::DownloadRuleBreach(drive, c.offset, c.size).empty(), c.status == 0);
        const sim::FirmwareAnswer answer = sim::DownloadFirmwarePiece(drive, c.offset, piece);
        ASSERT_TRUE(answer.Completed());
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(drive.downloadRequests, 1u);
        EXPECT_EQ(drive.download.pieces.size(), c.status == 0 ? 1u : 0u);
        // Only a reply that lied about the drive gets such a piece past the drivers.
        EXPECT_TRUE(drive.protocolErrors.empty());
    }
}

// A piece of one of three images: A (target revision), B (another revision), or A
// without its metadata signature; pieces are 512 KiB, numbered 0 to 3.
struct Piece {
    char image;
    std::size_t index;
};

// Assembly and commit on the drive model directly: the storage drivers let through
// only the program's own order and slot, but the drive takes pieces in any order and
// judges any slot.
TEST(SimDriveCommit, OutcomesByImageSlotAndActivationMode) {
    const std::vector<Piece> kWholeA = {{'A', 0}, {'A', 1}, {'A', 2}, {'A', 3}};
    const struct {
        const char* activation;
        std::vector<Piece> pieces;
        std::uint8_t slot;
        std::uint32_t status;
        const char* revisionNow;
        const char* revisionAfterPowerCycle;
    } cases[] = {
        {"power-cycle", kWholeA, 2, 0x20, "QZT2VKLA", "QZT3VKLA"},
        {"immediate", kWholeA, 3, 0, "QZT3VKLA", "QZT3VKLA"},
        {"power-cycle", kWholeA, 1, 6, "QZT2VKLA", "QZT2VKLA"},  // slot 1 is read-only
        {"power-cycle", kWholeA, 4, 6, "QZT2VKLA", "QZT2VKLA"},  // no slot 4
        {"power-cycle", {}, 2, 7, "QZT2VKLA", "QZT2VKLA"},
        {"power-cycle", {{'A', 0}, {'A', 1}, {'A', 3}}, 2, 7, "QZT2VKLA", "QZT2VKLA"},  // a gap
        {"power-cycle", {{'N', 0}, {'A', 1}, {'A', 2}, {'A', 3}}, 2, 7, "QZT2VKLA", "QZT2VKLA"},
        // Out of order, and the later of two pieces at one offset wins.
        {"power-cycle",
         {{'A', 3}, {'A', 0}, {'A', 2}, {'A', 1}, {'B', 0}},
         2,
         0x20,
         "QZT2VKLA",
         "QZT9TEST"},
    };
    const Bytes a = simtest::MakeImage();
    const Bytes b = simtest::MakeImage("QZT9TEST", 2);
    Bytes unsigned_ = a;
    unsigned_[sim::kImageSignatureOffset] = 'X';
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.activation << ", " << c.pieces.size() << " pieces, slot " << int{c.slot});
        sim::Machine machine =
            InboxMachine(R"({"fwug": 128, "activation": ")" + std::string(c.activation) + "\"}");
        sim::Drive& drive = machine.drives[0];
        Bytes expected = a;
        for (const Piece& piece : c.pieces) {
            const Bytes& image = piece.image == 'A' ? a : piece.image == 'B' ? b : unsigned_;
            const auto bytes =
                std::span<const std::uint8_t>(image).subspan(piece.index * kHalfMiB, kHalfMiB);
            std::copy(bytes.begin(), bytes.end(), expected.begin() + piece.index * kHalfMiB);
            const sim::FirmwareAnswer answer =
                sim::DownloadFirmwarePiece(drive, piece.index * kHalfMiB, bytes);
            EXPECT_EQ(answer.status, 0u);
        }
        const sim::FirmwareAnswer answer = sim::CommitFirmware(drive, c.slot);
        ASSERT_TRUE(answer.Completed());
        EXPECT_EQ(answer.status, c.status);

        EXPECT_EQ(simtest::Text(drive.firmwareRevision), c.revisionNow);
        EXPECT_EQ(simtest::Text(drive.revisionAfterPowerCycle), c.revisionAfterPowerCycle);
        EXPECT_TRUE(drive.protocolErrors.empty());
        const bool committed = c.status == 0 || c.status == 0x20;
        EXPECT_EQ(drive.activations, committed ? 1u : 0u);
        EXPECT_EQ(drive.download.pieces.size(), committed ? 0u : c.pieces.size())
            << "a commit clears the download buffer; a refusal keeps it";
        for (const sim::FirmwareSlot& slot : drive.slots) {
            EXPECT_EQ(slot.image.has_value(), committed && slot.number == c.slot);
            if (slot.image) {
                EXPECT_TRUE(*slot.image == expected);
                EXPECT_EQ(simtest::Text(slot.revision), c.revisionAfterPowerCycle);
            }
        }
        EXPECT_EQ(drive.activeSlot, c.status == 0 ? c.slot : 1);
        EXPECT_EQ(drive.pendingSlot, c.status == 0x20 ? c.slot : 0xFF);
    }
}

// The program's whole sequence on one drive (information, the image in four pieces,
// activation of slot 2) under each fault: the forced answer wins over the drive's
// own handling, and nothing a forced answer covers is stored or committed. After an
// information reply that gave the program no slot, the drivers refuse the rest.
TEST(SimDriveFaults, ForcedAnswersWinOverTheDrive) {
    constexpr std::uint32_t k = kFailedCall;
    const struct {
        const char* faults;
        std::uint32_t info;  // ReturnCode, or kFailedCall
        std::vector<std::uint32_t> pieces;
        std::uint32_t activation;
        std::uint32_t activations;
        std::uint32_t downloadRequests = 4;
    } cases[] = {
        {"{}", 0, {0, 0, 0, 0}, 0x20, 1},
        {R"({"firmwareInfo": "fail"})", k, {0, 0, 0, 0}, 0x20, 1},
        {R"({"firmwareInfo": {"returnCode": 5}})", 5, {k, k, k, k}, k, 0, 0},
        {R"({"download": {"chunk": 2, "fail": true}})", 0, {0, 0, k, 0}, 7, 0},
        {R"({"download": {"chunk": 1, "returnCode": 4}})", 0, {0, 4, 0, 0}, 7, 0},
        {R"({"download": {"chunk": 3, "returnCode": 0}})", 0, {0, 0, 0, 0}, 7, 0},
        {R"({"download": {"chunk": 9, "fail": true}})", 0, {0, 0, 0, 0}, 0x20, 1},
        {R"({"activate": "fail"})", 0, {0, 0, 0, 0}, k, 0},
        {R"({"activate": {"returnCode": 7}})", 0, {0, 0, 0, 0}, 7, 0},
        {R"({"activate": {"returnCode": 32}})", 0, {0, 0, 0, 0}, 0x20, 0},
    };
    const Bytes image = simtest::MakeImage();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults);
        sim::Machine machine =
            InboxMachine(R"({"fwug": 128, "faults": )" + std::string(c.faults) + "}");
        sim::MachineInstall install(machine);
        HANDLE disk = simtest::Open(kDisk);
        const Reply info = Send(disk, IOCTL_SCSI_MINIPORT, simtest::InboxGetInfo(kHalfMiB));
        EXPECT_EQ(info.ok ? info.ReturnCode() : k, c.info);
        if (!info.ok) {
            EXPECT_EQ(info.error, ERROR_GEN_FAILURE);
        }
        EXPECT_EQ(simtest::InboxDownloadAll(disk, image, kHalfMiB), c.pieces);
        const Reply activation =
            Send(disk, IOCTL_SCSI_MINIPORT, simtest::InboxActivate(2, kHalfMiB));
        EXPECT_EQ(activation.ok ? activation.ReturnCode() : k, c.activation);
        win::CloseHandle(disk);
        const sim::Drive& drive = machine.drives[0];
        EXPECT_EQ(drive.downloadRequests, c.downloadRequests);
        EXPECT_EQ(drive.activations, c.activations);
        EXPECT_EQ(simtest::Text(drive.revisionAfterPowerCycle),
                  c.activations == 1 ? "QZT3VKLA" : "QZT2VKLA");
        EXPECT_EQ(drive.protocolErrors.size(), c.downloadRequests == 4 ? 0u : 5u);
    }
}

TEST(SimDriveFaults, IdentifyFailureFailsTheQuery) {
    sim::Machine machine = InboxMachine(R"({"faults": {"identify": "fail"}})");
    sim::MachineInstall install(machine);
    HANDLE disk = simtest::Open(kDisk);
    const Reply reply = Send(disk, IOCTL_STORAGE_QUERY_PROPERTY, storage::BuildIdentifyQuery());
    win::CloseHandle(disk);
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.error, ERROR_GEN_FAILURE);
    EXPECT_TRUE(reply.buffer == storage::BuildIdentifyQuery()) << "a failed call returns nothing";
    EXPECT_TRUE(machine.drives[0].protocolErrors.empty());
}

TEST(SimDriveState, ReportsAssembledSlotsWithTheirHash) {
    sim::Machine machine = InboxMachine(R"({"id": "A", "fwug": 128})");
    sim::MachineInstall install(machine);
    HANDLE disk = simtest::Open(kDisk);
    const Bytes image = simtest::MakeImage();
    simtest::InboxDownloadAll(disk, image, kHalfMiB);
    Send(disk, IOCTL_SCSI_MINIPORT, simtest::InboxActivate(2, kHalfMiB));
    // After the commit a new download starts at offset 0: a piece elsewhere shows in
    // the state.
    Send(disk, IOCTL_SCSI_MINIPORT,
         simtest::InboxDownload(kHalfMiB, std::span<const std::uint8_t>(image).first(kHalfMiB),
                                kHalfMiB));
    win::CloseHandle(disk);

    const nlohmann::json state = ParseJson(sim::StateJson(1602));
    const nlohmann::json& drive = At(state, "drives", 0);
    EXPECT_EQ(At(drive, "id"), "A");
    EXPECT_EQ(At(drive, "firmwareRevision"), "QZT2VKLA");
    EXPECT_EQ(At(drive, "revisionAfterPowerCycle"), "QZT3VKLA");
    EXPECT_EQ(At(drive, "downloadRequests"), 4) << "the refused piece never reached the drive";
    EXPECT_EQ(At(drive, "activations"), 1);
    EXPECT_EQ(At(drive, "slots").size(), 1u) << "only slots holding an image the drive assembled";
    EXPECT_EQ(At(drive, "slots", 0, "number"), 2);
    EXPECT_EQ(At(drive, "slots", 0, "revision"), "QZT3VKLA");
    EXPECT_EQ(At(drive, "slots", 0, "sha256"), sim::Sha256Hex(image));
    EXPECT_EQ(At(drive, "protocolErrors").size(), 1u);
    EXPECT_EQ(At(drive, "protocolErrors", 0),
              "FIRMWARE download request on \\\\.\\PHYSICALDRIVE0: Offset is 524288, expected 0 (a "
              "download starts at offset 0)");
}

// The program against the default machine: every path runs, nothing it sends is
// malformed, and each drive ends as its path says.
TEST(SimDriveDefaultMachine, SoundRunLeavesNoProtocolError) {
    sim::Machine machine = sim::DefaultMachine();
    std::wstring name = L"fwupdate.exe";
    wchar_t* argv[] = {name.data(), nullptr};
    std::int32_t code = 0;
    {
        sim::MachineInstall install(machine);
        ConsoleCapture console;
        code = ToolMain(1, argv);
    }
    // Four drives wait for a reboot; the one already at the target, last in the list,
    // does not make the run "nothing to do".
    EXPECT_EQ(code, 1602);
    EXPECT_EQ(simtest::AllProtocolErrors(machine), std::vector<std::string>{});
    for (const sim::Drive& drive : machine.drives) {
        SCOPED_TRACE(drive.id);
        const bool updated = drive.id == "raid-member-0" || drive.id == "raid-member-1" ||
                             drive.id == "rst-single" || drive.id == "inbox-base";
        EXPECT_EQ(drive.activations, updated ? 1u : 0u);
        EXPECT_EQ(drive.downloadRequests, updated ? 64u : 0u);
        if (updated) {
            EXPECT_EQ(simtest::Text(drive.revisionAfterPowerCycle), "QZT3VKLA");
        }
    }
}

}  // namespace
