// The reply-reader targets: each reader of a driver's reply run on a buffer of exactly
// the size the input chooses (so that AddressSanitizer sees any read past it), with
// its results held against the bytes, read independently at the offsets of the
// Windows structures:
//
//   srb_reply       srb::ReadSrbIoControl, ReturnCode, ReturnCodeOrFailure, HasSignature
//   firmware_reply  inbox_fw::ParseFirmwareInfo and the fwreq::Read* readers (at an
//                   offset the input chooses), through the inbox and RST request layouts
//   csmi_reply      csmi::DriveCount, MemberPathNumber, MemberRecordCapacity, RaidSetIndex
//   identify_reply  nvme::IdentifyText, FieldBytes, DownloadGranularityOf; storage::
//                   IdentifyData, ReadDeviceNumber, ReadProtocolQuery; rst_nvme::
//                   IdentifyData, ReadPassThroughRequest; rst_address::ReadAddress
//
// Where a writer exists for what a reader reads, the written value must read back.
#pragma once

#include <cstdint>
#include <span>

#include "fuzz/harness/findings.h"

namespace fuzzreaders {

fuzzharness::Findings CheckSrbReply(std::span<const std::uint8_t> input);
fuzzharness::Findings CheckFirmwareReply(std::span<const std::uint8_t> input);
fuzzharness::Findings CheckCsmiReply(std::span<const std::uint8_t> input);
fuzzharness::Findings CheckIdentifyReply(std::span<const std::uint8_t> input);

}  // namespace fuzzreaders
