#pragma once
// The Unicode file header with its ROOT (MS-PST 2.2.2.6, 2.2.2.5): 564 bytes at offset 0.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/byte_reader.h"

namespace salvora::pst {

struct Bref {
  std::uint64_t bid = 0;
  std::uint64_t ib = 0;
  bool operator==(const Bref&) const = default;
};

struct PstHeader {
  std::uint16_t magic_client = 0x4D53;  // "SM"; "SO" for an offline store
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

  // The 564 bytes with both CRCs computed.
  std::vector<std::uint8_t> Serialize() const;
};

// A parsed header and what is wrong with its fixed fields. Parsing fails (empty optional) only
// when the bytes are too short or the magic or version say it is no Unicode PST.
struct ParsedHeader {
  PstHeader header;
  std::uint32_t crc_partial = 0;
  std::uint32_t crc_full = 0;
  std::vector<std::string> problems;
};
std::optional<ParsedHeader> ParseHeader(Bytes data);

}  // namespace salvora::pst
