// The table context reader: the shared layout's rows turned into one property block each, a
// cell's value held in the cell or found through its reference.
#include <algorithm>

#include "content/value_resolver.h"
#include "format/table_context.h"

namespace salvora {

DecodeResult ReadTableContext(const ValueResolver& resolver) {
  const HeapOnNode& heap = resolver.heap();
  // Salvage: what the BTH walk skips, and cells that lie outside their row, are left out of the
  // table, which is decoded regardless.
  Findings findings(Tolerance::kSalvage);
  ContextError error = ContextError::kNone;
  const auto info = read_tc_info(heap, findings, &error);
  if (!info) return decode_failure(decode_error_of(error), heap.user_root().value);
  const SubnodeSource* subnodes = resolver.subnodes();
  const auto table = read_tc_rows(
      heap, *info,
      [subnodes](Nid nid) { return subnodes ? subnodes->Blocks(nid) : std::nullopt; }, findings, &error);
  if (!table) return decode_failure(decode_error_of(error), error == ContextError::kBadRowMatrix ? info->hnid_rows : info->row_index.value);

  DecodeResult result;
  result.list = PropertyList{};
  result.list->table = true;
  auto& out = result.list->blocks;
  out.reserve(table->rows.size());
  for (Bytes row : table->rows) {
    if (resolver.stopped()) return decode_failure(DecodeError::kStopped);
    PropertyBlock block;
    block.total_rows = static_cast<std::int32_t>(table->indexed);
    block.entries.reserve(info->columns.size());
    for (const TcColumn& c : info->columns) {
      if (resolver.stopped()) return decode_failure(DecodeError::kStopped);
      // A clear bit says the row has no such cell; its bytes are zero and mean nothing.
      if (!cell_present(row, *info, c)) continue;
      const auto bytes = cell_bytes(row, *info, c);
      if (!bytes || bytes->empty()) {
        ++result.dropped_entries;
        continue;
      }
      // Cells are as wide as their column says: 1, 2, 4 or 8 bytes, little-endian.
      const std::size_t width = std::min<std::size_t>(bytes->size(), 8);
      std::uint64_t cell = 0;
      for (std::size_t i = width; i-- > 0;) cell = (cell << 8) | (*bytes)[i];
      const auto type = static_cast<std::uint16_t>(c.tag & 0xFFFF);
      PropertyEntry e = resolver.MakeEntry(static_cast<std::uint16_t>(c.tag >> 16), type);
      const ValueForm form = value_form(type);
      if (form == ValueForm::kInline4 || (form == ValueForm::kFixed8 && width == 8)) {
        const std::size_t n = form == ValueForm::kInline4 ? 4 : 8;
        e.value = ByteVector(n, 0);
        for (std::size_t i = 0; i < n; ++i) (*e.value)[i] = static_cast<std::uint8_t>(cell >> (8 * i));
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
