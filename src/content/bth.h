#pragma once
// A B-tree-on-heap (MS-PST 2.3.2): sorted records of key and data stored in heap allocations,
// with bIdxLevels levels of index records above the leaves.

#include <cstdint>
#include <optional>
#include <vector>

#include "content/heap_on_node.h"

namespace salvora {

struct BthHeader {
  static constexpr std::uint8_t kType = 0xB5;
  std::uint8_t key_size = 0;
  std::uint8_t entry_size = 0;
  std::uint8_t index_levels = 0;
  Hid root;

  std::size_t record_size() const { return std::size_t{key_size} + entry_size; }
};

// The header in the allocation of hid; empty when it cannot be read or is not a BTH header.
std::optional<BthHeader> ReadBthHeader(const HeapOnNode& heap, Hid hid);

// The leaf records in tree order, each record_size() bytes, as views into the heap. An empty
// tree (root 0) has no records. Fails when the root cannot be resolved; an index record that
// points nowhere (or back into a part of the tree already read) is skipped.
std::optional<std::vector<Bytes>> ReadBthRecords(const HeapOnNode& heap, const BthHeader& header);

}  // namespace salvora
