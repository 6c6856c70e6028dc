// A named-property map whose records all name one long string: a small stream that would be
// copied once per record. The names stop at a bound proportional to the string stream, and a
// sound map, each name once, keeps every name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "content/named_property_map.h"

namespace salvora {
namespace {

using Bv = std::vector<std::uint8_t>;

void put32(Bv& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// One NAMEID record of a string name in the first GUID of the GUID stream.
void put_string_record(Bv& entries, std::uint32_t offset, std::uint16_t index) {
  put32(entries, offset);
  const std::uint16_t guid = (3 << 1) | 1;
  entries.push_back(static_cast<std::uint8_t>(guid));
  entries.push_back(static_cast<std::uint8_t>(guid >> 8));
  entries.push_back(static_cast<std::uint8_t>(index));
  entries.push_back(static_cast<std::uint8_t>(index >> 8));
}

void put_name(Bv& strings, const std::string& ascii) {
  put32(strings, static_cast<std::uint32_t>(ascii.size() * 2));
  for (char c : ascii) {
    strings.push_back(static_cast<std::uint8_t>(c));
    strings.push_back(0);
  }
  while (strings.size() % 4 != 0) strings.push_back(0);
}

TEST(NamedPropertyMapAmplification, OneLongNameNamedByEveryRecordIsCopiedBoundedly) {
  Bv strings;
  put_name(strings, std::string(8000, 'n'));
  Bv entries;
  for (std::uint16_t i = 0; i < 2000; ++i) put_string_record(entries, 0, i);

  const NamedPropertyMap map = NamedPropertyMap::FromStreams(entries, strings);
  ASSERT_EQ(map.entries().size(), 2000u);
  std::size_t copied = 0, named = 0;
  for (const NamedProperty& p : map.entries()) {
    if (!p.name) continue;
    copied += p.name->size();
    ++named;
  }
  // Unbounded, the names would hold 2000 copies: 16 MB out of a 16 KB stream.
  EXPECT_LE(copied, 4 * strings.size() + 4096);
  EXPECT_GT(named, 0u);  // the first records still have their name
  EXPECT_EQ(map.Find(0x8000)->name.value_or(""), std::string(8000, 'n'));
}

TEST(NamedPropertyMapAmplification, SoundMapKeepsEveryName) {
  Bv strings, entries;
  for (std::uint16_t i = 0; i < 300; ++i) {
    const auto offset = static_cast<std::uint32_t>(strings.size());
    put_name(strings, "Name" + std::to_string(i));
    put_string_record(entries, offset, i);
  }
  const NamedPropertyMap map = NamedPropertyMap::FromStreams(entries, strings);
  ASSERT_EQ(map.entries().size(), 300u);
  for (std::uint16_t i = 0; i < 300; ++i) {
    const NamedProperty* p = map.Find(0x8000u + i);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->name.value_or(""), "Name" + std::to_string(i));
  }
}

}  // namespace
}  // namespace salvora
