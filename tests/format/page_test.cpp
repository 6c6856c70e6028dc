// Pages: the writer's B-tree pages read back, and the pages of every layout (built by the test
// builder, an independent writer of the three layouts) read by the one set of page parsers.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "format/byte_writer.h"
#include "format/crc.h"
#include "format/page.h"
#include "support/layouts.h"
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

// Where a page's counts and trailer sit, to damage them on purpose and seal the page again.
struct PagePlaces {
  std::size_t count, level, trailer, crc;
  bool wide_count;
};
PagePlaces places_of(FileLayout layout) {
  switch (layout) {
    case FileLayout::kAnsi: return {496, 499, 500, 508, false};
    case FileLayout::kUnicode4k: return {4056, 4061, 4072, 4076, true};
    default: return {488, 491, 496, 500, false};
  }
}
void reseal(ByteVector& page, FileLayout layout) {
  const PagePlaces p = places_of(layout);
  store_u32(page, p.crc, ComputeCrc(Bytes(page).first(p.trailer)));
}

// A B-tree page is believed only while its trailer vouches for it: a changed byte fails the
// CRC, and once sealed again a count past the entry area, a level the format does not have or
// a type that is no B-tree type (or not repeated) still fails.
TEST_P(EveryLayout, PageIsVerifiedOnlyWhileItsTrailerHolds) {
  const FileLayout layout = GetParam();
  const PageGeometry g = geometry_for(layout);
  const PagePlaces at = places_of(layout);
  NdbBuilder b(layout);
  b.leaf_capacity = 2;
  for (int i = 0; i < 3; ++i) b.AddBlock(ByteVector(50, static_cast<std::uint8_t>(i)));
  b.AddNode(Nid(0x21), Bid(), Bid(), Nid());
  const ByteVector file = b.Build();
  Findings findings(Tolerance::kStrict);
  const ParsedHeader h = parse_header(file, findings);
  const ByteVector root(file.begin() + h.header.bbt.ib, file.begin() + h.header.bbt.ib + g.page_size);

  const auto sound = verify_bt_page(root, layout);
  ASSERT_TRUE(sound);
  EXPECT_EQ(sound->ptype, kPtypeBbt);
  EXPECT_EQ(sound->level, 1);
  EXPECT_EQ(sound->count, 2u);
  EXPECT_EQ(sound->bid, parse_page_trailer(root, layout)->bid);
  EXPECT_FALSE(verify_bt_page(Bytes(root).first(g.page_size - 1), layout));

  const std::size_t leaf_capacity = g.entry_area / g.bbt_leaf_entry_size;
  const std::size_t inner_capacity = g.entry_area / g.bt_entry_size;
  const auto set_count = [&](ByteVector& p, std::size_t n) {
    if (at.wide_count) store_u16(p, at.count, static_cast<std::uint16_t>(n));
    else p[at.count] = static_cast<std::uint8_t>(n);
  };
  struct Case {
    const char* what;
    std::function<void(ByteVector&)> damage;
    bool reseal;
    bool verified;
  } cases[] = {
      {"an entry byte changed", [](ByteVector& p) { p[3] ^= 1; }, false, false},
      {"an entry byte changed, sealed again", [](ByteVector& p) { p[3] ^= 1; }, true, true},
      {"the count changed", [&](ByteVector& p) { set_count(p, 1); }, false, false},
      {"a full page", [&](ByteVector& p) { set_count(p, inner_capacity); }, true, true},
      {"a count past the area", [&](ByteVector& p) { set_count(p, inner_capacity + 1); }, true, false},
      {"a leaf's count on a leaf", [&](ByteVector& p) { p[at.level] = 0; set_count(p, leaf_capacity); }, true, true},
      {"a leaf's count past its area", [&](ByteVector& p) { p[at.level] = 0; set_count(p, leaf_capacity + 1); }, true, false},
      {"eight levels above the leaves", [&](ByteVector& p) { p[at.level] = 8; }, true, true},
      {"nine levels above the leaves", [&](ByteVector& p) { p[at.level] = 9; }, true, false},
      {"the type not repeated", [&](ByteVector& p) { p[at.trailer + 1] = kPtypeNbt; }, true, false},
      {"a map page's type", [&](ByteVector& p) { p[at.trailer] = p[at.trailer + 1] = kPtypeAMap; }, true, false},
  };
  for (const auto& c : cases) {
    ByteVector page = root;
    c.damage(page);
    if (c.reseal) reseal(page, layout);
    EXPECT_EQ(verify_bt_page(page, layout).has_value(), c.verified) << c.what;
  }
}

// Entries are read by index inside the page's bytes only; one past them reads as all zeros.
TEST(BtEntry, EntryPastTheBytesReadsAsZero) {
  ByteWriter w;
  BtEntry{0x21, {0x44, 0x6000}}.Serialize(w);
  const ByteVector page = w.take();
  EXPECT_EQ(parse_bt_entry<BtEntry>(page, 0, BtEntry::kSize, FileLayout::kUnicode), (BtEntry{0x21, {0x44, 0x6000}}));
  EXPECT_EQ(parse_bt_entry<BtEntry>(page, 1, BtEntry::kSize, FileLayout::kUnicode), BtEntry{});
  EXPECT_EQ(parse_bt_entry<BtEntry>(page, 0, 0, FileLayout::kUnicode), BtEntry{});
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
