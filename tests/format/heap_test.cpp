// Heap-on-node: the writer's heaps read back, and a damaged page map as each tolerance takes it.
#include <gtest/gtest.h>

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
