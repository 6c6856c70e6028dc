#pragma once
// The block index: every leaf entry of the block B-tree, in walk order, with a hash index by
// block id. Lookups ignore bit 0 of the id, and when the walk met an id twice the first
// occurrence answers.
//
// Memory: 24 bytes per block and 8 to 16 for the hash slots. The entries live in a deque, so
// that growing never copies them (no moment with the index twice in memory) and pointers to
// them stay valid.

#include <cstdint>
#include <deque>

#include "format/ids.h"
#include "format/layout.h"
#include "format/page.h"
#include "ndb/flat_index.h"

namespace salvora {

struct BlockEntry {
  Bid bid;                       // as stored (bit 0 kept)
  std::uint64_t ib = 0;          // file offset of the block
  std::uint16_t cb = 0;          // stored data bytes (compressed size in 4 KB files)
  std::uint16_t cb_inflated = 0; // data bytes once inflated; equal to cb when not compressed
  std::int16_t ref_count = 0;    // cRef, kept for reporting

  bool is_compressed() const { return cb != cb_inflated; }

  // The index's form of a block tree leaf entry of a layout: outside the 4 KB layout, which
  // alone stores an inflated size, that size is the stored one.
  static BlockEntry From(const BbtEntry& e, FileLayout layout);
};

class BlockIndex {
 public:
  void Append(const BlockEntry& entry);
  // Builds the hash index; called once after the walk. Linear in the number of entries.
  void Seal();

  const BlockEntry* Find(Bid bid) const;
  // Every entry, in walk order.
  const std::deque<BlockEntry>& entries() const { return entries_; }
  std::size_t size() const { return entries_.size(); }
  std::uint64_t memory_bytes() const { return entries_.size() * sizeof(BlockEntry) + index_.memory_bytes(); }

 private:
  std::uint64_t KeyAt(std::uint32_t position) const { return entries_[position].bid.key().value; }

  std::deque<BlockEntry> entries_;
  FlatIndex index_;
};

}  // namespace salvora
