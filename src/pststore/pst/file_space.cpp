#include "pststore/pst/file_space.h"

#include <algorithm>
#include <cassert>

#include "pststore/pst/disk_layout.h"
#include "pststore/pst/page.h"

namespace salvora::pst {

namespace {
constexpr std::size_t kBufferLimit = 1 << 20;
}

void FileSpace::InitNew() {
  amaps_.clear();
  dirty_.clear();
  written_.clear();
  allocated_slots_ = 0;
  cursor_ = kFirstAmapOffset;
  EnsureInterval(0);
}

void FileSpace::EnsureInterval(std::uint64_t k) {
  while (amaps_.size() <= k) {
    const std::uint64_t n = amaps_.size();
    amaps_.emplace_back();
    amaps_.back().fill(0);
    dirty_.push_back(true);
    written_.push_back(false);
    // The map pages map themselves.
    Mark(AmapOffset(n), ReservedMapBytes(n), true);
  }
}

void FileSpace::Mark(std::uint64_t ib, std::uint64_t size, bool allocated) {
  assert(ib % kSlotSize == 0 && size % kSlotSize == 0 && ib >= kFirstAmapOffset);
  for (std::uint64_t at = ib; at < ib + size; at += kSlotSize) {
    const std::uint64_t k = IntervalOf(at);
    const std::uint64_t slot = (at - AmapOffset(k)) / kSlotSize;
    auto& byte = amaps_[k][slot / 8];
    const auto bit = static_cast<std::uint8_t>(0x80 >> (slot % 8));
    const bool was = (byte & bit) != 0;
    if (allocated && !was) {
      byte = static_cast<std::uint8_t>(byte | bit);
      ++allocated_slots_;
    } else if (!allocated && was) {
      byte = static_cast<std::uint8_t>(byte & ~bit);
      --allocated_slots_;
    }
    dirty_[k] = true;
  }
}

bool FileSpace::IsAllocated(std::uint64_t ib) const {
  if (ib < kFirstAmapOffset) return false;
  const std::uint64_t k = IntervalOf(ib);
  if (k >= amaps_.size()) return false;
  const std::uint64_t slot = (ib - AmapOffset(k)) / kSlotSize;
  return (amaps_[k][slot / 8] & (0x80 >> (slot % 8))) != 0;
}

void FileSpace::AddReusable(std::uint64_t ib, std::uint64_t size) {
  // A freed page serves the next page; any other extent serves blocks, in pieces of at most
  // one largest block, kept whole so that full-size blocks can reuse it.
  if (size == kPageSize && ib % kPageSize == 0) {
    reusable_pages_.push_back(ib);
    return;
  }
  while (size > 0) {
    const std::uint64_t chunk = std::min<std::uint64_t>(size, kMaxBlockSize);
    reusable_blocks_[chunk / kSlotSize].push_back(ib);
    ib += chunk;
    size -= chunk;
  }
}

std::uint64_t FileSpace::Append(std::uint64_t size, std::uint64_t align) {
  auto usable_start = [](std::uint64_t k) { return AmapOffset(k) + ReservedMapBytes(k); };
  std::uint64_t from = cursor_;
  std::uint64_t k = IntervalOf(from);
  EnsureInterval(k);
  from = std::max(from, usable_start(k));
  std::uint64_t pos = (from + align - 1) / align * align;
  if (pos + size > AmapOffset(k + 1)) {
    // Nothing straddles the next map page: the tail of this interval stays for small blocks.
    if (AmapOffset(k + 1) > from) AddReusable(from, AmapOffset(k + 1) - from);
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
  const std::uint64_t units = size / kSlotSize;
  assert(units >= 1 && units <= 128 && size % kSlotSize == 0);
  for (std::uint64_t u = units; u <= 128; ++u) {
    auto& list = reusable_blocks_[u];
    if (list.empty()) continue;
    const std::uint64_t ib = list.back();
    list.pop_back();
    if (u > units) reusable_blocks_[u - units].push_back(ib + size);
    Mark(ib, size, true);
    return ib;
  }
  return Append(size, kSlotSize);
}

std::uint64_t FileSpace::AllocatePage() {
  if (!reusable_pages_.empty()) {
    const std::uint64_t ib = reusable_pages_.back();
    reusable_pages_.pop_back();
    Mark(ib, kPageSize, true);
    return ib;
  }
  return Append(kPageSize, kPageSize);
}

void FileSpace::ApplyPendingFrees() {
  for (const auto& [ib, size] : pending_) Mark(ib, size, false);
}

void FileSpace::MakeFreedReusable() {
  for (const auto& [ib, size] : pending_) AddReusable(ib, size);
  pending_.clear();
}

void FileSpace::Write(std::uint64_t ib, Bytes data) {
  if (!buffer_.empty() && (ib != buffer_start_ + buffer_.size() || buffer_.size() + data.size() > kBufferLimit)) Flush();
  if (buffer_.empty()) buffer_start_ = ib;
  if (data.size() >= kBufferLimit) {
    file_.WriteAt(ib, data.data(), data.size());
    return;
  }
  buffer_.insert(buffer_.end(), data.begin(), data.end());
}

void FileSpace::Flush() {
  if (buffer_.empty()) return;
  file_.WriteAt(buffer_start_, buffer_.data(), buffer_.size());
  buffer_.clear();
}

void FileSpace::WriteMaps() {
  Flush();
  if (file_.GetLength() < file_eof()) file_.SetLength(file_eof());
  std::vector<bool> fmap_dirty(amaps_.size(), false);
  for (std::uint64_t k = 0; k < amaps_.size(); ++k) {
    if (!dirty_[k]) continue;
    file_.WriteAt(AmapOffset(k), SerializeMapPage(kPtypeAMap, amaps_[k], AmapOffset(k)).data(), kPageSize);
    if (!written_[k]) {
      // The page maps are deprecated; Outlook writes them all ones, meaning "no free page".
      std::array<std::uint8_t, 496> ones;
      ones.fill(0xFF);
      if (HasPMap(k)) file_.WriteAt(PMapOffset(k), SerializeMapPage(kPtypePMap, ones, PMapOffset(k)).data(), kPageSize);
      if (HasFPMap(k)) file_.WriteAt(FPMapOffset(k), SerializeMapPage(kPtypeFPMap, ones, FPMapOffset(k)).data(), kPageSize);
      written_[k] = true;
    }
    if (k >= 128) fmap_dirty[128 + (k - 128) / 496 * 496] = true;
    dirty_[k] = false;
  }
  for (std::uint64_t f = 128; f < amaps_.size(); f += 496) {
    if (!fmap_dirty[f]) continue;
    // Each byte: the longest run of free slots in one AMap, capped at 255.
    std::array<std::uint8_t, 496> fmap{};
    for (std::uint64_t j = 0; j < 496 && f + j < amaps_.size(); ++j) {
      std::uint32_t best = 0, run = 0;
      for (std::uint32_t s = 0; s < kSlotsPerAmap; ++s) {
        const bool used = (amaps_[f + j][s / 8] & (0x80 >> (s % 8))) != 0;
        run = used ? 0 : run + 1;
        best = std::max(best, run);
      }
      fmap[j] = static_cast<std::uint8_t>(std::min<std::uint32_t>(best, 255));
    }
    file_.WriteAt(FMapOffset(f), SerializeMapPage(kPtypeFMap, fmap, FMapOffset(f)).data(), kPageSize);
  }
}

std::uint64_t FileSpace::file_eof() const { return AmapOffset(amaps_.size()); }
std::uint64_t FileSpace::amap_last() const { return AmapOffset(amaps_.size() - 1); }
std::uint64_t FileSpace::free_bytes() const {
  return (amaps_.size() * kSlotsPerAmap - allocated_slots_) * kSlotSize;
}

}  // namespace salvora::pst
