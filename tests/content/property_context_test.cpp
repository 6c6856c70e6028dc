// Property contexts built byte by byte: value placement by type, heaps of several blocks,
// BTHs with index levels, sub-node values, and the damage a reader must survive.
#include <gtest/gtest.h>

#include "content/heap_builder.h"
#include "content/apply_properties.h"
#include "content/property_decoder.h"

namespace salvora {
namespace {

using namespace salvora::testing;

const PropertyEntry* find(const DecodeResult& r, std::uint32_t id) {
  if (!r || r.list->blocks.empty()) return nullptr;
  return r.list->blocks[0].find(id);
}

TEST(PropertyContext, ValuesByTypeAndPlace) {
  PcBuilder pc;
  pc.Add(0x0E07, 0x0003, le32(0x11223344));
  pc.Add(0x0017, 0x0002, le16(2));
  pc.Add(0x0E1F, 0x000B, {1});
  pc.Add(0x1081, 0x0004, le32(0x3F800000));  // PT_FLOAT 1.0: in place, not a heap id
  pc.Add(0x0E06, 0x0040, le64(0x01D0000000000000ull));
  pc.Add(0x0037, 0x001F, utf16(u"Hello"));
  pc.Add(0x0FF9, 0x0102, {});  // empty binary: a zero-length allocation
  const auto r = decode_heap_properties(pc.Build(), nullptr, {});
  ASSERT_TRUE(r);
  EXPECT_FALSE(r.list->table);
  ASSERT_EQ(r.list->blocks.size(), 1u);
  EXPECT_EQ(r.list->blocks[0].total_rows, 1);
  EXPECT_EQ(value_i32(*find(r, 0x0E07)), 0x11223344);
  EXPECT_EQ(*find(r, 0x0017)->value, (Bv{2, 0, 0, 0}));
  EXPECT_EQ(value_i32(*find(r, 0x0E1F)), 1);
  EXPECT_EQ(value_i32(*find(r, 0x1081)), 0x3F800000);
  EXPECT_EQ(value_u64(*find(r, 0x0E06)), 0x01D0000000000000ull);
  EXPECT_EQ(value_text(*find(r, 0x0037), 1252, false), "Hello");
  ASSERT_NE(find(r, 0x0FF9), nullptr);
  EXPECT_TRUE(find(r, 0x0FF9)->value.has_value());
  EXPECT_EQ(find(r, 0x0FF9)->size(), 0u);
}

TEST(PropertyContext, HeapIdsResolveInEveryHeapBlock) {
  for (HidLayout layout : {HidLayout::kStandard, HidLayout::kWide}) {
    PcBuilder pc(layout);
    pc.Add(0x0037, 0x001F, utf16(u"in block 0"));
    pc.heap().NewBlock();
    pc.Add(0x1000, 0x001F, utf16(u"in block 1"));
    pc.heap().NewBlock();
    pc.Add(0x0E04, 0x001F, utf16(u"in block 2"));
    DecodeOptions o;
    o.hid_layout = layout;
    const auto r = decode_heap_properties(pc.Build(), nullptr, o);
    ASSERT_TRUE(r);
    EXPECT_EQ(value_text(*find(r, 0x0037), 0, false), "in block 0");
    EXPECT_EQ(value_text(*find(r, 0x1000), 0, false), "in block 1");
    EXPECT_EQ(value_text(*find(r, 0x0E04), 0, false), "in block 2");
    EXPECT_EQ(r.dropped_entries, 0);
  }
}

TEST(PropertyContext, BthIndexLevelsAreWalked) {
  for (std::size_t leaf : {3u, 2u}) {  // 9 records: one index level, then two
    PcBuilder pc;
    for (std::uint16_t i = 0; i < 9; ++i) pc.Add(static_cast<std::uint16_t>(0x3000 + i), 0x0003, le32(i));
    const auto r = decode_heap_properties(pc.Build(leaf), nullptr, {});
    ASSERT_TRUE(r);
    ASSERT_EQ(r.list->blocks[0].entries.size(), 9u);
    for (std::uint16_t i = 0; i < 9; ++i) {
      EXPECT_EQ(r.list->blocks[0].entries[i].id, 0x3000u + i);
      EXPECT_EQ(value_i32(r.list->blocks[0].entries[i]), i);
    }
  }
}

TEST(PropertyContext, SubnodeValuesAndObjects) {
  MemorySubnodes subs;
  subs.Add(Nid(0x8001F), {bytes("first half "), bytes("second half")});  // a data tree
  subs.Add(Nid(0x200044), {bytes("embedded message heap")});
  PcBuilder pc;
  pc.AddRef(0x1000, 0x001E, 0x8001F);
  pc.AddRef(0x1013, 0x0102, 0x9001F);  // not in the list
  Bv object = le32(0x200044);
  auto more = le32(21);
  object.insert(object.end(), more.begin(), more.end());
  pc.Add(0x3701, 0x000D, object);
  pc.AddRef(0x3702, 0x0102, 0);                 // reference 0: a value of no bytes
  pc.AddRef(0x3703, 0x0102, builder_hid(40, 0));   // names no allocation: dropped
  const auto r = decode_heap_properties(pc.Build(), &subs, {});
  ASSERT_TRUE(r);
  EXPECT_EQ(*find(r, 0x1000)->value, bytes("first half second half"));
  const PropertyEntry* unread = find(r, 0x1013);
  ASSERT_NE(unread, nullptr);
  EXPECT_FALSE(unread->value.has_value());
  EXPECT_EQ(unread->unread_subnode, Nid(0x9001F));
  EXPECT_EQ(*find(r, 0x3701)->value, bytes("embedded message heap"));
  EXPECT_EQ(find(r, 0x3701)->object_nid, Nid(0x200044));
  ASSERT_NE(find(r, 0x3702), nullptr);
  EXPECT_EQ(*find(r, 0x3702)->value, Bv{});
  EXPECT_EQ(find(r, 0x3703), nullptr);
  EXPECT_EQ(r.empty_references, 1);
  EXPECT_EQ(r.dropped_entries, 1);
}

TEST(PropertyContext, NamedIdsAreMapped) {
  Bv entries;
  auto rec = [&](std::uint32_t id, std::uint16_t word, std::uint16_t idx) {
    for (auto& v : {le32(id), le16(word), le16(idx)}) entries.insert(entries.end(), v.begin(), v.end());
  };
  rec(0x8005, 3 << 1, 0);      // numeric name 0x8005
  rec(0, (2 << 1) | 1, 1);     // string name at offset 0
  rec(0x001A, 4 << 1, 3);      // a meeting LID equal to PR_MESSAGE_CLASS's id
  Bv strings = le32(16);
  auto name = utf16(u"Keywords");
  strings.insert(strings.end(), name.begin(), name.end());
  const auto map = NamedPropertyMap::FromStreams(entries, strings);
  PcBuilder pc;
  pc.Add(0x8000, 0x001F, utf16(u"Doe, John"));
  pc.Add(0x8001, 0x101F, utf16(u"x"));
  pc.Add(0x8002, 0x0003, le32(7));  // not in the map: keeps its raw id
  pc.Add(0x8003, 0x001F, utf16(u"IPM.Task"));
  DecodeOptions o;
  o.names = &map;
  const auto r = decode_heap_properties(pc.Build(), nullptr, o);
  ASSERT_TRUE(r);
  const auto& e = r.list->blocks[0].entries;
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[0].id, 0x8005u);
  EXPECT_EQ(e[0].raw_id, 0x8000u);
  EXPECT_EQ(e[1].id, kStringNamedId);
  EXPECT_EQ(e[1].name, "Keywords");
  EXPECT_EQ(e[2].id, 0x8002u);
  EXPECT_NE(e[3].id, 0x001Au);  // never taken for the message class
  ItemRecord record;
  apply_properties(r.list->blocks, &record, {});
  EXPECT_FALSE(record.item_class);
}

// Damage that must fail the object, and damage that must not.
TEST(PropertyContext, BrokenStructures) {
  struct Case {
    const char* what;
    std::size_t block;
    std::size_t offset;
    std::uint8_t value;
    DecodeError expected;
  };
  PcBuilder probe;
  probe.Add(0x0037, 0x001F, utf16(u"x"));
  const auto good = probe.Build();
  // The BTH header is the last allocation of block 0; find it through the page map.
  const std::size_t ib = good[0][0] | (good[0][1] << 8);
  const std::size_t count = good[0][ib] | (good[0][ib + 1] << 8);
  const std::size_t bth = good[0][ib + 4 + 2 * (count - 1)] | (good[0][ib + 5 + 2 * (count - 1)] << 8);
  const Case cases[] = {
      {"heap signature", 0, 2, 0xED, DecodeError::kBadHeap},
      {"client signature", 0, 3, 0x6C, DecodeError::kUnknownClient},
      {"BTH key size 4 (a row index)", 0, bth + 1, 4, DecodeError::kBadBthHeader},
      {"BTH type", 0, bth, 0xB6, DecodeError::kBadBthHeader},
      {"page map past the block", 0, 0, 0xFF, DecodeError::kBadHeap},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto blocks = good;
    blocks[c.block][c.offset] = c.value;
    const auto r = decode_heap_properties(blocks, nullptr, {});
    EXPECT_FALSE(r);
    EXPECT_EQ(r.failure.code, c.expected);
  }
  EXPECT_EQ(decode_heap_properties({}, nullptr, {}).failure.code, DecodeError::kBadHeap);
  EXPECT_EQ(decode_heap_properties({Bv{0x0C, 0, 0xEC}}, nullptr, {}).failure.code, DecodeError::kBadHeap);
  std::atomic<bool> stop{true};
  DecodeOptions o;
  o.stop = &stop;
  EXPECT_EQ(decode_heap_properties(good, nullptr, o).failure.code, DecodeError::kStopped);
}

TEST(PropertyContext, BrokenLaterHeapBlockLosesOnlyItsValues) {
  // Records and BTH header land in the last block; block 1 holds only the lost value.
  PcBuilder pc2;
  pc2.heap().Add(utf16(u"pad"));
  pc2.Add(0x0037, 0x001F, utf16(u"kept"));
  pc2.heap().NewBlock();
  pc2.Add(0x1000, 0x001F, utf16(u"lost"));
  pc2.heap().NewBlock();
  auto b2 = pc2.Build();
  b2[1][0] = 0xF0;
  b2[1][1] = 0xFF;
  const auto r = decode_heap_properties(b2, nullptr, {});
  ASSERT_TRUE(r);
  EXPECT_NE(find(r, 0x0037), nullptr);
  EXPECT_EQ(find(r, 0x1000), nullptr);
  EXPECT_EQ(r.dropped_entries, 1);
}

// A listing decode leaves the bodies and the transport headers unread wherever they are (heap
// or sub-node), yet the record it gives is a message exactly when the full decode's is: an
// object with nothing but a body is still a message, and one whose body cannot be read is not.
TEST(PropertyContext, ListingLeavesBodiesUnreadButNotUnseen) {
  MemorySubnodes subs;
  subs.Add(Nid(0x8001F), {bytes("{\\rtf1 compressed, or so it says}")});
  subs.Add(Nid(0x8005F), {utf16(u"Received: by a relay")});
  const struct {
    const char* what;
    std::uint16_t id;
    std::uint16_t type;
    std::optional<std::uint32_t> subnode;  // else the value is in the heap
    bool message;                          // the record is a message
  } cases[] = {
      {"a plain body in the heap", 0x1000, 0x001F, std::nullopt, true},
      {"an HTML body in the heap", 0x1013, 0x0102, std::nullopt, true},
      {"an RTF body in a sub-node", 0x1009, 0x0102, 0x8001F, true},
      {"headers in a sub-node", 0x007D, 0x001F, 0x8005F, false},
      {"a body whose sub-node is gone", 0x1000, 0x001F, 0x8009F, false},
  };
  for (const auto& t : cases) {
    PcBuilder pc;
    pc.Add(0x3001, 0x001F, utf16(u"named"));
    if (t.subnode) {
      pc.AddRef(t.id, t.type, *t.subnode);
    } else {
      pc.Add(t.id, t.type, utf16(u"the body itself"));
    }
    const auto heap = pc.Build();
    DecodeOptions listing;
    listing.listing = true;
    const auto full = decode_heap_properties(heap, &subs, {});
    const auto listed = decode_heap_properties(heap, &subs, listing);
    ASSERT_TRUE(full && listed) << t.what;
    const PropertyEntry* read = find(full, t.id);
    const PropertyEntry* skipped = find(listed, t.id);
    ASSERT_TRUE(read && skipped) << t.what;
    EXPECT_FALSE(skipped->value.has_value()) << t.what;
    EXPECT_EQ(skipped->value_skipped, read->value.has_value()) << t.what;
    EXPECT_EQ(skipped->unread_subnode, read->unread_subnode) << t.what;
    EXPECT_EQ(value_text(*find(listed, 0x3001), 0, false), "named") << t.what;

    ItemRecord full_record, listed_record;
    apply_properties(full.list->blocks, &full_record, {});
    apply_properties(listed.list->blocks, &listed_record, {});
    EXPECT_EQ(listed_record.message.has_value(), t.message) << t.what;
    EXPECT_EQ(full_record.message.has_value(), t.message) << t.what;
    EXPECT_EQ(listed_record.display_name, full_record.display_name) << t.what;
  }
}

}  // namespace
}  // namespace salvora
