// The serialisers of the 4 KB layout: B-tree pages with 16-bit counts, block index entries with
// their inflated size, map pages, and blocks that are compressed only where that saves disk.
// Each is read back through the parsers that read Outlook's files of this layout.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "format/block.h"
#include "format/page.h"
#include "format/signature.h"

namespace salvora {
namespace {

constexpr FileLayout k4k = FileLayout::kUnicode4k;

std::vector<std::uint8_t> Noise(std::size_t n) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

TEST(Layout4kWriter, BtPageRoundTripsWithWideCountsAndInflatedSizes) {
  BtPage page;
  page.ptype = kPtypeBbt;
  page.cb_ent = BtPage::EntrySize(kPtypeBbt, 0);
  page.c_ent_max = BtPage::MaxEntries(kPtypeBbt, 0, k4k);
  ASSERT_EQ(page.c_ent_max, 169);
  EXPECT_EQ(BtPage::MaxEntries(kPtypeNbt, 0, k4k), 126);
  ByteWriter w;
  for (std::uint64_t i = 0; i < 169; ++i) BbtEntry{4 + 4 * i, 0x22000 + 512 * i, 300, 2, 1000}.Serialize(w, k4k);
  page.entries = w.take();
  page.c_ent = 169;
  const auto raw = page.Serialize(0x55, 0x23000, k4k);
  ASSERT_EQ(raw.size(), 4096u);
  EXPECT_TRUE(check_page_trailer(raw, kPtypeBbt, 0x55, 0x23000, true, k4k).empty());
  const auto header = parse_bt_page_header(raw, k4k);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->c_ent, 169u);
  EXPECT_EQ(header->c_ent_max, 169u);
  EXPECT_EQ(raw[4088], 1);  // what Outlook leaves after the bid
  const auto back = BtPage::Parse(raw, k4k);
  ASSERT_TRUE(back);
  ByteReader r(back->entries);
  r.skip(24 * 168);
  const BbtEntry last = BbtEntry::Parse(r, k4k);
  EXPECT_EQ(last, (BbtEntry{4 + 4 * 168, 0x22000 + 512 * 168, 300, 2, 1000}));
  // Read as a 512-byte page, the same bytes are no page at all.
  EXPECT_FALSE(parse_page_trailer(raw, FileLayout::kUnicode)->crc_ok);
}

TEST(Layout4kWriter, MapPageCarriesTheWholeBitmap) {
  std::vector<std::uint8_t> map(4072, 0);
  map.front() = 0xFF;
  map.back() = 0x01;
  const auto raw = serialize_map_page(kPtypeAMap, map, 0x22000, k4k);
  ASSERT_EQ(raw.size(), 4096u);
  EXPECT_TRUE(check_page_trailer(raw, kPtypeAMap, 0x22000, 0x22000, false, k4k).empty());
  EXPECT_EQ(std::vector<std::uint8_t>(raw.begin(), raw.begin() + 4072), map);
}

TEST(Layout4kWriter, BlocksAreCompressedOnlyWhereThatSavesAUnitOfDisk) {
  const std::vector<std::uint8_t> text(5000, 'a');
  struct Case {
    const char* what;
    std::vector<std::uint8_t> payload;
    std::uint64_t bid;
    FileLayout layout;
    bool compressed;
  } cases[] = {
      {"text over several units", text, 8, k4k, true},
      {"noise", Noise(5000), 8, k4k, false},
      {"text within one unit either way", std::vector<std::uint8_t>(200, 'a'), 8, k4k, false},
      {"internal block", text, 8 | kBidInternal, k4k, true},
      {"512-byte layout", text, 8, FileLayout::kUnicode, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const StoredBlock s = store_block_data(c.payload, c.bid, CryptMethod::kNone, c.layout);
    EXPECT_EQ(s.compressed(), c.compressed);
    EXPECT_EQ(s.cb_inflated, c.payload.size());
    const auto disk = seal_block(s, c.bid, 0x24000, c.layout);
    EXPECT_EQ(disk.size(), block_disk_size(s.bytes.size(), c.layout));
    const auto t = parse_block_trailer(disk, s.bytes.size(), c.layout);
    ASSERT_TRUE(t);
    EXPECT_TRUE(judge_block_trailer(*t, disk, c.bid, static_cast<std::uint16_t>(s.bytes.size()), 0x24000).vouches());
    if (c.layout == k4k) EXPECT_EQ(load_u16(disk, disk.size() - 24 + 18), c.payload.size());
    std::vector<std::uint8_t> inflated(c.payload.size());
    uLongf size = inflated.size();
    if (c.compressed) {
      ASSERT_EQ(uncompress(inflated.data(), &size, s.bytes.data(), s.bytes.size()), Z_OK);
      EXPECT_EQ(inflated, c.payload);
    } else {
      EXPECT_EQ(s.bytes, c.payload);
    }
  }
  // The writer keeps internal blocks plain all the same: it asks for no compression there.
  EXPECT_FALSE(store_block_data(text, 8 | kBidInternal, CryptMethod::kNone, k4k, false).compressed());
  // The 512-byte layout's blocks come out as before.
  EXPECT_EQ(seal_block(store_block_data(text, 8, CryptMethod::kPermute, FileLayout::kUnicode), 8, 0x8000, FileLayout::kUnicode),
            build_block(text, 8, 0x8000, CryptMethod::kPermute));
}

}  // namespace
}  // namespace salvora
