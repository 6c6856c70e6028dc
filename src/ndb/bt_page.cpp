#include "ndb/bt_page.h"

#include "format/crc.h"

namespace salvora {

namespace {

struct TrailerLayout {
  std::size_t count_off = 0, level_off = 0, ptype_off = 0, crc_off = 0, crc_len = 0, bid_off = 0;
  bool wide_count = false;
  bool wide_bid = true;
};

std::optional<TrailerLayout> trailer_layout(FileLayout layout) {
  switch (layout) {
    case FileLayout::kAnsi: return TrailerLayout{496, 499, 500, 508, 500, 504, false, false};
    case FileLayout::kUnicode: return TrailerLayout{488, 491, 496, 500, 496, 504, false, true};
    case FileLayout::kUnicode4k: return TrailerLayout{4056, 4061, 4072, 4076, 4072, 4080, true, true};
    case FileLayout::kUnknown: break;
  }
  return std::nullopt;
}

}  // namespace

std::size_t bt_entry_size(const PageGeometry& g, std::uint8_t ptype, std::uint8_t level) {
  if (level > 0) return g.bt_entry_size;
  return ptype == kPageTypeBlockIndex ? g.bbt_leaf_entry_size : g.nbt_leaf_entry_size;
}

BlockTrailer ParseBlockTrailer(Bytes trailer, FileLayout layout) {
  BlockTrailer out;
  out.cb = load_u16(trailer, 0);
  out.signature = load_u16(trailer, 2);
  // The 32-bit layout has the id before the checksum; the others the other way round.
  if (layout == FileLayout::kAnsi) {
    out.bid = load_u32(trailer, 4);
    out.crc = load_u32(trailer, 8);
  } else {
    out.crc = load_u32(trailer, 4);
    out.bid = load_u64(trailer, 8);
  }
  out.cb_inflated = layout == FileLayout::kUnicode4k ? load_u16(trailer, 18) : out.cb;
  return out;
}

std::optional<BtPageTrailer> VerifiedBtPage(Bytes page, FileLayout layout) {
  const auto t = trailer_layout(layout);
  const PageGeometry g = geometry_for(layout);
  if (!t || page.size() < g.page_size) return std::nullopt;
  const std::uint8_t ptype = page[t->ptype_off];
  if ((ptype != kPageTypeBlockIndex && ptype != kPageTypeNodeIndex) || page[t->ptype_off + 1] != ptype)
    return std::nullopt;
  if (load_u32(page, t->crc_off) != ComputeCrc(page.subspan(0, t->crc_len))) return std::nullopt;
  BtPageTrailer out;
  out.ptype = ptype;
  out.level = page[t->level_off];
  out.count = t->wide_count ? load_u16(page, t->count_off) : page[t->count_off];
  out.bid = t->wide_bid ? load_u64(page, t->bid_off) : load_u32(page, t->bid_off);
  // The format has at most eight intermediate levels; a count past the entry area is no count.
  if (out.level > 8 || out.count > g.entry_area / bt_entry_size(g, ptype, out.level)) return std::nullopt;
  return out;
}

}  // namespace salvora
