// B-tree-on-heap: the builder's trees read back, and damaged trees as each tolerance takes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "format/bth.h"
#include "format/byte_writer.h"

namespace salvora {
namespace {

std::optional<HeapOnNode> heap_of(const HeapWriter& w) {
  Findings findings(Tolerance::kStrict);
  return HeapOnNode::Parse(w.Finish(), HidLayout::kStandard, findings);
}

ByteVector header(std::uint8_t key, std::uint8_t entry, std::uint8_t levels, Hid root) {
  return BthHeader{key, entry, levels, root}.Serialize();
}

TEST(Bth, BuildsIndexLevelsForManyRecords) {
  for (std::size_t count : {0u, 1u, 447u, 448u, 5000u}) {
    HeapWriter w(kClientBth);
    ByteWriter rec;
    for (std::uint32_t i = 0; i < count; ++i) {
      rec.u32(i * 3);
      rec.u32(i);
    }
    const Hid hid = build_bth(w, 4, 4, rec.data());
    w.SetUserRoot(hid);
    const auto heap = heap_of(w);
    ASSERT_TRUE(heap);
    Findings findings(Tolerance::kStrict);
    const auto c = read_bth(*heap, hid, findings);
    ASSERT_TRUE(c) << count << " records: " << (findings.empty() ? "no finding" : findings.items().front());
    EXPECT_TRUE(findings.empty());
    EXPECT_EQ(c->header.key_size, 4);
    EXPECT_EQ(c->header.entry_size, 4);
    ASSERT_EQ(c->records.size(), count);
    EXPECT_EQ(c->header.index_levels, count > 447 ? 1 : 0) << count;
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_EQ(bth_key(c->records[i], 4), i * 3);
      EXPECT_EQ(load_u32(c->records[i], 4), i);
    }
  }
}

// A heap read lazily gives the lookups of the whole heap, reads only the blocks that lookups
// reach (a table's row index, not the strings after it), and an unreadable block fails only
// the lookups into it.
TEST(Bth, LazyHeapReadsOnlyTheBlocksItsLookupsReach) {
  HeapWriter w(kClientBth);
  ByteWriter rec;
  for (std::uint32_t i = 0; i < 3000; ++i) {
    rec.u32(i * 2);
    rec.u32(i);
  }
  const Hid root = build_bth(w, 4, 4, rec.data());
  w.SetUserRoot(root);
  std::vector<Hid> strings;
  for (int i = 0; i < 200; ++i) strings.push_back(w.Allocate(ByteVector(900, static_cast<std::uint8_t>(i))));
  const auto blocks = w.Finish();
  ASSERT_GT(blocks.size(), 20u);
  const auto whole = heap_of(w);
  ASSERT_TRUE(whole);

  std::vector<std::size_t> reads;
  std::size_t unreadable = blocks.size() - 1;
  const auto lazy = HeapOnNode::OpenLazily(
      blocks.size(),
      [&](std::size_t i) -> std::optional<ByteVector> {
        reads.push_back(i);
        if (i == unreadable) return std::nullopt;
        return blocks[i];
      },
      HidLayout::kStandard);
  ASSERT_TRUE(lazy);
  Findings findings(Tolerance::kSalvage);
  const auto tree = read_bth(*lazy, root, findings);
  ASSERT_TRUE(tree);
  ASSERT_EQ(tree->records.size(), 3000u);
  EXPECT_EQ(load_u32(tree->records[2999], 4), 2999u);
  const std::size_t index_reads = reads.size();
  EXPECT_LT(index_reads, blocks.size() / 2) << "the strings' blocks were read for the index";
  for (std::size_t k = 0; k < strings.size(); ++k) {
    const auto a = lazy->Lookup(strings[k]);
    const auto b = whole->Lookup(strings[k]);
    ASSERT_TRUE(b);
    if (split_hid(strings[k], HidLayout::kStandard).block == unreadable) {
      EXPECT_FALSE(a) << k;
    } else {
      ASSERT_TRUE(a) << k;
      EXPECT_TRUE(std::equal(a->begin(), a->end(), b->begin(), b->end())) << k;
    }
  }
  // Each block is read once, however many lookups reach it.
  std::sort(reads.begin(), reads.end());
  EXPECT_EQ(std::adjacent_find(reads.begin(), reads.end()), reads.end());
  EXPECT_EQ(reads.size(), blocks.size());
}

// A walk that hands records on one at a time lets go of each leaf's block of a lazy heap once
// it has moved past it, and reads it again when walked again; the records are the same each
// time, and a walk that keeps the records keeps their blocks.
TEST(Bth, RecordWalkOverALazyHeapLetsGoOfTheLeavesItLeft) {
  HeapWriter w(kClientBth);
  ByteWriter rec;
  constexpr std::uint32_t kCount = 30000;
  for (std::uint32_t i = 0; i < kCount; ++i) {
    rec.u32(i * 2 + 1);
    rec.u32(i);
  }
  const Hid root = build_bth(w, 4, 4, rec.data());
  w.SetUserRoot(root);
  const auto blocks = w.Finish();
  ASSERT_GT(blocks.size(), 10u);
  std::size_t reads = 0;
  const auto lazy = HeapOnNode::OpenLazily(
      blocks.size(), [&](std::size_t i) -> std::optional<ByteVector> { ++reads; return blocks[i]; }, HidLayout::kStandard);
  ASSERT_TRUE(lazy);
  Findings findings(Tolerance::kStrict);
  const auto header = read_bth_header(*lazy, root, findings);
  ASSERT_TRUE(header);
  ASSERT_GE(header->index_levels, 1);

  std::size_t reads_per_walk[2] = {};
  for (std::size_t& walk_reads : reads_per_walk) {
    const std::size_t before = reads;
    std::uint32_t next = 0;
    ASSERT_TRUE(for_each_bth_record(*lazy, *header, findings, [&](Bytes record) {
      EXPECT_EQ(bth_key(record, 4), next * 2 + 1);
      EXPECT_EQ(load_u32(record, 4), next);
      ++next;
    }));
    EXPECT_EQ(next, kCount);
    walk_reads = reads - before;
  }
  EXPECT_TRUE(findings.empty());
  // Each leaf block is read once a walk; the second finds none of them still held.
  EXPECT_LE(reads_per_walk[0], blocks.size());
  EXPECT_GE(reads_per_walk[1] + 2, reads_per_walk[0]);

  const auto kept = read_bth_records(*lazy, *header, findings);
  ASSERT_TRUE(kept);
  ASSERT_EQ(kept->size(), kCount);
  for (std::uint32_t i = 0; i < kCount; i += 997) EXPECT_EQ(load_u32((*kept)[i], 4), i);
  EXPECT_EQ(load_u32(kept->back(), 4), kCount - 1);
}

// Records written in place in any order and sorted there make the same tree as the same
// records given sorted; where keys tie, the data orders them as a number, not byte by byte.
TEST(Bth, RecordsSortedInPlaceMakeTheSameTree) {
  for (std::size_t count : {1u, 2u, 447u, 3000u}) {
    std::vector<std::uint64_t> records;  // key (2 bytes) in the high bits, data (6 bytes) below
    for (std::uint64_t i = 0; i < count; ++i) records.push_back(((i * 7919) % 61) << 48 | ((i * 104729) % 100000) << 4);
    HeapWriter sorted_heap(kClientBth), in_place_heap(kClientBth);
    BthBuilder in_place(in_place_heap, 2, 6);
    const Hid hid = in_place.AllocateHeader();
    in_place.ReserveRecords(count);
    auto put = [](std::span<std::uint8_t> out, std::uint64_t r) {
      store_u16(out, 0, static_cast<std::uint16_t>(r >> 48));
      for (std::size_t b = 0; b < 6; ++b) out[2 + b] = static_cast<std::uint8_t>(r >> (8 * b));
    };
    for (std::size_t i = 0; i < count; ++i) put(in_place.Record(i), records[i]);
    in_place.FillInPlace();
    std::sort(records.begin(), records.end());
    ByteVector given(count * 8);
    for (std::size_t i = 0; i < count; ++i) put(std::span(given).subspan(i * 8, 8), records[i]);
    EXPECT_EQ(build_bth(sorted_heap, 2, 6, given), hid);
    EXPECT_EQ(in_place_heap.Finish(), sorted_heap.Finish()) << count;
  }
}

TEST(Bth, HeadersThatNoWriterMakesAreRefused) {
  HeapWriter w(kClientBth);
  const Hid records = w.Allocate(ByteVector(8, 0));
  const Hid no_key = w.Allocate(header(0, 8, 0, records));
  const Hid too_deep = w.Allocate(header(2, 6, 9, records));
  const Hid other_type = w.Allocate(ByteVector{0xB6, 2, 6, 0, 0, 0, 0, 0});
  const Hid short_one = w.Allocate(ByteVector{0xB5, 2, 6, 0});
  const auto heap = heap_of(w);
  ASSERT_TRUE(heap);
  for (Hid h : {no_key, too_deep, other_type, short_one, make_hid(0, 40)}) {
    Findings findings(Tolerance::kSalvage);
    EXPECT_FALSE(read_bth_header(*heap, h, findings)) << h.value;
    EXPECT_EQ(findings.count(), 1u);
  }
}

// 24 bytes read as four index records (2-byte key, HID) or three leaf records (2 + 6): every
// index record names the block itself, so eight levels would reach it 4^8 times.
TEST(Bth, IndexLeadingBackIntoTheTree) {
  HeapWriter w(kClientPropertyContext);
  const Hid block = w.Allocate(ByteVector(24, 0));
  ByteWriter index;
  for (std::uint16_t i = 0; i < 4; ++i) {
    index.u16(i);
    index.u32(block.value);
  }
  w.Overwrite(block, index.data());
  const Hid hid = w.Allocate(header(2, 6, 8, block));
  const auto heap = heap_of(w);
  ASSERT_TRUE(heap);
  Findings strict(Tolerance::kStrict);
  EXPECT_FALSE(read_bth(*heap, hid, strict));
  EXPECT_EQ(strict.items(), std::vector<std::string>{"BTH: a record block is reached twice"});
  // Salvage skips the repeats: the root is an index block, so no leaf is ever reached.
  Findings salvage(Tolerance::kSalvage);
  const auto records = read_bth(*heap, hid, salvage);
  ASSERT_TRUE(records);
  EXPECT_TRUE(records->records.empty());
  EXPECT_EQ(salvage.count(), 4u);
}

// Records of a leaf that is not a whole number of records, and an index naming a missing block.
TEST(Bth, BrokenRecordBlocks) {
  HeapWriter w(kClientBth);
  const Hid leaf = w.Allocate(ByteVector{1, 0, 0, 0, 9, 0, 0, 0, 2, 0, 0});  // one record and 3 bytes
  ByteWriter index;
  index.u32(1);
  index.u32(leaf.value);
  index.u32(5);
  index.u32(make_hid(0, 40).value);
  const Hid root = w.Allocate(index.data());
  const Hid hid = w.Allocate(header(4, 4, 1, root));
  const auto heap = heap_of(w);
  ASSERT_TRUE(heap);
  Findings strict(Tolerance::kStrict);
  EXPECT_FALSE(read_bth(*heap, hid, strict));
  EXPECT_EQ(strict.items(), std::vector<std::string>{"BTH: record block missing or not a whole number of records"});
  Findings salvage(Tolerance::kSalvage);
  const auto records = read_bth(*heap, hid, salvage);
  ASSERT_TRUE(records);
  ASSERT_EQ(records->records.size(), 1u);
  EXPECT_EQ(load_u32(records->records[0], 4), 9u);
  EXPECT_EQ(salvage.count(), 2u);
  // A root that is not there fails under both.
  const Hid lost = w.Allocate(header(4, 4, 0, make_hid(0, 40)));
  const auto heap2 = heap_of(w);
  EXPECT_FALSE(read_bth(*heap2, lost, salvage));
}

TEST(Bth, KeysOutOfOrderAreAFindingNotAFailure) {
  HeapWriter w(kClientBth);
  ByteWriter rec;
  for (std::uint32_t key : {5u, 3u}) {
    rec.u32(key);
    rec.u32(0);
  }
  const Hid records = w.Allocate(rec.data());
  const Hid hid = w.Allocate(header(4, 4, 0, records));
  const auto heap = heap_of(w);
  Findings strict(Tolerance::kStrict);
  const auto c = read_bth(*heap, hid, strict);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->records.size(), 2u);
  EXPECT_EQ(strict.items(), std::vector<std::string>{"BTH: keys not in ascending order"});
}

}  // namespace
}  // namespace salvora
