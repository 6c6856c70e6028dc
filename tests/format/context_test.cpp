// The property and table context layouts: contexts built here field by field, read back through
// the shared parsers, then damaged to see each tolerance's verdict.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "format/byte_writer.h"
#include "format/property_context.h"
#include "format/table_context.h"

namespace salvora {
namespace {

std::optional<HeapOnNode> heap_of(const HeapWriter& w) {
  Findings findings(Tolerance::kStrict);
  return HeapOnNode::Parse(w.Finish(), HidLayout::kStandard, findings);
}

// A property context of three records: an inline integer, a heap value, a sub-node reference.
HeapWriter property_context(std::uint8_t entry_size = 6) {
  HeapWriter w(kClientPropertyContext);
  BthBuilder bth(w, 2, entry_size);
  w.SetUserRoot(bth.AllocateHeader());
  bth.ReserveRecords(3);
  const Hid text = w.Allocate(ByteVector{'h', 0, 'i', 0});
  ByteWriter rec;
  const auto add = [&](std::uint16_t id, std::uint16_t type, std::uint32_t value) {
    rec.u16(id);
    rec.u16(type);
    rec.u32(value);
    rec.zeros(entry_size - 6u);
  };
  add(0x0037, 0x001F, text.value);
  add(0x0E07, 0x0003, 0x11223344);
  add(0x1000, 0x001F, 0x2A3F);
  bth.Fill(rec.data());
  return w;
}

TEST(PropertyContextLayout, RecordsInIdOrder) {
  const auto heap = heap_of(property_context());
  Findings findings(Tolerance::kStrict);
  const auto records = read_pc_records(*heap, findings);
  ASSERT_TRUE(records);
  EXPECT_TRUE(findings.empty());
  ASSERT_EQ(records->size(), 3u);
  EXPECT_EQ((*records)[1].id, 0x0E07);
  EXPECT_EQ((*records)[1].type, 0x0003);
  EXPECT_EQ((*records)[1].hnid(), 0x11223344u);
  EXPECT_EQ((*records)[0].id, 0x0037);
  EXPECT_EQ((*records)[0].type, 0x001F);
  EXPECT_TRUE(hnid_is_heap((*records)[0].hnid()));
  EXPECT_EQ(heap->Lookup(Hid((*records)[0].hnid()))->size(), 4u);
  EXPECT_EQ((*records)[2].hnid(), 0x2A3Fu);
  EXPECT_FALSE(hnid_is_heap((*records)[2].hnid()));
}

TEST(PropertyContextLayout, WhatEachToleranceRefuses) {
  // Entries longer than 6 bytes: strict refuses, salvage reads type and value from their start.
  const auto wide = heap_of(property_context(8));
  Findings strict(Tolerance::kStrict);
  ContextError error = ContextError::kNone;
  EXPECT_FALSE(read_pc_records(*wide, strict, &error));
  EXPECT_EQ(error, ContextError::kBadBthHeader);
  EXPECT_EQ(strict.items(), std::vector<std::string>{"property context: BTH key/entry sizes are not 2/6"});
  Findings salvage(Tolerance::kSalvage);
  const auto records = read_pc_records(*wide, salvage);
  ASSERT_TRUE(records);
  EXPECT_EQ((*records)[2].hnid(), 0x2A3Fu);
  // A table's heap is no property context under either.
  HeapWriter table(kClientTableContext);
  table.SetUserRoot(table.Allocate(ByteVector(8, 0)));
  EXPECT_FALSE(read_pc_records(*heap_of(table), salvage, &error));
  EXPECT_EQ(error, ContextError::kWrongClient);
}

constexpr std::uint32_t kFlagsTag = 0x0E070003;    // 4-byte cell
constexpr std::uint32_t kSubjectTag = 0x0037001F;  // HNID cell
constexpr std::uint32_t kReadTag = 0x0E69000B;     // 1-byte cell

// A table of `rows` rows with row id, flags, subject and read flag columns, its matrix in the
// heap or, as blocks of `per_block` rows, in sub-node 0x3F.
struct Table {
  HeapWriter heap{kClientTableContext};
  TcInfo info;
  Hid info_hid;
  std::vector<ByteVector> matrix_blocks;

  // Writes TCINFO again after a test changed it (same column count, same length).
  void rewrite_info() { heap.Overwrite(info_hid, info.Serialize()); }
};

Table table(std::size_t rows, std::size_t per_block = 0, std::size_t rows_lost = 0,
            const std::vector<std::uint32_t>& positions = {}) {
  Table t;
  t.info.columns = {{0x67F20003, 0, 4, 0}, {kFlagsTag, 4, 4, 1}, {kSubjectTag, 8, 4, 2}, {kReadTag, 12, 1, 3}};
  std::sort(t.info.columns.begin(), t.info.columns.end(), [](auto& a, auto& b) { return a.tag < b.tag; });
  t.info.rgib = {12, 12, 13, 14};
  BthBuilder index(t.heap, 4, 4);
  t.info.row_index = index.AllocateHeader();
  t.info_hid = t.heap.Allocate(t.info.Serialize());
  t.heap.SetUserRoot(t.info_hid);
  index.ReserveRecords(rows);
  ByteWriter records, matrix;
  for (std::uint32_t i = 0; i < rows; ++i) {
    records.u32(0x100 + i);
    records.u32(positions.empty() ? i : positions[i]);
    if (per_block != 0 && i % per_block == 0 && i > 0) {
      t.matrix_blocks.push_back(matrix.take());
    }
    matrix.u32(0x100 + i);
    matrix.u32(i * 7);  // flags
    matrix.u32(0);      // no subject
    matrix.u8(i % 2);   // read
    matrix.u8(0xD0);    // row id, flags, read flag present; subject absent
  }
  index.Fill(records.data());
  const std::size_t row_size = t.info.rgib[3];
  if (rows > 0 && per_block == 0)
    t.info.hnid_rows = t.heap.Allocate(Bytes(matrix.data()).first((rows - rows_lost) * row_size)).value;
  if (rows > 0 && per_block != 0) {
    t.matrix_blocks.push_back(matrix.take());
    t.info.hnid_rows = 0x3F;
  }
  t.rewrite_info();
  return t;
}

SubnodeBlocks blocks_of(const Table& t) {
  return [&t](Nid nid) -> std::optional<std::vector<ByteVector>> {
    if (nid.value != 0x3F) return std::nullopt;
    return t.matrix_blocks;
  };
}

// An Object value names the sub-node that holds the object; a value cut off after the NID
// still names it.
TEST(ObjectReference, RoundTripAndCutOff) {
  ByteWriter w;
  ObjectReference{Nid(0x8025), 1234}.Serialize(w);
  const auto bytes = w.take();
  ASSERT_EQ(bytes.size(), ObjectReference::kSize);
  const auto back = ObjectReference::Parse(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->nid, Nid(0x8025));
  EXPECT_EQ(back->size, 1234u);
  const auto cut = ObjectReference::Parse(Bytes(bytes).first(5));
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->nid, Nid(0x8025));
  EXPECT_EQ(cut->size, 0u);
  EXPECT_FALSE(ObjectReference::Parse(Bytes(bytes).first(3)));
}

TEST(TableContextLayout, RowsInTheHeapAndInASubnode) {
  for (std::size_t per_block : {std::size_t{0}, std::size_t{3}}) {
    const Table t = table(7, per_block);
    const auto heap = heap_of(t.heap);
    Findings findings(Tolerance::kStrict);
    const auto info = read_tc_info(*heap, findings);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->columns, t.info.columns);
    EXPECT_EQ(info->rgib, t.info.rgib);
    EXPECT_EQ(info->hnid_rows, t.info.hnid_rows);
    const auto rows = read_tc_rows(*heap, *info, blocks_of(t), findings);
    ASSERT_TRUE(rows);
    EXPECT_TRUE(findings.empty()) << findings.items().front();
    EXPECT_EQ(rows->indexed, 7u);
    ASSERT_EQ(rows->rows.size(), 7u);
    for (std::uint32_t i = 0; i < 7; ++i) {
      const Bytes row = rows->rows[i];
      EXPECT_EQ(load_u32(row, 0), 0x100 + i);
      for (const TcColumn& c : info->columns) {
        EXPECT_TRUE(column_fits_row(*info, c));
        EXPECT_EQ(cell_present(row, *info, c), c.tag != kSubjectTag) << c.tag;
        const auto cell = cell_bytes(row, *info, c);
        ASSERT_TRUE(cell);
        EXPECT_EQ(cell->size(), c.cb);
        if (c.tag == kFlagsTag) EXPECT_EQ(load_u32(*cell, 0), i * 7);
        if (c.tag == kReadTag) EXPECT_EQ((*cell)[0], i % 2);
      }
    }
  }
}

TEST(TableContextLayout, InconsistentOffsetsAndColumnsOutsideTheRow) {
  Table t = table(2);
  t.info.rgib = {12, 12, 13, 16};  // a bitmap of three bytes for four columns
  t.rewrite_info();
  Findings strict(Tolerance::kStrict);
  ContextError error = ContextError::kNone;
  EXPECT_FALSE(read_tc_info(*heap_of(t.heap), strict, &error));
  EXPECT_EQ(error, ContextError::kBadTableInfo);
  EXPECT_EQ(strict.items(), std::vector<std::string>{"table context: rgib offsets inconsistent with the column count"});
  Findings salvage(Tolerance::kSalvage);
  EXPECT_TRUE(read_tc_info(*heap_of(t.heap), salvage));
  EXPECT_EQ(salvage.count(), 1u);

  t.info.rgib = {12, 12, 13, 14};
  t.info.columns[1].bit = 9;
  t.info.columns[2].ib = 13;
  t.rewrite_info();
  const auto info = read_tc_info(*heap_of(t.heap), strict);
  ASSERT_TRUE(info);
  EXPECT_EQ(strict.take().size(), 3u);  // the first finding, then one for each column
  EXPECT_FALSE(column_fits_row(*info, info->columns[1]));
  EXPECT_FALSE(column_fits_row(*info, info->columns[2]));
  EXPECT_TRUE(column_fits_row(*info, info->columns[0]));
}

// One row fewer in the matrix than in the index: the rows there are read, the lack is named.
TEST(TableContextLayout, AMatrixShorterThanTheIndex) {
  const Table t = table(4, 0, 1);
  const auto heap = heap_of(t.heap);
  for (auto tolerance : {Tolerance::kStrict, Tolerance::kSalvage}) {
    Findings findings(tolerance);
    const auto rows = read_tc_rows(*heap, *read_tc_info(*heap, findings), blocks_of(t), findings);
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->indexed, 4u);
    EXPECT_EQ(rows->rows.size(), 3u);
    EXPECT_EQ(findings.items(), std::vector<std::string>{"table context: row matrix shorter than the row index"});
  }
}

// The row index is counted and then checked on a second walk: a position past the rows and a
// second record pointing at one row are each a finding, under both tolerances, and the rows
// are still counted as the index lists them.
TEST(TableContextLayout, RowIndexPointingOutsideOrTwiceAtOneRow) {
  const Table t = table(5, 0, 0, {0, 2, 2, 9, 1});
  const auto heap = heap_of(t.heap);
  for (auto tolerance : {Tolerance::kStrict, Tolerance::kSalvage}) {
    Findings findings(tolerance);
    const auto info = read_tc_info(*heap, findings);
    ASSERT_TRUE(info);
    const auto indexed = read_tc_row_count(*heap, *info, findings);
    ASSERT_TRUE(indexed);
    EXPECT_EQ(*indexed, 5u);
    EXPECT_EQ(findings.count(), 2u);
    EXPECT_EQ(findings.items().front(), "table context: row index points outside the matrix or twice at one row");
  }
  const Table sound = table(150);
  Findings none(Tolerance::kStrict);
  EXPECT_EQ(read_tc_row_count(*heap_of(sound.heap), *read_tc_info(*heap_of(sound.heap), none), none), 150u);
  EXPECT_TRUE(none.empty());
}

TEST(TableContextLayout, AMatrixThatCannotBeFound) {
  Table t = table(3, 2);
  t.info.hnid_rows = 0x5F;
  t.rewrite_info();
  const auto heap = heap_of(t.heap);
  Findings strict(Tolerance::kStrict);
  const auto info = read_tc_info(*heap, strict);
  ASSERT_TRUE(info);
  const auto rows = read_tc_rows(*heap, *info, blocks_of(t), strict);
  ASSERT_TRUE(rows);
  EXPECT_TRUE(rows->rows.empty());
  EXPECT_EQ(strict.items(), std::vector<std::string>{"table context: row matrix shorter than the row index"});
  Findings salvage(Tolerance::kSalvage);
  ContextError error = ContextError::kNone;
  EXPECT_FALSE(read_tc_rows(*heap, *info, blocks_of(t), salvage, &error));
  EXPECT_EQ(error, ContextError::kBadRowMatrix);
  // No matrix at all while the index has rows fails under both.
  t.info.hnid_rows = 0;
  t.rewrite_info();
  const auto heap2 = heap_of(t.heap);
  EXPECT_FALSE(read_tc_rows(*heap2, *read_tc_info(*heap2, strict), blocks_of(t), strict, &error));
  EXPECT_EQ(error, ContextError::kBadRowMatrix);
}

}  // namespace
}  // namespace salvora
