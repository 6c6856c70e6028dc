#include "pststore/pst/table_context.h"

#include <algorithm>
#include <stdexcept>

#include "format/byte_writer.h"
#include "format/bth.h"
#include "format/table_context.h"
#include "pststore/pst/disk_layout.h"

namespace salvora::pst {

const TcColumn* TableSchema::Find(std::uint32_t tag) const {
  for (const auto& c : columns)
    if (c.tag == tag) return &c;
  return nullptr;
}

const TcColumn* TableSchema::FindId(std::uint16_t id) const {
  for (const auto& c : columns)
    if (PropIdOf(c.tag) == id) return &c;
  return nullptr;
}

TableSchema TableSchema::Layout(std::vector<std::uint32_t> tags) {
  std::erase_if(tags, [](std::uint32_t t) { return PropIdOf(t) == kPidLtpRowId || PropIdOf(t) == kPidLtpRowVer; });
  std::sort(tags.begin(), tags.end());
  tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
  TableSchema s;
  s.columns.push_back({PropTag(kPidLtpRowId, kPtypInteger32), 0, 4, 0});
  s.columns.push_back({PropTag(kPidLtpRowVer, kPtypInteger32), 4, 4, 1});
  std::uint16_t off = 8;
  std::uint8_t bit = 2;
  for (std::uint8_t want : {std::uint8_t{8}, std::uint8_t{4}, std::uint8_t{2}, std::uint8_t{1}}) {
    for (auto t : tags) {
      const std::uint8_t cb = table_cell_size(PropTypeOf(t));
      if (cb != want) continue;
      s.columns.push_back({t, off, cb, bit++});
      off = static_cast<std::uint16_t>(off + cb);
    }
    if (want == 4) s.rgib[0] = off;
    if (want == 2) s.rgib[1] = off;
    if (want == 1) s.rgib[2] = off;
  }
  s.rgib[3] = static_cast<std::uint16_t>(off + (s.columns.size() + 7) / 8);
  std::sort(s.columns.begin(), s.columns.end(), [](const TcColumn& a, const TcColumn& b) { return a.tag < b.tag; });
  return s;
}

TableSchema TableSchema::Fixed(std::vector<TcColumn> columns, std::array<std::uint16_t, 4> rgib) {
  std::sort(columns.begin(), columns.end(), [](const TcColumn& a, const TcColumn& b) { return a.tag < b.tag; });
  return TableSchema{std::move(columns), rgib};
}

TableSchema TableSchema::With(const std::vector<std::uint32_t>& extra) const {
  std::vector<std::uint32_t> tags;
  for (const auto& c : columns) tags.push_back(c.tag);
  bool added = false;
  for (auto t : extra) {
    if (Find(t) == nullptr && FindId(PropIdOf(t)) == nullptr) {
      tags.push_back(t);
      added = true;
    }
  }
  return added ? Layout(tags) : *this;
}

std::vector<std::vector<std::uint8_t>> build_table_context(const TableSchema& schema, const std::vector<TableRow>& rows,
                                                         SubnodeSink& sink) {
  return build_table_context(schema, rows.size(), [&rows](std::size_t i) { return rows[i]; }, sink);
}

namespace {

// The table's heap into `heap`; with heap_blocks set, its blocks go there as soon as they are
// full, and only the first ones (BTH header, TCINFO, row index) wait for the end.
void build_table_heap(HeapWriter& heap, const TableSchema& schema, std::size_t row_count,
                      const std::function<TableRow(std::size_t)>& row_at, SubnodeSink& sink,
                      const HeapBlockSink* heap_blocks, bool ids_ascending) {
  // Outlook's order, which some readers rely on: row index BTH header, TCINFO, row index
  // records, then the row matrix and the variable-size cells.
  BthBuilder bth(heap, 4, 4);
  const Hid hid_index = bth.AllocateHeader();
  const Hid hid_info = heap.Allocate(std::vector<std::uint8_t>(kTcInfoHeaderSize + schema.columns.size() * kTcColumnSize, 0));
  heap.SetUserRoot(hid_info);
  bth.ReserveRecords(row_count);
  if (heap_blocks) heap.StreamCompleteBlocks(*heap_blocks);
  const std::size_t row_size = schema.row_size();
  const std::size_t ceb_at = schema.rgib[2];
  // The row matrix is built in its final blocks: in the heap when it fits one allocation, else
  // in data blocks where rows never straddle blocks and every block but the last is full.
  const bool rows_in_heap = row_count * row_size <= kMaxHeapAlloc;
  const std::size_t per_block = rows_in_heap ? std::max<std::size_t>(row_count, 1) : kMaxBlockData / row_size;
  // Row i into its cell of the matrix; its variable-size values go to the heap or a sub-node.
  // Rows whose ids rise give the row index in its final order as they come, and its blocks
  // need not wait for the end.
  const bool index_in_order = heap_blocks != nullptr && ids_ascending;
  std::uint32_t last_id = 0;
  auto build_row = [&](std::size_t i, std::span<std::uint8_t> cell) {
    const TableRow row = row_at(i);
    if (index_in_order && i > 0 && row.row_id <= last_id)
      throw std::logic_error("table rows said to rise in id do not");
    last_id = row.row_id;
    auto set_bit = [&](std::uint8_t bit) { cell[ceb_at + bit / 8] |= cell_existence_mask(bit); };
    store_u32(cell, 0, row.row_id);
    store_u32(cell, 4, row.row_ver);
    for (const auto& c : schema.columns) {
      if (PropIdOf(c.tag) == kPidLtpRowId || PropIdOf(c.tag) == kPidLtpRowVer) {
        set_bit(c.bit);
        continue;
      }
      const Property* p = nullptr;
      for (const auto& q : row.cells)
        if (q.tag == c.tag) p = &q;
      if (p == nullptr) continue;
      if (table_cell_size(p->type()) == c.cb && (FixedPropSize(p->type()) == c.cb || (c.cb == 1 && p->type() == kPtypBoolean)) &&
          !IsMultiValued(p->type())) {
        std::copy_n(p->data.begin(), std::min<std::size_t>(c.cb, p->data.size()), cell.begin() + c.ib);
      } else {
        // A value of no bytes is written as reference 0, as the format writes it.
        const std::uint32_t hnid = p->data.empty() ? 0
                                   : p->data.size() <= kMaxHeapAlloc ? heap.Allocate(p->data).value
                                                                     : sink.AddValue(p->data);
        store_u32(cell, c.ib, hnid);
      }
      set_bit(c.bit);
    }
    // Its row index record, in the row's place for now: sorted by row id at the end.
    const std::span<std::uint8_t> record = bth.Record(i);
    store_u32(record, 0, row.row_id);
    store_u32(record, 4, static_cast<std::uint32_t>(i));
    if (index_in_order) bth.RecordFinal(i);
  };
  // Block k of the matrix: rows never straddle blocks, and every block but the last is full.
  auto matrix_block = [&](std::size_t k) {
    const std::size_t first = k * per_block;
    const std::size_t rows = std::min(per_block, row_count - first);
    const bool last = first + per_block >= row_count;
    std::vector<std::uint8_t> block(last ? rows * row_size : std::size_t{kMaxBlockData}, 0);
    for (std::size_t r = 0; r < rows; ++r) build_row(first + r, std::span(block).subspan(r * row_size, row_size));
    return block;
  };
  // A matrix in a sub-node has each block written as soon as it is made: a table of a million
  // rows is never held whole.
  std::uint32_t hnid_rows = 0;
  std::vector<std::uint8_t> heap_matrix;
  if (row_count > 0 && rows_in_heap) heap_matrix = matrix_block(0);
  else if (row_count > 0) hnid_rows = sink.AddBlocksInOrder((row_count + per_block - 1) / per_block, matrix_block);
  bth.FillInPlace();
  if (row_count > 0 && rows_in_heap) hnid_rows = heap.Allocate(heap_matrix).value;
  const TcInfo info{schema.rgib, hid_index, hnid_rows, schema.columns};
  heap.Overwrite(hid_info, info.Serialize());
}

}  // namespace

std::vector<std::vector<std::uint8_t>> build_table_context(const TableSchema& schema, std::size_t row_count,
                                                         const std::function<TableRow(std::size_t)>& row_at,
                                                         SubnodeSink& sink) {
  HeapWriter heap(kClientTableContext);
  build_table_heap(heap, schema, row_count, row_at, sink, nullptr, false);
  return std::move(heap).Finish();
}

void build_table_context(const TableSchema& schema, std::size_t row_count,
                         const std::function<TableRow(std::size_t)>& row_at, SubnodeSink& sink,
                         const HeapBlockSink& heap_blocks, bool ids_ascending) {
  HeapWriter heap(kClientTableContext);
  build_table_heap(heap, schema, row_count, row_at, sink, &heap_blocks, ids_ascending);
  std::move(heap).FinishStream();
}

namespace {

// A present cell's value: inline when its type is fixed and fits the cell, else through the
// HNID the cell holds.
std::optional<Property> cell_value(const HeapOnNode& heap, const SubnodeResolver& resolve, const TcColumn& c, Bytes cell,
                                   std::uint32_t row_id, Findings& findings) {
  const std::uint16_t type = PropTypeOf(c.tag);
  Property p;
  p.tag = c.tag;
  const bool fixed_inline = !IsMultiValued(type) && (FixedPropSize(type) == c.cb || (type == kPtypBoolean && c.cb == 1));
  if (fixed_inline) {
    p.data.assign(cell.begin(), cell.end());
    return p;
  }
  const std::uint32_t hnid = load_u32(cell, 0);
  if (hnid == 0) return p;
  const std::string row = "table context: row " + std::to_string(row_id);
  if (hnid_is_heap(hnid)) {
    if (auto v = heap.Lookup(Hid(hnid))) p.data.assign(v->begin(), v->end());
    else findings.add(row + ": cell points to a missing heap allocation");
  } else if (auto v = resolve.value(hnid)) {
    p.data = std::move(*v);
  } else {
    findings.add(row + ": cell sub-node missing");
  }
  return p;
}

}  // namespace

std::optional<TableContents> read_table_context(const HeapOnNode& heap, const SubnodeResolver& resolve,
                                              Findings& findings) {
  const auto info = read_tc_info(heap, findings);
  if (!info) return std::nullopt;
  TableContents out;
  out.schema.rgib = info->rgib;
  out.schema.columns = info->columns;
  for (const auto& c : info->columns)
    if (c.cb != table_cell_size(PropTypeOf(c.tag))) findings.add("table context: column width does not match its type");
  const auto table = read_tc_rows(heap, *info, resolve.blocks, findings);
  if (!table) return std::nullopt;
  for (const Bytes row : table->rows) {
    TableRow tr;
    tr.row_id = load_u32(row, 0);
    tr.row_ver = load_u32(row, 4);
    for (const auto& c : info->columns) {
      // Reported by the layout; its cell or its bit would lie outside the row.
      if (!column_fits_row(*info, c)) continue;
      const Bytes cell = *cell_bytes(row, *info, c);
      if (!cell_present(row, *info, c)) {
        if (std::any_of(cell.begin(), cell.end(), [](std::uint8_t b) { return b != 0; }))
          findings.add("table context: row " + std::to_string(tr.row_id) + ": cell of an absent column is not zero");
        continue;
      }
      if (PropIdOf(c.tag) == kPidLtpRowId || PropIdOf(c.tag) == kPidLtpRowVer) continue;
      if (auto p = cell_value(heap, resolve, c, cell, tr.row_id, findings)) tr.cells.push_back(std::move(*p));
    }
    out.rows.push_back(std::move(tr));
  }
  return out;
}

}  // namespace salvora::pst
