// Helpers for the tests of the simulated drivers and drive: an image the drive takes,
// and requests sent the way the program sends them (one buffer both ways), built with
// the drivers/ builders so that a test changes only the field it means to break.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
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
#include "sim/machine.h"
#include "sim/nvme_drive.h"
#include "sim/sim.h"

namespace simtest {

using Buffer = std::vector<std::uint8_t>;

// A whole image with the metadata block in place, carrying `revision`; the other
// bytes follow a pattern that differs from image to image by `seed`.
inline Buffer MakeImage(std::string_view revision = "QZT3VKLA", std::uint8_t seed = 1) {
    Buffer image(sim::kFirmwareImageSize);
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
    Buffer buffer;

    std::uint32_t ReturnCode() const { return srb::ReturnCode(buffer).value_or(0xFFFFFFFF); }
};

inline HANDLE Open(const std::wstring& path) {
    return win::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// One request, the buffer as input and as output with the same length.
inline Reply Send(HANDLE handle, DWORD code, Buffer buffer) {
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

inline Buffer InboxGetInfo(std::size_t chunkSize = 4096) {
    Buffer buffer(inbox_fw::RequestSize(chunkSize));
    inbox_fw::FillGetInfoRequest(buffer);
    return buffer;
}

inline Buffer InboxDownload(std::uint64_t offset, std::span<const std::uint8_t> piece,
                            std::size_t chunkSize) {
    Buffer buffer(inbox_fw::RequestSize(chunkSize));
    EXPECT_TRUE(inbox_fw::FillDownloadRequest(buffer, offset, piece));
    return buffer;
}

inline Buffer InboxActivate(std::uint8_t slot, std::size_t chunkSize = 4096) {
    Buffer buffer(inbox_fw::RequestSize(chunkSize));
    inbox_fw::FillActivateRequest(buffer, slot);
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

// ---- Intel RST requests

inline Buffer RstDownload(std::uint8_t path, std::uint64_t offset,
                          std::span<const std::uint8_t> piece) {
    Buffer buffer;
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

}  // namespace simtest
