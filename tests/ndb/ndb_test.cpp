// The node database reader over files built in code, in all three layouts, and damaged on
// purpose: what must still be read, and what must not be believed.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ndb/block_reader.h"
#include "ndb/node_tree.h"
#include "ndb/ost_context.h"
#include "support/layouts.h"
#include "support/ndb_builder.h"

namespace salvora {
namespace {

using testing::ByteVector;
using testing::NdbBuilder;

ByteVector pattern(std::size_t n, std::uint8_t seed) {
  ByteVector v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
  return v;
}

std::size_t children_of(const NodeRecord* node) {
  std::size_t n = 0;
  for (const NodeRecord* c = node->first_child(); c; c = c->next_sibling()) ++n;
  return n;
}

struct Loaded {
  OstContext ctx;
  int block_result = -9;
  int node_result = -9;
};

std::unique_ptr<Loaded> load(NdbBuilder& b, const std::string& name) {
  auto l = std::make_unique<Loaded>();
  const std::string path = b.WriteTemp(name);
  EXPECT_EQ(OpenStore(l->ctx, path), 0);
  l->block_result = LoadBlockIndex(l->ctx);
  l->node_result = LoadNodeIndex(l->ctx);
  return l;
}


class EveryLayout : public ::testing::TestWithParam<FileLayout> {};

INSTANTIATE_TEST_SUITE_P(Layouts, EveryLayout, AllLayouts(), LayoutTestName());

// Deep trees force the reader to learn the leaf depth by trial at every level.
TEST_P(EveryLayout, MultiLevelTreesAreReadWhole) {
  NdbBuilder b(GetParam(), CryptMethod::kPermute);
  b.leaf_capacity = 3;
  b.intermediate_capacity = 2;
  std::vector<Bid> bids;
  for (int i = 0; i < 20; ++i) bids.push_back(b.AddBlock(pattern(100 + static_cast<std::size_t>(i), static_cast<std::uint8_t>(i))));
  b.AddNode(kNidMessageStore, bids[0], Bid(), Nid());
  b.AddNode(kNidRootFolder, bids[1], Bid(), kNidRootFolder);
  for (std::uint32_t i = 0; i < 15; ++i) {
    b.AddNode(Nid::make(kNidTypeNormalMessage, 0x100 + i), bids[2 + i], Bid(), kNidRootFolder);
  }
  auto l = load(b, "deep.pst");
  EXPECT_EQ(l->block_result, 0);
  EXPECT_EQ(l->node_result, 0);
  EXPECT_EQ(l->ctx.blocks->size(), 20u);
  EXPECT_EQ(l->ctx.nodes->size(), 17u);
  EXPECT_EQ(l->ctx.nodes->detached().size(), 0u);
  NodeRecord* root = FindNode(l->ctx, kNidRootFolder);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(children_of(root), 15u);
  EXPECT_EQ(root->parent(), nullptr);
  // Bit 0 of a BID is ignored by lookups.
  EXPECT_TRUE(FindBlock(l->ctx, Bid(bids[3].value | 1)));
  for (int i = 0; i < 20; ++i) {
    auto v = ReadNodeValue(l->ctx, bids[static_cast<std::size_t>(i)]);
    ASSERT_TRUE(v.has_value()) << i;
    EXPECT_EQ(*v, pattern(100 + static_cast<std::size_t>(i), static_cast<std::uint8_t>(i))) << i;
  }
}

TEST_P(EveryLayout, DataTreesAndSubnodeTrees) {
  NdbBuilder b(GetParam(), CryptMethod::kCyclic);
  const auto a = pattern(3000, 1), c = pattern(5000, 2), d = pattern(7, 3);
  const Bid ba = b.AddBlock(a), bc = b.AddBlock(c), bd = b.AddBlock(d);
  const Bid x1 = b.AddDataTree({ba, bc}, 1, 8000);
  const Bid x2 = b.AddDataTree({bd}, 1, 7);
  const Bid xx = b.AddDataTree({x1, x2}, 2, 8007);
  const Bid leaf1 = b.AddSubnodeLeaf({{Nid(0x671), x1, Bid()}, {Nid(0x692), bd, Bid()}});
  const Bid leaf2 = b.AddSubnodeLeaf({{Nid(0x8025), ba, leaf1}});
  const Bid index = b.AddSubnodeIndex({{Nid(0x671), leaf1}, {Nid(0x8025), leaf2}});
  b.AddNode(kNidMessageStore, xx, index, Nid());
  auto l = load(b, "trees.pst");

  ByteVector whole = a;
  whole.insert(whole.end(), c.begin(), c.end());
  whole.insert(whole.end(), d.begin(), d.end());
  EXPECT_EQ(ReadNodeValue(l->ctx, xx), whole);
  auto blocks = ReadNodeBlocks(l->ctx, x1);
  ASSERT_TRUE(blocks.has_value());
  ASSERT_EQ(blocks->size(), 2u);
  EXPECT_EQ((*blocks)[1], c);
  // One block, not the value its tree describes.
  auto raw_tree = ReadBlockDecoded(l->ctx, x1);
  ASSERT_TRUE(raw_tree.has_value());
  EXPECT_EQ((*raw_tree)[0], 0x01);

  auto subs = ReadSubnodes(l->ctx, index);
  ASSERT_TRUE(subs.has_value());
  ASSERT_EQ(subs->size(), 3u);
  EXPECT_EQ((*subs)[2].nid, Nid(0x8025));
  EXPECT_EQ((*subs)[2].sub_bid, leaf1);
  EXPECT_EQ(ReadSubnodeValue(l->ctx, Nid(0x692), *subs), d);
  EXPECT_EQ(ReadSubnodeValue(l->ctx, Nid(0x671), *subs)->size(), 8000u);
  EXPECT_FALSE(ReadSubnodeValue(l->ctx, Nid(0x999), *subs).has_value());
}

TEST_P(EveryLayout, StaleEntriesBehindAnIntactTrailerAreIgnored) {
  NdbBuilder b(GetParam());
  const Bid data = b.AddBlock(pattern(10, 0));
  b.AddNode(kNidMessageStore, data, Bid(), Nid());
  b.AddNode(kNidRootFolder, data, Bid(), kNidRootFolder);
  // Leftovers in key order behind the counted entries: a deleted message and a freed block.
  b.stale_nodes.push_back({Nid::make(kNidTypeNormalMessage, 0x500), data, Bid(), kNidRootFolder});
  b.stale_blocks.push_back({Bid(0x4000), 0x1234});
  auto l = load(b, "stale.pst");
  EXPECT_EQ(l->ctx.nodes->size(), 2u);
  EXPECT_EQ(l->ctx.blocks->size(), 1u);
  EXPECT_FALSE(FindBlock(l->ctx, Bid(0x4000)));
}

// A data tree whose blocks do not add up to the total it stores is not whole (issue 34): its
// value fails after what could be read, a check says so without inflating, and a heap over it
// keeps the blocks it has, the damage counted.
TEST_P(EveryLayout, DataTreeShortOfItsStoredTotalIsNotWhole) {
  NdbBuilder b(GetParam());
  const Bid ba = b.AddBlock(pattern(3000, 1)), bc = b.AddBlock(pattern(5000, 2));
  const Bid sound = b.AddDataTree({ba, bc}, 1, 8000);
  const Bid short_tree = b.AddDataTree({ba, bc}, 1, 9000);
  const Bid list = b.AddSubnodeLeaf({{Nid(0x671), short_tree, Bid()}});
  b.AddNode(kNidMessageStore, sound, list, Nid());
  auto l = load(b, "short-tree.pst");
  const auto whole = FindBlock(l->ctx, sound), cut = FindBlock(l->ctx, short_tree);
  ASSERT_TRUE(whole && cut);
  MemorySink sink;
  EXPECT_FALSE(ReadNodeData(l->ctx, *cut, sink));
  EXPECT_EQ(sink.value().size(), 8000u);
  EXPECT_FALSE(CheckNodeData(l->ctx, *cut));
  EXPECT_FALSE(CheckValueBlocks(l->ctx, *cut));
  EXPECT_TRUE(CheckNodeData(l->ctx, *whole));
  EXPECT_TRUE(CheckValueBlocks(l->ctx, *whole));
  EXPECT_FALSE(ValueBlocks(l->ctx, short_tree)->complete);
  const auto damaged = l->ctx.damaged_blocks.load();
  const auto blocks = ReadNodeBlocks(l->ctx, short_tree);
  ASSERT_TRUE(blocks.has_value());
  EXPECT_EQ(blocks->size(), 2u);
  const auto subs = ReadSubnodes(l->ctx, list);
  ASSERT_TRUE(subs.has_value());
  EXPECT_FALSE(ReadSubnodeValue(l->ctx, Nid(0x671), *subs).has_value());
  EXPECT_EQ(l->ctx.damaged_blocks.load(), damaged + 1);
}

TEST_P(EveryLayout, DamagedTrailersFallBackToKeyOrder) {
  NdbBuilder b(GetParam());
  b.valid_trailers = false;
  const Bid data = b.AddBlock(pattern(10, 0));
  b.AddNode(kNidMessageStore, data, Bid(), Nid());
  b.AddNode(Nid::make(kNidTypeNormalFolder, 0x300), data, Bid(), kNidRootFolder);
  b.AddNode(kNidRootFolder, data, Bid(), kNidRootFolder);
  // A falling NID ends the page: the entry behind it is not read.
  b.stale_nodes.push_back({Nid(0x42), data, Bid(), Nid()});
  b.stale_nodes.push_back({Nid(0x7FFFFF), data, Bid(), Nid()});
  b.stale_blocks.push_back({Bid(0x2), 0});
  auto l = load(b, "damaged-trailers.pst");
  EXPECT_EQ(l->ctx.nodes->size(), 3u);
  EXPECT_EQ(FindNode(l->ctx, Nid(0x42)), nullptr);
  EXPECT_EQ(FindNode(l->ctx, Nid(0x7FFFFF)), nullptr);
  EXPECT_EQ(l->ctx.blocks->size(), 1u);
}

// A repeated NID breaks the key order as a falling one does, even under an intact trailer: the
// first entry stands, and neither the repeat nor what follows it on the page is believed.
TEST_P(EveryLayout, RepeatedKeyEndsTheLeafPage) {
  NdbBuilder b(GetParam());
  b.omit_node_sort = true;
  const Bid first = b.AddBlock(pattern(10, 0));
  const Bid second = b.AddBlock(pattern(20, 1));
  const Nid later = Nid::make(kNidTypeNormalFolder, 0x300);
  b.AddNode(kNidMessageStore, first, Bid(), Nid());
  b.AddNode(kNidRootFolder, first, Bid(), kNidRootFolder);
  b.AddNode(kNidRootFolder, second, Bid(), kNidRootFolder);
  b.AddNode(later, first, Bid(), kNidRootFolder);
  auto l = load(b, "repeated-key.pst");
  EXPECT_EQ(l->ctx.nodes->size(), 2u);
  const NodeRecord* root = FindNode(l->ctx, kNidRootFolder);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->data_bid, first);
  EXPECT_EQ(FindNode(l->ctx, later), nullptr);
}

TEST_P(EveryLayout, ParentsListedLaterAndOrphans) {
  NdbBuilder b(GetParam());
  b.leaf_capacity = 2;  // the folder's entry lands on a later page than its messages
  const Bid data = b.AddBlock(pattern(10, 0));
  const Nid folder = Nid::make(kNidTypeNormalFolder, 0x9000);
  const Nid m1 = Nid::make(kNidTypeNormalMessage, 0x10);
  const Nid m2 = Nid::make(kNidTypeNormalMessage, 0x11);
  const Nid lost = Nid::make(kNidTypeNormalMessage, 0x12);
  const Nid ghost = Nid::make(kNidTypeNormalFolder, 0x7777);  // never listed
  const Nid a = Nid::make(kNidTypeNormalFolder, 0x20), c = Nid::make(kNidTypeNormalFolder, 0x21);
  b.AddNode(kNidMessageStore, data, Bid(), Nid());
  b.AddNode(kNidRootFolder, data, Bid(), kNidRootFolder);
  b.AddNode(m1, data, Bid(), folder);
  b.AddNode(m2, data, Bid(), folder);
  b.AddNode(lost, data, Bid(), ghost);
  b.AddNode(a, data, Bid(), c);  // a parent cycle: a under c, c under a
  b.AddNode(c, data, Bid(), a);
  b.AddNode(folder, data, Bid(), kNidRootFolder);
  auto l = load(b, "orphans.pst");
  NodeRecord* f = FindNode(l->ctx, folder);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(children_of(f), 2u);
  EXPECT_EQ(f->first_child()->nid, m1);
  ASSERT_NE(f->first_child()->next_sibling(), nullptr);
  EXPECT_EQ(f->first_child()->next_sibling()->nid, m2);
  EXPECT_EQ(f->parent()->nid, kNidRootFolder);
  // Kept apart, counted, and still found by NID; the cycle is cut instead of hiding both.
  NodeRecord* orphan = FindNode(l->ctx, lost);
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ(orphan->parent(), nullptr);
  EXPECT_EQ(l->ctx.nodes->detached().size(), 2u);
  std::size_t roots = 0;
  for (NodeRecord* r = l->ctx.nodes->first_root(); r; r = r->next_sibling()) ++roots;
  EXPECT_EQ(roots, 2u);  // the store and the self-parented root folder
  std::size_t reached = 0;
  for (NodeRecord* n = l->ctx.nodes->first_root(); n; n = NodeTree::NextPreOrder(n)) ++reached;
  for (NodeRecord* d : l->ctx.nodes->detached()) {
    for (NodeRecord* n = d; n; n = n->first_child()) ++reached;
  }
  EXPECT_EQ(reached, l->ctx.nodes->size());
}

// Entries in ascending order are searched in place (through every 64th NID kept aside); the
// first one out of order (a repaired index adds nodes wherever it finds them) must switch to
// the hash without losing any node, and a NID met again refreshes its node instead of adding
// one. NIDs between, before and after the ones placed are not found.
TEST(NodeTreeTest, EntriesOutOfOrderAreFoundAndLinkedLikeSortedOnes) {
  BlockIndex blocks;
  CFile64 file;
  const auto nid_of = [](std::uint32_t i) { return Nid::make(kNidTypeNormalMessage, 3 * i); };
  for (const bool shuffled : {false, true}) {
    NodeTree tree;
    std::vector<std::uint32_t> order;
    for (std::uint32_t i = 1; i <= 300; ++i) order.push_back(i);
    if (shuffled) std::swap(order[10], order[200]);
    for (std::uint32_t i : order) {
      const Nid parent = i == 1 ? Nid() : nid_of(i / 2);
      tree.Place(nid_of(i), Bid(4 * i), Bid(), parent, blocks, file);
    }
    tree.Place(nid_of(7), Bid(0x999C), Bid(), nid_of(3), blocks, file);
    tree.Link();
    ASSERT_EQ(tree.size(), 300u) << shuffled;
    EXPECT_EQ(tree.Find(nid_of(7))->data_bid, Bid(0x999C));
    EXPECT_EQ(tree.Find(nid_of(301)), nullptr);
    EXPECT_EQ(tree.Find(Nid::make(kNidTypeNormalMessage, 1)), nullptr);
    for (std::uint32_t i = 2; i <= 300; ++i) {
      const NodeRecord* n = tree.Find(nid_of(i));
      ASSERT_NE(n, nullptr) << i;
      ASSERT_NE(n->parent(), nullptr) << i;
      EXPECT_EQ(n->parent()->nid, nid_of(i / 2)) << i;
      EXPECT_EQ(tree.Find(Nid::make(kNidTypeNormalMessage, 3 * i + 1)), nullptr) << i;
    }
    EXPECT_TRUE(tree.detached().empty());
  }
}

TEST_P(EveryLayout, MissingAndTruncatedBlocksFailTheValue) {
  NdbBuilder b(GetParam());
  const Bid a = b.AddBlock(pattern(400, 1));
  const Bid tree = b.AddDataTree({a, Bid(0x7FFC)}, 1, 800);
  b.AddNode(kNidMessageStore, tree, Bid(), Nid());
  auto l = load(b, "missing-child.pst");
  MemorySink sink;
  EXPECT_FALSE(ReadNodeData(l->ctx, *FindBlock(l->ctx, tree), sink));
  EXPECT_EQ(sink.value().size(), 400u);  // what came before the gap stays delivered
  EXPECT_FALSE(ReadNodeValue(l->ctx, Bid(0x9990)).has_value());
}

// A block whose trailer does not vouch for it (checksum, size or id) is still delivered, and
// counted as damaged; sound blocks never are.
TEST_P(EveryLayout, BlockTrailersAreCheckedButDamageStillDelivers) {
  NdbBuilder b(GetParam());
  const Bid good = b.AddBlock(pattern(300, 3));
  const Bid bad_crc = b.AddBlock(pattern(500, 4));
  const Bid bad_id = b.AddBlock(pattern(70, 5));
  b.AddNode(kNidMessageStore, good, Bid(), Nid());
  const std::string path = b.WriteTemp("trailers.pst");
  const PageGeometry g = geometry_for(GetParam());
  const auto trailer_of = [&](Bid bid, std::size_t cb) {
    return b.offset_of(bid) + (cb + g.block_trailer_size + g.block_alignment - 1) / g.block_alignment * g.block_alignment -
           g.block_trailer_size;
  };
  {
    CFile64 f;
    ASSERT_TRUE(f.Open(path, CFile64::Access::kReadWrite));
    const std::uint8_t junk = 0xA5;
    const bool ansi = GetParam() == FileLayout::kAnsi;
    f.WriteAt(trailer_of(bad_crc, 500) + (ansi ? 8 : 4), &junk, 1);  // dwCRC
    f.WriteAt(trailer_of(bad_id, 70) + (ansi ? 4 : 8), &junk, 1);    // bid
  }
  OstContext ctx;
  ASSERT_EQ(OpenStore(ctx, path), 0);
  LoadBlockIndex(ctx);
  EXPECT_EQ(ReadBlock(ctx, good), pattern(300, 3));
  EXPECT_EQ(ctx.damaged_blocks.load(), 0u);
  EXPECT_EQ(ReadBlock(ctx, bad_crc), pattern(500, 4));
  EXPECT_EQ(ctx.damaged_blocks.load(), 1u);
  EXPECT_EQ(ReadBlock(ctx, bad_id), pattern(70, 5));
  EXPECT_EQ(ctx.damaged_blocks.load(), 2u);
}

// Version-36 files pad each block with its trailer to a multiple of 512 bytes, not 64 as the
// 512-byte-page layouts do: the trailer sits at the end of that padding. Sizes on either side of
// the boundaries, where a wrong alignment puts the trailer somewhere else, all read back whole
// with every trailer vouching for its block.
TEST(NdbLayout4k, BlockTrailersSitAtTheEndOf512BytePadding) {
  NdbBuilder b(FileLayout::kUnicode4k);
  const std::vector<std::size_t> sizes = {1, 40, 41, 100, 488, 489, 1000, 4072, 8000};
  std::vector<Bid> bids;
  for (std::size_t i = 0; i < sizes.size(); ++i) bids.push_back(b.AddBlock(pattern(sizes[i], static_cast<std::uint8_t>(i))));
  b.AddNode(kNidMessageStore, bids[0], Bid(), Nid());
  auto l = load(b, "aligned-4k.ost");
  ASSERT_EQ(l->ctx.header.layout, FileLayout::kUnicode4k);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const auto damaged = l->ctx.damaged_blocks.load();
    EXPECT_EQ(ReadBlock(l->ctx, bids[i]), pattern(sizes[i], static_cast<std::uint8_t>(i))) << sizes[i];
    EXPECT_EQ(l->ctx.damaged_blocks.load(), damaged) << "the trailer of the " << sizes[i] << "-byte block";
  }
}

TEST(NdbCompression, CompressedBlocksAndTreesInflate) {
  NdbBuilder b(FileLayout::kUnicode4k);
  const auto a = pattern(9000, 5), c = ByteVector(20000, 'x'), d = pattern(33, 9);
  const Bid ba = b.AddBlock(a), bc = b.AddBlock(c, true), bd = b.AddBlock(d, true);
  const Bid tree = b.AddDataTree({ba, bc, bd}, 1, 29033, true);
  b.AddNode(kNidMessageStore, tree, Bid(), Nid());
  auto l = load(b, "compressed.ost");
  const auto e = FindBlock(l->ctx, bc);
  ASSERT_TRUE(e);
  EXPECT_TRUE(e->is_compressed());
  EXPECT_EQ(e->cb_inflated, 20000u);
  ByteVector whole = a;
  whole.insert(whole.end(), c.begin(), c.end());
  whole.insert(whole.end(), d.begin(), d.end());
  EXPECT_EQ(ReadNodeValue(l->ctx, tree), whole);
  EXPECT_NE(ReadBlock(l->ctx, bc)->size(), 20000u);  // stored, not inflated
}

TEST(NdbEncoding, BlocksAreDecodedWithTheFilesMethod) {
  for (CryptMethod m : {CryptMethod::kNone, CryptMethod::kPermute, CryptMethod::kCyclic}) {
    NdbBuilder b(FileLayout::kUnicode, m);
    // Enough blocks that BIDs pass 0x10000, where a 16-bit cyclic key would go wrong.
    Bid last;
    for (int i = 0; i < 0x4100; i += 0x100) last = b.AddBlock(pattern(64, static_cast<std::uint8_t>(i)));
    for (int i = 0; i < 0x4000; ++i) b.AddBlock({});
    const Bid high = b.AddBlock(pattern(300, 42));
    ASSERT_GT(high.value, 0x10000u);
    b.AddNode(kNidMessageStore, high, Bid(), Nid());
    auto l = load(b, "crypt.pst");
    EXPECT_EQ(ReadBlockDecoded(l->ctx, high), pattern(300, 42)) << crypt_method_name(m);
    auto raw = ReadBlock(l->ctx, high);
    EXPECT_EQ(*raw == pattern(300, 42), m == CryptMethod::kNone) << crypt_method_name(m);
  }
  ByteVector buf{1, 2, 3};
  EXPECT_EQ(DecodeBlock(buf, 2, Bid(4)), 0);
  EXPECT_EQ(DecodeBlock(buf, 7, Bid(4)), -1);
}

TEST(NdbAttachments, TripletSinkWritesTheWholeValue) {
  NdbBuilder b(FileLayout::kUnicode, CryptMethod::kPermute);
  const auto a = pattern(8176, 1), c = pattern(1825, 2);  // 10 001 bytes in two blocks
  const Bid tree = b.AddDataTree({b.AddBlock(a), b.AddBlock(c)}, 1, 10001);
  b.AddNode(kNidMessageStore, tree, Bid(), Nid());
  auto l = load(b, "attach.pst");
  const std::string out_path = testing::TestTempDir() + "/attachment.bin";
  CFile64 out;
  ASSERT_TRUE(out.Open(out_path, CFile64::Access::kCreate));
  EXPECT_EQ(WriteAttachmentData(l->ctx, tree, out), 10001u);
  out.Close();
  std::ifstream in(out_path, std::ios::binary);
  ByteVector got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ByteVector want = a;
  want.insert(want.end(), c.begin(), c.end());
  EXPECT_EQ(got, want);
}

TEST(NdbOpen, SourceIsNeverCreatedOrChanged) {
  OstContext ctx;
  const std::string missing = testing::TestTempDir() + "/does-not-exist.ost";
  EXPECT_EQ(OpenStore(ctx, missing), -1);
  EXPECT_EQ(ctx.open_error.cause(), CFileException::fileNotFound);
  EXPECT_FALSE(std::filesystem::exists(missing));

  NdbBuilder b(FileLayout::kUnicode4k);
  b.AddNode(kNidMessageStore, b.AddBlock(pattern(10, 0)), Bid(), Nid());
  const std::string path = b.WriteTemp("readonly.ost");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  const auto before = std::filesystem::last_write_time(path);
  {
    OstContext c;
    EXPECT_EQ(OpenStore(c, path), 0);  // read-only access suffices
    LoadBlockIndex(c);
    LoadNodeIndex(c);
  }
  EXPECT_EQ(std::filesystem::last_write_time(path), before);
}

TEST(NdbOpen, FileLockedByAnotherProgramIsInUse) {
  NdbBuilder b(FileLayout::kUnicode);
  b.AddNode(kNidMessageStore, b.AddBlock(pattern(10, 0)), Bid(), Nid());
  const std::string path = b.WriteTemp("locked.ost");
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  OstContext ctx;
  EXPECT_EQ(OpenStore(ctx, path), -1);
  EXPECT_EQ(ctx.open_error.cause(), CFileException::sharingViolation);
  ::close(fd);
  OstContext again;
  EXPECT_EQ(OpenStore(again, path), 0);
}

TEST(NdbOpen, ShortAndForeignFilesLoadNothingAndDoNotCrash) {
  NdbBuilder b(FileLayout::kUnicode);
  for (int i = 0; i < 30; ++i) b.AddBlock(pattern(500, static_cast<std::uint8_t>(i)));
  b.AddNode(kNidMessageStore, b.AddBlock(pattern(10, 0)), Bid(), Nid());
  ByteVector full = b.Build();
  for (std::size_t cut : {std::size_t{0}, std::size_t{100}, std::size_t{600}, full.size() / 2, full.size() - 1}) {
    const std::string path = testing::TestTempDir() + "/short.pst";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(full.data()), static_cast<std::streamsize>(cut));
    OstContext ctx;
    ASSERT_EQ(OpenStore(ctx, path), 0) << cut;
    LoadBlockIndex(ctx);
    LoadNodeIndex(ctx);
    EXPECT_LE(ctx.nodes->size(), 1u) << cut;
    ctx.blocks->ForEach(ctx.file, [&](const BlockEntry& e) {
      ReadNodeValue(ctx, e.bid);  // must not crash
      return true;
    });
  }
  const std::string text = testing::TestTempDir() + "/notes.txt";
  std::ofstream(text) << std::string(2000, 'a');
  OstContext ctx;
  ASSERT_EQ(OpenStore(ctx, text), 0);
  EXPECT_FALSE(ctx.header.magic_ok);
  EXPECT_EQ(ctx.header.layout, FileLayout::kUnknown);
  EXPECT_EQ(LoadBlockIndex(ctx), 2);
  EXPECT_EQ(LoadNodeIndex(ctx), 2);
}

// Checking a value (as a listing does for the bodies it leaves unread) must agree with reading
// it: yes exactly when the read gives the whole value and meets no damage. The check counts
// nothing, so a value checked and then read is counted once.
TEST_P(EveryLayout, CheckingAValueAgreesWithReadingItAndCountsNothing) {
  NdbBuilder b(GetParam());
  const bool compress = GetParam() == FileLayout::kUnicode4k;
  const Bid a = b.AddBlock(pattern(3000, 1), compress), c = b.AddBlock(pattern(200, 2), compress);
  const Bid bad = b.AddBlock(pattern(200, 3), compress);
  const Bid sound = b.AddDataTree({a, c}, 1, 3200);
  const Bid bad_leaf = b.AddDataTree({a, bad}, 1, 3200);
  const Bid bad_tree = b.AddDataTree({c, a}, 1, 3200);
  const Bid gap = b.AddDataTree({a, Bid(0x7FFC)}, 1, 3200);
  const Bid over = b.AddDataTree({sound, bad_tree}, 2, 6400);
  b.AddNode(kNidMessageStore, sound, Bid(), Nid());
  const std::string path = b.WriteTemp("checked-values.pst");
  std::vector<std::uint64_t> crcs;
  {
    OstContext ctx;
    ASSERT_EQ(OpenStore(ctx, path), 0);
    LoadBlockIndex(ctx);
    const PageGeometry& g = ctx.geometry;
    for (const Bid bid : {bad, bad_tree}) {
      const auto e = FindBlock(ctx, bid);
      ASSERT_TRUE(e);
      const std::uint64_t padded = (e->cb + g.block_trailer_size + g.block_alignment - 1) / g.block_alignment * g.block_alignment;
      crcs.push_back(e->ib + padded - g.block_trailer_size + (GetParam() == FileLayout::kAnsi ? 8 : 4));
    }
  }
  {
    CFile64 f;
    ASSERT_TRUE(f.Open(path, CFile64::Access::kReadWrite));
    const std::uint8_t junk = 0xA5;
    for (const std::uint64_t at : crcs) f.WriteAt(at, &junk, 1);  // dwCRC
  }
  OstContext ctx;
  ASSERT_EQ(OpenStore(ctx, path), 0);
  LoadBlockIndex(ctx);
  const struct {
    Bid bid;
    bool sound;
    const char* what;
  } cases[] = {
      {sound, true, "a sound data tree"},       {a, true, "a sound data block"},
      {bad, false, "a damaged data block"},     {bad_leaf, false, "a tree over a damaged block"},
      {bad_tree, false, "a damaged tree block"}, {gap, false, "a tree with a missing block"},
      {over, false, "a two-level tree over a damaged tree"},
  };
  for (const auto& t : cases) {
    const auto e = FindBlock(ctx, t.bid);
    ASSERT_TRUE(e) << t.what;
    const std::uint64_t before = ctx.damaged_blocks.load();
    EXPECT_EQ(CheckNodeData(ctx, *e), t.sound) << t.what;
    EXPECT_EQ(ctx.damaged_blocks.load(), before) << t.what;
    const bool read = ReadNodeValue(ctx, t.bid).has_value();
    EXPECT_EQ(read && ctx.damaged_blocks.load() == before, t.sound) << t.what;
  }
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace salvora
