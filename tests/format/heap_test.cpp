// Heap-on-node: the writer's heaps read back, and a damaged page map as each tolerance takes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "format/byte_writer.h"
#include "format/heap_on_node.h"
#include "format/layout.h"

namespace salvora {
namespace {

std::optional<HeapOnNode> parse(std::vector<ByteVector> blocks, Tolerance tolerance,
                                std::vector<std::string>* found = nullptr, HeapError* error = nullptr) {
  Findings findings(tolerance);
  auto heap = HeapOnNode::Parse(std::move(blocks), HidLayout::kStandard, findings, error);
  if (found) *found = findings.take();
  return heap;
}

TEST(Heap, SpansBlocksWithBitmapHeaders) {
  HeapWriter heap(kClientPropertyContext);
  std::vector<Hid> hids;
  const std::vector<std::uint8_t> chunk(3580, 0xAB);
  for (int i = 0; i < 60; ++i) hids.push_back(heap.Allocate(Bytes(chunk).first(static_cast<std::size_t>(2000 + i * 20))));
  hids.push_back(heap.Allocate({}));
  heap.SetUserRoot(hids[0]);
  auto blocks = heap.Finish();
  ASSERT_GT(blocks.size(), 9u);  // block 8 carries the bitmap header
  for (std::size_t i = 0; i + 1 < blocks.size(); ++i) EXPECT_EQ(blocks[i].size(), kMaxBlockData);
  std::vector<std::string> found;
  auto reader = parse(blocks, Tolerance::kStrict, &found);
  ASSERT_TRUE(reader) << found.front();
  EXPECT_TRUE(found.empty());
  EXPECT_EQ(reader->client_signature(), kClientPropertyContext);
  EXPECT_EQ(reader->user_root(), hids[0]);
  EXPECT_EQ(reader->allocation_count(), 61u);
  for (std::size_t i = 0; i < 60; ++i) EXPECT_EQ(reader->Lookup(hids[i])->size(), 2000 + i * 20);
  EXPECT_EQ(reader->Lookup(hids[7])->front(), 0xAB);
  EXPECT_EQ(reader->Lookup(hids.back())->size(), 0u);
  EXPECT_FALSE(reader->Lookup(make_hid(99, 1)));
  EXPECT_FALSE(reader->Lookup(make_hid(0, 99)));
  EXPECT_FALSE(reader->Lookup(Hid(hids[0].value | kNidTypeLtp)));  // a sub-node id, not a heap id
}

// A heap laid out as a table's: `reserved` allocations first (made as zeros, or reserved to be
// made when written), all but every fourth filled in at the end, then enough values of varied
// sizes for blocks 8, 136 and 264 to carry fill levels. With a sink, the heap streams from just
// after the reserved allocations.
std::size_t build_table_like_heap(HeapWriter& w, std::size_t reserved, const HeapBlockSink* sink, bool lazy = false) {
  std::vector<Hid> slots;
  for (std::size_t i = 0; i < reserved; ++i)
    slots.push_back(lazy ? w.Reserve(3000) : w.Allocate(std::vector<std::uint8_t>(3000, 0)));
  if (sink) w.StreamCompleteBlocks(*sink);
  std::vector<std::uint8_t> value(kMaxHeapAlloc);
  Hid last;
  for (std::size_t i = 0; i < 1500; ++i) {
    for (std::size_t j = 0; j < value.size(); ++j) value[j] = static_cast<std::uint8_t>(i + j);
    last = w.Allocate(Bytes(value).first((i * 997) % (kMaxHeapAlloc + 1)));
  }
  for (std::size_t i = 0; i < reserved; ++i)
    if (i % 4 != 3) w.Overwrite(slots[i], std::vector<std::uint8_t>(3000, static_cast<std::uint8_t>(i + 1)));
  w.SetUserRoot(reserved > 0 ? slots[0] : last);
  return split_hid(last, HidLayout::kStandard).block + 1;
}

// The fill level of each block as its header block records it (block 0 for 0-7, block 8 + 128k
// for the next 128), against the free space its own page map leaves.
void expect_fill_levels(const std::vector<ByteVector>& blocks) {
  static constexpr std::size_t kFreeAtLeast[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768, 512, 256, 128, 64, 32, 16, 8, 0};
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const std::size_t ib_hnpm = load_u16(blocks[i], 0);
    const std::size_t free = kMaxBlockData - (ib_hnpm + 4 + 2 * (std::size_t{load_u16(blocks[i], ib_hnpm)} + 1));
    const std::size_t map = i < 8 ? 0 : 8 + (i - 8) / 128 * 128;
    const std::size_t nibble = i < 8 ? 16 + i : 4 + (i - map);
    const std::size_t level = (blocks[map][nibble / 2] >> (4 * (nibble % 2))) & 0xF;
    EXPECT_GE(free, kFreeAtLeast[level]) << "block " << i;
    if (level > 0) {
      EXPECT_LT(free, kFreeAtLeast[level - 1]) << "block " << i;
    }
  }
}

// Streaming hands each block on once, as soon as it is final, and ends with the same heap the
// whole-heap writer makes; only the reserved blocks and open fill-level maps wait for the end.
// Allocations reserved without their bytes come out as zeros made at once would, whether they
// are written, left as they are, or shared with a later allocation in the same block.
TEST(Heap, StreamedBlocksEqualTheWholeHeap) {
  for (const auto& [reserved, lazy] : {std::pair{0u, false}, {3u, false}, {30u, false}, {3u, true}, {31u, true}}) {
    SCOPED_TRACE(reserved);
    SCOPED_TRACE(lazy);
    HeapWriter whole_writer(kClientTableContext);
    const std::size_t count = build_table_like_heap(whole_writer, reserved, nullptr);
    const auto whole = std::move(whole_writer).Finish();
    ASSERT_EQ(whole.size(), count);
    ASSERT_GT(count, 265u);

    std::vector<ByteVector> streamed(count);
    std::vector<std::size_t> arrival;
    const HeapBlockSink sink = [&](HeapBlock b) {
      ASSERT_LT(b.index, count);
      EXPECT_TRUE(streamed[b.index].empty()) << "block " << b.index << " twice";
      arrival.push_back(b.index);
      streamed[b.index] = std::move(b.bytes);
    };
    HeapWriter w(kClientTableContext);
    build_table_like_heap(w, reserved, &sink, lazy);
    if (lazy) {
      HeapWriter unstreamed(kClientTableContext);
      build_table_like_heap(unstreamed, reserved, nullptr, true);
      EXPECT_EQ(std::move(unstreamed).Finish(), whole);
    }
    const std::size_t before_finish = arrival.size();
    EXPECT_THROW(w.Overwrite(make_hid(static_cast<std::uint32_t>(count - 3), 1), Bytes()), std::logic_error);
    std::move(w).FinishStream();
    ASSERT_EQ(arrival.size(), count);
    EXPECT_EQ(streamed, whole);

    // Held to the end: block 0, the blocks the reserved allocations fill, the map of the last
    // 128 blocks and the last block; block 136 comes right after block 263.
    const std::size_t pinned = reserved == 0 ? 1 : reserved / 2 + 1;
    EXPECT_LE(count - before_finish, pinned + 2);
    if (pinned <= 136) {
      const auto at = std::find(arrival.begin(), arrival.end(), 136u);
      ASSERT_NE(at, arrival.begin());
      EXPECT_EQ(*(at - 1), 263u);
    }
    expect_fill_levels(whole);
    std::vector<std::string> found;
    const auto heap = parse(streamed, Tolerance::kStrict, &found);
    ASSERT_TRUE(heap) << found.front();
    EXPECT_EQ(heap->allocation_count(), reserved + 1500);
  }
}

TEST(Heap, HidSplitsOfBothLayouts) {
  EXPECT_EQ(split_hid(make_hid(3, 5), HidLayout::kStandard).block, 3u);
  EXPECT_EQ(split_hid(make_hid(3, 5), HidLayout::kStandard).index, 5u);
  const Hid wide((7u << 19) | (3000u << 5));
  EXPECT_EQ(split_hid(wide, HidLayout::kWide).block, 7u);
  EXPECT_EQ(split_hid(wide, HidLayout::kWide).index, 3000u);
}

// A heap of two blocks whose second page map is damaged in the given way.
std::vector<ByteVector> two_blocks() {
  HeapWriter w(kClientTableContext);
  const std::vector<std::uint8_t> big(3000, 1);
  for (int i = 0; i < 4; ++i) w.Allocate(big);
  w.SetUserRoot(make_hid(0, 1));
  auto blocks = w.Finish();
  EXPECT_EQ(blocks.size(), 2u);
  return blocks;
}

TEST(Heap, DamagedPageMapsAsEachToleranceTakesThem) {
  struct Case {
    const char* finding;
    std::function<void(ByteVector&)> damage;
  };
  const std::vector<Case> cases = {
      {"heap: page map outside block 1", [](ByteVector& b) { store_u16(b, 0, 0xFFF0); }},
      {"heap: page map of block 1 is cut off", [](ByteVector& b) { store_u16(b, load_u16(b, 0), 0x7000); }},
      {"heap: allocation offsets of block 1 out of order",
       [](ByteVector& b) { store_u16(b, load_u16(b, 0) + 4, 0x7000); }},
      // The last allocation ending one byte into the page map that follows it.
      {"heap: allocation offsets of block 1 out of order",
       [](ByteVector& b) {
         const std::uint16_t map = load_u16(b, 0);
         store_u16(b, map + 4 + 2 * load_u16(b, map), static_cast<std::uint16_t>(map + 1));
       }},
  };
  for (const auto& c : cases) {
    auto blocks = two_blocks();
    c.damage(blocks[1]);
    std::vector<std::string> found;
    HeapError error = HeapError::kNone;
    EXPECT_FALSE(parse(blocks, Tolerance::kStrict, &found, &error)) << c.finding;
    EXPECT_EQ(error, HeapError::kBadPageMap);
    EXPECT_EQ(found, std::vector<std::string>{c.finding});
    // Salvage keeps the heap and block 0's allocations.
    const auto heap = parse(blocks, Tolerance::kSalvage, &found, &error);
    ASSERT_TRUE(heap) << c.finding;
    EXPECT_EQ(found, std::vector<std::string>{c.finding});
    EXPECT_EQ(heap->Lookup(make_hid(0, 2))->size(), 3000u);
  }
  // A map cut off in block 0 leaves nothing to read under either tolerance.
  auto blocks = two_blocks();
  store_u16(blocks[0], 0, 0xFFF0);
  HeapError error = HeapError::kNone;
  EXPECT_FALSE(parse(blocks, Tolerance::kSalvage, nullptr, &error));
  EXPECT_EQ(error, HeapError::kBadPageMap);
}

TEST(Heap, HeaderFailures) {
  std::vector<std::string> found;
  HeapError error = HeapError::kNone;
  EXPECT_FALSE(parse({}, Tolerance::kSalvage, &found, &error));
  EXPECT_EQ(error, HeapError::kEmpty);
  EXPECT_EQ(found, std::vector<std::string>{"heap: no header block"});
  EXPECT_FALSE(parse({ByteVector(5, 0)}, Tolerance::kSalvage, &found, &error));
  EXPECT_EQ(error, HeapError::kShortHeader);
  auto blocks = two_blocks();
  blocks[0][2] = 0xED;
  EXPECT_FALSE(parse(blocks, Tolerance::kSalvage, &found, &error));
  EXPECT_EQ(error, HeapError::kBadSignature);
  EXPECT_EQ(found, std::vector<std::string>{"heap: bSig is not 0xEC"});
}

// The header alone, as a salvage pass peeks at a block to tell what kind of object it starts.
TEST(HeapHeader, FieldsAndWhatIsMissing) {
  const ByteVector block = two_blocks()[0];
  const auto h = HeapHeader::Parse(block);
  ASSERT_TRUE(h);
  EXPECT_TRUE(h->complete);
  EXPECT_EQ(h->sig, kHeapSignature);
  EXPECT_EQ(h->ib_hnpm, load_u16(block, 0));
  EXPECT_EQ(h->user_root, Hid(load_u32(block, 4)));
  EXPECT_EQ(h->is_heap_of(h->client_signature), true);
  EXPECT_FALSE(h->is_heap_of(static_cast<std::uint8_t>(h->client_signature + 1)));
  const auto without_fill = HeapHeader::Parse(Bytes(block).first(8));
  ASSERT_TRUE(without_fill);
  EXPECT_FALSE(without_fill->complete);
  EXPECT_FALSE(HeapHeader::Parse(Bytes(block).first(7)));
}

}  // namespace
}  // namespace salvora
