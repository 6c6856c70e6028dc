// The named-property map from the streams of node 0x61.
#include <gtest/gtest.h>

#include "content/heap_builder.h"
#include "content/named_property_map.h"

namespace salvora {
namespace {

using namespace salvora::testing;

void nameid(Bv& stream, std::uint32_t id, std::uint16_t guid, bool string, std::uint16_t idx) {
  for (const auto& v : {le32(id), le16(static_cast<std::uint16_t>((guid << 1) | (string ? 1 : 0))), le16(idx)}) {
    stream.insert(stream.end(), v.begin(), v.end());
  }
}

Bv name_record(std::u16string_view name) {
  Bv out = le32(static_cast<std::uint32_t>(name.size() * 2));
  const Bv text = utf16(name);
  out.insert(out.end(), text.begin(), text.end());
  while (out.size() % 4) out.push_back(0);
  return out;
}

TEST(NamedPropertyMap, RecordsNamesAndOrder) {
  Bv strings = name_record(u"Keywords");
  const auto second = static_cast<std::uint32_t>(strings.size());
  const Bv more = name_record(u"\u65E5\u672C");
  strings.insert(strings.end(), more.begin(), more.end());
  Bv entries;
  nameid(entries, 0x8005, 3, false, 2);
  nameid(entries, 0, 2, true, 0);
  nameid(entries, second, 4, true, 1);
  nameid(entries, 0x8233, 3, false, 2);  // same index as the first: read later, answers first
  const auto map = NamedPropertyMap::FromStreams(entries, strings);
  ASSERT_EQ(map.entries().size(), 4u);
  EXPECT_EQ(map.entries()[0].key, 0x8000u);
  EXPECT_EQ(map.entries()[0].kind, NamedProperty::kString);
  EXPECT_EQ(map.entries()[0].name, "Keywords");
  EXPECT_EQ(map.entries()[1].name, "\xE6\x97\xA5\xE6\x9C\xAC");
  EXPECT_EQ(map.entries()[1].guid_index, 4);
  EXPECT_EQ(map.entries()[2].numeric_name, 0x8233u);
  EXPECT_EQ(map.entries()[3].numeric_name, 0x8005u);
  ASSERT_NE(map.Find(0x8002), nullptr);
  EXPECT_EQ(map.Find(0x8002)->numeric_name, 0x8233u);
  EXPECT_EQ(map.Find(0x8003), nullptr);
  EXPECT_EQ(map.Find(0x7FFF), nullptr);
}

TEST(NamedPropertyMap, EndsAndDamage) {
  Bv entries;
  nameid(entries, 0x8001, 3, false, 0);
  nameid(entries, 0x8002, 0, false, 1);  // wGuid 0 ends the map
  nameid(entries, 0x8003, 3, false, 2);
  entries.push_back(0xAA);  // a partial record at the end is not read
  EXPECT_EQ(NamedPropertyMap::FromStreams(entries, {}).entries().size(), 1u);

  // Name offsets use all 32 bits: a string stream past 64 KB still names correctly.
  Bv strings(0x10000, 0);
  const Bv far = name_record(u"Far");
  strings.insert(strings.end(), far.begin(), far.end());
  Bv late;
  nameid(late, 0x10000, 2, true, 0);
  nameid(late, 0x20000, 2, true, 1);  // past the stream: no name
  const auto map = NamedPropertyMap::FromStreams(late, strings);
  ASSERT_EQ(map.entries().size(), 2u);
  EXPECT_EQ(map.Find(0x8000)->name, "Far");
  EXPECT_FALSE(map.Find(0x8001)->name);

  // A length past the stream keeps what the stream holds.
  Bv cut = le32(100);
  const Bv ab = utf16(u"ab");
  cut.insert(cut.end(), ab.begin(), ab.end());
  Bv one;
  nameid(one, 0, 2, true, 0);
  EXPECT_EQ(NamedPropertyMap::FromStreams(one, cut).Find(0x8000)->name, "ab");

  std::atomic<bool> stop{true};
  EXPECT_TRUE(NamedPropertyMap::FromStreams(entries, {}, &stop).empty());
}

TEST(NamedPropertyMap, FromTheNameToIdPropertyContext) {
  Bv entries;
  nameid(entries, 0x8005, 3, false, 0);
  PropertyBlock block;
  PropertyEntry e;
  e.id = e.raw_id = 0x0003;
  e.type = 0x0102;
  e.value = entries;
  block.entries.push_back(e);
  ASSERT_TRUE(NamedPropertyMap::FromPropertyBlock(block).has_value());
  EXPECT_EQ(NamedPropertyMap::FromPropertyBlock(block)->Find(0x8000)->numeric_name, 0x8005u);
  block.entries[0].raw_id = 0x0002;
  EXPECT_FALSE(NamedPropertyMap::FromPropertyBlock(block).has_value());
}

}  // namespace
}  // namespace salvora
