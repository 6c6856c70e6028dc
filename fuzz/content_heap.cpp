// Fuzz target: an object's heap-on-node decoded from blocks in memory, with its sub-nodes from
// memory too (see fuzz_input.h for the layout), then applied to an item record the way the
// engine applies a message, a table's rows or an attachment object. Every text that comes out
// must be UTF-8.
#include <cstddef>
#include <cstdint>

#include "content/apply_properties.h"
#include "content/property_decoder.h"
#include "fuzz_checks.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvora;
  const fuzz::HeapInput in = fuzz::HeapInput::Decode({data, size});
  MemorySubnodes subs;
  for (const auto& [nid, blocks] : in.subnodes) subs.Add(Nid(nid), blocks);

  DecodeOptions options;
  options.hid_layout = in.wide_hids ? HidLayout::kWide : HidLayout::kStandard;
  const DecodeResult r = decode_heap_properties(in.heap, &subs, options);
  if (!r) return 0;

  for (const bool ansi : {false, true}) {
    ItemRecord record;
    record.attachments.resize(r.list->table ? r.list->blocks.size() : 1);
    ApplyOptions apply;
    apply.ansi_file = ansi;
    apply.attachment_object = in.attachment_object;
    apply_properties(r.list->blocks, &record, apply);
    fuzz::require(fuzz::valid_utf8(record.display_name.value_or("")));
    fuzz::require(fuzz::valid_utf8(record.item_class.value_or("")));
    for (const AttachmentNode& a : record.attachments) {
      fuzz::require(fuzz::valid_utf8(a.file_name.value_or("")));
      fuzz::require(fuzz::valid_utf8(a.long_file_name.value_or("")));
    }
    for (const PropertyBlock& block : r.list->blocks) {
      const std::uint32_t codepage = object_codepage(r.list->blocks, 1252);
      for (const PropertyEntry& e : block.entries) {
        fuzz::require(fuzz::valid_utf8(value_text(e, codepage, ansi)));
        (void)value_i32(e);
        (void)value_u64(e);
      }
    }
  }
  // Node 0x61 holds the named-property map in exactly such a property context.
  if (!r.list->table && !r.list->blocks.empty()) (void)NamedPropertyMap::FromPropertyBlock(r.list->blocks.front());
  return 0;
}
