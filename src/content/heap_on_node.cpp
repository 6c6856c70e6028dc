#include "content/heap_on_node.h"

namespace salvora {

HidParts split_hid(Hid hid, HidLayout layout) {
  if (layout == HidLayout::kWide) return {(hid.value >> 5) & 0x3FFF, hid.value >> 19};
  return {(hid.value >> 5) & 0x7FF, hid.value >> 16};
}

HeapOnNode::PageMap HeapOnNode::ParsePageMap(Bytes block) {
  PageMap map;
  ByteReader r(block);
  const std::uint16_t ib_hnpm = r.u16();
  if (!r.ok()) return map;
  r.seek(ib_hnpm);
  const std::uint16_t c_alloc = r.u16();
  r.u16();  // cFree: not needed to find allocations
  if (!r.ok() || r.remaining() / 2 < std::size_t{c_alloc} + 1) return map;
  map.offsets.reserve(std::size_t{c_alloc} + 1);
  for (std::size_t i = 0; i <= c_alloc; ++i) map.offsets.push_back(r.u16());
  map.valid = r.ok();
  return map;
}

std::optional<HeapOnNode> HeapOnNode::Parse(std::vector<ByteVector> blocks, HidLayout layout,
                                            HeapError* error) {
  auto fail = [&](HeapError e) -> std::optional<HeapOnNode> {
    if (error) *error = e;
    return std::nullopt;
  };
  if (blocks.empty() || blocks[0].empty()) return fail(HeapError::kEmpty);
  ByteReader r(blocks[0]);
  r.u16();  // ibHnpm, read again with the page map
  const std::uint8_t sig = r.u8();
  const std::uint8_t client = r.u8();
  const std::uint32_t user_root = r.u32();
  if (!r.ok()) return fail(HeapError::kShortHeader);
  if (sig != kHeapSignature) return fail(HeapError::kBadSignature);

  HeapOnNode heap;
  heap.layout_ = layout;
  heap.client_signature_ = client;
  heap.user_root_ = Hid(user_root);
  heap.maps_.reserve(blocks.size());
  for (const auto& b : blocks) heap.maps_.push_back(ParsePageMap(b));
  if (!heap.maps_[0].valid) return fail(HeapError::kBadPageMap);
  heap.blocks_ = std::move(blocks);
  if (error) *error = HeapError::kNone;
  return heap;
}

std::optional<Bytes> HeapOnNode::LookupAs(Hid hid, HidLayout layout) const {
  const HidParts parts = split_hid(hid, layout);
  if (parts.index == 0 || parts.block >= blocks_.size()) return std::nullopt;
  const PageMap& map = maps_[parts.block];
  if (!map.valid || parts.index >= map.offsets.size()) return std::nullopt;
  const Bytes block = blocks_[parts.block];
  const std::size_t start = map.offsets[parts.index - 1];
  const std::size_t end = map.offsets[parts.index];
  if (start > block.size() || end > block.size()) return std::nullopt;
  // A map whose boundaries run backwards names an empty allocation, not a failure: the
  // property stands with no bytes rather than vanishing.
  if (end < start) return block.subspan(start, 0);
  return block.subspan(start, end - start);
}

std::optional<Bytes> HeapOnNode::Lookup(Hid hid) const {
  if ((hid.value & 0x1F) != 0) return std::nullopt;  // a sub-node id, not a heap id
  auto bytes = LookupAs(hid, layout_);
  // The wide split of 4 KB files is known from other readers only, and the samples at hand
  // never put more than 2047 allocations in a block, so both splits read them alike. Should a
  // file disagree, the classic split is tried before a value is given up.
  if (!bytes && layout_ == HidLayout::kWide) bytes = LookupAs(hid, HidLayout::kStandard);
  return bytes;
}

}  // namespace salvora
