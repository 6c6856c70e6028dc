// Round trips of the on-disk structures, and the format's published test vectors.

#include <gtest/gtest.h>

#include <map>

#include "format/crc.h"
#include "format/prop_types.h"
#include "format/block.h"
#include "format/bth.h"
#include "pststore/pst/disk_layout.h"
#include "format/header.h"
#include "format/heap_on_node.h"
#include "pststore/pst/name_map.h"
#include "format/page.h"
#include "pststore/pst/property_context.h"
#include "pststore/pst/table_context.h"
#include "pststore/pst/table_templates.h"

namespace salvora::pst {
namespace {

std::optional<HeapOnNode> parse_heap(std::vector<std::vector<std::uint8_t>> blocks) {
  Findings findings(Tolerance::kStrict);
  return HeapOnNode::Parse(std::move(blocks), HidLayout::kStandard, findings);
}

// Sub-nodes kept in memory, for building contexts without a file.
class MemorySink : public SubnodeSink {
 public:
  std::uint32_t AddValue(Bytes data) override { return AddBlocks({{data.begin(), data.end()}}); }
  std::uint32_t AddBlocks(const std::vector<std::vector<std::uint8_t>>& blocks) override {
    values[next] = blocks;
    return (next += 0x20) - 0x20;
  }
  SubnodeResolver Resolver() {
    SubnodeResolver resolve;
    resolve.value = [this](std::uint32_t nid) -> std::optional<std::vector<std::uint8_t>> {
      auto it = values.find(nid);
      if (it == values.end()) return std::nullopt;
      std::vector<std::uint8_t> all;
      for (const auto& b : it->second) all.insert(all.end(), b.begin(), b.end());
      return all;
    };
    resolve.blocks = [this](Nid nid) -> std::optional<std::vector<ByteVector>> {
      auto it = values.find(nid.value);
      if (it == values.end()) return std::nullopt;
      return it->second;
    };
    return resolve;
  }
  std::map<std::uint32_t, std::vector<ByteVector>> values;
  std::uint32_t next = 0x3F;
};

TEST(PropertyContext, EveryTypeRoundTrips) {
  const std::string big(5000, 'x');
  PropertyList props = {Property::Int16(0x6001, -5), Property::Int32(0x6002, 123456), Property::Bool(0x6003, true),
                        Property::Int64(0x6004, -1), Property::Float(0x6005, 1.5f), Property::Double(0x6006, 2.25),
                        Property::Currency(0x6007, 99), Property::Time(0x6008, 133000000000000000ull),
                        Property::Guid(0x6009, kPsMapi), Property::String(0x600A, "Grüße 😀"),
                        Property::String(0x600B, ""), Property::Binary(0x600C, std::vector<std::uint8_t>{1, 2, 3}),
                        Property::String(0x600D, big), Property::MultiString(0x600E, {"a", "", "ccc"}),
                        Property::MultiBinary(0x600F, {{1}, {}, {2, 3}}), Property::MultiInt32(0x6010, {1, -2, 3}),
                        Property::MultiTime(0x6011, {1, 2})};
  MemorySink sink;
  auto reader = parse_heap(build_property_context(props, sink));
  ASSERT_TRUE(reader);
  Findings findings(Tolerance::kStrict);
  auto back = read_property_context(*reader, sink.Resolver(), findings);
  ASSERT_TRUE(back);
  EXPECT_TRUE(findings.empty());
  EXPECT_EQ(*back, props);
  EXPECT_EQ(sink.values.size(), 1u);  // only the 10,000-byte string left the heap
  EXPECT_EQ(find_prop(*back, 0x600D)->AsString(), big);
}

// Rows read back against those written: the same ids and cells, in the same order.
void expect_rows_equal(const std::vector<TableRow>& got, const std::vector<TableRow>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].row_id, want[i].row_id);
    PropertyList w = want[i].cells, g = got[i].cells;
    normalize_props(w);
    normalize_props(g);
    EXPECT_EQ(g, w) << "row " << i;
  }
}

TEST(TableContext, RowsInHeapAndInSubnode) {
  for (std::size_t count : {0u, 3u, 500u}) {
    std::vector<TableRow> rows;
    for (std::uint32_t i = 0; i < count; ++i) {
      TableRow r{0x200024 + i * 0x20, i, {}};
      r.cells.push_back(Property::String(kPidSubject, "subject " + std::to_string(i)));
      r.cells.push_back(Property::Int32(kPidMessageFlags, static_cast<std::int32_t>(i % 2)));
      if (i % 3 == 0) r.cells.push_back(Property::Time(kPidMessageDeliveryTime, 1000 + i));
      if (i % 5 == 0) r.cells.push_back(Property::Bool(0x0057, true));
      rows.push_back(std::move(r));
    }
    MemorySink sink;
    auto reader = parse_heap(build_table_context(contents_template(), rows, sink));
    ASSERT_TRUE(reader);
    Findings findings(Tolerance::kStrict);
    auto t = read_table_context(*reader, sink.Resolver(), findings);
    ASSERT_TRUE(t);
    EXPECT_TRUE(findings.empty()) << findings.items().front();
    EXPECT_EQ(t->schema.columns, contents_template().columns);
    expect_rows_equal(t->rows, rows);
    EXPECT_EQ(!sink.values.empty(), count == 500);  // the matrix moved to a sub-node
  }
}

// The rows of a table read back strictly: nothing when the reader found anything to say.
std::optional<std::vector<TableRow>> read_streamed_rows(const HeapOnNode& reader, MemorySink& sink) {
  Findings findings(Tolerance::kStrict);
  auto t = read_table_context(reader, sink.Resolver(), findings);
  if (!t || !findings.empty()) {
    ADD_FAILURE() << (findings.empty() ? std::string("no table") : findings.items().front());
    return std::nullopt;
  }
  return std::move(t->rows);
}

// A folder's table of long subjects, hundreds of heap blocks: streamed, its blocks are those of
// the whole heap, and it reads back row for row with the row index sorted by row id.
TEST(TableContext, StreamedHeapOfManyBlocksReadsBack) {
  const std::uint32_t count = 2500;
  std::vector<TableRow> rows;
  for (std::uint32_t i = 0; i < count; ++i) {
    // Row ids out of order, as a folder's rows are after moves.
    TableRow r{0x200024 + ((i * 7919) % count) * 0x20, i, {}};
    r.cells.push_back(Property::String(kPidSubject, std::string(300 + i % 200, static_cast<char>('a' + i % 26))));
    r.cells.push_back(Property::String(0x0042, "sender " + std::to_string(i)));  // PR_SENT_REPRESENTING_NAME
    r.cells.push_back(Property::Int32(kPidMessageFlags, static_cast<std::int32_t>(i)));
    rows.push_back(std::move(r));
  }
  const auto row_at = [&rows](std::size_t i) { return rows[i]; };
  MemorySink whole_sink, sink;
  const auto whole = build_table_context(contents_template(), count, row_at, whole_sink);
  ASSERT_GT(whole.size(), 140u);  // blocks 8 and 136 carry fill levels
  std::vector<ByteVector> streamed(whole.size());
  build_table_context(contents_template(), count, row_at, sink, [&](HeapBlock b) {
    ASSERT_LT(b.index, streamed.size());
    streamed[b.index] = std::move(b.bytes);
  });
  EXPECT_EQ(streamed, whole);
  EXPECT_EQ(sink.values, whole_sink.values);

  auto reader = parse_heap(streamed);
  ASSERT_TRUE(reader);
  Findings findings(Tolerance::kStrict);
  const auto rows_read = read_streamed_rows(*reader, sink);
  ASSERT_TRUE(rows_read);
  expect_rows_equal(*rows_read, rows);
  // The reader checked that the row index rises and names each row once; here, that each
  // record's key is the row id of the row it names.
  const auto index = read_bth(*reader, read_tc_info(*reader, findings)->row_index, findings);
  ASSERT_TRUE(index);
  for (const Bytes record : index->records) EXPECT_EQ(load_u32(record, 0), rows.at(load_u32(record, 4)).row_id);
}

// Rows whose ids rise, as a folder's rows come when its messages were added in order: the row
// index is final as it is written, so its blocks reach the sink before the last row is built
// (a folder of a million rows holds 8 MB of index otherwise), and the heap is the same.
TEST(TableContext, RisingRowIdsLetTheRowIndexGoAsItFills) {
  const std::uint32_t count = 40000;  // about 45 blocks of row index, block 8 among them
  std::size_t asked_last = 0;
  std::vector<ByteVector> streamed;
  const auto row_at = [&](std::size_t i) {
    if (i + 1 == count && asked_last == 0) asked_last = std::count_if(streamed.begin(), streamed.end(), [](const ByteVector& b) { return !b.empty(); });
    TableRow r{0x200024 + static_cast<std::uint32_t>(i) * 0x20, static_cast<std::uint32_t>(i), {}};
    r.cells.push_back(Property::Int32(kPidMessageFlags, static_cast<std::int32_t>(i)));
    return r;
  };
  MemorySink whole_sink, sink;
  const auto whole = build_table_context(contents_template(), count, row_at, whole_sink);
  ASSERT_GT(whole.size(), 40u);
  streamed.resize(whole.size());
  asked_last = 0;
  build_table_context(contents_template(), count, row_at, sink, [&](HeapBlock b) {
    ASSERT_LT(b.index, streamed.size());
    streamed[b.index] = std::move(b.bytes);
  }, true);
  EXPECT_EQ(streamed, whole);
  // Held to the end: block 0, block 8 (fill levels), the last leaf's and the levels above.
  EXPECT_GE(asked_last, whole.size() - 5);

  auto reader = parse_heap(streamed);
  ASSERT_TRUE(reader);
  const auto rows_read = read_streamed_rows(*reader, sink);
  ASSERT_TRUE(rows_read);
  EXPECT_EQ(rows_read->size(), count);

  // Rows said to rise that do not are the caller's mistake, not a wrong index.
  const auto falling = [](std::size_t i) { return TableRow{0x200024 + static_cast<std::uint32_t>(5 - i) * 0x20, 0, {}}; };
  MemorySink other;
  EXPECT_THROW(build_table_context(contents_template(), 5, falling, other, [](HeapBlock) {}, true), std::logic_error);
}

TEST(TableSchema, LayoutOrdersCellsByWidth) {
  auto s = recipient_template().With({PropTag(kPidSmtpAddress, kPtypString), PropTag(0x3A4D, kPtypInteger16)});
  EXPECT_TRUE(s.Find(PropTag(kPidSmtpAddress, kPtypString)));
  EXPECT_EQ(s.FindId(kPidLtpRowId)->ib, 0);
  EXPECT_EQ(s.FindId(kPidLtpRowVer)->ib, 4);
  EXPECT_EQ(s.row_size(), s.rgib[2] + (s.columns.size() + 7) / 8);
  EXPECT_EQ(s.FindId(0x3A4D)->ib, s.rgib[0]);  // the only 2-byte cell follows the wide ones
  // Columns the template already has keep the template's own layout.
  EXPECT_EQ(recipient_template().With({PropTag(kPidDisplayName, kPtypString)}).columns, recipient_template().columns);
}

TEST(NameToIdMap, HashBucketsMatchPublishedVectors) {
  // 0x8205 in a GUID of its own (word 6) hashes to bucket 0x1097; "Keywords" in
  // PS_PUBLIC_STRINGS (word 5) has CRC 0x2EDA4D3B and bucket 0x1065.
  NameToIdMap map;
  const Guid other = {0x03, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  EXPECT_EQ(map.Register({other, 0x8205, ""}), 0x8000);
  EXPECT_EQ(map.Register({kPsPublicStrings, std::nullopt, "Keywords"}), 0x8001);
  EXPECT_EQ(map.Register({other, 0x8205, ""}), 0x8000);
  const auto props = map.ToProperties();
  EXPECT_TRUE(find_prop(props, 0x1097));
  EXPECT_TRUE(find_prop(props, 0x1065));
  std::vector<std::uint8_t> kw;
  for (char c : std::string("Keywords")) kw.insert(kw.end(), {static_cast<std::uint8_t>(c), 0});
  EXPECT_EQ(ComputeCrc(kw), 0x2EDA4D3Bu);
  std::vector<std::string> problems;
  auto back = NameToIdMap::FromProperties(props, &problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_EQ(back.names(), map.names());
  // A record taken out of its bucket is reported.
  PropertyList damaged = props;
  for (auto& p : damaged)
    if (p.id() == 0x1065) p.data.clear();
  NameToIdMap::FromProperties(damaged, &problems);
  EXPECT_EQ(problems.size(), 1u);
}

TEST(PackedProps, KeepsEveryValue) {
  PropertyList props = {Property::String(kPidSubject, "x"), Property::Binary(0x0071, std::vector<std::uint8_t>(300, 7)),
                        Property::Int32(kPidMessageFlags, 1)};
  EXPECT_EQ(PackedProps(props).Unpack(), props);
}

}  // namespace
}  // namespace salvora::pst
