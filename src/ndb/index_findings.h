#pragma once
// What loading the two indexes found wrong with them, and what was made good. Filled by
// LoadBlockIndex and LoadNodeIndex; read by the passes, which name every line to the user.

#include <cstdint>
#include <string>
#include <vector>

#include "format/page.h"
#include "ndb/block_index.h"

namespace salvora {

// Keys of one index that its walk could not reach: a subtree whose page was missing,
// misplaced, unreadable or out of order, or (low 0, high all ones) the whole index when its
// root was unusable.
struct LostKeyRange {
  std::uint64_t low = 0;
  std::uint64_t high = 0;        // exclusive
  std::uint64_t page_offset = 0; // where the walk looked for the subtree's page
  std::string why;
  bool suspect_only = false;     // a page read in part: its rest is looked for, not reported lost
  // A leaf page that fails its checksum: its entries, which the repair takes only where no
  // sound copy gives them and what they point at confirms them.
  std::vector<BlockEntry> unverified_blocks;
  std::vector<NbtEntry> unverified_nodes;
};

struct IndexFindings {
  std::vector<LostKeyRange> lost_blocks;
  std::vector<LostKeyRange> lost_nodes;
  // Damage made good from other copies in the file ("rebuilt"), and damage nothing could make
  // good ("lost"), one line each for the user.
  std::vector<std::string> rebuilt;
  std::vector<std::string> lost;
  // The header's end-of-file offset lies past the file's end: the file is cut short.
  bool truncated = false;

  bool damaged() const { return !lost_blocks.empty() || !lost_nodes.empty() || truncated; }
};

}  // namespace salvora
