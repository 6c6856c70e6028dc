#pragma once
// 512-byte pages (MS-PST 2.2.2.7): the page trailer, the B-tree pages of the node and block
// trees with their three entry kinds, and the allocation map pages.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/byte_reader.h"
#include "format/byte_writer.h"
#include "pststore/pst/header.h"

namespace salvora::pst {

// 2.2.2.7.7.2: key and child page of an intermediate B-tree page.
struct BtEntry {
  static constexpr std::uint8_t kSize = 24;
  std::uint64_t key = 0;
  Bref child;
  void Serialize(ByteWriter& w) const;
  static BtEntry Parse(ByteReader& r);
  bool operator==(const BtEntry&) const = default;
};

// 2.2.2.7.7.3: a block tree leaf entry.
struct BbtEntry {
  static constexpr std::uint8_t kSize = 24;
  std::uint64_t bid = 0;
  std::uint64_t ib = 0;
  std::uint16_t cb = 0;
  std::uint16_t cref = 2;
  std::uint64_t key() const { return bid; }
  void Serialize(ByteWriter& w) const;
  static BbtEntry Parse(ByteReader& r);
  bool operator==(const BbtEntry&) const = default;
};

// 2.2.2.7.7.4: a node tree leaf entry.
struct NbtEntry {
  static constexpr std::uint8_t kSize = 32;
  std::uint32_t nid = 0;
  std::uint64_t bid_data = 0;
  std::uint64_t bid_sub = 0;
  std::uint32_t nid_parent = 0;
  std::uint64_t key() const { return nid; }
  void Serialize(ByteWriter& w) const;
  static NbtEntry Parse(ByteReader& r);
  bool operator==(const NbtEntry&) const = default;
};

// Trailer checks shared by every page kind.
struct PageTrailer {
  std::uint8_t ptype = 0;
  std::uint16_t sig = 0;
  std::uint32_t crc = 0;
  std::uint64_t bid = 0;
};
// Writes ptype, signature, CRC and bid into the last 16 bytes of a 512-byte page. Map pages
// have signature 0 (sign = false).
void SealPage(std::vector<std::uint8_t>& page, std::uint8_t ptype, std::uint64_t bid, std::uint64_t ib, bool sign);
// Reads a page trailer and reports every mismatch against the expected type, bid and offset.
PageTrailer ReadPageTrailer(Bytes page);
std::vector<std::string> CheckPageTrailer(Bytes page, std::uint8_t ptype, std::uint64_t bid, std::uint64_t ib, bool sign);

// 2.2.2.7.7.1: one B-tree page; entries kept as raw bytes of cbEnt each.
struct BtPage {
  std::uint8_t ptype = 0;    // kPtypeBbt or kPtypeNbt
  std::uint8_t level = 0;    // 0 = leaf
  std::uint8_t cb_ent = 0;
  std::uint8_t c_ent_max = 0;
  std::uint8_t c_ent = 0;
  std::vector<std::uint8_t> entries;

  // cbEnt and cEntMax as Outlook writes them for this page type and level.
  static std::uint8_t EntrySize(std::uint8_t ptype, std::uint8_t level);
  static std::uint8_t MaxEntries(std::uint8_t ptype, std::uint8_t level) { return static_cast<std::uint8_t>(488 / EntrySize(ptype, level)); }

  std::vector<std::uint8_t> Serialize(std::uint64_t bid, std::uint64_t ib) const;
  // Parses the page body; trailer checks are separate. Empty when the counts cannot hold.
  static std::optional<BtPage> Parse(Bytes page);
};

// AMap, PMap, FMap and FPMap pages: 496 bytes of map and a trailer whose bid is the offset.
std::vector<std::uint8_t> SerializeMapPage(std::uint8_t ptype, Bytes map496, std::uint64_t ib);

}  // namespace salvora::pst
