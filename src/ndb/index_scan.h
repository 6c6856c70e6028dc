#pragma once
// A pass over the whole file that finds the pieces of the two indexes without the B-trees:
// every page of the block and node indexes whose checksum holds, and every block whose trailer
// vouches for it (size, signature and checksum). A damaged index is rebuilt from these where
// its walk lost a subtree, and deleted messages are looked for among them.
//
// The scan reads the file once, in windows, and keeps only the entries (about 40 bytes each):
// it is run only when a walk found damage, or when deleted items are asked for.

#include <cstdint>
#include <memory>
#include <vector>

#include "ndb/block_index.h"
#include "ndb/ost_context.h"

namespace salvora {

struct ScannedNodeEntry {
  Nid nid;
  Bid data;
  Bid sub;
  Nid parent;
  Bid page_bid;                   // the id of the page holding it: the newest copy wins
  std::uint64_t page_offset = 0;
  bool behind_count = false;      // a leftover behind the page's entry count
};

struct ScannedBlockEntry {
  BlockEntry entry;
  Bid page_bid;                   // null for a block found by its own trailer
  bool behind_count = false;
};

struct ScannedPage {
  std::uint64_t offset = 0;
  Bid bid;
  std::uint8_t ptype = 0;
  std::uint8_t level = 0;
};

struct IndexScan {
  std::vector<ScannedPage> pages;             // every sound page of either index
  std::vector<ScannedNodeEntry> node_entries; // from node index leaf pages
  std::vector<ScannedBlockEntry> block_entries;  // from block index leaf pages, then from trailers
};

// Scans the file of an open context; stops early (with what it found) when the stop flag is
// set. File errors end the scan at that point.
std::shared_ptr<const IndexScan> ScanIndexPieces(const OstContext& context);

}  // namespace salvora
