// Pages: the writer's B-tree pages read back, and the pages of every layout (built by the test
// builder, an independent writer of the three layouts) read by the one set of page parsers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/crc.h"
#include "format/page.h"
#include "format/layout_names.h"
#include "support/ndb_builder.h"

namespace salvora {
namespace {

using testing::ByteVector;
using testing::NdbBuilder;

TEST(BtPage, UnicodeEntriesRoundTripForEveryKind) {
  const NbtEntry n{0x200024, 0x104, 0x10A, 0x8022};
  const BbtEntry b{0x104, 0x4600, 300, 2};
  const BtEntry i{0x200024, {0x99, 0x5000}};
  for (int kind = 0; kind < 3; ++kind) {
    BtPage page;
    page.ptype = kind == 1 ? kPtypeNbt : kPtypeBbt;
    page.level = kind == 2 ? 1 : 0;
    page.cb_ent = BtPage::EntrySize(page.ptype, page.level);
    page.c_ent_max = BtPage::MaxEntries(page.ptype, page.level);
    page.c_ent = 1;
    ByteWriter w;
    if (kind == 0) b.Serialize(w);
    if (kind == 1) n.Serialize(w);
    if (kind == 2) i.Serialize(w);
    page.entries = w.take();
    const auto raw = page.Serialize(0x77, 0x6000);
    EXPECT_TRUE(check_page_trailer(raw, page.ptype, 0x77, 0x6000, true).empty());
    auto back = BtPage::Parse(raw);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->ptype, page.ptype);
    EXPECT_EQ(back->level, page.level);
    EXPECT_EQ(back->c_ent_max, page.c_ent_max);
    ByteReader r(back->entries);
    if (kind == 0) EXPECT_EQ(BbtEntry::Parse(r), b);
    if (kind == 1) EXPECT_EQ(NbtEntry::Parse(r), n);
    if (kind == 2) EXPECT_EQ(BtEntry::Parse(r), i);
    EXPECT_EQ(check_page_trailer(raw, page.ptype, 0x78, 0x6000, true),
              (std::vector<std::string>{"trailer bid does not match its reference", "signature wrong"}));
  }
  EXPECT_EQ(BtPage::MaxEntries(kPtypeNbt, 0), 15);
  EXPECT_EQ(BtPage::MaxEntries(kPtypeBbt, 0), 20);
  EXPECT_EQ(BtPage::MaxEntries(kPtypeNbt, 1), 20);
}

TEST(PageTrailer, EachMismatchIsNamed) {
  auto raw = serialize_map_page(kPtypeAMap, std::vector<std::uint8_t>(496, 0xFF), 0x4400);
  EXPECT_TRUE(check_page_trailer(raw, kPtypeAMap, 0x4400, 0x4400, false).empty());
  EXPECT_EQ(check_page_trailer(raw, kPtypePMap, 0x4400, 0x4400, false), std::vector<std::string>{"ptype/ptypeRepeat wrong"});
  raw[497] = kPtypePMap;
  EXPECT_EQ(check_page_trailer(raw, kPtypeAMap, 0x4400, 0x4400, false), std::vector<std::string>{"ptype/ptypeRepeat wrong"});
  raw[497] = kPtypeAMap;
  raw[3] ^= 1;
  EXPECT_EQ(check_page_trailer(raw, kPtypeAMap, 0x4400, 0x4400, false), std::vector<std::string>{"CRC does not match"});
  raw.resize(500);
  EXPECT_EQ(check_page_trailer(raw, kPtypeAMap, 0x4400, 0x4400, false), std::vector<std::string>{"page is short"});
  EXPECT_FALSE(BtPage::Parse(raw));
}

// A B-tree page whose counts claim more entries than fit is refused, not read past its area.
TEST(BtPage, CountsThatCannotHoldAreRefused) {
  BtPage page{kPtypeBbt, 0, 24, 20, 21, std::vector<std::uint8_t>(488, 1)};
  EXPECT_FALSE(BtPage::Parse(page.Serialize(4, 0x4600)));
  page.c_ent = 20;
  EXPECT_TRUE(BtPage::Parse(page.Serialize(4, 0x4600)));
  page.cb_ent = 0;
  EXPECT_FALSE(BtPage::Parse(page.Serialize(4, 0x4600)));
}

// The block and node trees of a file of each layout, two entries a leaf so that an intermediate
// level sits above them: every trailer, count and entry as the builder wrote it.
class EveryLayout : public ::testing::TestWithParam<FileLayout> {};

TEST_P(EveryLayout, TreesReadAsWritten) {
  const FileLayout layout = GetParam();
  const PageGeometry g = geometry_for(layout);
  NdbBuilder b(layout);
  b.leaf_capacity = 2;
  std::vector<Bid> bids;
  for (int i = 0; i < 3; ++i) bids.push_back(b.AddBlock(ByteVector(100 + 10 * i, static_cast<std::uint8_t>(i)), i == 2));
  b.AddNode(Nid(0x21), bids[0], Bid(), Nid());
  b.AddNode(Nid(0x122), bids[1], bids[2], Nid(0x122));
  b.AddNode(Nid(0x8022), bids[2], Bid(), Nid(0x122));
  const ByteVector file = b.Build();
  Findings findings(Tolerance::kStrict);
  const ParsedHeader h = parse_header(file, findings);

  const auto page_at = [&](std::uint64_t ib) { return Bytes(file).subspan(ib, g.page_size); };
  for (const auto& [root, ptype] : {std::pair{h.header.bbt, kPtypeBbt}, std::pair{h.header.nbt, kPtypeNbt}}) {
    const Bytes top = page_at(root.ib);
    const auto trailer = parse_page_trailer(top, layout);
    ASSERT_TRUE(trailer);
    EXPECT_EQ(trailer->ptype, ptype);
    EXPECT_EQ(trailer->ptype_repeat, ptype);
    EXPECT_TRUE(trailer->crc_ok);
    const auto counts = parse_bt_page_header(top, layout);
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->level, 1);
    EXPECT_EQ(counts->c_ent, 2u);
    EXPECT_EQ(counts->cb_ent, g.bt_entry_size);
    EXPECT_EQ(counts->c_ent_max, g.entry_area / g.bt_entry_size);
    ByteReader r(top.first(2 * g.bt_entry_size));
    const BtEntry first = BtEntry::Parse(r, layout);
    const BtEntry second = BtEntry::Parse(r, layout);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.remaining(), 0u);
    EXPECT_EQ(first.key, ptype == kPtypeBbt ? bids[0].value : 0x21u);
    EXPECT_EQ(second.key, ptype == kPtypeBbt ? bids[2].value : 0x8022u);
    EXPECT_EQ(first.child.bid, 0x200000u);

    // The second leaf of each tree holds its one last entry.
    const Bytes leaf = page_at(second.child.ib);
    const auto leaf_counts = parse_bt_page_header(leaf, layout);
    ASSERT_TRUE(leaf_counts);
    EXPECT_EQ(leaf_counts->level, 0);
    EXPECT_EQ(leaf_counts->c_ent, 1u);
    ByteReader lr(leaf);
    if (ptype == kPtypeBbt) {
      const BbtEntry e = BbtEntry::Parse(lr, layout);
      EXPECT_EQ(lr.pos(), g.bbt_leaf_entry_size);
      EXPECT_EQ(e.bid, bids[2].value);
      EXPECT_EQ(e.ib, b.offset_of(bids[2]));
      EXPECT_EQ(e.cref, 2);
      if (layout == FileLayout::kUnicode4k) {
        EXPECT_EQ(e.cb_inflated, 120);
        EXPECT_LT(e.cb, 120);  // stored compressed
      } else {
        EXPECT_EQ(e.cb, 120);
        EXPECT_EQ(e.cb_inflated, 0);
      }
    } else {
      const NbtEntry e = NbtEntry::Parse(lr, layout);
      EXPECT_EQ(lr.pos(), g.nbt_leaf_entry_size);
      EXPECT_EQ(e, (NbtEntry{0x8022, bids[2].value, 0, 0x122}));
    }
  }
}

// Junk above the low 32 bits of a stored NID is not part of it.
TEST(NbtEntry, OnlyTheLowHalfIsTheNid) {
  ByteWriter w;
  w.u64(0xABCD000000000122);
  w.u64(8);
  w.u64(0);
  w.u32(0x21);
  w.u32(0);
  ByteReader r(w.data());
  EXPECT_EQ(NbtEntry::Parse(r).nid, 0x122u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, EveryLayout,
                         ::testing::Values(FileLayout::kAnsi, FileLayout::kUnicode, FileLayout::kUnicode4k),
                         LayoutTestName());

}  // namespace
}  // namespace salvora
