// Fuzz target: the shared structure parsers of format/ over bytes in memory, under both
// tolerances. The input is a heap input (see fuzz_input.h, the content_heap seeds): its heap
// blocks go through the heap, BTH and context parsers, and every block, heap or sub-node, is
// also read as each kind of page and block of every layout. Nothing may read past its bytes,
// and a strict parse never accepts what a salvage parse refuses.
#include <cstddef>
#include <cstdint>

#include "format/block.h"
#include "format/header.h"
#include "format/page.h"
#include "format/property_context.h"
#include "format/table_context.h"
#include "fuzz_checks.h"
#include "fuzz_input.h"

namespace {

using namespace salvora;

void read_as_pages_and_blocks(Bytes b) {
  for (FileLayout layout : {FileLayout::kAnsi, FileLayout::kUnicode, FileLayout::kUnicode4k}) {
    Findings findings(Tolerance::kSalvage);
    (void)parse_header(b, findings);
    (void)parse_page_trailer(b, layout);
    if (const auto counts = parse_bt_page_header(b, layout)) {
      const PageGeometry g = geometry_for(layout);
      const std::size_t n = std::min(counts->c_ent, g.entry_area / g.bbt_leaf_entry_size);
      for (std::size_t i = 0; i < n && (i + 1) * g.nbt_leaf_entry_size <= b.size(); ++i) {
        ByteReader r(b.subspan(i * g.nbt_leaf_entry_size, g.nbt_leaf_entry_size));
        (void)NbtEntry::Parse(r, layout);
        fuzz::require(r.ok());
      }
    }
    for (std::size_t cb : {std::size_t{0}, b.size() / 2, b.size()}) {
      if (const auto t = parse_block_trailer(b, cb, layout)) (void)judge_block_trailer(*t, b, t->bid, t->cb, 0);
    }
    const auto xs = XBlock::Parse(b, layout, Tolerance::kStrict);
    const auto xv = XBlock::Parse(b, layout, Tolerance::kSalvage);
    fuzz::require(!xs || xv);
    const auto ss = SubnodeBlock::Parse(b, layout, Tolerance::kStrict);
    const auto sv = SubnodeBlock::Parse(b, layout, Tolerance::kSalvage);
    fuzz::require(!ss || sv);
  }
}

void read_contexts(const HeapOnNode& heap, const fuzz::HeapInput& in, Findings& findings) {
  (void)read_pc_records(heap, findings);
  const auto info = read_tc_info(heap, findings);
  if (!info) return;
  const SubnodeBlocks blocks = [&in](Nid nid) -> std::optional<std::vector<ByteVector>> {
    const auto it = in.subnodes.find(nid.value);
    if (it == in.subnodes.end()) return std::nullopt;
    return it->second;
  };
  const auto rows = read_tc_rows(heap, *info, blocks, findings);
  if (!rows) return;
  fuzz::require(rows->rows.size() <= rows->indexed);
  for (const Bytes row : rows->rows) {
    fuzz::require(row.size() == info->row_size());
    for (const TcColumn& c : info->columns) {
      (void)cell_present(row, *info, c);
      if (const auto cell = cell_bytes(row, *info, c)) fuzz::require(cell->size() == c.cb);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::HeapInput in = fuzz::HeapInput::Decode({data, size});
  for (const auto& b : in.heap) read_as_pages_and_blocks(b);
  for (const auto& [nid, blocks] : in.subnodes)
    for (const auto& b : blocks) read_as_pages_and_blocks(b);

  const HidLayout layout = in.wide_hids ? HidLayout::kWide : HidLayout::kStandard;
  Findings strict(Tolerance::kStrict), salvage(Tolerance::kSalvage);
  const auto strict_heap = HeapOnNode::Parse(in.heap, layout, strict);
  const auto salvage_heap = HeapOnNode::Parse(in.heap, layout, salvage);
  fuzz::require(!strict_heap || salvage_heap);
  if (strict_heap) read_contexts(*strict_heap, in, strict);
  if (salvage_heap) {
    read_contexts(*salvage_heap, in, salvage);
    fuzz::require(salvage.items().size() <= Findings::kKeptWhenSalvaging);
  }
  return 0;
}
