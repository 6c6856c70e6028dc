#pragma once
// The file header with its ROOT: 564 bytes at offset 0 in the Unicode layouts, 512 in the ANSI
// one. The parser reads every layout into one shape (ANSI fields widened); the serialiser
// writes the Unicode layout, the only one the writer produces.

#include <array>
#include <cstdint>
#include <vector>

#include "format/byte_reader.h"
#include "format/findings.h"
#include "format/layout.h"

namespace salvora {

// A reference to a page or block: its id and file offset.
struct Bref {
  std::uint64_t bid = 0;
  std::uint64_t ib = 0;
  bool operator==(const Bref&) const = default;
};

inline constexpr std::uint32_t kHeaderMagic = 0x4E444221;     // "!BDN"
inline constexpr std::uint16_t kClientMagicPst = 0x4D53;      // "SM"
inline constexpr std::uint16_t kClientMagicOst = 0x4F53;      // "SO"

struct PstHeader {
  std::uint16_t magic_client = kClientMagicPst;
  std::uint16_t version = 23;
  std::uint16_t version_client = 19;
  std::uint64_t bid_next_p = 1;
  std::uint32_t unique = 0;
  std::array<std::uint32_t, 32> rgnid{};
  // ROOT
  std::uint64_t file_eof = 0;
  std::uint64_t amap_last = 0;
  std::uint64_t amap_free = 0;
  std::uint64_t pmap_free = 0;
  Bref nbt;
  Bref bbt;
  std::uint8_t amap_valid = 2;
  std::uint8_t crypt_method = 1;
  std::uint64_t bid_next_b = 4;

  // The 564 bytes of the Unicode layout with both CRCs computed.
  std::vector<std::uint8_t> Serialize() const;
};

// A header as read, whatever its layout, with what its checks found.
struct ParsedHeader {
  PstHeader header;
  bool magic_ok = false;           // dwMagic is "!BDN"
  FileLayout layout = FileLayout::kUnknown;
  bool complete = false;           // the bytes held the whole header of the layout
  std::uint32_t crc_partial = 0;   // as stored
  std::uint32_t crc_full = 0;      // as stored; the ANSI layout has none
  bool crc_partial_ok = false;
  bool crc_full_ok = false;        // the ANSI layout: the partial CRC's verdict
};

// Reads whatever part of the header the bytes hold; missing bytes read as zero, so a short or
// foreign file still gives a header (with magic_ok or complete false). Every field that breaks
// a rule of the format is a finding (prefixed "header: "); the version is the caller's to judge.
ParsedHeader parse_header(Bytes data, Findings& findings);

}  // namespace salvora
