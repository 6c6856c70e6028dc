#include "format/table_context.h"

#include "format/bth.h"
#include "format/byte_writer.h"

namespace salvora {

namespace {

// Rows of one block of the matrix: rows never cross a block boundary, so each block holds as
// many whole rows as fit in its own length.
void slice_rows(Bytes block, std::size_t row_size, std::size_t wanted, std::vector<Bytes>& rows) {
  std::size_t taken = rows.size();
  for_each_row(block, row_size, wanted, taken, [&rows](Bytes row) { rows.push_back(row); });
}

}  // namespace

std::vector<std::uint8_t> TcInfo::Serialize() const {
  ByteWriter w(kTcInfoHeaderSize + columns.size() * kTcColumnSize);
  w.u8(kClientTableContext);
  w.u8(static_cast<std::uint8_t>(columns.size()));
  for (auto v : rgib) w.u16(v);
  w.u32(row_index.value);
  w.u32(hnid_rows);
  w.u32(0);  // hidIndex, deprecated
  for (const auto& c : columns) {
    w.u32(c.tag);
    w.u16(c.ib);
    w.u8(c.cb);
    w.u8(c.bit);
  }
  return w.take();
}

std::optional<TcInfo> TcInfo::Parse(Bytes data) {
  ByteReader r(data);
  if (r.u8() != kClientTableContext) return std::nullopt;
  const std::size_t count = r.u8();
  TcInfo info;
  for (auto& v : info.rgib) v = r.u16();
  info.row_index = Hid(r.u32());
  info.hnid_rows = r.u32();
  r.u32();  // hidIndex, deprecated
  if (!r.ok() || r.remaining() / kTcColumnSize < count) return std::nullopt;
  info.columns.resize(count);
  for (auto& c : info.columns) {
    c.tag = r.u32();
    c.ib = r.u16();
    c.cb = r.u8();
    c.bit = r.u8();
  }
  return info;
}

std::optional<TcInfo> read_tc_info(const HeapOnNode& heap, Findings& findings, ContextError* error) {
  auto fail = [&](ContextError e, const char* what) -> std::optional<TcInfo> {
    findings.add(std::string("table context: ") + what);
    if (error) *error = e;
    return std::nullopt;
  };
  if (heap.client_signature() != kClientTableContext) return fail(ContextError::kWrongClient, "heap client signature is not 0x7C");
  const auto bytes = heap.Lookup(heap.user_root());
  if (!bytes || bytes->size() < kTcInfoHeaderSize || (*bytes)[0] != kClientTableContext)
    return fail(ContextError::kBadTableInfo, "TCINFO missing");
  auto info = TcInfo::Parse(*bytes);
  if (!info) return fail(ContextError::kBadTableInfo, "TCINFO shorter than its columns");
  const auto& rgib = info->rgib;
  const std::size_t columns = info->columns.size();
  const bool consistent = rgib[0] <= rgib[1] && rgib[1] <= rgib[2] && rgib[2] <= rgib[3] &&
                          std::size_t{rgib[3]} - rgib[2] == (columns + 7) / 8;
  // Under salvage the rows can still be read while they have a size and hold their bitmap.
  const bool readable = info->row_size() > 0 && info->ceb_start() <= info->row_size();
  if (!consistent && (findings.strict() || !readable))
    return fail(ContextError::kBadTableInfo, "rgib offsets inconsistent with the column count");
  if (!consistent) findings.add("table context: rgib offsets inconsistent with the column count");
  if (!readable && !findings.strict()) return fail(ContextError::kBadTableInfo, "rows of no size");
  for (std::size_t i = 0; i < columns; ++i) {
    const TcColumn& c = info->columns[i];
    if (i > 0 && info->columns[i - 1].tag >= c.tag) findings.add("table context: columns not sorted by tag");
    if (!column_fits_row(*info, c)) findings.add("table context: column outside the row");
  }
  if (error) *error = ContextError::kNone;
  return info;
}

bool column_fits_row(const TcInfo& info, const TcColumn& column) {
  return std::size_t{column.ib} + column.cb <= info.ceb_start() && column.bit < info.columns.size();
}

bool cell_present(Bytes row, const TcInfo& info, const TcColumn& column) {
  const std::size_t byte = std::size_t{info.ceb_start()} + column.bit / 8;
  if (byte >= row.size()) return false;
  return (row[byte] & cell_existence_mask(column.bit)) != 0;
}

std::optional<Bytes> cell_bytes(Bytes row, const TcInfo& info, const TcColumn& column) {
  const std::size_t end = std::size_t{column.ib} + column.cb;
  if (end > info.ceb_start() || end > row.size()) return std::nullopt;
  return row.subspan(column.ib, column.cb);
}

std::optional<std::size_t> read_tc_row_count(const HeapOnNode& heap, const TcInfo& info, Findings& findings,
                                             ContextError* error) {
  auto fail = [&](ContextError e) -> std::optional<std::size_t> {
    if (error) *error = e;
    return std::nullopt;
  };
  const auto header = read_bth_header(heap, info.row_index, findings);
  if (!header) return fail(ContextError::kBadBthHeader);
  if (header->key_size != 4 || header->entry_size != 4) {
    findings.add("table context: row index key/entry sizes are not 4/4");
    if (!findings.strict() && header->key_size != 4) return fail(ContextError::kBadBthHeader);
  }
  // Counted first and checked on a second walk, so that a folder of a million rows costs a bit
  // a row here, not its row index held as a list. The second walk meets the same records and
  // findings: its own are not added again.
  std::size_t indexed = 0;
  if (!for_each_bth_record(heap, *header, findings, [&indexed](Bytes) { ++indexed; })) return fail(ContextError::kBadBthRoot);
  std::vector<bool> seen(indexed, false);
  Findings again(findings.strict() ? Tolerance::kStrict : Tolerance::kSalvage);
  for_each_bth_record(heap, *header, again, [&](Bytes record) {
    const std::uint32_t position = load_u32(record, 4);
    if (position >= indexed || seen[position]) {
      findings.add("table context: row index points outside the matrix or twice at one row");
    } else {
      seen[position] = true;
    }
  });
  return indexed;
}

std::optional<TcRows> read_tc_rows(const HeapOnNode& heap, const TcInfo& info, const SubnodeBlocks& subnode_blocks,
                                   Findings& findings, ContextError* error) {
  auto fail = [&](ContextError e) -> std::optional<TcRows> {
    if (error) *error = e;
    return std::nullopt;
  };
  ContextError count_error = ContextError::kNone;
  const auto indexed = read_tc_row_count(heap, info, findings, &count_error);
  if (!indexed) return fail(count_error);

  TcRows out;
  out.indexed = *indexed;
  if (out.indexed == 0) return out;
  if (info.hnid_rows == 0) {
    findings.add("table context: rows indexed but no row matrix");
    return fail(ContextError::kBadRowMatrix);
  }
  const std::size_t row_size = info.row_size();
  // A matrix that cannot be found leaves the rows short: a finding under strict, which goes on
  // to report more; nothing to salvage.
  if (hnid_is_heap(info.hnid_rows)) {
    const auto bytes = heap.Lookup(Hid(info.hnid_rows));
    if (!bytes && !findings.strict()) return fail(ContextError::kBadRowMatrix);
    if (bytes && row_size > 0) slice_rows(*bytes, row_size, out.indexed, out.rows);
  } else {
    auto blocks = subnode_blocks ? subnode_blocks(Nid(info.hnid_rows)) : std::nullopt;
    if (!blocks && !findings.strict()) return fail(ContextError::kBadRowMatrix);
    if (blocks) out.blocks = std::move(*blocks);
    for (const auto& b : out.blocks)
      if (row_size > 0) slice_rows(b, row_size, out.indexed, out.rows);
  }
  if (out.rows.size() < out.indexed) findings.add("table context: row matrix shorter than the row index");
  if (error) *error = ContextError::kNone;
  return out;
}

}  // namespace salvora
