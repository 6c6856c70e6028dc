// Damaged indexes over stores built in code, in all three layouts: what a lost, misplaced or
// unreachable page costs once the repair has looked through the file, what it names as rebuilt
// and as lost, and which old entries it must not bring back.
#include <gtest/gtest.h>

#include <algorithm>

#include "ndb/block_reader.h"
#include "ndb/index_repair.h"
#include "ndb/ost_context.h"
#include "support/layouts.h"
#include "support/ndb_builder.h"
#include "support/store_damage.h"

namespace salvora {
namespace {

using testing::ByteVector;
using testing::NdbBuilder;

constexpr std::uint8_t kBlockPages = 0x80;
constexpr std::uint8_t kNodePages = 0x81;
constexpr int kMessages = 24;

// A store whose indexes span several leaf pages under one root, with a block per node.
struct Store {
  explicit Store(FileLayout layout) : builder(layout, CryptMethod::kPermute) {
    builder.leaf_capacity = 4;
    auto block = [&](int i) { return builder.AddBlock(ByteVector(60 + static_cast<std::size_t>(i), static_cast<std::uint8_t>(i))); };
    builder.AddNode(kNidMessageStore, block(0), Bid(), Nid());
    builder.AddNode(kNidRootFolder, block(1), Bid(), kNidRootFolder);
    for (int i = 0; i < kMessages; ++i) {
      messages.push_back(Nid::make(kNidTypeNormalMessage, 0x400 + static_cast<std::uint32_t>(i)));
      builder.AddNode(messages.back(), block(2 + i), Bid(), kNidRootFolder);
    }
  }
  NdbBuilder builder;
  std::vector<Nid> messages;
};

struct Loaded {
  OstContext ctx;
  int blocks = -9;
  int nodes = -9;

  std::size_t readable_messages(const std::vector<Nid>& nids) const {
    std::size_t n = 0;
    for (Nid nid : nids) {
      const NodeRecord* r = FindNode(ctx, nid);
      n += r && r->data_block && ReadNodeValue(ctx, r->data_bid) ? 1 : 0;
    }
    return n;
  }
};

std::unique_ptr<Loaded> load(const ByteVector& bytes, const std::string& name) {
  const std::string path = testing::TestTempDir() + "/" + name;
  testing::WriteBytes(path, bytes);
  auto l = std::make_unique<Loaded>();
  EXPECT_EQ(OpenStore(l->ctx, path), 0);
  l->blocks = LoadBlockIndex(l->ctx);
  l->nodes = LoadNodeIndex(l->ctx);
  return l;
}

void swap_pages(ByteVector& b, std::uint64_t x, std::uint64_t y, std::size_t size) {
  std::swap_ranges(b.begin() + static_cast<std::ptrdiff_t>(x), b.begin() + static_cast<std::ptrdiff_t>(x + size),
                   b.begin() + static_cast<std::ptrdiff_t>(y));
}

class Repair : public ::testing::TestWithParam<FileLayout> {
 protected:
  std::size_t page() const { return geometry_for(GetParam()).page_size; }
};

INSTANTIATE_TEST_SUITE_P(Layouts, Repair, AllLayouts(), LayoutTestName());

TEST_P(Repair, SoundStoreIsNotScanned) {
  Store s(GetParam());
  auto l = load(s.builder.Build(), "sound.pst");
  EXPECT_FALSE(l->ctx.scan);
  EXPECT_TRUE(l->ctx.findings.rebuilt.empty());
  EXPECT_TRUE(l->ctx.findings.lost.empty());
}

// Two leaf pages of either index trade places: each parent entry leads to a page that begins
// with another key. Both subtrees are rebuilt from the pages where they now lie.
TEST_P(Repair, SwappedLeafPagesAreRebuilt) {
  for (std::uint8_t tree : {kBlockPages, kNodePages}) {
    Store s(GetParam());
    ByteVector bytes = s.builder.Build();
    const auto leaves = testing::RootChildren(bytes, tree);
    ASSERT_GE(leaves.size(), 3u);
    swap_pages(bytes, leaves[0], leaves[2], page());
    auto l = load(bytes, "swapped.pst");
    EXPECT_EQ(l->readable_messages(s.messages), s.messages.size()) << int(tree);
    EXPECT_EQ(l->ctx.findings.rebuilt.size(), 2u) << int(tree);
    EXPECT_TRUE(l->ctx.findings.lost.empty()) << ::testing::PrintToString(l->ctx.findings.lost);
  }
}

// A zeroed block index leaf has no copy anywhere, but every block's own trailer still names it.
TEST_P(Repair, ZeroedBlockLeafIsRebuiltFromTheBlocksThemselves) {
  Store s(GetParam());
  ByteVector bytes = s.builder.Build();
  const auto leaves = testing::RootChildren(bytes, kBlockPages);
  ASSERT_GE(leaves.size(), 3u);
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(leaves[1]), page(), 0);
  auto l = load(bytes, "zeroed-block-leaf.pst");
  EXPECT_EQ(l->readable_messages(s.messages), s.messages.size());
  ASSERT_EQ(l->ctx.findings.rebuilt.size(), 1u);
  EXPECT_NE(l->ctx.findings.rebuilt[0].find("block index: the page at offset"), std::string::npos);
}

// A zeroed node leaf with no other copy is a loss, named with the ids it held; the rest stays.
TEST_P(Repair, NodeLeafWithoutACopyIsNamedLost) {
  Store s(GetParam());
  ByteVector bytes = s.builder.Build();
  const auto leaves = testing::RootChildren(bytes, kNodePages);
  ASSERT_GE(leaves.size(), 3u);
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(leaves[2]), page(), 0);
  auto l = load(bytes, "zeroed-node-leaf.pst");
  EXPECT_EQ(l->nodes, 0);
  EXPECT_EQ(l->readable_messages(s.messages), s.messages.size() - 4);
  ASSERT_EQ(l->ctx.findings.lost.size(), 1u);
  EXPECT_NE(l->ctx.findings.lost[0].find("node index: the page at offset"), std::string::npos);
  EXPECT_NE(l->ctx.findings.lost[0].find("no copy of its entries"), std::string::npos);
}

// A leaf whose checksum fails is not taken on trust (issue 34). A block entry bent to another
// offset is not confirmed by the block there, and the block's own trailer gives it back; a node
// entry bent to a data block the file lacks is named and left out. The page's other entries
// stand, confirmed by their blocks.
TEST_P(Repair, LeafFailingItsChecksumKeepsWhatItsBlocksConfirm) {
  const std::size_t id = GetParam() == FileLayout::kAnsi ? 4 : 8;
  for (std::uint8_t tree : {kBlockPages, kNodePages}) {
    Store s(GetParam());
    ByteVector bytes = s.builder.Build();
    const auto leaves = testing::RootChildren(bytes, tree);
    ASSERT_GE(leaves.size(), 3u);
    // The second field of the first entry: a block's offset, a node's data block.
    bytes[leaves[1] + id + 2] ^= 0x40;
    auto l = load(bytes, "bent-entry.pst");
    const auto& f = l->ctx.findings;
    if (tree == kBlockPages) {
      EXPECT_EQ(l->readable_messages(s.messages), s.messages.size());
      EXPECT_TRUE(f.lost.empty()) << ::testing::PrintToString(f.lost);
      ASSERT_EQ(f.rebuilt.size(), 1u);
      EXPECT_NE(f.rebuilt[0].find("fails its checksum; 1 entries rebuilt from copies found by scanning the file, 3 of its own"),
                std::string::npos) << f.rebuilt[0];
    } else {
      EXPECT_EQ(l->readable_messages(s.messages), s.messages.size() - 1);
      EXPECT_EQ(FindNode(l->ctx, s.messages[2]), nullptr);
      ASSERT_EQ(f.lost.size(), 1u) << ::testing::PrintToString(f.lost);
      EXPECT_NE(f.lost[0].find("its entry for node " + std::to_string(s.messages[2].value) +
                               " could not be confirmed and is left out: its data block"),
                std::string::npos) << f.lost[0];
    }
  }
}

// Root pointers that lead nowhere, with the header checksum wrong or made right: the whole
// index is rebuilt from its pages.
TEST_P(Repair, UnusableRootsAreReplacedByScanning) {
  for (bool fix_crc : {false, true}) {
    Store s(GetParam());
    ByteVector bytes = s.builder.Build();
    testing::SetRootPointer(bytes, kNodePages, bytes.size() + 4096, fix_crc);
    testing::SetRootPointer(bytes, kBlockPages, 0, fix_crc);
    auto l = load(bytes, "roots.pst");
    EXPECT_EQ(l->blocks, 0);
    EXPECT_EQ(l->nodes, 0);
    EXPECT_EQ(l->readable_messages(s.messages), s.messages.size());
    ASSERT_EQ(l->ctx.findings.rebuilt.size(), 2u);
    EXPECT_NE(l->ctx.findings.rebuilt[1].find("node index: the root page"), std::string::npos);
  }
}

// A header that claims more bytes than the file has loses only the blocks past the end: a
// size claimed twice over, with every block there, costs nothing; a file cut in half does.
TEST_P(Repair, HeaderEndPastTheFileIsALossOnlyForBlocksPastTheEnd) {
  {
    Store s(GetParam());
    ByteVector bytes = s.builder.Build();
    testing::SetEndOfFile(bytes, bytes.size() * 2);
    auto l = load(bytes, "eof.pst");
    EXPECT_FALSE(l->ctx.findings.truncated);
    EXPECT_TRUE(l->ctx.findings.lost.empty());
    ASSERT_EQ(l->ctx.findings.rebuilt.size(), 1u);
    EXPECT_NE(l->ctx.findings.rebuilt[0].find("no block its index names lies past the end"), std::string::npos);
    EXPECT_EQ(l->readable_messages(s.messages), s.messages.size());
  }
  {
    Store s(GetParam());
    ByteVector bytes = s.builder.Build();
    bytes.resize(bytes.size() / 2);
    auto l = load(bytes, "cut.pst");
    EXPECT_TRUE(l->ctx.findings.truncated);
    EXPECT_TRUE(std::any_of(l->ctx.findings.lost.begin(), l->ctx.findings.lost.end(),
                            [](const std::string& line) { return line.find("cut short") != std::string::npos; }));
  }
}

// Entries left behind a leaf's count are old states: the repair never takes them, and the
// recovery of deleted messages takes only those whose block is still there.
TEST_P(Repair, LeftoverEntriesAreDeletedMessagesOnlyWithTheirBlocks) {
  Store s(GetParam());
  const Nid kept = Nid::make(kNidTypeNormalMessage, 0x900);
  const Nid gone = Nid::make(kNidTypeNormalMessage, 0x901);
  const Bid kept_data = s.builder.AddBlock(ByteVector(90, 0x5A));
  s.builder.stale_nodes = {{kept, kept_data, Bid(), kNidRootFolder}, {gone, Bid(0x7FFF0), Bid(), kNidRootFolder}};
  auto l = load(s.builder.Build(), "leftovers.pst");
  EXPECT_EQ(FindNode(l->ctx, kept), nullptr);
  const auto deleted = FindDeletedMessages(l->ctx);
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(deleted[0].nid, kept);
  EXPECT_TRUE(ReadNodeValue(l->ctx, deleted[0].data_bid).has_value());
}

}  // namespace
}  // namespace salvora
