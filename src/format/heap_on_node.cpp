#include "format/heap_on_node.h"

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

std::size_t HeapWriter::HeaderSize(std::size_t block_index) {
  if (block_index == 0) return kHeapHeaderSize;
  if (block_index % 128 == 8) return kBitmapHeaderSize;
  return 2;
}

Hid HeapWriter::Allocate(Bytes data) {
  if (data.size() > kMaxHeapAlloc) throw std::length_error("heap allocation too large");
  auto fits = [&](const Block& b) {
    const std::size_t end = b.bytes.size() + data.size();
    return b.starts.size() < kMaxAllocationsPerBlock && end + (end & 1) + page_map_size(b.starts.size() + 1) <= kMaxBlockData;
  };
  if (blocks_.empty() || !fits(blocks_.back())) {
    if (blocks_.size() >= 65536) throw std::length_error("heap too large");
    Block b;
    b.bytes.assign(HeaderSize(blocks_.size()), 0);
    blocks_.push_back(std::move(b));
  }
  Block& b = blocks_.back();
  b.starts.push_back(static_cast<std::uint16_t>(b.bytes.size()));
  b.bytes.insert(b.bytes.end(), data.begin(), data.end());
  return make_hid(static_cast<std::uint32_t>(blocks_.size() - 1), static_cast<std::uint32_t>(b.starts.size()));
}

void HeapWriter::Overwrite(Hid hid, Bytes data) {
  const HidParts parts = split_hid(hid, HidLayout::kStandard);
  Block& b = blocks_.at(parts.block);
  const std::size_t start = b.starts.at(parts.index - 1);
  assert(start + data.size() <= b.bytes.size());
  std::copy(data.begin(), data.end(), b.bytes.begin() + static_cast<std::ptrdiff_t>(start));
}

std::vector<std::vector<std::uint8_t>> HeapWriter::Finish() const& { return FinishBlocks(blocks_, client_signature_, user_root_); }

std::vector<std::vector<std::uint8_t>> HeapWriter::Finish() && {
  return FinishBlocks(std::move(blocks_), client_signature_, user_root_);
}

std::vector<std::vector<std::uint8_t>> HeapWriter::FinishBlocks(std::vector<Block> blocks, std::uint8_t client_signature,
                                                                Hid user_root) {
  if (blocks.empty()) blocks.push_back(Block{std::vector<std::uint8_t>(kHeapHeaderSize, 0), {}});
  std::vector<std::size_t> used(blocks.size());
  std::vector<std::vector<std::uint8_t>> out;
  out.reserve(blocks.size());
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    // The page map goes after the allocations, in the block's own bytes.
    std::vector<std::uint8_t> bytes = std::move(blocks[i].bytes);
    const std::vector<std::uint16_t> starts = std::move(blocks[i].starts);
    auto u16 = [&bytes](std::uint16_t v) {
      bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    const std::size_t end = bytes.size();
    if (end & 1) bytes.push_back(0);
    const auto ib_hnpm = static_cast<std::uint16_t>(bytes.size());
    u16(static_cast<std::uint16_t>(starts.size()));
    u16(0);
    for (auto s : starts) u16(s);
    u16(static_cast<std::uint16_t>(end));
    used[i] = bytes.size();
    store_u16(bytes, 0, ib_hnpm);
    if (i + 1 < blocks.size() && bytes.size() < kMaxBlockData) bytes.resize(kMaxBlockData, 0);
    out.push_back(std::move(bytes));
  }
  auto level = [&](std::size_t i) -> std::uint8_t { return i < used.size() ? fill_level(kMaxBlockData - used[i]) : 0; };
  // Block 0 holds the heap header; blocks 8, 136, ... a bitmap header with the fill levels of
  // the next 128 blocks.
  auto& b0 = out[0];
  b0[2] = kHeapSignature;
  b0[3] = client_signature;
  store_u32(b0, 4, user_root.value);
  for (std::size_t j = 0; j < 8; ++j)
    b0[8 + j / 2] = static_cast<std::uint8_t>(b0[8 + j / 2] | (level(j) << (4 * (j % 2))));
  for (std::size_t i = 8; i < out.size(); i += 128)
    for (std::size_t j = 0; j < 128; ++j)
      out[i][2 + j / 2] = static_cast<std::uint8_t>(out[i][2 + j / 2] | (level(i + j) << (4 * (j % 2))));
  return out;
}

}  // namespace salvora
