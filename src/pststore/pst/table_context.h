#pragma once
// Table context (MS-PST 2.3.4): TCINFO with its column descriptions, the row index BTH and
// the row matrix, in the heap when small and in a sub-node when not.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "format/heap_on_node.h"
#include "format/table_context.h"
#include "pststore/pst/property.h"
#include "pststore/pst/property_context.h"

namespace salvora::pst {

struct TableSchema {
  std::vector<TcColumn> columns;  // sorted by tag
  std::array<std::uint16_t, 4> rgib{};  // ends of the 4/8-byte, 2-byte, 1-byte groups and of the CEB

  std::uint16_t row_size() const { return rgib[3]; }
  const TcColumn* Find(std::uint32_t tag) const;
  const TcColumn* FindId(std::uint16_t id) const;
  // A layout over these tags: row id and version first, then wide, 2-byte and 1-byte cells.
  static TableSchema Layout(std::vector<std::uint32_t> tags);
  // A fixed layout given column by column (the templates), checked for consistency.
  static TableSchema Fixed(std::vector<TcColumn> columns, std::array<std::uint16_t, 4> rgib);
  // The schema extended by tags it lacks, keeping nothing of the old positions.
  TableSchema With(const std::vector<std::uint32_t>& extra) const;
};

struct TableRow {
  std::uint32_t row_id = 0;
  std::uint32_t row_ver = 0;
  PropertyList cells;  // values of present columns, matched by tag
};

std::vector<std::vector<std::uint8_t>> build_table_context(const TableSchema& schema, const std::vector<TableRow>& rows,
                                                         SubnodeSink& sink);
// The same over rows made one at a time, so that a folder's rows are never all expanded at once.
std::vector<std::vector<std::uint8_t>> build_table_context(const TableSchema& schema, std::size_t row_count,
                                                         const std::function<TableRow(std::size_t)>& row_at,
                                                         SubnodeSink& sink);
// The same streamed: heap blocks go to heap_blocks as soon as they are final, in any order, so
// that a large folder's table is not in memory whole. Held to the end are only the first blocks
// (BTH header, TCINFO, row index: 8 bytes a row, its only copy) and those with fill levels still
// open. With ids_ascending (each row's id greater than the last, which is checked) the row
// index is final as it is written, and only its first and last blocks are held.
void build_table_context(const TableSchema& schema, std::size_t row_count,
                         const std::function<TableRow(std::size_t)>& row_at, SubnodeSink& sink,
                         const HeapBlockSink& heap_blocks, bool ids_ascending = false);

struct TableContents {
  TableSchema schema;
  std::vector<TableRow> rows;  // in row-matrix order
};
// Reads a table context back through the shared layout, with every violation a finding.
std::optional<TableContents> read_table_context(const HeapOnNode& heap, const SubnodeResolver& resolve,
                                              Findings& findings);

}  // namespace salvora::pst
