// The block index of a sound tree stays in the file and is looked up page by page: it must
// answer exactly as the index held in memory answers, from two threads at once, and a tree
// that is not sound must be held in memory as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>

#include "format/layout.h"
#include "ndb/block_reader.h"
#include "ndb/ost_context.h"
#include "support/layouts.h"
#include "support/ndb_builder.h"

namespace salvora {
namespace {

using testing::ByteVector;
using testing::NdbBuilder;

struct Built {
  std::string path;
  std::vector<Bid> bids;
};

// Many small leaves: more of them than the index caches, and a tree three levels deep.
Built build(FileLayout layout, const std::string& name, bool valid_trailers = true, int blocks = 1500) {
  NdbBuilder b(layout);
  b.leaf_capacity = 2;
  b.intermediate_capacity = 16;
  b.valid_trailers = valid_trailers;
  Built out;
  for (int i = 0; i < blocks; ++i)
    out.bids.push_back(b.AddBlock(ByteVector(16 + static_cast<std::size_t>(i % 50), static_cast<std::uint8_t>(i)),
                                  layout == FileLayout::kUnicode4k && i % 3 == 0));
  b.AddNode(kNidMessageStore, out.bids[0], Bid(), Nid());
  out.path = b.WriteTemp(name);
  return out;
}

std::unique_ptr<OstContext> open(const std::string& path) {
  auto ctx = std::make_unique<OstContext>();
  EXPECT_EQ(OpenStore(*ctx, path), 0);
  EXPECT_EQ(LoadBlockIndex(*ctx), 0);
  return ctx;
}

// What the index holds, by key, as its own walk over every entry gives it.
std::map<std::uint64_t, BlockEntry> all_entries(const OstContext& ctx) {
  std::map<std::uint64_t, BlockEntry> out;
  ctx.blocks->ForEach(ctx.file, [&](const BlockEntry& e) {
    out.emplace(e.bid.key().value, e);
    return true;
  });
  return out;
}

bool same(const BlockEntry& a, const BlockEntry& b) {
  return a.bid == b.bid && a.ib == b.ib && a.cb == b.cb && a.cb_inflated == b.cb_inflated && a.ref_count == b.ref_count;
}

class PagedIndex : public ::testing::TestWithParam<FileLayout> {};

INSTANTIATE_TEST_SUITE_P(Layouts, PagedIndex, AllLayouts(), LayoutTestName());

// The same file read with sound trailers (paged) and with broken ones (held in memory, the
// walk trusting the key order instead): every block, every id between and around them.
TEST_P(PagedIndex, AnswersAsTheIndexInMemoryDoes) {
  const Built sound = build(GetParam(), "paged-sound.pst");
  const Built broken = build(GetParam(), "paged-broken.pst", false);
  auto paged = open(sound.path);
  auto memory = open(broken.path);
  ASSERT_TRUE(paged->blocks->paged());
  ASSERT_FALSE(memory->blocks->paged());
  EXPECT_EQ(paged->blocks->size(), sound.bids.size());
  EXPECT_EQ(memory->blocks->size(), sound.bids.size());
  // A few hundred bytes of leaf directory in place of every entry.
  EXPECT_LT(paged->blocks->memory_bytes(), memory->blocks->memory_bytes());

  const auto listed = all_entries(*paged);
  ASSERT_EQ(listed.size(), sound.bids.size());
  for (const Bid bid : sound.bids) {
    const auto a = FindBlock(*paged, bid);
    const auto b = FindBlock(*memory, bid);
    ASSERT_TRUE(a && b) << bid.value;
    EXPECT_TRUE(same(*a, *b)) << bid.value;
    EXPECT_TRUE(same(*a, listed.at(bid.key().value))) << bid.value;
    EXPECT_TRUE(FindBlock(*paged, Bid(bid.value | 1)));  // bit 0 is not part of the key
    // Between two blocks, on either side of every leaf and every run of leaves searched.
    EXPECT_EQ(FindBlock(*paged, Bid(bid.value + 2)).has_value(), FindBlock(*memory, Bid(bid.value + 2)).has_value()) << bid.value;
    EXPECT_EQ(ReadBlockDecoded(*paged, bid), ReadBlockDecoded(*memory, bid)) << bid.value;
  }
  const auto [lowest, highest] = std::minmax_element(sound.bids.begin(), sound.bids.end(),
                                                     [](Bid x, Bid y) { return x.value < y.value; });
  for (const Bid absent : {Bid(lowest->value - 4), Bid(highest->value + 4), Bid(lowest->value + 2), Bid()}) {
    EXPECT_FALSE(FindBlock(*paged, absent)) << absent.value;
    EXPECT_FALSE(FindBlock(*memory, absent)) << absent.value;
  }
}

// The prefetching thread and the writing thread look blocks up at once, pushing each other's
// leaves out of the cache.
TEST_P(PagedIndex, TwoThreadsLookUpAtOnce) {
  const Built sound = build(GetParam(), "paged-threads.pst", true, 3000);
  auto ctx = open(sound.path);
  ASSERT_TRUE(ctx->blocks->paged());
  const auto expected = all_entries(*ctx);
  std::vector<Bid> forward = sound.bids, backward(sound.bids.rbegin(), sound.bids.rend());
  int wrong[2] = {0, 0};
  auto look = [&](const std::vector<Bid>& order, int& errors) {
    for (int round = 0; round < 3; ++round) {
      for (const Bid bid : order) {
        const auto e = FindBlock(*ctx, bid);
        if (!e || !same(*e, expected.at(bid.key().value))) ++errors;
      }
    }
  };
  std::thread other([&] { look(backward, wrong[1]); });
  look(forward, wrong[0]);
  other.join();
  EXPECT_EQ(wrong[0], 0);
  EXPECT_EQ(wrong[1], 0);
}

// Blocks a scan finds later (those of deleted items) are added beside the leaves: found, and
// listed after them, while what the leaves hold keeps answering.
TEST(PagedIndex, AddedEntriesAnswerBesideTheLeaves) {
  const Built sound = build(FileLayout::kUnicode, "paged-added.pst");
  auto ctx = open(sound.path);
  ASSERT_TRUE(ctx->blocks->paged());
  BlockEntry extra;
  extra.bid = Bid(0x7FFF0004);
  extra.ib = 0x1000;
  extra.cb = 20;
  extra.cb_inflated = 20;
  ctx->blocks->Append(extra);
  ctx->blocks->Seal();
  EXPECT_TRUE(ctx->blocks->paged());
  EXPECT_EQ(ctx->blocks->size(), sound.bids.size() + 1);
  ASSERT_TRUE(FindBlock(*ctx, extra.bid));
  EXPECT_EQ(FindBlock(*ctx, extra.bid)->ib, 0x1000u);
  EXPECT_TRUE(FindBlock(*ctx, sound.bids[700]));
  std::vector<Bid> order;
  ctx->blocks->ForEach(ctx->file, [&](const BlockEntry& e) {
    order.push_back(e.bid);
    return true;
  });
  ASSERT_EQ(order.size(), sound.bids.size() + 1);
  EXPECT_EQ(order.back(), extra.bid);
}

}  // namespace
}  // namespace salvora
