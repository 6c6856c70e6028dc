#pragma once
// Pages: the trailer every page ends with, the B-tree pages of the node and block trees with
// their three entry kinds, and the allocation map pages.
//
// The parsers read every layout (ANSI 512-byte pages with 32-bit ids, Unicode 512-byte pages,
// Unicode 4 KB pages); the serialisers write the two Unicode layouts the writer produces. Entry
// parsers read the entry's own bytes only; what a walk makes of a page (learning the depth,
// stopping at stale entries, checking every rule) is the walker's.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/byte_reader.h"
#include "format/byte_writer.h"
#include "format/header.h"
#include "format/layout.h"

namespace salvora {

// Key and child page of an intermediate B-tree page.
struct BtEntry {
  static constexpr std::uint8_t kSize = 24;
  std::uint64_t key = 0;
  Bref child;
  void Serialize(ByteWriter& w) const;
  static BtEntry Parse(ByteReader& r, FileLayout layout = FileLayout::kUnicode);
  bool operator==(const BtEntry&) const = default;
};

// A block tree leaf entry.
struct BbtEntry {
  static constexpr std::uint8_t kSize = 24;
  std::uint64_t bid = 0;
  std::uint64_t ib = 0;
  std::uint16_t cb = 0;
  std::uint16_t cref = 2;
  // The 4 KB layout only: the block's size once inflated (cb is then the stored size); 0 in
  // the other layouts, which store no compressed blocks.
  std::uint16_t cb_inflated = 0;
  std::uint64_t key() const { return bid; }
  // The 4 KB layout keeps cb_inflated beside cb; the others have four bytes of padding there.
  void Serialize(ByteWriter& w, FileLayout layout = FileLayout::kUnicode) const;
  static BbtEntry Parse(ByteReader& r, FileLayout layout = FileLayout::kUnicode);
  bool operator==(const BbtEntry&) const = default;
};

// A node tree leaf entry.
struct NbtEntry {
  static constexpr std::uint8_t kSize = 32;
  std::uint32_t nid = 0;
  std::uint64_t bid_data = 0;
  std::uint64_t bid_sub = 0;
  std::uint32_t nid_parent = 0;
  std::uint64_t key() const { return nid; }
  // The same in both Unicode layouts.
  void Serialize(ByteWriter& w, FileLayout layout = FileLayout::kUnicode) const;
  static NbtEntry Parse(ByteReader& r, FileLayout layout = FileLayout::kUnicode);
  bool operator==(const NbtEntry&) const = default;
};

// The trailer at the end of every page, wherever its layout puts it.
struct PageTrailer {
  std::uint8_t ptype = 0;
  std::uint8_t ptype_repeat = 0;
  std::uint16_t sig = 0;
  std::uint32_t crc = 0;
  std::uint64_t bid = 0;
  bool crc_ok = false;  // the stored CRC matches the bytes it covers
};
// Empty when the bytes are shorter than a page of the layout.
std::optional<PageTrailer> parse_page_trailer(Bytes page, FileLayout layout);

// Sizes the page to the layout's page size and writes ptype, signature, CRC and bid into its
// trailer (a Unicode layout). Map pages have signature 0 (sign = false).
void seal_page(std::vector<std::uint8_t>& page, std::uint8_t ptype, std::uint64_t bid, std::uint64_t ib, bool sign,
               FileLayout layout = FileLayout::kUnicode);
// Every mismatch of a Unicode page's trailer against the expected type, bid and offset.
std::vector<std::string> check_page_trailer(Bytes page, std::uint8_t ptype, std::uint64_t bid, std::uint64_t ib,
                                            bool sign, FileLayout layout = FileLayout::kUnicode);

// The counts and sizes a B-tree page keeps before its trailer.
struct BtPageHeader {
  std::size_t c_ent = 0;
  std::size_t c_ent_max = 0;
  std::uint8_t cb_ent = 0;
  std::uint8_t level = 0;
};
// Empty when the bytes are shorter than a page of the layout.
std::optional<BtPageHeader> parse_bt_page_header(Bytes page, FileLayout layout);

// Bytes of one entry of a B-tree page of this type (kPtypeBbt or kPtypeNbt) and level.
std::size_t bt_entry_size(const PageGeometry& g, std::uint8_t ptype, std::uint8_t level);

// Entry i of a B-tree page whose entries take `size` bytes each, read by the entry kind's own
// parser (BtEntry, BbtEntry, NbtEntry); all zero when the entry does not lie inside the bytes.
template <class Entry>
Entry parse_bt_entry(Bytes page, std::size_t i, std::size_t size, FileLayout layout) {
  const bool inside = size != 0 && i < page.size() / size;
  ByteReader r(inside ? page.subspan(i * size, size) : Bytes{});
  return Entry::Parse(r, layout);
}

// A B-tree page whose trailer vouches for it: the type is a B-tree type and repeated, the CRC
// over everything before the trailer matches, the level is one the format allows (at most eight
// intermediate levels) and the entry count fits the entry area. Such a page is as its writer
// left it, so its level and count can be believed, and entries behind the count are leftovers.
struct VerifiedBtPage {
  std::uint8_t ptype = 0;  // kPtypeBbt or kPtypeNbt
  std::uint8_t level = 0;  // 0 for a leaf
  std::size_t count = 0;   // cEnt
  std::uint64_t bid = 0;   // the page's own id: a later write has a higher one
};
// Empty when the page is short, no B-tree page, or its trailer or counts do not hold.
std::optional<VerifiedBtPage> verify_bt_page(Bytes page, FileLayout layout);

// One B-tree page of a Unicode layout; entries kept as raw bytes of cbEnt each.
struct BtPage {
  std::uint8_t ptype = 0;    // kPtypeBbt or kPtypeNbt
  std::uint8_t level = 0;    // 0 = leaf
  std::uint8_t cb_ent = 0;
  std::uint8_t c_ent_max = 0;
  std::uint8_t c_ent = 0;
  std::vector<std::uint8_t> entries;

  // cbEnt and cEntMax as Outlook writes them for this page type and level (at most 169 in the
  // 4 KB layout, so the counts fit a byte here though that layout stores them in 16 bits).
  static std::uint8_t EntrySize(std::uint8_t ptype, std::uint8_t level);
  static std::uint8_t MaxEntries(std::uint8_t ptype, std::uint8_t level, FileLayout layout = FileLayout::kUnicode) {
    return static_cast<std::uint8_t>(geometry_for(layout).entry_area / EntrySize(ptype, level));
  }

  std::vector<std::uint8_t> Serialize(std::uint64_t bid, std::uint64_t ib, FileLayout layout = FileLayout::kUnicode) const;
  // Parses the page body; trailer checks are separate. Empty when the counts cannot hold.
  static std::optional<BtPage> Parse(Bytes page, FileLayout layout = FileLayout::kUnicode);
};

// AMap, PMap, FMap and FPMap pages: the map (496 bytes in the 512-byte layout, 4072 in the
// 4 KB one) and a trailer whose bid is the offset.
// A map gives each slot of its interval one bit, the first slot the high bit of the first byte.
constexpr std::uint8_t map_slot_mask(std::uint64_t slot) { return static_cast<std::uint8_t>(0x80u >> (slot % 8)); }
inline bool map_slot_set(std::span<const std::uint8_t> map, std::uint64_t slot) {
  return (map[slot / 8] & map_slot_mask(slot)) != 0;
}
inline void set_map_slot(std::span<std::uint8_t> map, std::uint64_t slot) { map[slot / 8] |= map_slot_mask(slot); }

std::vector<std::uint8_t> serialize_map_page(std::uint8_t ptype, Bytes map, std::uint64_t ib,
                                             FileLayout layout = FileLayout::kUnicode);

}  // namespace salvora
