#pragma once
// Searching a long sorted array that lives in a file-backed mapping: a list of every per-th key
// is kept in memory, halved first, and only the one run of per records after the fence that
// can hold the key is read. A search then touches a page or two of the array instead of one at
// each halving, all over it.

#include <algorithm>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace salvora {

// The positions [first, last) of the run that can hold key, given the key of every per-th
// record of an array of size records; nothing when the key is below the first record's.
template <class Key, class Value>
std::optional<std::pair<std::size_t, std::size_t>> fenced_run(const std::vector<Key>& fences, Value key, std::size_t per,
                                                             std::size_t size) {
  const auto fence = std::upper_bound(fences.begin(), fences.end(), key);
  if (fence == fences.begin()) return std::nullopt;
  const std::size_t first = static_cast<std::size_t>(fence - fences.begin() - 1) * per;
  return std::pair{first, std::min(size, first + per)};
}

}  // namespace salvora
