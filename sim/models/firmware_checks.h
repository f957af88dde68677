// What the two storage drivers share about a firmware request: the checks of its
// SRB_IO_CONTROL header, request block and activation payload, the download piece
// and its order, the delivery of the operation to the drive, and the answer with a
// scenario's reply fault applied. Each driver keeps its own offsets and slot rule.
// The rules themselves are written once, in sim/README.md ("The storage drivers and
// the drive"). Internal to sim/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "drivers/firmware_request.h"
#include "drivers/srb_io_control.h"
#include "sim/models/io.h"
#include "sim/models/machine.h"
#include "sim/models/nvme_drive.h"
#include "sim/models/request_check.h"

namespace sim {

// The SRB_IO_CONTROL of a miniport request: one buffer both ways, the fixed fields,
// ReturnCode 0 and Length the rest of the buffer.
void CheckSrbHeader(RequestCheck& check, const IoCall& call, const sdk::SRB_IO_CONTROL& header,
                    const srb::RequestFamily& family);

// FIRMWARE_REQUEST_BLOCK: version, size and flags, and a data buffer from
// `payloadOffset` to the end of the request.
void CheckRequestBlock(RequestCheck& check, const sdk::FIRMWARE_REQUEST_BLOCK& block,
                       std::size_t requestSize, std::size_t payloadOffset);

// STORAGE_FIRMWARE_ACTIVATE at `at`, and zero bytes after SlotToActivate. The slot
// itself is each driver's rule.
void CheckActivatePayload(RequestCheck& check, std::span<const std::uint8_t> in, std::size_t at);

// The body of a version 2 information request at `at`: STORAGE_FIRMWARE_INFO_V2 with
// Version 2 and Size 24, and nothing else to the end of the request.
void CheckInfoV2Body(RequestCheck& check, std::span<const std::uint8_t> in, std::size_t at);

// A download piece against the drive it goes to: where it starts and how long it is.
// With `zeroStartsAnew` a piece at offset 0 begins a new download whatever came before.
void CheckPiece(RequestCheck& check, const Drive& drive, std::uint64_t offset,
                std::uint64_t bufferSize, bool zeroStartsAnew);

// "the drive's granularity 8 x 4096": the chunk size the program must use, as a text.
std::string GranularityText(const Drive& drive);

// A drive's answer to a firmware request, and the reply alteration a scenario fault
// puts on it (nullptr: none).
struct Delivery {
    FirmwareAnswer answer;
    const ReplyAlteration* reply = nullptr;
};

// A download piece that passed every check, to the drive; the next piece is then
// expected where this one ends, whatever the drive answered.
Delivery DeliverPiece(Drive& drive, const fwreq::Download& download);
// An activation that passed every check, to the drive; a new download starts after it.
Delivery DeliverCommit(Drive& drive, std::uint8_t slot);

// The payload limits both drivers report in a version 2 information reply.
inline constexpr std::uint32_t kImagePayloadAlignment = 4096;
inline constexpr std::uint32_t kImagePayloadMaxSize = 131072;

// Answers a version 2 information request that passed every check: the drive's firmware
// information in the version 2 layout at `at` with the drive's status, the whole buffer
// returned, then the drive's firmwareInfo reply alteration. A forced answer leaves the
// data area as sent. The updater never asks in this form, so what the drivers hold its
// next requests to stays as it was.
DWORD AnswerInfoV2(IoCall& call, const Drive& drive, std::size_t at);

// Completes a miniport request: the request as sent with `returnCode` in ReturnCode,
// the whole buffer returned. Only for a request whose SRB_IO_CONTROL was read: the
// system buffer, never shorter than the request, then holds ReturnCode.
void CompleteMiniport(IoCall& call, std::uint32_t returnCode);
// Answers with the drive's delivery: a failed one fails the call; a completed one
// completes it with the drive's status, and then the reply alteration applies.
DWORD AnswerMiniport(IoCall& call, const Delivery& delivery);

// An Identify reply completed with its data at `dataOffset`: the program is held from
// now on to the chunk size the data gives as the caller will read it.
void NoteIdentifyReply(Drive& drive, const IoCall& call, std::size_t dataOffset);

}  // namespace sim
