// Data trees and sub-node trees that name the same block again and again: a few kilobytes of
// file that would expand to a value or a list without end. Every sound tree visits each block
// once, so the reader refuses a tree whose walk visits more blocks than the file's index holds.
#include <gtest/gtest.h>

#include "ndb/block_reader.h"
#include "support/ndb_builder.h"

namespace salvora {
namespace {

using namespace salvora::testing;

class CountingSink : public ValueSink {
 public:
  void Deliver(Bytes chunk) override { total_ += chunk.size(); }
};

constexpr std::size_t kFanOut = 16;

TEST(TreeAmplification, DataTreeNamingOneBlockOverAndOverIsRefused) {
  NdbBuilder b(FileLayout::kUnicode);
  const Bid data = b.AddBlock(ByteVector(8, 'x'));
  // Four levels of sixteen references each: 65,536 reads of one 8-byte block.
  Bid tree = b.AddDataTree(std::vector<Bid>(kFanOut, data), 1, 8 * kFanOut);
  for (int level = 0; level < 3; ++level) tree = b.AddDataTree(std::vector<Bid>(kFanOut, tree), 2, 0);
  const Bid sound = b.AddDataTree({data}, 1, 8);
  b.AddNode(Nid(0x21), tree, Bid(), Nid());

  OstContext ctx;
  ASSERT_EQ(OpenStore(ctx, b.WriteTemp("amplified-data.pst")), 0);
  ASSERT_EQ(LoadBlockIndex(ctx), 0);
  const std::size_t blocks = ctx.blocks->size();

  CountingSink sink;
  EXPECT_FALSE(ReadDataTree(ctx, tree, sink));
  EXPECT_LE(sink.total(), 8 * blocks);
  EXPECT_FALSE(ReadNodeValue(ctx, tree).has_value());
  EXPECT_FALSE(ReadNodeBlocks(ctx, tree).has_value());

  // A sound tree in the same file still reads.
  const auto value = ReadNodeValue(ctx, sound);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(*value, ByteVector(8, 'x'));
}

TEST(TreeAmplification, SubnodeIndexNamingOneLeafOverAndOverStopsAtTheIndexSize) {
  NdbBuilder b(FileLayout::kUnicode);
  const Bid data = b.AddBlock(ByteVector(8, 'x'));
  const Bid leaf = b.AddSubnodeLeaf({{Nid(0x8001F), data, Bid()}});
  Bid index = b.AddSubnodeIndex(std::vector<std::pair<Nid, Bid>>(kFanOut, {Nid(0x8001F), leaf}));
  for (int level = 0; level < 3; ++level) {
    index = b.AddSubnodeIndex(std::vector<std::pair<Nid, Bid>>(kFanOut, {Nid(0x8001F), index}));
  }
  const Bid sound = b.AddSubnodeIndex({{Nid(0x8001F), leaf}});
  b.AddNode(Nid(0x21), data, index, Nid());

  OstContext ctx;
  ASSERT_EQ(OpenStore(ctx, b.WriteTemp("amplified-subnodes.pst")), 0);
  ASSERT_EQ(LoadBlockIndex(ctx), 0);
  const auto list = ReadSubnodes(ctx, index);
  // Whatever is kept of the damaged list, its walk read no more leaves than the index holds blocks,
  // and each leaf here holds one entry.
  if (list) EXPECT_LE(list->size(), ctx.blocks->size());

  const auto good = ReadSubnodes(ctx, sound);
  ASSERT_TRUE(good.has_value());
  ASSERT_EQ(good->size(), 1u);
  EXPECT_EQ((*good)[0].nid, Nid(0x8001F));
}

}  // namespace
}  // namespace salvora
