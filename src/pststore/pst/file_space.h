#pragma once
// Space in the PST file: allocation of pages and blocks, the allocation maps that record it,
// and a write-behind buffer for the sequential writes that make up most of the traffic.
//
// Freed space is not handed out again at once: a freed page or block may still be referenced
// by the last committed header, so Free only queues it. At a checkpoint the queue is cleared
// from the maps (ApplyPendingFrees) and, once the new header is durable, becomes reusable
// (MakeFreedReusable).
//
// Memory: a map changed since the last WriteMaps is held until it is written; after that it is
// dropped and read back from its page when space in its interval is allocated or freed again.
// The maps held sit in slots of a file-backed array, not on the heap: between two checkpoints
// of a large save, hundreds of megabytes are written and a map is changed for every quarter
// megabyte of them. What stays in memory per interval is one byte (its longest free run, as the
// FMap keeps it); which intervals changed is known from the maps held. A 50 GB file needs about
// 200 KB of that.
//
// Not thread-safe; owned by one writer.

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "format/byte_reader.h"
#include "platform/delta_list.h"
#include "platform/file64.h"
#include "platform/reserved_array.h"
#include "pststore/pst/disk_layout.h"

namespace salvora::pst {

class FileSpace {
 public:
  // Pages, blocks and maps in the geometry of one of the writer's layouts.
  explicit FileSpace(CFile64& file, FileLayout layout = FileLayout::kUnicode)
      : file_(file), g_(space_geometry(layout)) {}

  const SpaceGeometry& geometry() const { return g_; }

  // Starts an empty file: one allocation interval, nothing allocated but the map pages.
  void InitNew();
  // Takes over the allocation maps of an existing file, one per interval; its free space is
  // used before the file grows. (Defined with the opening of an existing file.)
  void Adopt(const std::vector<std::vector<std::uint8_t>>& maps);

  // A slot-aligned range of size bytes (a multiple of the slot size, at most the largest
  // block) for a block.
  std::uint64_t AllocateBlock(std::uint64_t size);
  // A page, aligned to its size.
  std::uint64_t AllocatePage();
  void Free(std::uint64_t ib, std::uint64_t size) {
    pending_ib_.push_back(ib);
    pending_size_.push_back(size);
  }

  void ApplyPendingFrees();
  void MakeFreedReusable();

  // Buffered positioned write; Flush pushes the buffer to the file (not to the disk).
  void Write(std::uint64_t ib, Bytes data);
  void Flush();
  // Reads back what was written (the buffer is flushed first when it holds part of it).
  std::vector<std::uint8_t> Read(std::uint64_t ib, std::size_t size);
  // Writes every map page whose interval changed since the last call and sets the file length;
  // the maps written are dropped from memory.
  void WriteMaps();

  std::uint64_t file_eof() const;
  std::uint64_t amap_last() const;
  std::uint64_t free_bytes() const;
  std::size_t interval_count() const { return longest_free_.size(); }
  std::size_t resident_maps() const { return resident_.size(); }
  std::uint64_t memory_bytes() const {
    return longest_free_.capacity() + resident_.size() * 32 + free_map_slots_.capacity() * 4 +
           (map_store_ ? map_store_->memory_bytes() : 0) + pending_ib_.memory_bytes() + pending_size_.memory_bytes() +
           reusable_pages_.memory_bytes() + [this] {
             std::uint64_t n = 0;
             for (const auto& list : reusable_blocks_) n += list.memory_bytes();
             return n;
           }();
  }
  bool IsAllocated(std::uint64_t ib);

 private:
  using Map = std::span<std::uint8_t>;  // map_bytes of the geometry, in a slot of map_store_
  // A map held in a slot of map_store_.
  struct Held {
    std::uint32_t slot = 0;
    bool dirty = false;  // it differs from its page on disk
  };
  void EnsureInterval(std::uint64_t k);
  // The map of interval k, read back from disk when it was dropped.
  Map MapOf(std::uint64_t k);
  // A slot for the map of interval k, which must not be held yet; its bytes are left as they are.
  Map HoldMap(std::uint64_t k);
  // Counts a touch of interval k's map other than the last one's; every few, the pages of the
  // maps held are let go of. A walk over many maps (taking them into slots, the frees of a
  // checkpoint, writing them) would otherwise hold the page of each.
  void TouchMap(std::uint64_t k);
  // Calls f(ib, size) for each range freed since the last checkpoint, in the order freed.
  template <class F>
  void ForEachPending(F&& f) const;
  // Lets go of every map held but interval k's.
  void DropMapsBut(std::uint64_t k);
  void Mark(std::uint64_t ib, std::uint64_t size, bool allocated);
  void AddReusable(std::uint64_t ib, std::uint64_t size);
  std::uint64_t Append(std::uint64_t size, std::uint64_t align);

  CFile64& file_;
  SpaceGeometry g_;
  std::uint64_t written_count_ = 0;  // the intervals below this have their map pages on disk
  // Per interval, its longest run of free slots as last written, capped at 255 as the FMap
  // keeps it: one byte an interval, the only memory that grows with the file. Its size is the
  // number of intervals.
  std::vector<std::uint8_t> longest_free_;
  std::unordered_map<std::uint64_t, Held> resident_;  // by interval; every changed map is here
  std::unique_ptr<ReservedArray<std::uint8_t>> map_store_;
  std::vector<std::uint32_t> free_map_slots_;
  std::uint64_t last_map_ = UINT64_MAX;  // the interval whose map was touched last
  std::uint32_t map_switches_ = 0;       // touches of a map other than the last one
  std::uint64_t allocated_slots_ = 0;
  std::uint64_t cursor_ = 0;
  // Freed ranges waiting for the next checkpoint, and the ranges free for reuse: a checkpoint
  // frees every block of the tables it rewrites, so these hold tens of thousands of ranges in
  // a large save, kept as steps between offsets.
  DeltaList pending_ib_, pending_size_;
  std::array<DeltaList, 129> reusable_blocks_;  // by size in slots
  DeltaList reusable_pages_;
  // Two runs of sequential writes: the blocks of a message go to one place while the small
  // blocks that fill earlier holes go to another, and a single buffer would flush at every turn.
  struct WriteRun {
    std::vector<std::uint8_t> bytes;
    std::uint64_t start = 0;
    std::uint64_t end() const { return start + bytes.size(); }
    bool overlaps(std::uint64_t ib, std::size_t size) const { return !bytes.empty() && ib < end() && start < ib + size; }
  };
  void FlushRun(WriteRun& run);
  WriteRun runs_[2];
  std::size_t last_run_ = 0;  // the run written last; the other is flushed for a new one
};

}  // namespace salvora::pst
