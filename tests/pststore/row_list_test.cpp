// Contents-table rows kept between checkpoints, spilled to an unlinked file once they grow:
// every row must come back as it went in, in memory or from the file.

#include "pststore/pst/row_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "format/prop_types.h"
#include "platform/temp_folder.h"

namespace salvora::pst {
namespace {

PackedRow row(std::uint32_t i) {
  // Rows of varying size: some past the first spill, one empty.
  PropertyList cells = {Property::Int32(kPidMessageFlags, static_cast<std::int32_t>(i)),
                        Property::String(kPidSubject, std::string(i % 97, static_cast<char>('a' + i % 26)))};
  if (i == 7) cells.clear();
  return PackedRow{i * 32 + 4, PackedProps(cells)};
}

TEST(RowList, EveryRowComesBackFromMemoryOrTheSpillFile) {
  const auto files_in_temp = [] {
    std::size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(temp_folder())) n += e.path().filename().string().rfind("rows-", 0) == 0;
    return n;
  };
  const std::size_t files_before = files_in_temp();
  RowList rows;
  constexpr std::uint32_t kRows = 20000;  // several spills
  for (std::uint32_t i = 0; i < kRows; ++i) rows.push_back(row(i));
  ASSERT_EQ(rows.size(), kRows);
  for (std::uint32_t i : {0u, 7u, 1234u, kRows / 2, kRows - 1}) {
    const PackedRow got = rows.at(i);
    EXPECT_EQ(got.row_id, i * 32 + 4);
    EXPECT_EQ(got.cells.blob(), row(i).cells.blob()) << i;
  }
  // In order, as a table is rebuilt, and then backwards and across the marks between rows.
  for (std::uint32_t i = 0; i < kRows; ++i) {
    const PackedRow got = rows.at(i);
    ASSERT_EQ(got.row_id, i * 32 + 4) << i;
    ASSERT_EQ(got.cells.blob(), row(i).cells.blob()) << i;
  }
  for (std::uint32_t i = 600; i-- > 200;) ASSERT_EQ(rows.at(i).cells.blob(), row(i).cells.blob()) << i;
  for (std::uint32_t i : {5000u, 255u, 256u, 257u, 511u, 512u, 19999u, 0u})
    ASSERT_EQ(rows.at(i).cells.blob(), row(i).cells.blob()) << i;
  // Nothing stays in memory for each row: its id and size went to the file with its cells.
  EXPECT_LT(rows.memory_bytes(), kRows / 256 * 8 * 2 + (128u << 10));
  // The spill file is open but has no name: nothing is left in the folder.
  EXPECT_EQ(files_in_temp(), files_before);
  rows.assign_empty(3);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(rows.at(2).cells.Unpack().empty());
  EXPECT_THROW(rows.at(3), std::out_of_range);
}

}  // namespace
}  // namespace salvora::pst
