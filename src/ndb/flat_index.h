#pragma once
// An open-addressing hash table from 64-bit keys to positions in a vector that the caller owns.
// It keeps four bytes per slot instead of a node per key, so that indexes over millions of
// blocks and nodes stay small. Insert keeps the first position stored for a key.

#include <cstdint>
#include <optional>
#include <vector>

namespace salvora {

class FlatIndex {
 public:
  void Clear();
  void Reserve(std::size_t count);
  // Returns false when the key was already present (the earlier position stays).
  bool Insert(std::uint64_t key, std::uint32_t position);
  std::optional<std::uint32_t> Find(std::uint64_t key) const;
  std::size_t size() const { return count_; }

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  void Grow();
  std::size_t SlotFor(std::uint64_t key) const;

  std::vector<std::uint64_t> keys_;
  std::vector<std::uint32_t> positions_;
  std::size_t count_ = 0;
};

}  // namespace salvora
