// The strict reader over damaged BTHs: records of no size, and index levels that lead back to
// one record block over and over. Both are reported and refused.
#include <gtest/gtest.h>

#include <vector>

#include "pststore/pst/bth.h"
#include "pststore/pst/heap.h"

namespace salvora::pst {
namespace {

using Bv = std::vector<std::uint8_t>;

Bv header(std::uint8_t cb_key, std::uint8_t cb_ent, std::uint8_t levels, std::uint32_t root) {
  return {kHeapSigBth, cb_key, cb_ent, levels, static_cast<std::uint8_t>(root), static_cast<std::uint8_t>(root >> 8),
          static_cast<std::uint8_t>(root >> 16), static_cast<std::uint8_t>(root >> 24)};
}

bool mentions(const std::vector<std::string>& problems, const std::string& text) {
  for (const auto& p : problems)
    if (p.find(text) != std::string::npos) return true;
  return false;
}

TEST(BthDamage, RecordsOfNoSizeAreRefused) {
  HeapWriter w(kHeapSigPc);
  const std::uint32_t records = w.Allocate(Bv(8, 0));
  const std::uint32_t hid = w.Allocate(header(0, 0, 0, records));
  w.SetUserRoot(hid);
  auto heap = HeapReader::Parse(w.Finish(), nullptr);
  ASSERT_TRUE(heap);
  std::vector<std::string> problems;
  EXPECT_FALSE(ReadBth(*heap, hid, &problems).has_value());
  EXPECT_TRUE(mentions(problems, "BTH: record block missing or not a whole number of records"));
}

TEST(BthDamage, IndexLeadingBackToOneRecordBlockIsRefused) {
  // 24 bytes read as four index records (2-byte key, HID) or three leaf records (2 + 6): every
  // index record names the block itself, so ten levels would reach it 4^10 times.
  HeapWriter w(kHeapSigPc);
  const std::uint32_t block = w.Allocate(Bv(24, 0));
  Bv index;
  for (int i = 0; i < 4; ++i) {
    index.push_back(static_cast<std::uint8_t>(i));
    index.push_back(0);
    for (int k = 0; k < 4; ++k) index.push_back(static_cast<std::uint8_t>(block >> (8 * k)));
  }
  w.Overwrite(block, index);
  const std::uint32_t hid = w.Allocate(header(2, 6, 10, block));
  w.SetUserRoot(hid);
  auto heap = HeapReader::Parse(w.Finish(), nullptr);
  ASSERT_TRUE(heap);
  std::vector<std::string> problems;
  const auto bth = ReadBth(*heap, hid, &problems);
  EXPECT_FALSE(bth.has_value());
  EXPECT_TRUE(mentions(problems, "BTH: a record block is reached twice"));
}

}  // namespace
}  // namespace salvora::pst
