#pragma once
// Space in the PST file: allocation of pages and blocks, the allocation maps that record it,
// and a write-behind buffer for the sequential writes that make up most of the traffic.
//
// Freed space is not handed out again at once: a freed page or block may still be referenced
// by the last committed header, so Free only queues it. At a checkpoint the queue is cleared
// from the maps (ApplyPendingFrees) and, once the new header is durable, becomes reusable
// (MakeFreedReusable). The maps live in memory: 496 bytes per 248 KB of file.
//
// Not thread-safe; owned by one writer.

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "format/byte_reader.h"
#include "platform/file64.h"

namespace salvora::pst {

class FileSpace {
 public:
  explicit FileSpace(CFile64& file) : file_(file) {}

  // Starts an empty file: one allocation interval, nothing allocated but the map pages.
  void InitNew();
  // Takes over the allocation maps of an existing file, one per interval; its free space is
  // used before the file grows. (Defined with the opening of an existing file.)
  void Adopt(const std::vector<std::array<std::uint8_t, 496>>& maps);

  // A 64-aligned range of size bytes (a multiple of 64, at most 8192) for a block.
  std::uint64_t AllocateBlock(std::uint64_t size);
  // A 512-aligned page.
  std::uint64_t AllocatePage();
  void Free(std::uint64_t ib, std::uint64_t size) { pending_.emplace_back(ib, size); }

  void ApplyPendingFrees();
  void MakeFreedReusable();

  // Buffered positioned write; Flush pushes the buffer to the file (not to the disk).
  void Write(std::uint64_t ib, Bytes data);
  void Flush();
  // Writes every map page whose interval changed since the last call and sets the file length.
  void WriteMaps();

  std::uint64_t file_eof() const;
  std::uint64_t amap_last() const;
  std::uint64_t free_bytes() const;
  std::size_t interval_count() const { return amaps_.size(); }
  bool IsAllocated(std::uint64_t ib) const;

 private:
  using Map = std::array<std::uint8_t, 496>;
  void EnsureInterval(std::uint64_t k);
  void Mark(std::uint64_t ib, std::uint64_t size, bool allocated);
  void AddReusable(std::uint64_t ib, std::uint64_t size);
  std::uint64_t Append(std::uint64_t size, std::uint64_t align);

  CFile64& file_;
  std::vector<Map> amaps_;
  std::vector<bool> dirty_;
  std::vector<bool> written_;  // map pages of the interval exist on disk
  std::uint64_t allocated_slots_ = 0;
  std::uint64_t cursor_ = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> pending_;
  std::array<std::vector<std::uint64_t>, 129> reusable_blocks_;  // by size in 64-byte slots
  std::vector<std::uint64_t> reusable_pages_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t buffer_start_ = 0;
};

}  // namespace salvora::pst
