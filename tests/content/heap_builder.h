#pragma once
// Builders for heaps-on-node, property contexts and table contexts in memory, so that tests
// decode structures whose every byte they chose. Byte layouts follow MS-PST 2.3.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "format/heap_on_node.h"

namespace salvora::testing {

using Bv = std::vector<std::uint8_t>;

Bv le16(std::uint16_t v);
Bv le32(std::uint32_t v);
Bv le64(std::uint64_t v);
Bv utf16(std::u16string_view s);
Bv bytes(std::string_view s);
std::uint32_t builder_hid(std::uint32_t index, std::uint32_t block, HidLayout layout = HidLayout::kStandard);

class HeapBuilder {
 public:
  explicit HeapBuilder(std::uint8_t client, HidLayout layout = HidLayout::kStandard)
      : client_(client), layout_(layout), blocks_(1) {}
  // Appends an allocation to the current block and returns its heap id.
  std::uint32_t Add(const Bv& data);
  // Later allocations go to a new heap block.
  void NewBlock() { blocks_.emplace_back(); }
  void SetUserRoot(std::uint32_t hid) { user_root_ = hid; }
  std::vector<Bv> Build() const;

 private:
  std::uint8_t client_;
  HidLayout layout_;
  std::vector<std::vector<Bv>> blocks_;
  std::uint32_t user_root_ = 0;
};

// A property context: records sorted by id; values placed by type as Outlook places them.
class PcBuilder {
 public:
  explicit PcBuilder(HidLayout layout = HidLayout::kStandard) : heap_(0xBC, layout) {}
  HeapBuilder& heap() { return heap_; }
  // Fixed values of up to 4 bytes go in place; everything else into the heap.
  void Add(std::uint16_t id, std::uint16_t type, const Bv& value);
  // A record whose 32-bit value is given as is (a sub-node id, 0, or a made-up reference).
  void AddRef(std::uint16_t id, std::uint16_t type, std::uint32_t ref);
  // leaf_size > 0 splits the records into leaves of that many under index levels.
  std::vector<Bv> Build(std::size_t leaf_size = 0);

 private:
  HeapBuilder heap_;
  std::map<std::uint16_t, Bv> records_;
};

struct TcColumnDesc {
  std::uint16_t id;
  std::uint16_t type;
  std::uint8_t width;  // 1, 2, 4 or 8
};

// A table context: row id and row version columns first, the given columns behind them; cells
// grouped by width as MS-PST lays them out. A cell not given is absent (its bit clear).
class TcBuilder {
 public:
  explicit TcBuilder(std::vector<TcColumnDesc> columns, bool ansi = false);
  HeapBuilder& heap() { return heap_; }
  // Cells by column id; values are little-endian integers (heap ids for variable types).
  void AddRow(std::uint32_t row_id, const std::map<std::uint16_t, std::uint64_t>& cells);
  std::size_t row_size() const { return row_size_; }
  // The row matrix in the heap.
  std::vector<Bv> Build();
  // The row matrix in sub-node matrix_nid: returns the heap; matrix_blocks receives the rows
  // packed rows_per_block[i] to block i, each block padded with pad[i] bytes of slack.
  std::vector<Bv> BuildWithSubnodeMatrix(std::uint32_t matrix_nid,
                                         const std::vector<std::size_t>& rows_per_block,
                                         const std::vector<std::size_t>& pad,
                                         std::vector<Bv>& matrix_blocks);

 private:
  struct Column {
    TcColumnDesc desc;
    std::uint16_t offset = 0;
    std::uint8_t bit = 0;
  };
  Bv RowBytes(std::size_t i) const;
  std::vector<Bv> Finish(std::uint32_t rows_ref);

  HeapBuilder heap_;
  bool ansi_;
  std::vector<Column> columns_;
  std::uint16_t end4_ = 0, end2_ = 0, end1_ = 0;
  std::size_t row_size_ = 0;
  std::vector<std::pair<std::uint32_t, std::map<std::uint16_t, std::uint64_t>>> rows_;
};

}  // namespace salvora::testing
