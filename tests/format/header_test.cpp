// The file header: the writer's bytes read back, every layout read into one shape, and each rule
// of the format broken once to see that the parser names it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "format/byte_writer.h"
#include "format/crc.h"
#include "format/header.h"
#include "support/ndb_builder.h"

namespace salvora {
namespace {

using testing::ByteVector;
using testing::NdbBuilder;

PstHeader sample_header() {
  PstHeader h;
  h.bid_next_p = 0x1234;
  h.unique = 77;
  h.rgnid.fill(0x400);
  h.rgnid[4] = 0x10042;
  h.file_eof = 0x4400 + 3 * 253952;
  h.amap_last = 0x4400 + 2 * 253952;
  h.amap_free = 4096;
  h.nbt = {0x55, 0x8000};
  h.bbt = {0x56, 0x8200};
  h.crypt_method = 2;
  h.bid_next_b = 0x4444;
  return h;
}

ParsedHeader parse(Bytes bytes, std::vector<std::string>* found = nullptr) {
  Findings findings(Tolerance::kStrict);
  ParsedHeader p = parse_header(bytes, findings);
  if (found) *found = findings.take();
  return p;
}

TEST(Header, UnicodeRoundTrip) {
  const PstHeader h = sample_header();
  const auto bytes = h.Serialize();
  ASSERT_EQ(bytes.size(), kHeaderSize);
  std::vector<std::string> found;
  const ParsedHeader p = parse(bytes, &found);
  EXPECT_TRUE(found.empty()) << found.front();
  EXPECT_TRUE(p.magic_ok && p.complete && p.crc_partial_ok && p.crc_full_ok);
  EXPECT_EQ(p.layout, FileLayout::kUnicode);
  EXPECT_EQ(p.header.rgnid, h.rgnid);
  EXPECT_EQ(p.header.nbt, h.nbt);
  EXPECT_EQ(p.header.bbt, h.bbt);
  EXPECT_EQ(p.header.bid_next_b, h.bid_next_b);
  EXPECT_EQ(p.header.bid_next_p, h.bid_next_p);
  EXPECT_EQ(p.header.file_eof, h.file_eof);
  EXPECT_EQ(p.header.amap_last, h.amap_last);
  EXPECT_EQ(p.header.amap_free, h.amap_free);
  EXPECT_EQ(p.header.unique, h.unique);
  EXPECT_EQ(p.header.crypt_method, h.crypt_method);
  EXPECT_EQ(p.header.amap_valid, h.amap_valid);
}

// A byte inside both CRC ranges breaks both; one past the partial range only the full one.
TEST(Header, CrcRangesAreTheFormats) {
  auto bytes = sample_header().Serialize();
  std::vector<std::string> found;
  bytes[100] ^= 1;
  parse(bytes, &found);
  EXPECT_EQ(found, (std::vector<std::string>{"header: dwCRCPartial does not match", "header: dwCRCFull does not match"}));
  bytes[100] ^= 1;
  bytes[517] ^= 1;
  const ParsedHeader p = parse(bytes, &found);
  EXPECT_EQ(found, std::vector<std::string>{"header: dwCRCFull does not match"});
  EXPECT_TRUE(p.crc_partial_ok);
  EXPECT_FALSE(p.crc_full_ok);
}

// Each rule broken alone (CRCs recomputed), with the finding it must give.
TEST(Header, EachBrokenRuleIsOneFinding) {
  struct Case {
    const char* finding;
    std::function<void(std::vector<std::uint8_t>&)> damage;
  };
  const std::vector<Case> cases = {
      {"header: unknown wMagicClient", [](auto& b) { store_u16(b, 8, 0x4241); }},
      {"header: bPlatformCreate/bPlatformAccess not 1", [](auto& b) { b[15] = 2; }},
      {"header: rgbFM/rgbFP not all 0xFF", [](auto& b) { b[511] = 0; }},
      {"header: bSentinel is not 0x80", [](auto& b) { b[512] = 0x81; }},
      {"header: unknown bCryptMethod", [](auto& b) { b[513] = 3; }},
      {"header: cbPMapFree is not 0", [](auto& b) { store_u64(b, 208, 64); }},
      {"header: fAMapValid is neither 0 nor 2", [](auto& b) { b[248] = 1; }},
      {"header: bidNextB is not a multiple of 4", [](auto& b) { store_u64(b, 516, 0x4445); }},
  };
  for (const auto& c : cases) {
    auto bytes = sample_header().Serialize();
    c.damage(bytes);
    store_u32(bytes, 4, ComputeCrc(Bytes(bytes).subspan(8, 471)));
    store_u32(bytes, 524, ComputeCrc(Bytes(bytes).subspan(8, 516)));
    std::vector<std::string> found;
    parse(bytes, &found);
    EXPECT_EQ(found, std::vector<std::string>{c.finding}) << c.finding;
  }
}

// A short or foreign file still parses, as zeros, and says so; it is never read past its end.
TEST(Header, ShortAndForeignBytes) {
  auto bytes = sample_header().Serialize();
  bytes.resize(300);
  ParsedHeader p = parse(bytes);
  EXPECT_TRUE(p.magic_ok);
  EXPECT_FALSE(p.complete);
  EXPECT_EQ(p.header.bid_next_b, 0u);
  EXPECT_EQ(p.header.nbt, sample_header().nbt);

  std::vector<std::string> found;
  const std::vector<std::uint8_t> text(564, 'x');
  p = parse(text, &found);
  EXPECT_FALSE(p.magic_ok);
  EXPECT_EQ(p.layout, FileLayout::kUnknown);
  EXPECT_TRUE(found.empty());
}

// An ANSI header written field by field with a distinct value in each: every field lands where
// the 32-bit layout keeps it.
TEST(Header, AnsiFieldsByOffset) {
  ByteWriter w;
  w.u32(kHeaderMagic);
  w.u32(0);  // dwCRCPartial, below
  w.u16(kClientMagicPst);
  w.u16(14);
  w.u16(19);
  w.u8(1);
  w.u8(1);
  w.u32(0);
  w.u32(0);
  w.u32(0x1004);  // bidNextB
  w.u32(0x2005);  // bidNextP
  w.u32(0x3006);  // dwUnique
  for (std::uint32_t i = 0; i < 32; ++i) w.u32(0x400 + i);
  w.u32(0);       // ROOT.dwReserved
  w.u32(0x50000); // ibFileEof
  w.u32(0x44000); // ibAMapLast
  w.u32(0x7000);  // cbAMapFree
  w.u32(0);       // cbPMapFree
  w.u32(0x8008);  // BREFNBT
  w.u32(0x9000);
  w.u32(0xA00C);  // BREFBBT
  w.u32(0xB000);
  w.u8(2);        // fAMapValid
  w.zeros(3);
  for (int i = 0; i < 256; ++i) w.u8(0xFF);
  w.u8(0x80);
  w.u8(1);        // bCryptMethod
  w.pad_to(512);
  auto bytes = w.take();
  store_u32(bytes, 4, ComputeCrc(Bytes(bytes).subspan(8, 471)));
  std::vector<std::string> found;
  const ParsedHeader p = parse(bytes, &found);
  EXPECT_TRUE(found.empty()) << found.front();
  EXPECT_EQ(p.layout, FileLayout::kAnsi);
  EXPECT_TRUE(p.complete && p.crc_partial_ok && p.crc_full_ok);
  const PstHeader& h = p.header;
  EXPECT_EQ(h.bid_next_b, 0x1004u);
  EXPECT_EQ(h.bid_next_p, 0x2005u);
  EXPECT_EQ(h.unique, 0x3006u);
  EXPECT_EQ(h.rgnid[0], 0x400u);
  EXPECT_EQ(h.rgnid[31], 0x41Fu);
  EXPECT_EQ(h.file_eof, 0x50000u);
  EXPECT_EQ(h.amap_last, 0x44000u);
  EXPECT_EQ(h.amap_free, 0x7000u);
  EXPECT_EQ(h.nbt, (Bref{0x8008, 0x9000}));
  EXPECT_EQ(h.bbt, (Bref{0xA00C, 0xB000}));
  EXPECT_EQ(h.amap_valid, 2);
  EXPECT_EQ(h.crypt_method, 1);
}

// The header of each layout a source can have reads into the same fields.
TEST(Header, EveryLayoutReadsIntoOneShape) {
  for (FileLayout layout : {FileLayout::kAnsi, FileLayout::kUnicode, FileLayout::kUnicode4k}) {
    NdbBuilder b(layout, CryptMethod::kPermute);
    b.AddNode(Nid(0x21), b.AddBlock(ByteVector(40, 7)), Bid(), Nid());
    const ByteVector file = b.Build();
    std::vector<std::string> found;
    const ParsedHeader p = parse(file, &found);
    EXPECT_EQ(p.layout, layout) << layout_name(layout);
    EXPECT_TRUE(p.magic_ok && p.complete && p.crc_partial_ok && p.crc_full_ok) << layout_name(layout);
    EXPECT_EQ(p.header.magic_client, kClientMagicOst);
    EXPECT_EQ(p.header.crypt_method, 1);
    EXPECT_EQ(p.header.nbt.bid, 0x100u);
    EXPECT_EQ(p.header.bbt.bid, 0x101u);
    EXPECT_EQ(p.header.file_eof, file.size());
    EXPECT_GT(p.header.nbt.ib, 0u);
    EXPECT_GT(p.header.bbt.ib, 0u);
    EXPECT_LT(p.header.nbt.ib, file.size());
    EXPECT_LT(p.header.bbt.ib, file.size());
  }
}

}  // namespace
}  // namespace salvora
