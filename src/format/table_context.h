#pragma once
// The table context layout: a heap of client signature 0x7C whose user root is TCINFO (the
// column descriptions and the offsets of the cell groups in a row), a row index BTH from row id
// to row position, and the row matrix: fixed-size rows in one heap allocation, or in the data
// blocks of a sub-node, never straddling a block.
//
// Turning cells into values is the caller's. Rows are views into the heap or into the matrix
// blocks a TcRows keeps; neither may be dropped while the rows are used.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "format/findings.h"
#include "format/heap_on_node.h"
#include "format/property_context.h"

namespace salvora {

struct TcColumn {
  std::uint32_t tag = 0;  // property type in the low half, id in the high half
  std::uint16_t ib = 0;   // offset of the cell in a row
  std::uint8_t cb = 0;    // width of the cell
  std::uint8_t bit = 0;   // index in the cell existence bitmap
  bool operator==(const TcColumn&) const = default;
};

inline constexpr std::size_t kTcInfoHeaderSize = 22;
inline constexpr std::size_t kTcColumnSize = 8;

struct TcInfo {
  // Ends of the 4/8-byte, 2-byte and 1-byte cell groups, and of the cell existence bitmap.
  std::array<std::uint16_t, 4> rgib{};
  Hid row_index;               // hidRowIndex: the row index BTH
  std::uint32_t hnid_rows = 0; // the row matrix: a heap id or a sub-node NID; 0 when no rows
  std::vector<TcColumn> columns;

  std::uint16_t ceb_start() const { return rgib[2]; }
  std::uint16_t row_size() const { return rgib[3]; }
  std::vector<std::uint8_t> Serialize() const;
  // The header and every column description; empty when the bytes are not TCINFO or too short.
  static std::optional<TcInfo> Parse(Bytes data);
};

// TCINFO at the heap's user root, with what is wrong in it as findings: offsets that do not fit
// the column count (a failure under strict; under salvage only a row of no size or a bitmap past
// the row's end fails), columns out of tag order, columns outside the row.
std::optional<TcInfo> read_tc_info(const HeapOnNode& heap, Findings& findings, ContextError* error = nullptr);

// Whether the column's cell and existence bit lie inside a row (read_tc_info reports those that
// do not); whether the column's cell exists in a row; and the cell's bytes, empty when the cell
// runs into the existence bitmap or past the row.
bool column_fits_row(const TcInfo& info, const TcColumn& column);
// The mask of a column's existence bit within its byte (bit / 8 of the bitmap): the first
// column bit is the high bit of the first byte.
constexpr std::uint8_t cell_existence_mask(std::uint32_t bit) { return static_cast<std::uint8_t>(0x80u >> (bit % 8)); }
bool cell_present(Bytes row, const TcInfo& info, const TcColumn& column);
std::optional<Bytes> cell_bytes(Bytes row, const TcInfo& info, const TcColumn& column);

// The data blocks of a sub-node of the table's node; empty when it cannot be read.
using SubnodeBlocks = std::function<std::optional<std::vector<ByteVector>>(Nid)>;

struct TcRows {
  std::vector<ByteVector> blocks;  // the row matrix when it lives in a sub-node
  std::vector<Bytes> rows;         // in matrix order, at most as many as the index has
  std::size_t indexed = 0;         // rows in the row index
};

// How many rows the row index lists, with its checks: under strict the index must be 4/4 and
// its positions unique and inside the matrix. Empty when the index cannot be read. A reader that
// takes the matrix block by block counts with this, then cuts each block with for_each_row.
std::optional<std::size_t> read_tc_row_count(const HeapOnNode& heap, const TcInfo& info, Findings& findings,
                                             ContextError* error = nullptr);
// The whole rows of one matrix block (rows never straddle blocks), while `taken` is below
// `wanted`; counts them in taken.
template <class Visit>
void for_each_row(Bytes block, std::size_t row_size, std::size_t wanted, std::size_t& taken, Visit&& visit) {
  if (row_size == 0) return;
  for (std::size_t i = 0; i < block.size() / row_size && taken < wanted; ++i, ++taken) visit(block.subspan(i * row_size, row_size));
}

// The row index and the rows of the matrix. Under strict the index must be 4/4 and its
// positions unique and inside the matrix, and a matrix shorter than the index is a finding;
// under salvage whole rows are taken from each block for as many as the index counts, and a
// matrix that cannot be found fails the table.
std::optional<TcRows> read_tc_rows(const HeapOnNode& heap, const TcInfo& info, const SubnodeBlocks& subnode_blocks,
                                   Findings& findings, ContextError* error = nullptr);

}  // namespace salvora
