#include "format/heap_on_node.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <stdexcept>
#include <string>

#include "format/byte_writer.h"
#include "format/layout.h"

namespace salvora {

namespace {

constexpr std::size_t kHeapHeaderSize = 12;   // ibHnpm, bSig, bClientSig, hidUserRoot, fill levels
constexpr std::size_t kBitmapHeaderSize = 66;  // ibHnpm and the fill levels of 128 blocks
constexpr std::size_t kMaxAllocationsPerBlock = 2047;

// The fill-level nibble of a block with this many free bytes.
std::uint8_t fill_level(std::size_t free_bytes) {
  static constexpr std::size_t kLimits[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768, 512, 256, 128, 64, 32, 16, 8};
  for (std::uint8_t i = 0; i < 15; ++i)
    if (free_bytes >= kLimits[i]) return i;
  return 15;
}

std::size_t page_map_size(std::size_t allocations) { return 4 + 2 * (allocations + 1); }

// A block's size once its page map follows allocations ending at `end`.
std::size_t sealed_size(std::size_t end, std::size_t allocations) { return end + (end & 1) + page_map_size(allocations); }

}  // namespace

HidParts split_hid(Hid hid, HidLayout layout) {
  if (layout == HidLayout::kWide) return {(hid.value >> 5) & 0x3FFF, hid.value >> 19};
  return {(hid.value >> 5) & 0x7FF, hid.value >> 16};
}

HeapOnNode::PageMap HeapOnNode::ParsePageMap(Bytes block, std::size_t index, Findings& findings) {
  PageMap map;
  ByteReader r(block);
  const std::uint16_t ib_hnpm = r.u16();
  r.seek(ib_hnpm);
  const std::uint16_t c_alloc = r.u16();
  r.u16();  // cFree: not needed to find allocations
  if (!r.ok()) {
    findings.add("heap: page map outside block " + std::to_string(index));
    return map;
  }
  if (r.remaining() / 2 < std::size_t{c_alloc} + 1) {
    findings.add("heap: page map of block " + std::to_string(index) + " is cut off");
    return map;
  }
  map.offsets.reserve(std::size_t{c_alloc} + 1);
  map.ordered = true;
  for (std::size_t i = 0; i <= c_alloc; ++i) {
    const std::uint16_t at = r.u16();
    if (at > ib_hnpm || (i > 0 && at < map.offsets.back())) map.ordered = false;
    map.offsets.push_back(at);
  }
  if (!map.ordered) findings.add("heap: allocation offsets of block " + std::to_string(index) + " out of order");
  map.valid = true;
  return map;
}

std::optional<HeapHeader> HeapHeader::Parse(Bytes block) {
  ByteReader r(block);
  HeapHeader h;
  h.ib_hnpm = r.u16();
  h.sig = r.u8();
  h.client_signature = r.u8();
  h.user_root = Hid(r.u32());
  if (!r.ok()) return std::nullopt;
  h.complete = block.size() >= kHeapHeaderSize;
  return h;
}

std::optional<HeapOnNode> HeapOnNode::Parse(std::vector<ByteVector> blocks, HidLayout layout, Findings& findings,
                                            HeapError* error) {
  auto fail = [&](HeapError e) -> std::optional<HeapOnNode> {
    if (error) *error = e;
    return std::nullopt;
  };
  if (blocks.empty() || blocks[0].empty()) {
    findings.add("heap: no header block");
    return fail(HeapError::kEmpty);
  }
  const auto header = HeapHeader::Parse(blocks[0]);
  // The fill levels after hidUserRoot are a hint for writers; a reader can do without them.
  if (!header || !header->complete) {
    findings.add("heap: no header block");
    if (!header || findings.strict()) return fail(HeapError::kShortHeader);
  }
  if (header->sig != kHeapSignature) {
    findings.add("heap: bSig is not 0xEC");
    return fail(HeapError::kBadSignature);
  }

  HeapOnNode heap;
  heap.layout_ = layout;
  heap.client_signature_ = header->client_signature;
  heap.user_root_ = header->user_root;
  heap.maps_.reserve(blocks.size());
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    PageMap map = ParsePageMap(blocks[i], i, findings);
    if (findings.strict() && !(map.valid && map.ordered)) return fail(HeapError::kBadPageMap);
    heap.maps_.push_back(std::move(map));
  }
  if (!heap.maps_[0].valid) return fail(HeapError::kBadPageMap);
  heap.blocks_ = std::move(blocks);
  if (error) *error = HeapError::kNone;
  return heap;
}

std::optional<HeapOnNode> HeapOnNode::OpenLazily(std::size_t block_count, BlockLoader load, HidLayout layout) {
  if (block_count == 0) return std::nullopt;
  auto first = load(0);
  if (!first) return std::nullopt;
  std::vector<ByteVector> blocks;
  blocks.push_back(std::move(*first));
  Findings ignored(Tolerance::kSalvage);
  auto heap = Parse(std::move(blocks), layout, ignored);
  if (!heap) return std::nullopt;
  heap->blocks_.resize(block_count);
  heap->maps_.resize(block_count);
  heap->loaded_.assign(block_count, false);
  heap->loaded_[0] = true;
  heap->load_ = std::move(load);
  return heap;
}

void HeapOnNode::LoadBlock(std::size_t index) const {
  loaded_[index] = true;
  auto bytes = load_(index);
  if (!bytes) return;  // an unreadable block: its map stays invalid
  Findings ignored(Tolerance::kSalvage);
  maps_[index] = ParsePageMap(*bytes, index, ignored);
  blocks_[index] = std::move(*bytes);
}

std::size_t HeapOnNode::allocation_count() const {
  std::size_t n = 0;
  for (const auto& m : maps_)
    if (m.valid) n += m.offsets.size() - 1;
  return n;
}

std::optional<Bytes> HeapOnNode::LookupAs(Hid hid, HidLayout layout) const {
  const HidParts parts = split_hid(hid, layout);
  if (parts.index == 0 || parts.block >= blocks_.size()) return std::nullopt;
  if (!loaded_.empty() && !loaded_[parts.block]) LoadBlock(parts.block);
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
  if (hid.type() != kNidTypeHid) return std::nullopt;  // a sub-node id, not a heap id
  auto bytes = LookupAs(hid, layout_);
  // The wide split of 4 KB files is known from other readers only, and the samples at hand
  // never put more than 2047 allocations in a block, so both splits read them alike. Should a
  // file disagree, the classic split is tried before a value is given up.
  if (!bytes && layout_ == HidLayout::kWide) bytes = LookupAs(hid, HidLayout::kStandard);
  return bytes;
}

void HeapOnNode::Forget(Hid hid, std::span<const Hid> keep) const {
  if (loaded_.empty() || hid.type() != kNidTypeHid) return;
  // A wide heap's lookups may have read the block of either split.
  const auto blocks_of = [this](Hid h) {
    std::array<std::uint32_t, 2> out{split_hid(h, layout_).block, split_hid(h, HidLayout::kStandard).block};
    return out;
  };
  for (const std::uint32_t block : blocks_of(hid)) {
    if (block == 0 || block >= blocks_.size() || !loaded_[block]) continue;
    const bool kept = std::any_of(keep.begin(), keep.end(), [&](Hid k) {
      const auto theirs = blocks_of(k);
      return std::find(theirs.begin(), theirs.end(), block) != theirs.end();
    });
    if (kept) continue;
    blocks_[block] = ByteVector();
    maps_[block] = PageMap();
    loaded_[block] = false;
  }
}

std::size_t HeapWriter::HeaderSize(std::size_t block_index) {
  if (block_index == 0) return kHeapHeaderSize;
  if (block_index % 128 == 8) return kBitmapHeaderSize;
  return 2;
}

bool HeapWriter::CarriesFillLevels(std::size_t block_index) { return block_index == 0 || block_index % 128 == 8; }

Hid HeapWriter::Allocate(Bytes data) { return Place(data, 0); }

Hid HeapWriter::Reserve(std::size_t size) { return Place({}, size); }

Hid HeapWriter::Place(Bytes data, std::size_t zeros) {
  const std::size_t size = data.size() + zeros;
  if (size > kMaxHeapAlloc) throw std::length_error("heap allocation too large");
  auto fits = [&](const Block& b) {
    return b.starts.size() < kMaxAllocationsPerBlock && sealed_size(b.size() + size, b.starts.size() + 1) <= kMaxBlockData;
  };
  const bool open = block_count_ > levels_.size();
  if (!open || !fits(held_.back())) {
    if (block_count_ >= 65536) throw std::length_error("heap too large");
    if (open) CompleteOpenBlock();
    Block b;
    b.index = block_count_++;
    b.bytes.assign(HeaderSize(b.index), 0);
    held_.push_back(std::move(b));
  }
  Block& b = held_.back();
  b.starts.push_back(static_cast<std::uint16_t>(b.size()));
  if (zeros > 0) {
    b.zeros += zeros;
  } else {
    b.Materialize();
    b.bytes.insert(b.bytes.end(), data.begin(), data.end());
  }
  return make_hid(static_cast<std::uint32_t>(b.index), static_cast<std::uint32_t>(b.starts.size()));
}

HeapWriter::Block& HeapWriter::Held(std::size_t index) {
  auto it = std::lower_bound(held_.begin(), held_.end(), index, [](const Block& b, std::size_t i) { return b.index < i; });
  if (it == held_.end() || it->index != index) throw std::logic_error("heap block " + std::to_string(index) + " is already written");
  return *it;
}

std::span<std::uint8_t> HeapWriter::Mutable(Hid hid) {
  const HidParts parts = split_hid(hid, HidLayout::kStandard);
  Block& b = Held(parts.block);
  b.Materialize();
  const std::size_t start = b.starts.at(parts.index - 1);
  const std::size_t end = parts.index < b.starts.size() ? b.starts[parts.index] : b.bytes.size();
  return std::span(b.bytes).subspan(start, end - start);
}

void HeapWriter::Overwrite(Hid hid, Bytes data) {
  const std::span<std::uint8_t> to = Mutable(hid);
  assert(data.size() <= to.size());
  std::copy(data.begin(), data.end(), to.begin());
}

void HeapWriter::StreamCompleteBlocks(HeapBlockSink sink) {
  sink_ = std::move(sink);
  pinned_ = block_count_;
}

void HeapWriter::ReleaseFinalBefore(std::size_t block) {
  if (!sink_) return;
  for (std::size_t at = 0; at < held_.size() && held_[at].index < std::min(block, pinned_);) {
    const std::size_t index = held_[at].index;
    if (index == 0 || CarriesFillLevels(index) || index + 1 >= block_count_) ++at;
    else Release(at, false);
  }
}

void HeapWriter::CompleteOpenBlock() {
  const Block& open = held_.back();
  const std::size_t done = open.index;
  levels_.push_back(fill_level(kMaxBlockData - sealed_size(open.size(), open.starts.size())));
  if (!sink_) return;
  if (done >= pinned_ && !CarriesFillLevels(done)) Release(held_.size() - 1, false);
  // A block with the fill levels of 128 blocks is final with the last of them.
  if (done >= 127 && (done - 127) % 128 == 8 && done - 127 >= pinned_) {
    const Block& map = Held(done - 127);
    Release(static_cast<std::size_t>(&map - held_.data()), false);
  }
}

void HeapWriter::Release(std::size_t at, bool last) {
  Block b = std::move(held_[at]);
  held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(at));
  b.Materialize();
  // The page map goes after the allocations, in the block's own bytes.
  std::vector<std::uint8_t> bytes = std::move(b.bytes);
  auto u16 = [&bytes](std::uint16_t v) {
    bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  const std::size_t end = bytes.size();
  if (end & 1) bytes.push_back(0);
  const auto ib_hnpm = static_cast<std::uint16_t>(bytes.size());
  u16(static_cast<std::uint16_t>(b.starts.size()));
  u16(0);
  for (auto s : b.starts) u16(s);
  u16(static_cast<std::uint16_t>(end));
  store_u16(bytes, 0, ib_hnpm);
  if (!last && bytes.size() < kMaxBlockData) bytes.resize(kMaxBlockData, 0);

  auto set_levels = [&](std::size_t at_byte, std::size_t first, std::size_t count) {
    for (std::size_t j = 0; j < count && first + j < levels_.size(); ++j)
      bytes[at_byte + j / 2] = static_cast<std::uint8_t>(bytes[at_byte + j / 2] | (levels_[first + j] << (4 * (j % 2))));
  };
  // Block 0 holds the heap header; blocks 8, 136, ... a bitmap header with the fill levels of
  // the next 128 blocks.
  if (b.index == 0) {
    bytes[2] = kHeapSignature;
    bytes[3] = client_signature_;
    store_u32(bytes, 4, user_root_.value);
    set_levels(8, 0, 8);
  } else if (CarriesFillLevels(b.index)) {
    set_levels(2, b.index, 128);
  }
  sink_(HeapBlock{b.index, std::move(bytes)});
}

void HeapWriter::FinishStream() && {
  if (block_count_ == 0) {
    held_.push_back(Block{0, std::vector<std::uint8_t>(kHeapHeaderSize, 0), {}});
    block_count_ = 1;
  }
  const Block& last = held_.back();
  levels_.push_back(fill_level(kMaxBlockData - sealed_size(last.size(), last.starts.size())));
  while (!held_.empty()) Release(0, held_.front().index + 1 == block_count_);
}

std::vector<std::vector<std::uint8_t>> HeapWriter::Finish() const& {
  HeapWriter copy = *this;
  return std::move(copy).Finish();
}

std::vector<std::vector<std::uint8_t>> HeapWriter::Finish() && {
  assert(!sink_);
  // Never streamed, every block is still held and comes out in order.
  std::vector<std::vector<std::uint8_t>> out;
  out.reserve(block_count_ + 1);
  sink_ = [&out](HeapBlock b) { out.push_back(std::move(b.bytes)); };
  std::move(*this).FinishStream();
  return out;
}

}  // namespace salvora
