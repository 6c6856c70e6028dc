#pragma once
// An open-addressing hash table from 64-bit keys to positions in a container that the caller
// owns. A slot holds only the position (four bytes): the key of a stored position is asked of
// the caller (key_of), so that indexes over millions of blocks and nodes stay small. Insert
// keeps the first position stored for a key.

#include <cstdint>
#include <optional>
#include <vector>

namespace salvora {

class FlatIndex {
 public:
  void Clear() {
    slots_.clear();
    count_ = 0;
  }

  // Room for count keys without growing; key_of(position) gives a stored position's key.
  template <class KeyOf>
  void Reserve(std::size_t count, const KeyOf& key_of) {
    std::size_t capacity = 16;
    while (capacity < count * 2) capacity *= 2;
    if (capacity <= slots_.size()) return;
    std::vector<std::uint32_t> old = std::move(slots_);
    slots_.assign(capacity, kEmpty);
    for (std::uint32_t position : old)
      if (position != kEmpty) slots_[EmptySlotFor(key_of(position))] = position;
  }

  // Returns false when the key was already present (the earlier position stays).
  template <class KeyOf>
  bool Insert(std::uint64_t key, std::uint32_t position, const KeyOf& key_of) {
    if ((count_ + 1) * 2 > slots_.size()) Reserve(slots_.empty() ? 8 : slots_.size(), key_of);
    const std::size_t slot = SlotFor(key, key_of);
    if (slots_[slot] != kEmpty) return false;
    slots_[slot] = position;
    ++count_;
    return true;
  }

  template <class KeyOf>
  std::optional<std::uint32_t> Find(std::uint64_t key, const KeyOf& key_of) const {
    if (slots_.empty()) return std::nullopt;
    const std::uint32_t position = slots_[SlotFor(key, key_of)];
    if (position == kEmpty) return std::nullopt;
    return position;
  }

  std::size_t size() const { return count_; }
  std::size_t memory_bytes() const { return slots_.capacity() * sizeof(std::uint32_t); }

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

  static std::uint64_t Mix(std::uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
  }
  // The slot holding key, or the empty slot where it would go.
  template <class KeyOf>
  std::size_t SlotFor(std::uint64_t key, const KeyOf& key_of) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = static_cast<std::size_t>(Mix(key)) & mask;
    while (slots_[slot] != kEmpty && key_of(slots_[slot]) != key) slot = (slot + 1) & mask;
    return slot;
  }
  // Rehashing: every key is distinct, so only an empty slot is looked for.
  std::size_t EmptySlotFor(std::uint64_t key) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = static_cast<std::size_t>(Mix(key)) & mask;
    while (slots_[slot] != kEmpty) slot = (slot + 1) & mask;
    return slot;
  }

  std::vector<std::uint32_t> slots_;
  std::size_t count_ = 0;
};

}  // namespace salvora
