#include "format/page.h"

#include <algorithm>

#include "format/crc.h"
#include "format/signature.h"

namespace salvora {

namespace {

// Where the trailer and the B-tree counts sit in a page of each layout.
struct PagePlaces {
  std::size_t page_size = 0;
  std::size_t trailer = 0;   // ptype, ptypeRepeat, wSig, then CRC and bid in layout order
  std::size_t counts = 0;    // cEnt of a B-tree page
  bool wide_counts = false;  // cEnt and cEntMax are 16-bit
};

std::optional<PagePlaces> places_for(FileLayout layout) {
  switch (layout) {
    case FileLayout::kAnsi: return PagePlaces{512, 500, 496, false};
    case FileLayout::kUnicode: return PagePlaces{512, 496, 488, false};
    case FileLayout::kUnicode4k: return PagePlaces{4096, 4072, 4056, true};
    case FileLayout::kUnknown: break;
  }
  return std::nullopt;
}

// The serialisers write the Unicode layouts only; any other layout is written as Unicode.
PagePlaces written_places(FileLayout layout) {
  return *places_for(layout == FileLayout::kUnicode4k ? layout : FileLayout::kUnicode);
}

}  // namespace

void BtEntry::Serialize(ByteWriter& w) const {
  w.u64(key);
  w.u64(child.bid);
  w.u64(child.ib);
}
BtEntry BtEntry::Parse(ByteReader& r, FileLayout layout) {
  BtEntry e;
  e.key = read_id(r, layout);
  e.child.bid = read_id(r, layout);
  e.child.ib = read_id(r, layout);
  return e;
}

void BbtEntry::Serialize(ByteWriter& w, FileLayout layout) const {
  w.u64(bid);
  w.u64(ib);
  w.u16(cb);
  if (layout == FileLayout::kUnicode4k) w.u16(cb_inflated);
  w.u16(cref);
  w.zeros(layout == FileLayout::kUnicode4k ? 2 : 4);
}
BbtEntry BbtEntry::Parse(ByteReader& r, FileLayout layout) {
  BbtEntry e;
  e.bid = read_id(r, layout);
  e.ib = read_id(r, layout);
  e.cb = r.u16();
  if (layout == FileLayout::kUnicode4k) e.cb_inflated = r.u16();
  e.cref = r.u16();
  if (layout != FileLayout::kAnsi) r.skip(layout == FileLayout::kUnicode4k ? 2 : 4);
  return e;
}

void NbtEntry::Serialize(ByteWriter& w, FileLayout /*layout*/) const {
  w.u64(nid);
  w.u64(bid_data);
  w.u64(bid_sub);
  w.u32(nid_parent);
  w.u32(0);
}
NbtEntry NbtEntry::Parse(ByteReader& r, FileLayout layout) {
  NbtEntry e;
  // Stored zero-extended to 64 bits in the Unicode layouts; only the low half is the NID, and
  // old files leave junk in the upper half.
  e.nid = static_cast<std::uint32_t>(read_id(r, layout));
  e.bid_data = read_id(r, layout);
  e.bid_sub = read_id(r, layout);
  e.nid_parent = r.u32();
  if (layout != FileLayout::kAnsi) r.skip(4);
  return e;
}

std::optional<PageTrailer> parse_page_trailer(Bytes page, FileLayout layout) {
  const auto places = places_for(layout);
  if (!places || page.size() < places->page_size) return std::nullopt;
  ByteReader r(page);
  r.seek(places->trailer);
  PageTrailer t;
  t.ptype = r.u8();
  t.ptype_repeat = r.u8();
  t.sig = r.u16();
  const CrcAndId tail = read_crc_and_id(r, layout);
  t.crc = tail.crc;
  t.bid = tail.id;
  t.crc_ok = t.crc == ComputeCrc(page.first(places->trailer));
  return t;
}

void seal_page(std::vector<std::uint8_t>& page, std::uint8_t ptype, std::uint64_t bid, std::uint64_t ib, bool sign,
               FileLayout layout) {
  const PagePlaces places = written_places(layout);
  const std::size_t t = places.trailer;
  page.resize(places.page_size, 0);
  page[t] = ptype;
  page[t + 1] = ptype;
  store_u16(page, t + 2, sign ? ComputeSignature(ib, bid) : 0);
  store_u32(page, t + 4, ComputeCrc(Bytes(page).first(t)));
  store_u64(page, t + 8, bid);
  // The 4 KB layout's trailer ends in eight bytes no reader interprets; every page of the
  // Outlook files seen so far has 1 there, so ours do too.
  if (places.wide_counts) page[t + 16] = 1;
}

std::vector<std::string> check_page_trailer(Bytes page, std::uint8_t ptype, std::uint64_t bid, std::uint64_t ib,
                                            bool sign, FileLayout layout) {
  std::vector<std::string> out;
  const auto t = parse_page_trailer(page, layout);
  if (!t) {
    out.push_back("page is short");
    return out;
  }
  if (t->ptype != ptype || t->ptype_repeat != ptype) out.push_back("ptype/ptypeRepeat wrong");
  if (t->bid != bid) out.push_back("trailer bid does not match its reference");
  if (!t->crc_ok) out.push_back("CRC does not match");
  if (t->sig != (sign ? ComputeSignature(ib, bid) : 0)) out.push_back("signature wrong");
  return out;
}

std::optional<BtPageHeader> parse_bt_page_header(Bytes page, FileLayout layout) {
  const auto places = places_for(layout);
  if (!places || page.size() < places->page_size) return std::nullopt;
  ByteReader r(page);
  r.seek(places->counts);
  BtPageHeader h;
  h.c_ent = places->wide_counts ? r.u16() : r.u8();
  h.c_ent_max = places->wide_counts ? r.u16() : r.u8();
  h.cb_ent = r.u8();
  h.level = r.u8();
  return h;
}

std::size_t bt_entry_size(const PageGeometry& g, std::uint8_t ptype, std::uint8_t level) {
  if (level > 0) return g.bt_entry_size;
  return ptype == kPtypeNbt ? g.nbt_leaf_entry_size : g.bbt_leaf_entry_size;
}

std::optional<VerifiedBtPage> verify_bt_page(Bytes page, FileLayout layout) {
  const auto trailer = parse_page_trailer(page, layout);
  const auto header = parse_bt_page_header(page, layout);
  if (!trailer || !header || !trailer->crc_ok) return std::nullopt;
  if ((trailer->ptype != kPtypeBbt && trailer->ptype != kPtypeNbt) || trailer->ptype_repeat != trailer->ptype)
    return std::nullopt;
  // The format has at most eight intermediate levels; a count past the entry area is no count.
  constexpr std::uint8_t kMaxLevel = 8;
  const PageGeometry g = geometry_for(layout);
  if (header->level > kMaxLevel || header->c_ent > g.entry_area / bt_entry_size(g, trailer->ptype, header->level))
    return std::nullopt;
  return VerifiedBtPage{trailer->ptype, header->level, header->c_ent, trailer->bid};
}

std::uint8_t BtPage::EntrySize(std::uint8_t ptype, std::uint8_t level) {
  return static_cast<std::uint8_t>(bt_entry_size(geometry_for(FileLayout::kUnicode), ptype, level));
}

std::vector<std::uint8_t> BtPage::Serialize(std::uint64_t bid, std::uint64_t ib, FileLayout layout) const {
  const PagePlaces places = written_places(layout);
  std::vector<std::uint8_t> page(places.page_size, 0);
  std::copy(entries.begin(), entries.begin() + std::min<std::size_t>(entries.size(), places.counts), page.begin());
  std::size_t at = places.counts;
  if (places.wide_counts) {
    store_u16(page, at, c_ent);
    store_u16(page, at + 2, c_ent_max);
    at += 4;
  } else {
    page[at++] = c_ent;
    page[at++] = c_ent_max;
  }
  page[at] = cb_ent;
  page[at + 1] = level;
  seal_page(page, ptype, bid, ib, true, layout);
  return page;
}

std::optional<BtPage> BtPage::Parse(Bytes page, FileLayout layout) {
  const auto header = parse_bt_page_header(page, layout);
  const auto trailer = parse_page_trailer(page, layout);
  if (!header || !trailer) return std::nullopt;
  const std::size_t area = geometry_for(layout).entry_area;
  BtPage p;
  p.ptype = trailer->ptype;
  p.cb_ent = header->cb_ent;
  p.level = header->level;
  if (p.cb_ent == 0 || header->c_ent > area / p.cb_ent || header->c_ent_max > 0xFF) return std::nullopt;
  p.c_ent = static_cast<std::uint8_t>(header->c_ent);
  p.c_ent_max = static_cast<std::uint8_t>(header->c_ent_max);
  p.entries.assign(page.begin(), page.begin() + std::size_t{p.c_ent} * p.cb_ent);
  return p;
}

std::vector<std::uint8_t> serialize_map_page(std::uint8_t ptype, Bytes map, std::uint64_t ib, FileLayout layout) {
  const std::size_t room = written_places(layout).trailer;
  std::vector<std::uint8_t> page(map.begin(), map.begin() + std::min<std::size_t>(map.size(), room));
  seal_page(page, ptype, ib, ib, false, layout);
  return page;
}

}  // namespace salvora
