// Known-answer vectors for the checksums and block encodings, and the byte reader's bounds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/block_crypt.h"
#include "format/byte_reader.h"
#include "format/byte_writer.h"
#include "format/crc.h"
#include "format/ids.h"
#include "format/signature.h"

namespace salvora {
namespace {

std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

TEST(Crc, KnownVectors) {
  EXPECT_EQ(ComputeCrc(bytes_of("123456789")), 0x2DFD2D88u);
  EXPECT_EQ(ComputeCrc({}), 0u);
  EXPECT_EQ(ComputeCrc({}, 0x12345678u), 0x12345678u);
}

// The format's CRC by its definition, bit by bit: any seed, any length, and a value computed in
// two parts equals the value over the whole (the seed carries the first part).
TEST(Crc, MatchesTheBitwiseDefinition) {
  const auto bitwise = [](const std::vector<std::uint8_t>& data, std::uint32_t crc) {
    for (std::uint8_t b : data) {
      crc ^= b;
      for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return crc;
  };
  std::uint32_t x = 1;
  const auto next = [&] { return x = x * 1664525u + 1013904223u; };
  for (std::size_t len : {1u, 7u, 8u, 63u, 512u, 8176u, 70000u}) {
    std::vector<std::uint8_t> data(len);
    for (auto& b : data) b = static_cast<std::uint8_t>(next() >> 24);
    const std::uint32_t seed = next();
    EXPECT_EQ(ComputeCrc(data, seed), bitwise(data, seed)) << len;
    const std::span<const std::uint8_t> all(data);
    EXPECT_EQ(ComputeCrc(all.subspan(len / 3), ComputeCrc(all.first(len / 3), seed)), bitwise(data, seed)) << len;
  }
}

TEST(Signature, KnownVectors) {
  EXPECT_EQ(ComputeSignature(0x7000, 0x6B), 0x706B);
  EXPECT_EQ(ComputeSignature(0x8200, 0x206), 0x8006);
  EXPECT_EQ(ComputeSignature(0x4200, 0x17F), 0x437F);
}

TEST(BlockCrypt, PermuteVectorAndRoundTrip) {
  std::vector<std::uint8_t> b{0, 1, 2, 3};
  permute_encode(b);
  EXPECT_EQ(b, (std::vector<std::uint8_t>{0x41, 0x36, 0x13, 0x62}));
  permute_decode(b);
  EXPECT_EQ(b, (std::vector<std::uint8_t>{0, 1, 2, 3}));

  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  auto copy = all;
  permute_encode(copy);
  permute_decode(copy);
  EXPECT_EQ(copy, all);
}

// The permutation goes a word at a time: spans of any length at any alignment must come out as
// byte-by-byte substitution gives them.
TEST(BlockCrypt, PermuteAtEveryLengthAndOffset) {
  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> table = all;
  for (auto& b : table) permute_encode(std::span<std::uint8_t>(&b, 1));
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t len = 0; len <= 40; ++len) {
      std::vector<std::uint8_t> data(all.begin() + static_cast<std::ptrdiff_t>(len * 5 % 200),
                                     all.begin() + static_cast<std::ptrdiff_t>(len * 5 % 200 + offset + len));
      const auto original = data;
      permute_encode(std::span<std::uint8_t>(data).subspan(offset));
      for (std::size_t i = 0; i < data.size(); ++i)
        ASSERT_EQ(data[i], i < offset ? original[i] : table[original[i]]) << offset << " " << len << " " << i;
      permute_decode(std::span<std::uint8_t>(data).subspan(offset));
      ASSERT_EQ(data, original) << offset << " " << len;
    }
  }
}

TEST(BlockCrypt, CyclicVectorsAndInvolution) {
  std::vector<std::uint8_t> b(16);
  for (int i = 0; i < 16; ++i) b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  const auto original = b;
  cyclic_code(b, 4);
  EXPECT_EQ(b, (std::vector<std::uint8_t>{0xb6, 0x8b, 0x67, 0xd9, 0x18, 0xc3, 0xb8, 0x3b, 0x2b, 0x61, 0xf0,
                                          0x2e, 0x5b, 0x39, 0xfa, 0xb1}));
  cyclic_code(b, 4);
  EXPECT_EQ(b, original);

  std::vector<std::uint8_t> z(4, 0);
  cyclic_code(z, 0x12345678);
  EXPECT_EQ(z, (std::vector<std::uint8_t>{0xe4, 0xda, 0xc5, 0xd1}));
}

TEST(BlockCrypt, MethodByte) {
  EXPECT_EQ(crypt_method_from_byte(0), CryptMethod::kNone);
  EXPECT_EQ(crypt_method_from_byte(2), CryptMethod::kCyclic);
  EXPECT_FALSE(crypt_method_from_byte(0x10).has_value());
}

TEST(ByteReader, LittleEndianAndLatchedFailure) {
  const std::vector<std::uint8_t> data{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
  ByteReader r(data);
  EXPECT_EQ(r.u16(), 0x0201);
  EXPECT_EQ(r.u32(), 0x06050403u);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.u32(), 0u);  // only three bytes left
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.u8(), 0);    // stays failed even though a byte would fit
  EXPECT_EQ(r.remaining(), 0u);
}

TEST(ByteReader, SeekAndBytesStayInBounds) {
  const std::vector<std::uint8_t> data(10, 0xAA);
  ByteReader r(data);
  r.seek(10);
  EXPECT_TRUE(r.ok());
  EXPECT_TRUE(r.bytes(1).empty());
  EXPECT_FALSE(r.ok());
  ByteReader s(data);
  s.seek(11);
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(load_u32(data, 7), 0u);  // would straddle the end
  EXPECT_EQ(load_u16(data, 8), 0xAAAA);
}

TEST(ByteWriter, RoundTripsThroughReader) {
  ByteWriter w;
  w.u8(0x7F);
  w.u16(0xBEEF);
  w.u32(0xDEADBEEF);
  w.u64(0x0123456789ABCDEFull);
  w.put_u16(1, 0x1234);
  ByteReader r(w.data());
  EXPECT_EQ(r.u8(), 0x7F);
  EXPECT_EQ(r.u16(), 0x1234);
  EXPECT_EQ(r.u32(), 0xDEADBEEFu);
  EXPECT_EQ(r.u64(), 0x0123456789ABCDEFull);
  EXPECT_TRUE(r.ok());
}

TEST(Ids, NidAndBidParts) {
  const Nid nid = Nid::make(kNidTypeNormalFolder, 0x9);
  EXPECT_EQ(nid.value, 0x122u);
  EXPECT_EQ(nid.type(), kNidTypeNormalFolder);
  EXPECT_EQ(Nid(0x200024).index(), 0x10001u);
  EXPECT_EQ(Bid(0x25).key(), Bid(0x24));
  EXPECT_TRUE(Bid(0x26).is_internal());
  EXPECT_FALSE(Bid(0x24).is_internal());
}

}  // namespace
}  // namespace salvora
