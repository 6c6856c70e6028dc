#include "pststore/pst/file_space.h"

#include <algorithm>
#include <cassert>
#include <stdexcept>
#include <string>

#include "pststore/pst/disk_layout.h"
#include "format/page.h"

namespace salvora::pst {

namespace {
// Sequential writes gathered before they go to the file: large enough for few system calls,
// small enough not to show in the writer's memory.
constexpr std::size_t kBufferLimit = 256u << 10;
}

void FileSpace::InitNew() {
  written_count_ = 0;
  longest_free_.clear();
  DropMapsBut(UINT64_MAX);
  allocated_slots_ = 0;
  cursor_ = g_.first_amap;
  EnsureInterval(0);
}

void FileSpace::EnsureInterval(std::uint64_t k) {
  while (longest_free_.size() <= k) {
    const std::uint64_t n = longest_free_.size();
    longest_free_.push_back(0);
    const Map map = HoldMap(n);
    std::fill(map.begin(), map.end(), std::uint8_t{0});
    // The map pages map themselves; that also marks the new map as one to write.
    Mark(g_.amap_offset(n), g_.reserved_map_bytes(n), true);
  }
}

namespace {
// More maps than are ever changed between two checkpoints: a quarter of a terabyte of 512-byte
// pages, and the address space of a few gigabytes at most.
constexpr std::size_t kMostHeldMaps = std::size_t{1} << 20;
// Maps touched one after another (taken into slots, or read and changed there) between two
// releases of the slots' pages.
constexpr std::uint32_t kMapsBetweenReleases = 4;
}  // namespace

FileSpace::Map FileSpace::HoldMap(std::uint64_t k) {
  if (!map_store_) map_store_ = std::make_unique<ReservedArray<std::uint8_t>>(kMostHeldMaps * g_.map_bytes, Backing::kTemporaryFile);
  TouchMap(k);
  std::uint32_t slot = 0;
  if (!free_map_slots_.empty()) {
    slot = free_map_slots_.back();
    free_map_slots_.pop_back();
  } else {
    slot = static_cast<std::uint32_t>(map_store_->size() / g_.map_bytes);
    for (std::uint64_t i = 0; i < g_.map_bytes; ++i) map_store_->emplace_back();
  }
  resident_.emplace(k, Held{slot, false});
  return Map(&(*map_store_)[std::size_t{slot} * g_.map_bytes], g_.map_bytes);
}

void FileSpace::DropMapsBut(std::uint64_t k) {
  for (auto it = resident_.begin(); it != resident_.end();) {
    if (it->first == k) {
      ++it;
      continue;
    }
    free_map_slots_.push_back(it->second.slot);
    it = resident_.erase(it);
  }
  if (resident_.empty()) free_map_slots_.clear();
  if (resident_.empty() && map_store_) map_store_->clear();
  if (map_store_) map_store_->ReleaseResidentPages();
}

void FileSpace::TouchMap(std::uint64_t k) {
  if (k == last_map_) return;
  last_map_ = k;
  if (++map_switches_ % kMapsBetweenReleases == 0 && map_store_) map_store_->ReleaseResidentPages();
}

FileSpace::Map FileSpace::MapOf(std::uint64_t k) {
  TouchMap(k);
  auto it = resident_.find(k);
  if (it != resident_.end()) return Map(&(*map_store_)[std::size_t{it->second.slot} * g_.map_bytes], g_.map_bytes);
  // Only maps as they are on disk are ever dropped, so the page holds this map exactly.
  const std::uint64_t ib = g_.amap_offset(k);
  const auto page = Read(ib, g_.page_size);
  if (page.size() != g_.page_size || !check_page_trailer(page, kPtypeAMap, ib, ib, false, g_.layout).empty())
    throw std::runtime_error("the allocation map at offset " + std::to_string(ib) + " changed on disk while writing");
  const Map map = HoldMap(k);
  std::copy_n(page.begin(), g_.map_bytes, map.begin());
  return map;
}

void FileSpace::Mark(std::uint64_t ib, std::uint64_t size, bool allocated) {
  assert(ib % g_.slot_size == 0 && size % g_.slot_size == 0 && ib >= g_.first_amap);
  const std::uint64_t end = ib + size;
  while (ib < end) {
    const std::uint64_t k = g_.interval_of(ib);
    const std::uint64_t stop = std::min(end, g_.amap_offset(k + 1));
    const Map map = MapOf(k);
    for (std::uint64_t slot = (ib - g_.amap_offset(k)) / g_.slot_size; ib < stop; ib += g_.slot_size, ++slot) {
      auto& byte = map[slot / 8];
      const auto bit = map_slot_mask(slot);
      const bool was = (byte & bit) != 0;
      if (allocated && !was) {
        byte = static_cast<std::uint8_t>(byte | bit);
        ++allocated_slots_;
      } else if (!allocated && was) {
        byte = static_cast<std::uint8_t>(byte & ~bit);
        --allocated_slots_;
      }
    }
    resident_[k].dirty = true;
  }
}

bool FileSpace::IsAllocated(std::uint64_t ib) {
  if (ib < g_.first_amap) return false;
  const std::uint64_t k = g_.interval_of(ib);
  if (k >= longest_free_.size()) return false;
  const std::uint64_t slot = (ib - g_.amap_offset(k)) / g_.slot_size;
  return map_slot_set(MapOf(k), slot);
}

void FileSpace::AddReusable(std::uint64_t ib, std::uint64_t size) {
  // A freed page serves the next page; any other extent serves blocks, in pieces of at most
  // one largest block, kept whole so that full-size blocks can reuse it.
  if (size == g_.page_size && ib % g_.page_size == 0) {
    reusable_pages_.push_back(ib);
    return;
  }
  while (size > 0) {
    const std::uint64_t chunk = std::min<std::uint64_t>(size, g_.max_block_size());
    reusable_blocks_[chunk / g_.slot_size].push_back(ib);
    ib += chunk;
    size -= chunk;
  }
}

std::uint64_t FileSpace::Append(std::uint64_t size, std::uint64_t align) {
  auto usable_start = [this](std::uint64_t k) { return g_.amap_offset(k) + g_.reserved_map_bytes(k); };
  std::uint64_t from = cursor_;
  std::uint64_t k = g_.interval_of(from);
  EnsureInterval(k);
  from = std::max(from, usable_start(k));
  std::uint64_t pos = (from + align - 1) / align * align;
  if (pos + size > g_.amap_offset(k + 1)) {
    // Nothing straddles the next map page: the tail of this interval stays for small blocks.
    if (g_.amap_offset(k + 1) > from) AddReusable(from, g_.amap_offset(k + 1) - from);
    ++k;
    EnsureInterval(k);
    from = pos = usable_start(k);
  }
  if (pos > from) AddReusable(from, pos - from);
  cursor_ = pos + size;
  Mark(pos, size, true);
  return pos;
}

std::uint64_t FileSpace::AllocateBlock(std::uint64_t size) {
  const std::uint64_t units = size / g_.slot_size;
  assert(units >= 1 && units <= 128 && size % g_.slot_size == 0);
  for (std::uint64_t u = units; u <= 128; ++u) {
    auto& list = reusable_blocks_[u];
    if (list.empty()) continue;
    const std::uint64_t ib = list.back();
    list.pop_back();
    if (u > units) reusable_blocks_[u - units].push_back(ib + size);
    Mark(ib, size, true);
    return ib;
  }
  return Append(size, g_.slot_size);
}

std::uint64_t FileSpace::AllocatePage() {
  if (!reusable_pages_.empty()) {
    const std::uint64_t ib = reusable_pages_.back();
    reusable_pages_.pop_back();
    Mark(ib, g_.page_size, true);
    return ib;
  }
  return Append(g_.page_size, g_.page_size);
}

template <class F>
void FileSpace::ForEachPending(F&& f) const {
  auto size = pending_size_.begin();
  for (const std::uint64_t ib : pending_ib_) {
    f(ib, *size);
    ++size;
  }
}

void FileSpace::ApplyPendingFrees() {
  ForEachPending([this](std::uint64_t ib, std::uint64_t size) { Mark(ib, size, false); });
}

void FileSpace::MakeFreedReusable() {
  ForEachPending([this](std::uint64_t ib, std::uint64_t size) { AddReusable(ib, size); });
  pending_ib_.clear();
  pending_size_.clear();
}

void FileSpace::Write(std::uint64_t ib, Bytes data) {
  // Earlier bytes of the same range go to the file first, so that the later ones win.
  for (WriteRun& run : runs_)
    if (run.overlaps(ib, data.size())) FlushRun(run);
  if (data.size() >= kBufferLimit) {
    file_.WriteAt(ib, data.data(), data.size());
    return;
  }
  std::size_t pick = 2;
  for (std::size_t i = 0; i < 2; ++i)
    if (!runs_[i].bytes.empty() && runs_[i].end() == ib && runs_[i].bytes.size() + data.size() <= kBufferLimit) pick = i;
  if (pick == 2) {
    pick = runs_[0].bytes.empty() ? 0 : runs_[1].bytes.empty() ? 1 : 1 - last_run_;
    FlushRun(runs_[pick]);
    runs_[pick].start = ib;
  }
  runs_[pick].bytes.insert(runs_[pick].bytes.end(), data.begin(), data.end());
  last_run_ = pick;
}

void FileSpace::FlushRun(WriteRun& run) {
  if (run.bytes.empty()) return;
  file_.WriteAt(run.start, run.bytes.data(), run.bytes.size());
  run.bytes.clear();
}

void FileSpace::Flush() {
  for (WriteRun& run : runs_) FlushRun(run);
}

std::vector<std::uint8_t> FileSpace::Read(std::uint64_t ib, std::size_t size) {
  for (WriteRun& run : runs_)
    if (run.overlaps(ib, size)) FlushRun(run);
  std::vector<std::uint8_t> out(size);
  out.resize(file_.ReadAt(ib, out.data(), size));
  return out;
}

namespace {

std::uint16_t longest_free_run(std::span<const std::uint8_t> map) {
  std::uint32_t best = 0, run = 0;
  for (std::uint32_t s = 0; s < map.size() * 8; ++s) {
    const bool used = map_slot_set(map, s);
    run = used ? 0 : run + 1;
    best = std::max(best, run);
  }
  return static_cast<std::uint16_t>(best);
}

}  // namespace

void FileSpace::WriteMaps() {
  Flush();
  if (file_.GetLength() < file_eof()) file_.SetLength(file_eof());
  const auto write_map = [this](std::uint8_t ptype, Bytes map, std::uint64_t ib) {
    file_.WriteAt(ib, serialize_map_page(ptype, map, ib, g_.layout).data(), g_.page_size);
  };
  std::vector<std::uint64_t> changed;
  for (const auto& [k, held] : resident_)
    if (held.dirty) changed.push_back(k);
  std::sort(changed.begin(), changed.end());
  std::vector<std::uint64_t> fmaps_due;
  for (const std::uint64_t k : changed) {
    const Map map = MapOf(k);
    write_map(kPtypeAMap, map, g_.amap_offset(k));
    if (k >= written_count_) {
      // The page maps are deprecated; Outlook writes them all ones, meaning "no free page".
      const std::vector<std::uint8_t> ones(g_.map_bytes, 0xFF);
      if (g_.has_pmap(k)) write_map(kPtypePMap, ones, g_.pmap_offset(k));
      if (g_.has_fpmap(k)) write_map(kPtypeFPMap, ones, g_.fpmap_offset(k));
    }
    longest_free_[k] = static_cast<std::uint8_t>(std::min<std::uint16_t>(longest_free_run(map), 255));
    if (g_.page_maps && k >= 128) {
      const std::uint64_t f = 128 + (k - 128) / 496 * 496;
      if (fmaps_due.empty() || fmaps_due.back() != f) fmaps_due.push_back(f);
    }
    resident_[k].dirty = false;
  }
  written_count_ = longest_free_.size();
  for (std::uint64_t f : fmaps_due) {
    // Each byte: the longest run of free slots in one AMap, capped at 255.
    std::vector<std::uint8_t> fmap(g_.map_bytes, 0);
    for (std::uint64_t j = 0; j < 496 && f + j < longest_free_.size(); ++j) fmap[j] = longest_free_[f + j];
    write_map(kPtypeFMap, fmap, g_.fmap_offset(f));
  }
  // Everything is on disk now: keep only the map new space is taken from.
  const std::uint64_t current = g_.interval_of(std::max(cursor_, g_.first_amap));
  DropMapsBut(current);
}

std::uint64_t FileSpace::file_eof() const { return g_.amap_offset(longest_free_.size()); }
std::uint64_t FileSpace::amap_last() const { return g_.amap_offset(longest_free_.size() - 1); }
std::uint64_t FileSpace::free_bytes() const {
  return (longest_free_.size() * g_.slots_per_map() - allocated_slots_) * g_.slot_size;
}

}  // namespace salvora::pst
