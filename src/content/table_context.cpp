// The table context reader (MS-PST 2.3.4): TCINFO, its column descriptors, the row index and
// the row matrix, held in the heap or, when large, in a sub-node spread over several blocks.
#include <algorithm>

#include "format/bth.h"
#include "content/value_resolver.h"

namespace salvora {

namespace {

constexpr std::size_t kTcInfoSize = 22;
constexpr std::size_t kColumnSize = 8;

DecodeResult Fail(DecodeError code, std::uint32_t hid = 0, std::uint64_t expected = 0,
                  std::uint64_t actual = 0) {
  DecodeResult r;
  r.failure = {code, hid, expected, actual};
  return r;
}

struct Column {
  std::uint16_t type = 0;
  std::uint16_t id = 0;
  std::uint16_t offset = 0;  // ibData
  std::uint8_t width = 0;    // cbData
  std::uint8_t bit = 0;      // iBit in the cell existence bitmap
};

struct TableInfo {
  std::uint16_t ceb_start = 0;  // rgib[TCI_1b]: the bitmap follows the 1-byte cells
  std::uint16_t row_size = 0;   // rgib[TCI_bm]: the bitmap's end is the row's end
  Hid row_index;
  std::uint32_t rows_ref = 0;   // hnidRows
  std::vector<Column> columns;
};

std::optional<TableInfo> ReadTableInfo(const HeapOnNode& heap) {
  auto bytes = heap.Lookup(heap.user_root());
  if (!bytes) return std::nullopt;
  ByteReader r(*bytes);
  if (r.u8() != kClientTableContext) return std::nullopt;
  const std::uint8_t cols = r.u8();
  TableInfo info;
  r.u16();  // TCI_4b
  r.u16();  // TCI_2b
  info.ceb_start = r.u16();
  info.row_size = r.u16();
  info.row_index = Hid(r.u32());
  info.rows_ref = r.u32();
  r.u32();  // hidIndex, deprecated
  if (!r.ok() || r.remaining() / kColumnSize < cols) return std::nullopt;
  info.columns.reserve(cols);
  for (std::size_t i = 0; i < cols; ++i) {
    Column c;
    c.type = r.u16();
    c.id = r.u16();
    c.offset = r.u16();
    c.width = r.u8();
    c.bit = r.u8();
    info.columns.push_back(c);
  }
  if (!r.ok()) return std::nullopt;
  return info;
}

// Rows of one row-matrix block; rows never cross a block boundary, so each block holds as many
// whole rows as fit in its own (inflated) length.
void SliceRows(Bytes block, std::size_t row_size, std::size_t wanted, std::vector<Bytes>& rows) {
  const std::size_t fit = block.size() / row_size;
  for (std::size_t i = 0; i < fit && rows.size() < wanted; ++i) {
    rows.push_back(block.subspan(i * row_size, row_size));
  }
}

bool CellPresent(Bytes row, const TableInfo& info, const Column& c) {
  const std::size_t byte = std::size_t{info.ceb_start} + c.bit / 8;
  if (byte >= row.size()) return false;
  return (row[byte] & (0x80 >> (c.bit % 8))) != 0;
}

}  // namespace

DecodeResult ReadTableContext(const ValueResolver& resolver) {
  const HeapOnNode& heap = resolver.heap();
  auto info = ReadTableInfo(heap);
  if (!info) return Fail(DecodeError::kBadTableInfo, heap.user_root().value);
  if (info->row_size == 0 || info->ceb_start > info->row_size) {
    return Fail(DecodeError::kBadTableInfo, heap.user_root().value, info->ceb_start,
                info->row_size);
  }

  // Salvage: what the BTH walk skips is left out of the table, which is decoded regardless.
  Findings findings(Tolerance::kSalvage);
  auto index_header = read_bth_header(heap, info->row_index, findings);
  if (!index_header || index_header->key_size != 4) {
    return Fail(DecodeError::kBadBthHeader, info->row_index.value, 4,
                index_header ? index_header->key_size : 0);
  }
  auto index = read_bth_records(heap, *index_header, findings);
  if (!index) return Fail(DecodeError::kBadBthRoot, index_header->root.value);
  const std::size_t row_count = index->size();

  std::vector<ByteVector> matrix_blocks;  // keeps a sub-node's blocks alive while rows are read
  std::vector<Bytes> rows;
  rows.reserve(row_count);
  if (row_count > 0) {
    const std::uint32_t ref = info->rows_ref;
    if (ref == 0) return Fail(DecodeError::kBadRowMatrix, 0, row_count, 0);
    if ((ref & 0x1F) == 0) {
      auto bytes = heap.Lookup(Hid(ref));
      if (!bytes) return Fail(DecodeError::kBadRowMatrix, ref);
      SliceRows(*bytes, info->row_size, row_count, rows);
    } else {
      std::optional<std::vector<ByteVector>> blocks;
      if (resolver.subnodes() != nullptr) blocks = resolver.subnodes()->Blocks(Nid(ref));
      if (!blocks) return Fail(DecodeError::kBadRowMatrix, ref);
      matrix_blocks = std::move(*blocks);
      for (const auto& b : matrix_blocks) SliceRows(b, info->row_size, row_count, rows);
    }
  }

  DecodeResult result;
  result.list = PropertyList{};
  result.list->table = true;
  auto& out = result.list->blocks;
  out.reserve(rows.size());
  for (Bytes row : rows) {
    if (resolver.stopped()) return Fail(DecodeError::kStopped);
    PropertyBlock block;
    block.total_rows = static_cast<std::int32_t>(row_count);
    block.entries.reserve(info->columns.size());
    for (const Column& c : info->columns) {
      if (resolver.stopped()) return Fail(DecodeError::kStopped);
      // A clear bit says the row has no such cell; its bytes are zero and mean nothing.
      if (!CellPresent(row, *info, c)) continue;
      const std::size_t width = std::min<std::size_t>(c.width, 8);
      if (width == 0 || std::size_t{c.offset} + width > info->ceb_start) {
        ++result.dropped_entries;
        continue;
      }
      // Cells are as wide as their column says: 1, 2, 4 or 8 bytes, little-endian.
      std::uint64_t cell = 0;
      for (std::size_t i = width; i-- > 0;) cell = (cell << 8) | row[c.offset + i];
      PropertyEntry e = resolver.MakeEntry(c.id, c.type);
      const ValueForm form = value_form(c.type);
      if (form == ValueForm::kInline4 || (form == ValueForm::kFixed8 && width == 8)) {
        const std::size_t n = form == ValueForm::kInline4 ? 4 : 8;
        e.value = ByteVector(n, 0);
        for (std::size_t i = 0; i < n && i < 8; ++i) {
          (*e.value)[i] = static_cast<std::uint8_t>(cell >> (8 * i));
        }
      } else if (form != ValueForm::kNone) {
        if (!ResolveInto(resolver, e, static_cast<std::uint32_t>(cell), result)) continue;
      }
      block.entries.push_back(std::move(e));
    }
    out.push_back(std::move(block));
  }
  return result;
}

}  // namespace salvora
