#include "ndb/flat_index.h"

namespace salvora {

namespace {
std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  x ^= x >> 33;
  return x;
}
}  // namespace

void FlatIndex::Clear() {
  keys_.clear();
  positions_.clear();
  count_ = 0;
}

void FlatIndex::Reserve(std::size_t count) {
  std::size_t capacity = 16;
  while (capacity < count * 2) capacity *= 2;
  if (capacity <= positions_.size()) return;
  std::vector<std::uint64_t> old_keys = std::move(keys_);
  std::vector<std::uint32_t> old_positions = std::move(positions_);
  keys_.assign(capacity, 0);
  positions_.assign(capacity, kEmpty);
  count_ = 0;
  for (std::size_t i = 0; i < old_positions.size(); ++i) {
    if (old_positions[i] != kEmpty) Insert(old_keys[i], old_positions[i]);
  }
}

void FlatIndex::Grow() { Reserve(positions_.empty() ? 8 : positions_.size()); }

std::size_t FlatIndex::SlotFor(std::uint64_t key) const {
  const std::size_t mask = positions_.size() - 1;
  std::size_t slot = static_cast<std::size_t>(mix(key)) & mask;
  while (positions_[slot] != kEmpty && keys_[slot] != key) slot = (slot + 1) & mask;
  return slot;
}

bool FlatIndex::Insert(std::uint64_t key, std::uint32_t position) {
  if ((count_ + 1) * 2 > positions_.size()) Grow();
  const std::size_t slot = SlotFor(key);
  if (positions_[slot] != kEmpty) return false;
  keys_[slot] = key;
  positions_[slot] = position;
  ++count_;
  return true;
}

std::optional<std::uint32_t> FlatIndex::Find(std::uint64_t key) const {
  if (positions_.empty()) return std::nullopt;
  const std::size_t slot = SlotFor(key);
  if (positions_[slot] == kEmpty) return std::nullopt;
  return positions_[slot];
}

}  // namespace salvora
