#include "pststore/pst/page.h"

#include "format/crc.h"
#include "format/signature.h"
#include "pststore/pst/disk_layout.h"

namespace salvora::pst {

void BtEntry::Serialize(ByteWriter& w) const {
  w.u64(key);
  w.u64(child.bid);
  w.u64(child.ib);
}
BtEntry BtEntry::Parse(ByteReader& r) {
  BtEntry e;
  e.key = r.u64();
  e.child.bid = r.u64();
  e.child.ib = r.u64();
  return e;
}

void BbtEntry::Serialize(ByteWriter& w) const {
  w.u64(bid);
  w.u64(ib);
  w.u16(cb);
  w.u16(cref);
  w.u32(0);
}
BbtEntry BbtEntry::Parse(ByteReader& r) {
  BbtEntry e;
  e.bid = r.u64();
  e.ib = r.u64();
  e.cb = r.u16();
  e.cref = r.u16();
  r.skip(4);
  return e;
}

void NbtEntry::Serialize(ByteWriter& w) const {
  w.u64(nid);
  w.u64(bid_data);
  w.u64(bid_sub);
  w.u32(nid_parent);
  w.u32(0);
}
NbtEntry NbtEntry::Parse(ByteReader& r) {
  NbtEntry e;
  // Stored zero-extended to 64 bits; only the low half is the NID.
  e.nid = static_cast<std::uint32_t>(r.u64());
  e.bid_data = r.u64();
  e.bid_sub = r.u64();
  e.nid_parent = r.u32();
  r.skip(4);
  return e;
}

void SealPage(std::vector<std::uint8_t>& page, std::uint8_t ptype, std::uint64_t bid, std::uint64_t ib, bool sign) {
  page.resize(kPageSize, 0);
  page[496] = ptype;
  page[497] = ptype;
  store_u16(page, 498, sign ? ComputeSignature(ib, bid) : 0);
  store_u32(page, 500, ComputeCrc(Bytes(page).first(496)));
  store_u64(page, 504, bid);
}

PageTrailer ReadPageTrailer(Bytes page) {
  PageTrailer t;
  if (page.size() < kPageSize) return t;
  t.ptype = page[496];
  t.sig = load_u16(page, 498);
  t.crc = load_u32(page, 500);
  t.bid = load_u64(page, 504);
  return t;
}

std::vector<std::string> CheckPageTrailer(Bytes page, std::uint8_t ptype, std::uint64_t bid, std::uint64_t ib, bool sign) {
  std::vector<std::string> out;
  if (page.size() < kPageSize) {
    out.push_back("page is short");
    return out;
  }
  const PageTrailer t = ReadPageTrailer(page);
  if (t.ptype != ptype || page[497] != ptype) out.push_back("ptype/ptypeRepeat wrong");
  if (t.bid != bid) out.push_back("trailer bid does not match its reference");
  if (t.crc != ComputeCrc(page.first(496))) out.push_back("CRC does not match");
  if (t.sig != (sign ? ComputeSignature(ib, bid) : 0)) out.push_back("signature wrong");
  return out;
}

std::uint8_t BtPage::EntrySize(std::uint8_t ptype, std::uint8_t level) {
  if (level > 0) return BtEntry::kSize;
  return ptype == kPtypeNbt ? NbtEntry::kSize : BbtEntry::kSize;
}

std::vector<std::uint8_t> BtPage::Serialize(std::uint64_t bid, std::uint64_t ib) const {
  std::vector<std::uint8_t> page(kPageSize, 0);
  std::copy(entries.begin(), entries.begin() + std::min<std::size_t>(entries.size(), 488), page.begin());
  page[488] = c_ent;
  page[489] = c_ent_max;
  page[490] = cb_ent;
  page[491] = level;
  SealPage(page, ptype, bid, ib, true);
  return page;
}

std::optional<BtPage> BtPage::Parse(Bytes page) {
  if (page.size() < kPageSize) return std::nullopt;
  BtPage p;
  p.ptype = page[496];
  p.c_ent = page[488];
  p.c_ent_max = page[489];
  p.cb_ent = page[490];
  p.level = page[491];
  if (p.cb_ent == 0 || std::size_t{p.c_ent} * p.cb_ent > 488) return std::nullopt;
  p.entries.assign(page.begin(), page.begin() + std::size_t{p.c_ent} * p.cb_ent);
  return p;
}

std::vector<std::uint8_t> SerializeMapPage(std::uint8_t ptype, Bytes map496, std::uint64_t ib) {
  std::vector<std::uint8_t> page(map496.begin(), map496.begin() + std::min<std::size_t>(map496.size(), 496));
  page.resize(kPageSize, 0);
  SealPage(page, ptype, ib, ib, false);
  return page;
}

}  // namespace salvora::pst
