// Blocks: the writer's blocks read back, the blocks of every layout (built by the test builder)
// read by the one set of block parsers, and what each tolerance makes of a damaged block.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/block.h"
#include "support/layouts.h"
#include "support/ndb_builder.h"

namespace salvora {
namespace {

using testing::ByteVector;
using testing::NdbBuilder;
using testing::SubnodeSpec;

TEST(Block, EncodesOnlyExternalDataAndChecksTrailer) {
  const std::vector<std::uint8_t> payload = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  struct Case {
    CryptMethod crypt;
    std::uint64_t bid;
    bool encoded;
  } cases[] = {{CryptMethod::kNone, 8, false},
               {CryptMethod::kPermute, 8, true},
               {CryptMethod::kCyclic, 0x12345678, true},
               {CryptMethod::kPermute, 8 | kBidInternal, false}};
  for (const auto& c : cases) {
    const auto disk = build_block(payload, c.bid, 0x8040, c.crypt);
    ASSERT_EQ(disk.size(), 64u);
    EXPECT_EQ(std::equal(payload.begin(), payload.end(), disk.begin()), !c.encoded);
    Findings findings(Tolerance::kStrict);
    EXPECT_EQ(open_block(disk, c.bid, 10, 0x8040, c.crypt, findings), payload);
    EXPECT_TRUE(findings.empty());
    auto bad = disk;
    bad[3] ^= 0x40;
    open_block(bad, c.bid, 10, 0x8040, c.crypt, findings);
    EXPECT_EQ(findings.items(), std::vector<std::string>{"trailer CRC wrong"});
  }
  EXPECT_EQ(BlockDiskSize(236), 256u);
  EXPECT_EQ(BlockDiskSize(8176), 8192u);
}

TEST(Block, EachTrailerMismatchIsNamed) {
  const std::vector<std::uint8_t> payload(100, 0x33);
  const auto disk = build_block(payload, 0x40, 0x8000, CryptMethod::kNone);
  Findings findings(Tolerance::kStrict);
  open_block(disk, 0x44, 100, 0x8000, CryptMethod::kNone, findings);
  EXPECT_EQ(findings.take(), (std::vector<std::string>{"trailer signature wrong", "trailer bid differs from the block tree key"}));
  open_block(disk, 0x40, 99, 0x8000, CryptMethod::kNone, findings);
  EXPECT_EQ(findings.take(), (std::vector<std::string>{"trailer cb differs from the block tree entry", "trailer CRC wrong"}));
  open_block(disk, 0x40, 100, 0x8040, CryptMethod::kNone, findings);
  EXPECT_EQ(findings.take(), std::vector<std::string>{"trailer signature wrong"});
  EXPECT_TRUE(open_block(Bytes(disk).first(120), 0x40, 100, 0x8000, CryptMethod::kNone, findings).empty());
  EXPECT_EQ(findings.take(), std::vector<std::string>{"block extends past its space"});
}

TEST(InternalBlocks, UnicodeRoundTrip) {
  const XBlock x{2, 123456, {6, 10, 14}};
  auto xb = XBlock::Parse(x.Serialize(), FileLayout::kUnicode, Tolerance::kStrict);
  ASSERT_TRUE(xb);
  EXPECT_EQ(xb->level, 2);
  EXPECT_EQ(xb->total, 123456u);
  EXPECT_EQ(xb->bids, x.bids);
  for (std::uint8_t level : {std::uint8_t{0}, std::uint8_t{1}}) {
    const SubnodeBlock s{level, {{0x25, 0x10, level == 0 ? 0x14u : 0u}, {0x45, 0x18, 0}}};
    auto back = SubnodeBlock::Parse(s.Serialize(), FileLayout::kUnicode, Tolerance::kStrict);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->level, level);
    EXPECT_EQ(back->entries, s.entries);
  }
}

// Counts past the data are refused under both tolerances; a level the format does not have is
// refused under strict and walked under salvage.
TEST(InternalBlocks, ToleranceDecidesOnlyWhatIsReadable) {
  const std::vector<std::uint8_t> too_many{1, 1, 200, 0, 0, 0, 0, 0};
  for (auto t : {Tolerance::kSalvage, Tolerance::kStrict}) {
    EXPECT_FALSE(XBlock::Parse(too_many, FileLayout::kUnicode, t));
    EXPECT_FALSE(XBlock::Parse(SubnodeBlock{}.Serialize(), FileLayout::kUnicode, t));
    EXPECT_FALSE(SubnodeBlock::Parse(XBlock{}.Serialize(), FileLayout::kUnicode, t));
  }
  const auto deep = XBlock{3, 0, {6}}.Serialize();
  EXPECT_FALSE(XBlock::Parse(deep, FileLayout::kUnicode, Tolerance::kStrict));
  EXPECT_TRUE(XBlock::Parse(deep, FileLayout::kUnicode, Tolerance::kSalvage));
  const auto deep_list = SubnodeBlock{2, {{0x21, 6, 0}}}.Serialize();
  EXPECT_FALSE(SubnodeBlock::Parse(deep_list, FileLayout::kUnicode, Tolerance::kStrict));
  EXPECT_TRUE(SubnodeBlock::Parse(deep_list, FileLayout::kUnicode, Tolerance::kSalvage));
}

// Asking which blocks a damaged internal block still names: a count past the data keeps the
// entries that fit, where reading the block refuses it.
TEST(InternalBlocks, WhatFitsIsKeptWhenOnlyNamesAreAsked) {
  ByteVector tree = XBlock{1, 0, {6, 10}}.Serialize();
  tree[2] = 200;
  EXPECT_FALSE(XBlock::Parse(tree, FileLayout::kUnicode, Tolerance::kSalvage));
  const auto x = XBlock::ParseWhatFits(tree, FileLayout::kUnicode);
  ASSERT_TRUE(x);
  EXPECT_EQ(x->bids, (std::vector<std::uint64_t>{6, 10}));

  ByteVector list = SubnodeBlock{0, {{0x25, 0x10, 0x14}, {0x45, 0x18, 0}}}.Serialize();
  list[2] = 3;
  EXPECT_FALSE(SubnodeBlock::Parse(list, FileLayout::kUnicode, Tolerance::kSalvage));
  const auto s = SubnodeBlock::ParseWhatFits(list, FileLayout::kUnicode);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->entries.size(), 2u);
  EXPECT_EQ(s->entries[1], (SubnodeBlockEntry{0x45, 0x18, 0}));
  EXPECT_FALSE(SubnodeBlock::ParseWhatFits(tree, FileLayout::kUnicode));
  EXPECT_FALSE(XBlock::ParseWhatFits(Bytes(tree).first(7), FileLayout::kUnicode));
}

class BlocksOfEveryLayout : public ::testing::TestWithParam<FileLayout> {};

// A data tree, a sub-node leaf and a sub-node index as the builder stores them in each layout,
// with their trailers, read through the layout-aware parsers.
TEST_P(BlocksOfEveryLayout, ReadAsWritten) {
  const FileLayout layout = GetParam();
  NdbBuilder b(layout);
  const Bid d1 = b.AddBlock(ByteVector(300, 1));
  const Bid d2 = b.AddBlock(ByteVector(200, 2));
  const Bid tree = b.AddDataTree({d1, d2}, 1, 500);
  const Bid leaf = b.AddSubnodeLeaf({SubnodeSpec{Nid(0x2A), d1, Bid()}, SubnodeSpec{Nid(0x4A), d2, tree}});
  const Bid index = b.AddSubnodeIndex({{Nid(0x2A), leaf}});
  b.AddNode(Nid(0x21), tree, index, Nid());
  const ByteVector file = b.Build();

  const auto stored = [&](Bid bid, std::size_t cb) {
    const Bytes disk = Bytes(file).subspan(b.offset_of(bid), block_disk_size(cb, layout));
    const auto trailer = parse_block_trailer(disk, cb, layout);
    EXPECT_TRUE(trailer);
    if (trailer) {
      EXPECT_EQ(trailer->cb, cb);
      EXPECT_EQ(trailer->bid, bid.value);
      const TrailerVerdict v = judge_block_trailer(*trailer, disk.first(cb), bid.value, static_cast<std::uint16_t>(cb), b.offset_of(bid));
      EXPECT_TRUE(v.vouches() && v.sig_ok) << bid.value;
    }
    return disk.first(cb);
  };
  const std::size_t id = layout == FileLayout::kAnsi ? 4 : 8;
  const auto x = XBlock::Parse(stored(tree, 8 + 2 * id), layout, Tolerance::kStrict);
  ASSERT_TRUE(x);
  EXPECT_EQ(x->level, 1);
  EXPECT_EQ(x->total, 500u);
  EXPECT_EQ(x->bids, (std::vector<std::uint64_t>{d1.value, d2.value}));

  const std::size_t list_head = layout == FileLayout::kAnsi ? 4 : 8;
  const auto sl = SubnodeBlock::Parse(stored(leaf, list_head + 2 * 3 * id), layout, Tolerance::kStrict);
  ASSERT_TRUE(sl);
  EXPECT_EQ(sl->level, 0);
  EXPECT_EQ(sl->entries, (std::vector<SubnodeBlockEntry>{{0x2A, d1.value, 0}, {0x4A, d2.value, tree.value}}));
  const auto si = SubnodeBlock::Parse(stored(index, list_head + 2 * id), layout, Tolerance::kStrict);
  ASSERT_TRUE(si);
  EXPECT_EQ(si->level, 1);
  EXPECT_EQ(si->entries, (std::vector<SubnodeBlockEntry>{{0x2A, leaf.value, 0}}));

  // A scan meets a trailer alone, before it knows where its block begins; the trailer of a
  // compressed block (the 4 KB layout's only) gives the size once inflated as well.
  NdbBuilder packed_builder(layout);
  const Bid packed = packed_builder.AddBlock(ByteVector(400, 7), true);
  const ByteVector packed_file = packed_builder.Build();
  const bool compressed = layout == FileLayout::kUnicode4k;
  const std::size_t t = geometry_for(layout).block_trailer_size;
  // 400 bytes of one value compress far below the 4 KB layout's smallest block.
  const std::size_t space = compressed ? 512 : block_disk_size(400, layout);
  const auto alone = read_block_trailer(Bytes(packed_file).subspan(packed_builder.offset_of(packed) + space - t, t), layout);
  ASSERT_TRUE(alone);
  EXPECT_EQ(alone->bid, packed.value);
  EXPECT_EQ(alone->cb_inflated, compressed ? 400 : 0);
  if (compressed) EXPECT_LT(alone->cb, 400);
  else EXPECT_EQ(alone->cb, 400);
  const auto in_place = parse_block_trailer(Bytes(packed_file).subspan(packed_builder.offset_of(packed), space), alone->cb, layout);
  ASSERT_TRUE(in_place);
  EXPECT_EQ(in_place->crc, alone->crc);
  EXPECT_EQ(in_place->cb_inflated, alone->cb_inflated);
  EXPECT_FALSE(read_block_trailer(Bytes(packed_file).first(t - 1), layout));

  // One stored byte changed: the checksum no longer vouches, the rest still does.
  ByteVector damaged(file);
  damaged[b.offset_of(d1) + 5] ^= 0x10;
  const Bytes disk = Bytes(damaged).subspan(b.offset_of(d1), block_disk_size(300, layout));
  const TrailerVerdict v = judge_block_trailer(*parse_block_trailer(disk, 300, layout), disk.first(300), d1.value, 300, b.offset_of(d1));
  EXPECT_FALSE(v.crc_ok);
  EXPECT_TRUE(v.cb_ok && v.bid_ok);
  EXPECT_FALSE(v.vouches());
}

TEST(BlockDiskSize, FollowsTheLayoutsTrailerAndAlignment) {
  EXPECT_EQ(block_disk_size(52, FileLayout::kAnsi), 64u);
  EXPECT_EQ(block_disk_size(53, FileLayout::kAnsi), 128u);
  EXPECT_EQ(block_disk_size(48, FileLayout::kUnicode), 64u);
  EXPECT_EQ(block_disk_size(49, FileLayout::kUnicode), 128u);
  EXPECT_EQ(block_disk_size(488, FileLayout::kUnicode4k), 512u);
  EXPECT_EQ(block_disk_size(489, FileLayout::kUnicode4k), 1024u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, BlocksOfEveryLayout,
                         ::testing::Values(FileLayout::kAnsi, FileLayout::kUnicode, FileLayout::kUnicode4k),
                         LayoutTestName());

}  // namespace
}  // namespace salvora
