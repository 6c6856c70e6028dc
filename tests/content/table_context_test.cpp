// Table contexts built byte by byte: cells of every width, the cell existence bitmap, several
// rows (row size = TCI_bm), a row matrix in a sub-node spread over blocks of unequal size.
#include <gtest/gtest.h>

#include "content/heap_builder.h"
#include "content/property_decoder.h"

namespace salvora {
namespace {

using namespace salvora::testing;

const std::vector<TcColumnDesc> kColumns = {
    {0x0E06, 0x0040, 8},  // PT_SYSTIME: 8 bytes in place in a row
    {0x3704, 0x001F, 4},  // heap id of a string
    {0x0E20, 0x0003, 4},
    {0x0017, 0x0002, 2},
    {0x7FFE, 0x000B, 1},
};

TEST(TableContext, CellsByWidthAndExistence) {
  TcBuilder tc(kColumns);
  const std::uint32_t name = tc.heap().Add(utf16(u"report.pdf"));
  tc.AddRow(0x8025, {{0x0E06, 0x01D2030405060708ull}, {0x3704, name}, {0x0E20, 0xFFFFFFFFull},
                     {0x0017, 0xBEEF}, {0x7FFE, 1}});
  tc.AddRow(0x8045, {{0x0E20, 5}});  // every other cell absent
  tc.AddRow(0x8065, {{0x7FFE, 0}, {0x0017, 0}});  // present zeros stay present
  const auto r = decode_heap_properties(tc.Build(), nullptr, {});
  ASSERT_TRUE(r) << decode_error_name(r.failure.code);
  ASSERT_TRUE(r.list->table);
  const auto& rows = r.list->blocks;
  ASSERT_EQ(rows.size(), 3u);
  for (const auto& row : rows) EXPECT_EQ(row.total_rows, 3);

  EXPECT_EQ(value_i32(*rows[0].find(0x67F2)), 0x8025);
  EXPECT_EQ(value_u64(*rows[0].find(0x0E06)), 0x01D2030405060708ull);
  EXPECT_EQ(value_text(*rows[0].find(0x3704), 0, false), "report.pdf");
  EXPECT_EQ(value_i32(*rows[0].find(0x0E20)), -1);
  EXPECT_EQ(*rows[0].find(0x0017)->value, (Bv{0xEF, 0xBE, 0, 0}));  // 2 bytes, not 4
  EXPECT_EQ(*rows[0].find(0x7FFE)->value, (Bv{1, 0, 0, 0}));        // 1 byte, not 4

  EXPECT_EQ(value_i32(*rows[1].find(0x67F2)), 0x8045);
  EXPECT_EQ(value_i32(*rows[1].find(0x0E20)), 5);
  EXPECT_EQ(rows[1].find(0x0E06), nullptr);
  EXPECT_EQ(rows[1].find(0x3704), nullptr);
  EXPECT_EQ(rows[1].find(0x0017), nullptr);
  EXPECT_EQ(rows[1].find(0x7FFE), nullptr);

  ASSERT_NE(rows[2].find(0x7FFE), nullptr);
  EXPECT_EQ(value_i32(*rows[2].find(0x7FFE)), 0);
  EXPECT_EQ(value_i32(*rows[2].find(0x67F2)), 0x8065);
}

TEST(TableContext, RowMatrixInSubnodeAcrossBlocksOfUnequalSize) {
  TcBuilder tc(kColumns);
  for (std::uint32_t i = 0; i < 7; ++i) tc.AddRow(0x1000 + i, {{0x0E20, i * 10}});
  std::vector<Bv> matrix;
  // 3 rows and slack smaller than a row, then 4 rows (a bigger block, as 4 KB files have).
  const auto heap = tc.BuildWithSubnodeMatrix(0x2A1F, {3, 4}, {tc.row_size() - 1, 0}, matrix);
  MemorySubnodes subs;
  subs.Add(Nid(0x2A1F), matrix);
  const auto r = decode_heap_properties(heap, &subs, {});
  ASSERT_TRUE(r) << decode_error_name(r.failure.code);
  ASSERT_EQ(r.list->blocks.size(), 7u);
  for (std::uint32_t i = 0; i < 7; ++i) {
    EXPECT_EQ(value_i32(*r.list->blocks[i].find(0x67F2)), static_cast<std::int32_t>(0x1000 + i));
    EXPECT_EQ(value_i32(*r.list->blocks[i].find(0x0E20)), static_cast<std::int32_t>(i * 10));
  }
  // Without the sub-node the table cannot be read.
  EXPECT_EQ(decode_heap_properties(heap, nullptr, {}).failure.code, DecodeError::kBadRowMatrix);
}

TEST(TableContext, EmptyTableAndAnsiRowIndex) {
  TcBuilder empty(kColumns);
  const auto r = decode_heap_properties(empty.Build(), nullptr, {});
  ASSERT_TRUE(r);
  EXPECT_TRUE(r.list->table);
  EXPECT_TRUE(r.list->blocks.empty());

  TcBuilder ansi(kColumns, true);
  ansi.AddRow(1, {});
  ansi.AddRow(2, {});
  const auto a = decode_heap_properties(ansi.Build(), nullptr, {});
  ASSERT_TRUE(a);
  EXPECT_EQ(a.list->blocks.size(), 2u);
}

TEST(TableContext, BrokenTableInfo) {
  TcBuilder tc(kColumns);
  tc.AddRow(1, {});
  const auto good = tc.Build();
  // TCINFO is the last allocation of block 0.
  const std::size_t ib = good[0][0] | (good[0][1] << 8);
  const std::size_t count = good[0][ib] | (good[0][ib + 1] << 8);
  const std::size_t info = good[0][ib + 4 + 2 * (count - 1)] | (good[0][ib + 5 + 2 * (count - 1)] << 8);
  struct Case {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
    DecodeError expected;
  } cases[] = {
      {"TCINFO type", info, 0x7D, DecodeError::kBadTableInfo},
      {"more columns than described", info + 1, 200, DecodeError::kBadTableInfo},
      {"bitmap start behind the row end", info + 7, 0x40, DecodeError::kBadTableInfo},
      {"row index is not a BTH", info + 10, 0x20, DecodeError::kBadBthHeader},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto blocks = good;
    blocks[0][c.offset] = c.value;
    const auto r = decode_heap_properties(blocks, nullptr, {});
    EXPECT_FALSE(r);
    EXPECT_EQ(r.failure.code, c.expected);
  }
}

}  // namespace
}  // namespace salvora
