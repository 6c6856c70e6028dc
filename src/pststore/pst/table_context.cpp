#include "pststore/pst/table_context.h"

#include <algorithm>

#include "format/byte_writer.h"
#include "pststore/pst/bth.h"
#include "pststore/pst/disk_layout.h"

namespace salvora::pst {

const ColumnDesc* TableSchema::Find(std::uint32_t tag) const {
  for (const auto& c : columns)
    if (c.tag == tag) return &c;
  return nullptr;
}

const ColumnDesc* TableSchema::FindId(std::uint16_t id) const {
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
      const std::uint8_t cb = TableCellSize(PropTypeOf(t));
      if (cb != want) continue;
      s.columns.push_back({t, off, cb, bit++});
      off = static_cast<std::uint16_t>(off + cb);
    }
    if (want == 4) s.rgib[0] = off;
    if (want == 2) s.rgib[1] = off;
    if (want == 1) s.rgib[2] = off;
  }
  s.rgib[3] = static_cast<std::uint16_t>(off + (s.columns.size() + 7) / 8);
  std::sort(s.columns.begin(), s.columns.end(), [](const ColumnDesc& a, const ColumnDesc& b) { return a.tag < b.tag; });
  return s;
}

TableSchema TableSchema::Fixed(std::vector<ColumnDesc> columns, std::array<std::uint16_t, 4> rgib) {
  std::sort(columns.begin(), columns.end(), [](const ColumnDesc& a, const ColumnDesc& b) { return a.tag < b.tag; });
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

std::vector<std::vector<std::uint8_t>> BuildTableContext(const TableSchema& schema, const std::vector<TableRow>& rows,
                                                         SubnodeSink& sink) {
  return BuildTableContext(schema, rows.size(), [&rows](std::size_t i) { return rows[i]; }, sink);
}

std::vector<std::vector<std::uint8_t>> BuildTableContext(const TableSchema& schema, std::size_t row_count,
                                                         const std::function<TableRow(std::size_t)>& row_at,
                                                         SubnodeSink& sink) {
  HeapWriter heap(kHeapSigTc);
  // Outlook's order, which some readers rely on: row index BTH header, TCINFO, row index
  // records, then the row matrix and the variable-size cells.
  BthBuilder bth(heap, 4, 4);
  const std::uint32_t hid_index = bth.AllocateHeader();
  const std::uint32_t hid_info = heap.Allocate(std::vector<std::uint8_t>(22 + schema.columns.size() * 8, 0));
  heap.SetUserRoot(hid_info);
  bth.ReserveRecords(row_count);
  const std::size_t row_size = schema.row_size();
  const std::size_t ceb_at = schema.rgib[2];
  // The row matrix is built in its final blocks: in the heap when it fits one allocation, else
  // in data blocks where rows never straddle blocks and every block but the last is full.
  const bool rows_in_heap = row_count * row_size <= kMaxHeapAlloc;
  const std::size_t per_block = rows_in_heap ? std::max<std::size_t>(row_count, 1) : kMaxBlockData / row_size;
  std::vector<std::vector<std::uint8_t>> matrix;
  ByteWriter index(row_count * 8);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> order;
  order.reserve(row_count);
  for (std::size_t i = 0; i < row_count; ++i) {
    const TableRow row = row_at(i);
    if (i % per_block == 0) {
      const bool last = i + per_block >= row_count;
      matrix.emplace_back(last ? (row_count - i) * row_size : std::size_t{kMaxBlockData}, 0);
    }
    auto cell = std::span(matrix.back()).subspan((i % per_block) * row_size, row_size);
    auto set_bit = [&](std::uint8_t bit) { cell[ceb_at + bit / 8] = static_cast<std::uint8_t>(cell[ceb_at + bit / 8] | (0x80 >> (bit % 8))); };
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
      if (TableCellSize(p->type()) == c.cb && (FixedPropSize(p->type()) == c.cb || (c.cb == 1 && p->type() == kPtypBoolean)) &&
          !IsMultiValued(p->type())) {
        std::copy_n(p->data.begin(), std::min<std::size_t>(c.cb, p->data.size()), cell.begin() + c.ib);
      } else {
        // A value of no bytes is written as reference 0, as the format writes it.
        const std::uint32_t hnid = p->data.empty() ? 0
                                   : p->data.size() <= kMaxHeapAlloc ? heap.Allocate(p->data)
                                                                     : sink.AddValue(p->data);
        store_u32(cell, c.ib, hnid);
      }
      set_bit(c.bit);
    }
    order.emplace_back(row.row_id, static_cast<std::uint32_t>(i));
  }
  std::sort(order.begin(), order.end());
  for (auto [id, pos] : order) {
    index.u32(id);
    index.u32(pos);
  }
  bth.Fill(index.data());
  std::uint32_t hnid_rows = 0;
  if (row_count > 0) hnid_rows = rows_in_heap ? heap.Allocate(matrix.front()) : sink.AddBlocks(matrix);
  ByteWriter info(22 + schema.columns.size() * 8);
  info.u8(kHeapSigTc);
  info.u8(static_cast<std::uint8_t>(schema.columns.size()));
  for (auto v : schema.rgib) info.u16(v);
  info.u32(hid_index);
  info.u32(hnid_rows);
  info.u32(0);
  for (const auto& c : schema.columns) {
    info.u32(c.tag);
    info.u16(c.ib);
    info.u8(c.cb);
    info.u8(c.bit);
  }
  heap.Overwrite(hid_info, info.data());
  return heap.Finish();
}

std::optional<TableContents> ReadTableContext(const HeapReader& heap, const SubnodeResolver& resolve,
                                              std::vector<std::string>* problems) {
  auto report = [&](const std::string& s) {
    if (problems) problems->push_back("table context: " + s);
  };
  if (heap.client_sig() != kHeapSigTc) {
    report("heap client signature is not 0x7C");
    return std::nullopt;
  }
  auto info = heap.Get(heap.user_root());
  if (!info || info->size() < 22 || (*info)[0] != kHeapSigTc) {
    report("TCINFO missing");
    return std::nullopt;
  }
  const Bytes ti = *info;
  TableContents out;
  const std::size_t ncols = ti[1];
  if (ti.size() < 22 + ncols * 8) {
    report("TCINFO shorter than its columns");
    return std::nullopt;
  }
  for (int i = 0; i < 4; ++i) out.schema.rgib[i] = load_u16(ti, 2 + 2 * static_cast<std::size_t>(i));
  const std::uint32_t hid_index = load_u32(ti, 10);
  const std::uint32_t hnid_rows = load_u32(ti, 14);
  for (std::size_t i = 0; i < ncols; ++i) {
    const Bytes c = ti.subspan(22 + i * 8, 8);
    out.schema.columns.push_back({load_u32(c, 0), load_u16(c, 4), c[6], c[7]});
  }
  const auto& rgib = out.schema.rgib;
  const std::size_t row_size = rgib[3];
  if (!(rgib[0] <= rgib[1] && rgib[1] <= rgib[2] && rgib[2] <= rgib[3]) || std::size_t{rgib[3]} - rgib[2] != (ncols + 7) / 8) {
    report("rgib offsets inconsistent with the column count");
    return std::nullopt;
  }
  for (std::size_t i = 0; i < ncols; ++i) {
    const auto& c = out.schema.columns[i];
    if (i > 0 && out.schema.columns[i - 1].tag >= c.tag) report("columns not sorted by tag");
    if (c.ib + c.cb > rgib[2] || c.bit >= ncols) report("column outside the row");
    if (c.cb != TableCellSize(PropTypeOf(c.tag))) report("column width does not match its type");
  }
  auto bth = ReadBth(heap, hid_index, problems);
  if (!bth) return std::nullopt;
  if (bth->header.cb_key != 4 || bth->header.cb_ent != 4) report("row index key/entry sizes are not 4/4");
  const std::size_t nrows = bth->records.size();
  std::vector<std::uint8_t> matrix;
  std::size_t per_block = 0;
  if (nrows > 0) {
    if (hnid_rows == 0) {
      report("rows indexed but no row matrix");
      return std::nullopt;
    }
    if ((hnid_rows & 0x1F) == 0) {
      auto m = heap.Get(hnid_rows);
      if (m) matrix.assign(m->begin(), m->end());
    } else if (auto m = resolve(hnid_rows)) {
      matrix = std::move(*m);
      per_block = kMaxBlockData / std::max<std::size_t>(row_size, 1);
    }
  }
  const bool in_subnode = (hnid_rows & 0x1F) != 0;
  auto row_at = [&](std::size_t i) -> std::optional<Bytes> {
    if (row_size == 0 || (in_subnode && per_block == 0)) return std::nullopt;
    const std::size_t off = in_subnode ? (i / per_block) * kMaxBlockData + (i % per_block) * row_size : i * row_size;
    if (off + row_size > matrix.size()) return std::nullopt;
    return Bytes(matrix).subspan(off, row_size);
  };
  std::vector<bool> seen(nrows, false);
  for (const Bytes rec : bth->records) {
    const std::uint32_t pos = load_u32(rec, 4);
    if (pos >= nrows || seen[pos]) report("row index points outside the matrix or twice at one row");
    else seen[pos] = true;
  }
  for (std::size_t i = 0; i < nrows; ++i) {
    auto r = row_at(i);
    if (!r) {
      report("row matrix shorter than the row index");
      break;
    }
    const Bytes row = *r;
    TableRow tr;
    tr.row_id = load_u32(row, 0);
    tr.row_ver = load_u32(row, 4);
    const Bytes ceb = row.subspan(rgib[2]);
    for (const auto& c : out.schema.columns) {
      // Reported above; its cell or its bit would lie outside the row.
      if (c.ib + c.cb > rgib[2] || c.bit >= ncols) continue;
      const bool present = (ceb[c.bit / 8] & (0x80 >> (c.bit % 8))) != 0;
      const Bytes cell = row.subspan(c.ib, c.cb);
      if (!present) {
        if (std::any_of(cell.begin(), cell.end(), [](std::uint8_t b) { return b != 0; }))
          report("row " + std::to_string(tr.row_id) + ": cell of an absent column is not zero");
        continue;
      }
      if (PropIdOf(c.tag) == kPidLtpRowId || PropIdOf(c.tag) == kPidLtpRowVer) continue;
      const std::uint16_t type = PropTypeOf(c.tag);
      Property p;
      p.tag = c.tag;
      const bool fixed_inline = !IsMultiValued(type) && (FixedPropSize(type) == c.cb || (type == kPtypBoolean && c.cb == 1));
      if (fixed_inline) {
        p.data.assign(cell.begin(), cell.end());
      } else {
        const std::uint32_t hnid = load_u32(cell, 0);
        if (hnid == 0) {
        } else if ((hnid & 0x1F) == 0) {
          auto v = heap.Get(hnid);
          if (!v) report("row " + std::to_string(tr.row_id) + ": cell points to a missing heap allocation");
          else p.data.assign(v->begin(), v->end());
        } else if (auto v = resolve(hnid)) {
          p.data = std::move(*v);
        } else {
          report("row " + std::to_string(tr.row_id) + ": cell sub-node missing");
        }
      }
      tr.cells.push_back(std::move(p));
    }
    out.rows.push_back(std::move(tr));
  }
  return out;
}

}  // namespace salvora::pst
