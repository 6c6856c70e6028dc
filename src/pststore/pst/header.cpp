#include "pststore/pst/header.h"

#include "format/byte_writer.h"
#include "format/crc.h"

namespace salvora::pst {

namespace {
constexpr std::uint32_t kMagic = 0x4E444221;  // "!BDN"
}

std::vector<std::uint8_t> PstHeader::Serialize() const {
  ByteWriter w(564);
  w.u32(kMagic);
  w.u32(0);  // dwCRCPartial, below
  w.u16(magic_client);
  w.u16(version);
  w.u16(version_client);
  w.u8(1);  // bPlatformCreate
  w.u8(1);  // bPlatformAccess
  w.u32(0);
  w.u32(0);
  w.u64(0);  // bidUnused
  w.u64(bid_next_p);
  w.u32(unique);
  for (auto n : rgnid) w.u32(n);
  w.u64(0);  // qwUnused
  w.u32(0);  // ROOT.dwReserved
  w.u64(file_eof);
  w.u64(amap_last);
  w.u64(amap_free);
  w.u64(pmap_free);
  w.u64(nbt.bid);
  w.u64(nbt.ib);
  w.u64(bbt.bid);
  w.u64(bbt.ib);
  w.u8(amap_valid);
  w.u8(0);
  w.u16(0);
  w.u32(0);  // dwAlign
  for (int i = 0; i < 256; ++i) w.u8(0xFF);  // rgbFM, rgbFP: deprecated, all ones
  w.u8(0x80);
  w.u8(crypt_method);
  w.u16(0);
  w.u64(bid_next_b);
  w.u32(0);  // dwCRCFull, below
  w.zeros(3 + 1 + 32);
  auto& out = w.data();
  // The partial CRC covers a prefix of the full CRC's range, so both follow every change.
  store_u32(out, 4, ComputeCrc(Bytes(out).subspan(8, 471)));
  store_u32(out, 524, ComputeCrc(Bytes(out).subspan(8, 516)));
  return w.take();
}

std::optional<ParsedHeader> ParseHeader(Bytes data) {
  if (data.size() < 564) return std::nullopt;
  ByteReader r(data);
  if (r.u32() != kMagic) return std::nullopt;
  ParsedHeader p;
  PstHeader& h = p.header;
  p.crc_partial = r.u32();
  h.magic_client = r.u16();
  h.version = r.u16();
  if (h.version < 23) return std::nullopt;
  h.version_client = r.u16();
  const auto platform_create = r.u8();
  const auto platform_access = r.u8();
  r.skip(8 + 8);
  h.bid_next_p = r.u64();
  h.unique = r.u32();
  for (auto& n : h.rgnid) n = r.u32();
  r.skip(8 + 4);
  h.file_eof = r.u64();
  h.amap_last = r.u64();
  h.amap_free = r.u64();
  h.pmap_free = r.u64();
  h.nbt.bid = r.u64();
  h.nbt.ib = r.u64();
  h.bbt.bid = r.u64();
  h.bbt.ib = r.u64();
  h.amap_valid = r.u8();
  r.skip(3 + 4);
  bool fm_ok = true;
  for (int i = 0; i < 256; ++i) fm_ok = (r.u8() == 0xFF) && fm_ok;
  const auto sentinel = r.u8();
  h.crypt_method = r.u8();
  r.skip(2);
  h.bid_next_b = r.u64();
  p.crc_full = r.u32();
  if (!r.ok()) return std::nullopt;

  auto& pr = p.problems;
  if (ComputeCrc(data.subspan(8, 471)) != p.crc_partial) pr.push_back("header: dwCRCPartial does not match");
  if (ComputeCrc(data.subspan(8, 516)) != p.crc_full) pr.push_back("header: dwCRCFull does not match");
  if (h.version != 23) pr.push_back("header: wVer is " + std::to_string(h.version) + ", expected 23");
  if (h.magic_client != 0x4D53 && h.magic_client != 0x4F53) pr.push_back("header: unknown wMagicClient");
  if (platform_create != 1 || platform_access != 1) pr.push_back("header: bPlatformCreate/bPlatformAccess not 1");
  if (!fm_ok) pr.push_back("header: rgbFM/rgbFP not all 0xFF");
  if (sentinel != 0x80) pr.push_back("header: bSentinel is not 0x80");
  if (h.crypt_method > 2) pr.push_back("header: unknown bCryptMethod");
  if (h.pmap_free != 0) pr.push_back("header: cbPMapFree is not 0");
  if (h.amap_valid != 2 && h.amap_valid != 0) pr.push_back("header: fAMapValid is neither 0 nor 2");
  if (h.bid_next_b % 4 != 0) pr.push_back("header: bidNextB is not a multiple of 4");
  return p;
}

}  // namespace salvora::pst
