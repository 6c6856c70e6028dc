// Fuzz target: a heap-on-node of up to four blocks, and one sub-node, decoded and applied.
// Input: [block count 1..4] then per block [u16 length][bytes]; what remains is the value of
// sub-node 0x2A1F (where a row matrix or a large value may be looked for).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "content/apply_properties.h"
#include "content/compressed_rtf.h"
#include "content/property_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvora;
  if (size < 1) return 0;
  std::size_t pos = 0;
  const std::size_t count = 1 + data[pos++] % 4;
  std::vector<ByteVector> blocks;
  for (std::size_t i = 0; i < count && size - pos >= 2; ++i) {
    std::size_t n = data[pos] | (data[pos + 1] << 8);
    pos += 2;
    if (n > size - pos) n = size - pos;
    blocks.emplace_back(data + pos, data + pos + n);
    pos += n;
  }
  MemorySubnodes subs;
  subs.Add(Nid(0x2A1F), {ByteVector(data + pos, data + size)});
  for (HidLayout layout : {HidLayout::kStandard, HidLayout::kWide}) {
    DecodeOptions options;
    options.hid_layout = layout;
    const DecodeResult r = decode_heap_properties(blocks, &subs, options);
    if (!r) continue;
    ItemRecord record;
    record.attachments.resize(3);
    apply_properties(r.list->blocks, &record, ApplyOptions{});
    if (!r.list->blocks.empty()) NamedPropertyMap::FromPropertyBlock(r.list->blocks.front());
  }
  decompress_rtf(Bytes(data, size));
  return 0;
}
