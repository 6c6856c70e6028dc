#pragma once
// The rows of one contents table between checkpoints. A folder of a large mailbox holds
// hundreds of thousands of rows, and every folder's rows are needed again at each checkpoint,
// when its table is rebuilt: kept in memory they would make the writer grow with the mailbox.
// Past a few hundred kilobytes the rows go to a spill file in the process's private folder (an
// unlinked file: nothing is left behind, even by a killed process) and are read back in order.
// Each row is stored with its id and size before its cells, so that nothing stays in memory per
// row: only the place of every few hundredth row is kept, and a row's place is found from the
// nearest of those, or from the row read last. Where no private folder can be made the rows
// stay in memory.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/file64.h"
#include "pststore/pst/property.h"

namespace salvora::pst {

struct PackedRow {
  std::uint32_t row_id = 0;
  PackedProps cells;
};

class RowList {
 public:
  RowList() = default;
  RowList(RowList&&) noexcept = default;
  RowList& operator=(RowList&&) noexcept = default;

  void push_back(PackedRow row);
  // n rows with no cells: the stand-ins of a search folder's results, which are never written.
  void assign_empty(std::size_t n);
  std::size_t size() const { return count_; }
  // Whether every row's id is greater than the one before it (as rows added in order get).
  bool ids_ascending() const { return ids_ascending_; }
  bool empty() const { return count_ == 0; }
  PackedRow at(std::size_t i) const;
  // Bytes held in memory for the rows.
  std::size_t memory_bytes() const;

 private:
  // What precedes a row's cells in the stream: its id and the size of its cells.
  struct Head {
    std::uint32_t row_id = 0;
    std::uint32_t size = 0;
  };
  static constexpr std::size_t kHeadSize = 8;
  static constexpr std::size_t kMarkEvery = 256;
  void Spill();
  // Reads bytes of the stream: from the spill file, or from held_ after spilled_.
  void ReadStream(std::uint64_t offset, std::uint8_t* out, std::size_t size) const;
  Head HeadAt(std::uint64_t offset) const;
  // Where row i's head starts in the stream.
  std::uint64_t OffsetOf(std::size_t i) const;

  std::size_t count_ = 0;
  bool ids_ascending_ = true;
  std::uint32_t last_id_ = 0;
  bool stand_ins_ = false;  // assign_empty: rows without cells, none of them stored
  std::vector<std::uint64_t> marks_;  // the offset of every kMarkEvery-th row
  // The last row looked up and its offset: the table is read row after row.
  mutable std::size_t cursor_row_ = 0;
  mutable std::uint64_t cursor_offset_ = 0;
  std::vector<std::uint8_t> held_;  // the rows not yet in the spill file
  std::uint64_t spilled_ = 0;       // bytes in the spill file
  std::unique_ptr<CFile64> spill_;
  bool no_spill_ = false;           // no private folder: everything stays in held_
};

}  // namespace salvora::pst
