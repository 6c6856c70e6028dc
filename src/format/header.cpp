#include "format/header.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "format/byte_writer.h"
#include "format/crc.h"

namespace salvora {

namespace {

// The CRCs cover fixed ranges that start after dwCRCPartial; the partial range is a prefix of
// the full one, so both follow every change.
constexpr std::size_t kCrcStart = 8;
constexpr std::size_t kCrcPartialLength = 471;
constexpr std::size_t kCrcFullLength = 516;

void read_unicode(ByteReader& r, ParsedHeader& p, bool& platform_ok, bool& fm_ok, std::uint8_t& sentinel) {
  PstHeader& h = p.header;
  platform_ok = r.u8() == 1;
  platform_ok = (r.u8() == 1) && platform_ok;
  r.skip(8 + 8);  // dwReserved1, dwReserved2, bidUnused
  h.bid_next_p = r.u64();
  h.unique = r.u32();
  for (auto& n : h.rgnid) n = r.u32();
  r.skip(8 + 4);  // qwUnused, ROOT.dwReserved
  h.file_eof = r.u64();
  h.amap_last = r.u64();
  h.amap_free = r.u64();
  h.pmap_free = r.u64();
  h.nbt.bid = r.u64();
  h.nbt.ib = r.u64();
  h.bbt.bid = r.u64();
  h.bbt.ib = r.u64();
  h.amap_valid = r.u8();
  r.skip(3 + 4);  // bReserved, wReserved, dwAlign
  for (int i = 0; i < 256; ++i) fm_ok = (r.u8() == 0xFF) && fm_ok;
  sentinel = r.u8();
  h.crypt_method = r.u8();
  r.skip(2);
  h.bid_next_b = r.u64();
  p.crc_full = r.u32();
}

void read_ansi(ByteReader& r, ParsedHeader& p, bool& platform_ok, bool& fm_ok, std::uint8_t& sentinel) {
  PstHeader& h = p.header;
  platform_ok = r.u8() == 1;
  platform_ok = (r.u8() == 1) && platform_ok;
  r.skip(4 + 4);  // dwReserved1, dwReserved2
  h.bid_next_b = r.u32();
  h.bid_next_p = r.u32();
  h.unique = r.u32();
  for (auto& n : h.rgnid) n = r.u32();
  r.skip(4);  // ROOT.dwReserved
  h.file_eof = r.u32();
  h.amap_last = r.u32();
  h.amap_free = r.u32();
  h.pmap_free = r.u32();
  h.nbt.bid = r.u32();
  h.nbt.ib = r.u32();
  h.bbt.bid = r.u32();
  h.bbt.ib = r.u32();
  h.amap_valid = r.u8();
  r.skip(3);  // bReserved, wReserved
  for (int i = 0; i < 256; ++i) fm_ok = (r.u8() == 0xFF) && fm_ok;
  sentinel = r.u8();
  h.crypt_method = r.u8();
}

}  // namespace

std::vector<std::uint8_t> PstHeader::Serialize() const {
  ByteWriter w(kHeaderSize);
  w.u32(kHeaderMagic);
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
  store_u32(out, 4, ComputeCrc(Bytes(out).subspan(kCrcStart, kCrcPartialLength)));
  store_u32(out, 524, ComputeCrc(Bytes(out).subspan(kCrcStart, kCrcFullLength)));
  return w.take();
}

ParsedHeader parse_header(Bytes data, Findings& findings) {
  // Work on a zero-filled copy of the largest header, so that a short file reads as zeros.
  std::array<std::uint8_t, kHeaderSize> copy{};
  // (An empty file has no bytes to copy, and may have no buffer at all.)
  if (!data.empty()) std::memcpy(copy.data(), data.data(), std::min<std::size_t>(data.size(), copy.size()));
  const Bytes b(copy.data(), copy.size());

  ParsedHeader p;
  PstHeader& h = p.header;
  ByteReader r(b);
  p.magic_ok = r.u32() == kHeaderMagic;
  p.crc_partial = r.u32();
  h.magic_client = r.u16();
  h.version = r.u16();
  h.version_client = r.u16();
  p.crc_partial_ok = ComputeCrc(b.subspan(kCrcStart, kCrcPartialLength)) == p.crc_partial;
  p.layout = layout_for_version(h.version);
  // Version 37 files use the Unicode layout; accept them when the header checks out.
  if (p.layout == FileLayout::kUnknown && h.version == 37 && p.crc_partial_ok) p.layout = FileLayout::kUnicode;

  bool platform_ok = true, fm_ok = true;
  std::uint8_t sentinel = 0;
  if (p.layout == FileLayout::kAnsi) {
    read_ansi(r, p, platform_ok, fm_ok, sentinel);
    p.crc_full_ok = p.crc_partial_ok;
    p.complete = data.size() >= r.pos();
  } else if (p.layout != FileLayout::kUnknown || h.version >= 23) {
    // A version this program does not know is read with the Unicode fields, which later
    // versions have kept, for the caller to report on; its layout stays unknown.
    read_unicode(r, p, platform_ok, fm_ok, sentinel);
    p.crc_full_ok = ComputeCrc(b.subspan(kCrcStart, kCrcFullLength)) == p.crc_full;
    p.complete = data.size() >= kHeaderSize;
  } else {
    return p;
  }
  if (!p.magic_ok) return p;

  const auto report = [&](const char* what) { findings.add(std::string("header: ") + what); };
  if (!p.crc_partial_ok) report("dwCRCPartial does not match");
  if (!p.crc_full_ok && p.layout != FileLayout::kAnsi) report("dwCRCFull does not match");
  if (h.magic_client != kClientMagicPst && h.magic_client != kClientMagicOst) report("unknown wMagicClient");
  if (!platform_ok) report("bPlatformCreate/bPlatformAccess not 1");
  if (!fm_ok) report("rgbFM/rgbFP not all 0xFF");
  if (sentinel != 0x80) report("bSentinel is not 0x80");
  if (h.crypt_method > 2) report("unknown bCryptMethod");
  if (h.pmap_free != 0) report("cbPMapFree is not 0");
  if (h.amap_valid != 2 && h.amap_valid != 0) report("fAMapValid is neither 0 nor 2");
  if (h.bid_next_b % 4 != 0) report("bidNextB is not a multiple of 4");
  return p;
}

}  // namespace salvora
