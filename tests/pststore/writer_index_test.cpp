// The writer's indexes kept mostly on disk: B-trees whose clean leaves are dropped and read
// back, and allocation maps dropped once written. Each test runs against a model and checks
// what is on disk after every commit, so that a leaf or map read back stale shows up.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "pststore/pst/cow_btree.h"
#include "pststore/pst/disk_layout.h"
#include "format/page.h"
#include "pststore/sample_mailbox.h"

namespace salvora::pst {
namespace {

using Tree = CowBTree<BbtEntry, kPtypeBbt>;

struct Scratch {
  explicit Scratch(const std::string& name) : path(testing::TempPath(name)), space(file) {
    file.Open(path, CFile64::Access::kCreate);
    space.InitNew();
  }
  // What the writer does at a checkpoint, minus the header.
  Bref Commit(Tree& tree) {
    const Bref root = tree.Commit(space, next_page_bid);
    space.ApplyPendingFrees();
    space.WriteMaps();
    space.MakeFreedReusable();
    return root;
  }
  std::string path;
  CFile64 file;
  FileSpace space;
  std::uint64_t next_page_bid = 1;
};

// Every leaf entry reachable from root, read from the file alone.
void ReadTree(CFile64& file, const Bref& page, int level, std::vector<BbtEntry>& out) {
  ASSERT_LT(level, 8);
  std::vector<std::uint8_t> bytes(kPageSize);
  ASSERT_EQ(file.ReadAt(page.ib, bytes.data(), bytes.size()), kPageSize);
  ASSERT_TRUE(check_page_trailer(bytes, kPtypeBbt, page.bid, page.ib, true).empty()) << page.ib;
  const auto parsed = BtPage::Parse(bytes);
  ASSERT_TRUE(parsed);
  ByteReader r(parsed->entries);
  for (std::uint8_t i = 0; i < parsed->c_ent; ++i) {
    ByteReader e(r.bytes(parsed->cb_ent));
    if (parsed->level == 0) {
      out.push_back(BbtEntry::Parse(e));
    } else {
      const BtEntry child = BtEntry::Parse(e);
      ReadTree(file, child.child, level + 1, out);
    }
  }
}

BbtEntry Entry(std::uint64_t bid, std::uint16_t cref = 2) { return BbtEntry{bid, bid * 64, 100, cref}; }

TEST(WriterIndex, TreeMatchesModelWhileLeavesAreDroppedAndReadBack) {
  Scratch s("tree-model.bin");
  Tree tree;
  tree.SetPageSource([&](std::uint64_t ib) { return s.space.Read(ib, kPageSize); });
  std::map<std::uint64_t, BbtEntry> model;
  std::mt19937_64 rng(7);
  std::uint64_t next = 4;
  for (int round = 0; round < 12; ++round) {
    // Mostly appends, as new blocks come; then changes anywhere in what is already there.
    for (int i = 0; i < 3000; ++i, next += 4) {
      tree.Put(Entry(next));
      model[next] = Entry(next);
    }
    for (int i = 0; i < 400; ++i) {
      const std::uint64_t key = 4 + (rng() % (next / 4)) * 4;
      switch (rng() % 4) {
        case 0:  // a shared block loses a reference
          tree.Put(Entry(key, 3));
          model[key] = Entry(key, 3);
          break;
        case 1:  // an odd key between existing ones splits a full leaf
          tree.Put(Entry(key + 1));
          model[key + 1] = Entry(key + 1);
          break;
        case 2:
          EXPECT_EQ(tree.Erase(key, s.space), model.erase(key) == 1) << key;
          break;
        default: {
          const auto found = tree.Find(key);
          const auto it = model.find(key);
          ASSERT_EQ(found.has_value(), it != model.end()) << key;
          if (found) {
            EXPECT_EQ(*found, it->second);
          }
        }
      }
    }
    const Bref root = s.Commit(tree);
    // Only the leaf new keys go to stays in memory.
    EXPECT_LE(tree.resident_leaves(), 1u);
    std::vector<BbtEntry> on_disk;
    ReadTree(s.file, root, 0, on_disk);
    ASSERT_EQ(on_disk.size(), model.size());
    auto it = model.begin();
    for (const auto& e : on_disk) ASSERT_EQ(e, (it++)->second);
    EXPECT_EQ(tree.size(), model.size());
  }
  EXPECT_GT(tree.leaf_count(), 1000u);
}

// A commit rewrites a changed leaf and the pages on its way to the root, nothing else: a
// tree of thousands of leaves must not be written again at every checkpoint.
TEST(WriterIndex, CommitWritesOnlyThePathOfWhatChanged) {
  Scratch s("tree-path.bin");
  Tree tree;
  tree.SetPageSource([&](std::uint64_t ib) { return s.space.Read(ib, kPageSize); });
  for (std::uint64_t bid = 4; bid < 4 * 20000; bid += 4) tree.Put(Entry(bid));
  s.Commit(tree);  // 1,000 leaves under three levels of intermediate pages
  const auto pages_written = [&](auto change) {
    const std::uint64_t before = s.next_page_bid;
    change();
    const Bref root = s.Commit(tree);
    std::vector<BbtEntry> on_disk;
    ReadTree(s.file, root, 0, on_disk);
    EXPECT_EQ(on_disk.size(), tree.size());
    return s.next_page_bid - before;
  };
  EXPECT_EQ(pages_written([] {}), 0u);
  EXPECT_EQ(pages_written([&] { tree.Put(Entry(4 * 5000, 7)); }), 4u);
  // A split in the middle moves every leaf after it: the pages above them follow.
  EXPECT_GT(pages_written([&] { tree.Put(Entry(4 * 5000 + 1)); }), 4u);
  EXPECT_EQ(pages_written([] {}), 0u);
  const auto found = tree.Find(4 * 5000);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->cref, 7);
}

// The directory of a tree's leaves and the entries of the leaves changed since the last commit
// are in file-backed arrays, and the entries of its clean leaves are dropped: before and after
// its commit, a tree of two million entries holds next to nothing in memory, and finds every
// entry again.
TEST(WriterIndex, CommittedTreeHoldsNoMemoryPerLeaf) {
  Scratch s("tree-memory.bin");
  Tree tree;
  tree.SetPageSource([&](std::uint64_t ib) { return s.space.Read(ib, kPageSize); });
  constexpr std::uint64_t kEntries = 2000000;  // 100,000 leaves
  for (std::uint64_t i = 1; i <= kEntries; ++i) tree.Put(Entry(i * 4));
  EXPECT_LT(tree.memory_bytes(), 512u << 10);
  for (std::uint64_t i = 1; i <= kEntries; i += 997) ASSERT_TRUE(tree.Find(i * 4)) << i;
  s.Commit(tree);
  EXPECT_EQ(tree.leaf_count(), kEntries / 20);
  // The level above the leaves (5,000 pages, 160 KB) is in a file too; the small ones above it
  // are not.
  EXPECT_LT(tree.memory_bytes(), 64u << 10);
  for (std::uint64_t i = 1; i <= kEntries; i += 997) ASSERT_TRUE(tree.Find(i * 4)) << i;
  tree.Put(Entry(4 * 1000 + 1));  // a split in the middle shifts the directory
  s.Commit(tree);
  std::vector<BbtEntry> on_disk;
  ReadTree(s.file, tree.root(), 0, on_disk);
  ASSERT_EQ(on_disk.size(), kEntries + 1);
  EXPECT_EQ(on_disk[1000].bid, 4u * 1000 + 1);
}

TEST(WriterIndex, LookupsBetweenCommitsStayWithinTheResidentLimit) {
  Scratch s("tree-limit.bin");
  Tree tree;
  tree.SetPageSource([&](std::uint64_t ib) { return s.space.Read(ib, kPageSize); });
  const std::uint64_t n = 20 * 3 * Tree::kResidentLimit;
  for (std::uint64_t i = 1; i <= n; ++i) tree.Put(Entry(i * 4));
  s.Commit(tree);
  for (std::uint64_t i = 1; i <= n; i += 7) {
    const auto e = tree.Find(i * 4);
    ASSERT_TRUE(e);
    ASSERT_EQ(e->ib, i * 4 * 64);
  }
  EXPECT_LE(tree.resident_leaves(), Tree::kResidentLimit + 1);
  EXPECT_FALSE(tree.Find(2));
  EXPECT_FALSE(tree.Find(n * 4 + 4));
}

// A search goes through every 64th leaf's first key first. Leaves emptied and split in the
// middle move the leaves after them, and a leaf losing its first key changes its fence: every
// key must still be found, and keys between them not.
TEST(WriterIndex, SearchFollowsLeavesRemovedSplitAndRekeyedInTheMiddle) {
  Scratch s("tree-fences.bin");
  Tree tree;
  tree.SetPageSource([&](std::uint64_t ib) { return s.space.Read(ib, kPageSize); });
  std::map<std::uint64_t, BbtEntry> model;
  const std::uint64_t n = 64 * 20 * 40;  // forty fences' worth of full leaves
  for (std::uint64_t i = 1; i <= n; ++i) {
    tree.Put(Entry(i * 8));
    model[i * 8] = Entry(i * 8);
  }
  s.Commit(tree);
  auto check = [&] {
    for (std::uint64_t k = 8; k <= n * 8 + 8; k += 4) {
      const auto found = tree.Find(k);
      const auto it = model.find(k);
      ASSERT_EQ(found.has_value(), it != model.end()) << k;
      if (found) ASSERT_EQ(*found, it->second) << k;
    }
  };
  // Whole leaves go, among them leaves that carry a fence, then first keys of fence leaves.
  for (std::uint64_t i = 64 * 20 - 30; i <= 3 * 64 * 20 + 50; ++i) {
    ASSERT_TRUE(tree.Erase(i * 8, s.space));
    model.erase(i * 8);
  }
  for (std::uint64_t leaf = 0; leaf < 64 * 40; leaf += 64) {
    const std::uint64_t first = (leaf * 20 + 1) * 8;
    if (model.erase(first) == 1) ASSERT_TRUE(tree.Erase(first, s.space));
  }
  check();
  // Keys between existing ones split full leaves, below and above fences.
  for (std::uint64_t i = 5 * 64 * 20 - 40; i < 7 * 64 * 20 + 40; i += 3) {
    tree.Put(Entry(i * 8 + 4));
    model[i * 8 + 4] = Entry(i * 8 + 4);
  }
  check();
  s.Commit(tree);
  check();
  std::vector<BbtEntry> on_disk;
  ReadTree(s.file, tree.root(), 0, on_disk);
  ASSERT_EQ(on_disk.size(), model.size());
}

TEST(WriterIndex, LeafChangedOnDiskIsAnErrorNotGarbage) {
  Scratch s("tree-damage.bin");
  Tree tree;
  tree.SetPageSource([&](std::uint64_t ib) { return s.space.Read(ib, kPageSize); });
  for (std::uint64_t i = 1; i <= 200; ++i) tree.Put(Entry(i * 4));
  const Bref root = s.Commit(tree);
  std::vector<std::uint8_t> page(kPageSize);
  s.file.ReadAt(root.ib, page.data(), page.size());
  const auto inner = BtPage::Parse(page);
  ASSERT_TRUE(inner && inner->level == 1);
  ByteReader r(inner->entries);
  const BtEntry first = BtEntry::Parse(r);
  const std::uint8_t junk = 0x5A;
  s.file.WriteAt(first.child.ib + 3, &junk, 1);
  EXPECT_THROW(tree.Find(8), std::runtime_error);
}

// Allocation maps: after WriteMaps only the current interval's map stays in memory; frees and
// reuse in dropped intervals read the map back and land on disk at the next WriteMaps, and
// the FMap bytes follow the longest free run of each interval.
TEST(WriterIndex, AllocationMapsDroppedAndReadBackStayExact) {
  Scratch s("maps.bin");
  FileSpace& space = s.space;
  std::vector<std::uint64_t> blocks;
  // Past the 128 intervals the header covers, so that the first FMap page is written.
  while (space.interval_count() < 140) blocks.push_back(space.AllocateBlock(8192));
  // The 140 maps changed since the last write are held in a temporary file, not on the heap.
  EXPECT_EQ(space.resident_maps(), 140u);
  EXPECT_LT(space.memory_bytes(), 140 * kAmapBytes / 4);
  space.WriteMaps();
  EXPECT_LE(space.resident_maps(), 1u);
  const std::uint64_t free_before = space.free_bytes();

  // Free a run of 20 blocks in an early interval and single blocks in late ones, each
  // between two blocks of its own interval that stay.
  const std::uint64_t run_start = 100;
  std::vector<std::uint64_t> singles;
  for (std::uint64_t i = 3900; i + 1 < blocks.size(); i += 61)
    if (interval_of(blocks[i - 1]) == interval_of(blocks[i + 1])) singles.push_back(i);
  ASSERT_GE(singles.size(), 3u);
  for (std::uint64_t i = run_start; i < run_start + 20; ++i) space.Free(blocks[i], 8192);
  for (std::uint64_t i : singles) space.Free(blocks[i], 8192);
  space.ApplyPendingFrees();
  space.WriteMaps();
  space.MakeFreedReusable();
  EXPECT_LE(space.resident_maps(), 1u);
  const std::uint64_t freed = 20 + singles.size();
  EXPECT_EQ(space.free_bytes(), free_before + freed * 8192);
  for (std::uint64_t i = 0; i < blocks.size(); ++i) {
    const bool is_free = (i >= run_start && i < run_start + 20) || std::count(singles.begin(), singles.end(), i) > 0;
    ASSERT_EQ(space.IsAllocated(blocks[i]), !is_free) << i;
  }

  // The map page on disk says the same, read without the writer.
  const std::uint64_t k = interval_of(blocks[run_start]);
  std::vector<std::uint8_t> page(kPageSize);
  s.file.ReadAt(amap_offset(k), page.data(), page.size());
  ASSERT_TRUE(check_page_trailer(page, kPtypeAMap, amap_offset(k), amap_offset(k), false).empty());
  const auto bit = [&](std::uint64_t ib) {
    const std::uint64_t slot = (ib - amap_offset(k)) / kSlotSize;
    return (page[slot / 8] >> (7 - slot % 8)) & 1;
  };
  EXPECT_EQ(bit(blocks[run_start]), 0);
  EXPECT_EQ(bit(blocks[run_start - 1]), 1);

  // A late interval shows its one free block in the FMap: 128 slots of 64 bytes, more than
  // the interval's unused tail.
  const std::uint64_t late = interval_of(blocks[singles.front()]);
  ASSERT_GE(late, 128u);
  s.file.ReadAt(fmap_offset(128), page.data(), page.size());
  ASSERT_TRUE(check_page_trailer(page, kPtypeFMap, fmap_offset(128), fmap_offset(128), false).empty());
  EXPECT_EQ(page[late - 128], 128);
  std::uint64_t untouched = 128;
  while (std::any_of(singles.begin(), singles.end(), [&](std::uint64_t i) { return interval_of(blocks[i]) == untouched; }))
    ++untouched;
  EXPECT_LT(page[untouched - 128], 128);

  // Freed space is used again, and allocating it marks the dropped map once more.
  const std::uint64_t again = space.AllocateBlock(8192);
  EXPECT_LT(again, blocks.back());
  EXPECT_TRUE(space.IsAllocated(again));
  space.WriteMaps();
  EXPECT_EQ(space.free_bytes(), free_before + (freed - 1) * 8192);
}

// The 4 KB layout's space: maps from 0x22000, one bit per 512 bytes, no PMap pages, blocks of
// up to 64 KB, and B-tree pages of that layout read back after their leaves were dropped.
TEST(WriterIndex, FourKilobyteLayoutPlacesMapsBlocksAndPages) {
  const std::string path = testing::TempPath("maps4k.bin");
  CFile64 file;
  file.Open(path, CFile64::Access::kCreate);
  FileSpace space(file, FileLayout::kUnicode4k);
  const SpaceGeometry& g = space.geometry();
  space.InitNew();
  std::vector<std::uint64_t> blocks;
  while (space.interval_count() < 2) blocks.push_back(space.AllocateBlock(65536));
  EXPECT_EQ(blocks.front(), 0x22000u + 4096);  // right after the AMap: no PMap in this layout
  for (auto ib : blocks) EXPECT_EQ(ib % 512, 0u);
  EXPECT_EQ(g.interval_of(blocks.back()), 1u);
  Tree tree(FileLayout::kUnicode4k);
  tree.SetPageSource([&](std::uint64_t ib) { return space.Read(ib, 4096); });
  for (std::uint64_t bid = 4; bid < 4 + 4 * 400; bid += 4) tree.Put(BbtEntry{bid, bid * 512, 100, 2, 300});
  std::uint64_t next_page_bid = 1;
  const Bref root = tree.Commit(space, next_page_bid);
  space.ApplyPendingFrees();
  space.WriteMaps();
  EXPECT_EQ(space.file_eof(), 0x22000 + 2 * g.coverage());
  EXPECT_EQ(g.coverage(), 4072u * 8 * 512);
  std::vector<std::uint8_t> page(4096);
  for (std::uint64_t k : {0, 1}) {
    ASSERT_EQ(file.ReadAt(g.amap_offset(k), page.data(), page.size()), 4096u);
    EXPECT_TRUE(check_page_trailer(page, kPtypeAMap, g.amap_offset(k), g.amap_offset(k), false, FileLayout::kUnicode4k).empty());
  }
  ASSERT_EQ(file.ReadAt(root.ib, page.data(), page.size()), 4096u);
  EXPECT_TRUE(check_page_trailer(page, kPtypeBbt, root.bid, root.ib, true, FileLayout::kUnicode4k).empty());
  // Three leaves of 169 entries; the dropped ones read back whole.
  EXPECT_EQ(tree.leaf_count(), 3u);
  EXPECT_EQ(tree.Find(4 + 4 * 10), (BbtEntry{4 + 4 * 10, (4 + 4 * 10) * 512, 100, 2, 300}));
  file.Close();
  std::filesystem::remove(path);
}

// Writes gathered in two runs reach the file as written in order, whatever the runs: a later
// write over bytes still held wins, a read sees what was written, and big writes go straight.
TEST(WriterIndex, BufferedWritesLandInTheOrderTheyWereMade) {
  Scratch s("runs.bin");
  FileSpace& space = s.space;
  const auto fill = [](std::size_t n, std::uint8_t v) { return std::vector<std::uint8_t>(n, v); };
  space.Write(100000, fill(1000, 1));   // run one
  space.Write(200000, fill(500, 2));    // run two
  space.Write(101000, fill(1000, 3));   // run one goes on
  space.Write(100500, fill(1000, 4));   // over run one: its older bytes must not win
  space.Write(200500, fill(300, 5));    // run two goes on
  std::vector<std::uint8_t> two_then_five = fill(100, 2);
  two_then_five.resize(200, 5);
  EXPECT_EQ(space.Read(200400, 200), two_then_five);
  space.Write(300000, fill(400000, 6));  // larger than a run: written at once
  space.Write(199000, fill(1200, 7));    // over run two, which the read flushed
  space.Flush();
  std::vector<std::uint8_t> got(400000);
  ASSERT_EQ(s.file.ReadAt(100000, got.data(), 2000), 2000u);
  EXPECT_EQ(got[0], 1);
  EXPECT_EQ(got[499], 1);
  EXPECT_EQ(got[500], 4);
  EXPECT_EQ(got[1499], 4);
  EXPECT_EQ(got[1500], 3);
  ASSERT_EQ(s.file.ReadAt(199000, got.data(), 1800), 1800u);
  EXPECT_EQ(got[1199], 7);
  EXPECT_EQ(got[1200], 2);
  EXPECT_EQ(got[1799], 5);
  ASSERT_EQ(s.file.ReadAt(300000, got.data(), 400000), 400000u);
  EXPECT_EQ(std::count(got.begin(), got.end(), 6), 400000);
}

}  // namespace
}  // namespace salvora::pst
