#pragma once
// The block index, in one of two forms.
//
// In memory: every leaf entry of the block B-tree, in walk order, with a hash index by block
// id; 24 bytes per block and 8 to 16 for the hash slots. This is the form of a tree the walk
// found damaged, and of the entries a repair rebuilt.
//
// Paged: a tree the walk found sound (every page vouched for by its checksum, keys rising, no
// subtree lost) stays in the file. The index keeps one key, offset and count per leaf page, a
// few bytes per hundred blocks, and a lookup reads the leaf from the file through a small cache
// of parsed leaves. A mailbox of millions of blocks then costs the same memory as a small one.
//
// Entries appended to a paged index (the blocks of deleted items found by a scan) are held in
// memory beside its leaves and answer for ids the leaves do not hold.
//
// Either way lookups ignore bit 0 of the id, and when the walk met an id twice the first
// occurrence answers. Lookups give the entry by value, and are safe from several threads.

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "format/ids.h"
#include "format/layout.h"
#include "format/page.h"
#include "ndb/flat_index.h"
#include "platform/file64.h"
#include "platform/reserved_array.h"

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

// One leaf page of a sound block tree, as the walk took it.
struct BlockLeaf {
  std::uint64_t first = 0;  // the key of its first entry
  std::uint64_t ib = 0;     // the page's offset in the file
  std::uint32_t count = 0;  // the entries taken from it, from the start of the page
};

class BlockIndex {
 public:
  BlockIndex();
  ~BlockIndex();
  BlockIndex(const BlockIndex&) = delete;
  BlockIndex& operator=(const BlockIndex&) = delete;

  // The in-memory form: entries as the walk meets them, then Seal, which builds the hash index
  // (linear in the number of entries). On a paged index, entries beside its leaves.
  void Append(const BlockEntry& entry);
  void Seal();

  // The paged form, for a tree whose walk was sound: the leaves in key order, count entries in
  // all. Lookups read the leaf pages through file (any open handle on the same file will do).
  void UseLeaves(std::unique_ptr<ReservedArray<BlockLeaf>> leaves, std::size_t count, FileLayout layout);

  std::optional<BlockEntry> Find(Bid bid, const CFile64& file) const;
  // Every entry: the leaves' in key order, then those appended in their order; stops early
  // when f returns false.
  // A leaf that can no longer be read is passed over.
  void ForEach(const CFile64& file, const std::function<bool(const BlockEntry&)>& f) const;

  bool paged() const { return leaves_ && !leaves_->empty(); }
  std::size_t size() const { return paged_count_ + entries_.size(); }
  std::uint64_t memory_bytes() const;

 private:
  std::uint64_t KeyAt(std::uint32_t position) const { return entries_[position].bid.key().value; }
  std::optional<BlockEntry> FindInLeaves(std::uint64_t key, const CFile64& file) const;
  // The entries of leaf i, parsed; empty when its page cannot be read.
  std::vector<BlockEntry> ReadLeaf(std::size_t i, const CFile64& file) const;

  std::deque<BlockEntry> entries_;
  FlatIndex index_;

  // In a nameless temporary file: 24 bytes a leaf page is some 150 KB a million blocks, which
  // only the searches' pages need in memory; they are let go of every kLeafReadsBetweenReleases.
  std::unique_ptr<ReservedArray<BlockLeaf>> leaves_;
  // The first key of every kLeavesPerFence-th leaf, in memory: a search halves these, then one
  // run of leaves, which is a page of the array instead of one page at each halving.
  static constexpr std::size_t kLeavesPerFence = 64;
  std::vector<std::uint64_t> fences_;
  std::size_t paged_count_ = 0;
  FileLayout layout_ = FileLayout::kUnknown;
  PageGeometry geometry_;
  // Parsed leaves, one slot per leaf index modulo the cache's size: neighbouring leaves, which a
  // message's blocks mostly share, never push each other out. Each slot has its own lock, so
  // that two threads reading items wait for each other only on the same leaf.
  struct CachedLeaf {
    std::mutex mutex;
    std::size_t leaf = SIZE_MAX;
    std::vector<BlockEntry> entries;
  };
  static constexpr std::size_t kCachedLeaves = 64;
  static constexpr std::size_t kLeafReadsBetweenReleases = 1024;
  mutable std::atomic<std::uint64_t> misses_{0};
  mutable std::unique_ptr<std::array<CachedLeaf, kCachedLeaves>> cache_;
};

}  // namespace salvora
