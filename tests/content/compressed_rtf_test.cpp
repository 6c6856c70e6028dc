// Compressed RTF: the MS-OXRTFCP examples, uncompressed streams, the end-of-stream reference
// and damaged values.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "content/compressed_rtf.h"
#include "format/crc.h"
#include "support/ndb_builder.h"

namespace salvora {
namespace {

using Bv = std::vector<std::uint8_t>;

Bv hex(const char* s) {
  Bv out;
  auto nib = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (; *s; ++s) {
    if (*s == ' ') continue;
    out.push_back(static_cast<std::uint8_t>(nib(s[0]) * 16 + nib(s[1])));
    ++s;
  }
  return out;
}

std::string text(const Bv& b) { return std::string(b.begin(), b.end()); }

const char* kHelloWorld =
    "2D000000 2B000000 4C5A4675 F1C5C7A7"
    "03000A00 72637067 31323542 320AF320 68656C09 00206277 05B06C64 7D0A800F A0";
const std::string kHelloWorldRtf = "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n";

TEST(CompressedRtf, MsOxrtfcpExamples) {
  const RtfResult hello = decompress_rtf(hex(kHelloWorld));
  EXPECT_EQ(hello.status, RtfStatus::kOk);
  EXPECT_EQ(text(hello.rtf), kHelloWorldRtf);
  EXPECT_TRUE(hello.crc_ok);
  EXPECT_TRUE(hello.size_ok);

  // A reference that overlaps the write position repeats what it has just written.
  const Bv wxyz = hex("1A000000 1C000000 4C5A4675 E2D44B51 41000420 5758595A 0D6E7D01 0EB0");
  const RtfResult r = decompress_rtf(wxyz);
  EXPECT_EQ(r.status, RtfStatus::kOk);
  EXPECT_EQ(text(r.rtf), "{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}");
  EXPECT_TRUE(r.size_ok);
  EXPECT_EQ(r.crc_ok, ComputeCrc(Bytes(wxyz).subspan(16)) == 0x514BD4E2u);
}

TEST(CompressedRtf, UncompressedStreamIsCopiedAsItIs) {
  const std::string rtf = "{\\rtf1\\ansi plain \xff\x01\x02 stored}";
  Bv v;
  for (std::uint32_t n : {static_cast<std::uint32_t>(rtf.size() + 12), static_cast<std::uint32_t>(rtf.size()),
                          kRtfUncompressed, 0u}) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  }
  v.insert(v.end(), rtf.begin(), rtf.end());
  const RtfResult r = decompress_rtf(v);
  EXPECT_EQ(r.status, RtfStatus::kOk);
  EXPECT_EQ(text(r.rtf), rtf);
  EXPECT_TRUE(r.crc_ok);
}

TEST(CompressedRtf, DamagedValues) {
  const Bv good = hex(kHelloWorld);
  struct Case {
    const char* what;
    Bv value;
    RtfStatus status;
    std::string rtf;  // what is kept
    bool crc_ok;
  };
  Bv padded = good;  // padding behind the end reference is never output
  padded.insert(padded.end(), {'}', '}', '}', 0});
  padded[0] = static_cast<std::uint8_t>(padded[0] + 4);
  Bv bad_crc = good;
  bad_crc[12] ^= 1;
  Bv cut(good.begin(), good.begin() + 30);  // ends inside the stream
  Bv unknown = good;
  unknown[8] = 'X';
  const Case cases[] = {
      {"padding after the end", padded, RtfStatus::kOk, kHelloWorldRtf, false},
      {"wrong CRC is tolerated", bad_crc, RtfStatus::kOk, kHelloWorldRtf, false},
      {"cut short", cut, RtfStatus::kTruncated, "{\\rtf1\\ansi\\ansicpg1252", false},
      {"unknown type", unknown, RtfStatus::kUnknownType, "", false},
      {"header only in part", Bv(good.begin(), good.begin() + 15), RtfStatus::kShortHeader, "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const RtfResult r = decompress_rtf(c.value);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(text(r.rtf), c.rtf);
    EXPECT_EQ(r.crc_ok, c.crc_ok);
  }
}

TEST(CompressedRtf, WritesTheFile) {
  const std::string path = testing::TestTempDir() + "/temp.rtf";
  ASSERT_EQ(decompress_rtf(hex(kHelloWorld), path), 0);
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kHelloWorldRtf);
  EXPECT_EQ(decompress_rtf(hex(kHelloWorld), testing::TestTempDir() + "/no/such/dir/temp.rtf"), 1);
  EXPECT_EQ(decompress_rtf(Bv{1, 2, 3}, path), 1);
}

}  // namespace
}  // namespace salvora

namespace salvora {
namespace {

// The writer's encoder: every length round-trips with a good CRC, across control-byte groups
// and past the dictionary's wrap.
TEST(CompressedRtf, EncoderRoundTrips) {
  for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 5000u}) {
    SCOPED_TRACE(n);
    std::string rtf = "{\\rtf1 ";
    while (rtf.size() < n) rtf += static_cast<char>('a' + rtf.size() % 26);
    rtf.resize(n);
    const ByteVector value = compress_rtf(Bytes(reinterpret_cast<const std::uint8_t*>(rtf.data()), rtf.size()));
    const RtfResult r = decompress_rtf(value);
    EXPECT_EQ(r.status, RtfStatus::kOk);
    EXPECT_TRUE(r.crc_ok);
    EXPECT_TRUE(r.size_ok);
    EXPECT_EQ(std::string(r.rtf.begin(), r.rtf.end()), rtf);
    EXPECT_EQ(load_u32(value, 0) + 4, value.size());
  }
}

}  // namespace
}  // namespace salvora
