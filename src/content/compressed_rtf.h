#pragma once
// Compressed RTF (MS-OXRTFCP): the form of PR_RTF_COMPRESSED (0x1009). "LZFu" streams run
// through the 4 KB dictionary; "MELA" streams hold the RTF as it is.

#include <cstdint>
#include <optional>
#include <string>

#include "content/property_block.h"
#include "format/byte_reader.h"

namespace salvora {

inline constexpr std::uint32_t kRtfCompressed = 0x75465A4C;    // "LZFu"
inline constexpr std::uint32_t kRtfUncompressed = 0x414C454D;  // "MELA"

enum class RtfStatus {
  kOk,
  kShortHeader,      // fewer than 16 bytes: nothing to decode
  kUnknownType,      // neither LZFu nor MELA
  kTruncated,        // the stream ended before its end-of-stream reference (output kept)
};

struct RtfResult {
  RtfStatus status = RtfStatus::kShortHeader;
  ByteVector rtf;             // what was decoded, also when the stream was cut short
  bool crc_ok = false;        // LZFu: the CRC over the compressed contents matched
  bool size_ok = false;       // the output has the header's raw size
  std::uint32_t raw_size = 0; // the header's raw size

  // Usable: a known stream type with a header; a wrong CRC or a short stream is tolerated
  // because the text decoded so far is still the user's.
  bool usable() const { return status == RtfStatus::kOk || status == RtfStatus::kTruncated; }
};

// Decodes a PR_RTF_COMPRESSED value in memory.
RtfResult decompress_rtf(Bytes value);

// An RTF document as a PR_RTF_COMPRESSED value: an "LZFu" stream of literals only, which
// every reader decodes, ended by the end-of-stream reference, with its CRC.
ByteVector compress_rtf(Bytes rtf);

// Decodes a value into a file (created or truncated). 0 when the stream was usable and the
// file written, 1 otherwise.
int decompress_rtf(Bytes value, const std::string& output_path);

}  // namespace salvora
