#pragma once
// Making good what the B-tree walks lost: the entries of every lost key range are taken from the
// pieces a scan of the file finds (ndb/index_scan.h), the newest copy of each, and the findings
// say per range what was rebuilt and what stayed lost. Called by the index loaders after their
// walks; cheap when nothing was lost (no scan is made).

#include <vector>

#include "ndb/ost_context.h"

namespace salvora {

// Fills the lost ranges of the block index and seals it again; also notes a header whose
// end-of-file lies past the file's end. False when the index holds nothing at all.
bool RepairBlockIndex(OstContext& context);
// Places the node entries of the lost ranges (before the tree is linked). False when the node
// index holds nothing at all.
bool RepairNodeIndex(OstContext& context);

// The parent given to objects found by their data alone (PlaceLooseObjects): a folder NID no
// store uses, so that they hang apart as orphans.
inline constexpr Nid kLooseObjectParent{0xFFFFFFE2u};

// Objects whose node entries are lost with a page of the node index while their data is still
// in the file: every data block (or data tree) that no node, data tree or sub-node list names
// and that begins as a property context. Each is placed in the node tree under a NID of its own
// (the lost one is not known) and kLooseObjectParent. Called by LoadNodeIndex when a node range
// stayed lost; returns how many were placed.
std::size_t PlaceLooseObjects(OstContext& context);

// Deleted messages whose data is still in the file, for a recovery that asks for them: the
// normal-message entries of old copies of node index pages and of leftovers behind a page's
// count whose data block is not the one the index holds for that NID (a message deleted since,
// or an earlier state of one changed since), once per NID and data block, when that block is
// found (the blocks a scan finds join the block index for them). The records stand apart from
// the node tree, in NID order: no folder walk meets them. Call after LoadNodeIndex.
std::vector<NodeRecord> FindDeletedMessages(OstContext& context);

// The scan of the file, made once per context.
const IndexScan& EnsureIndexScan(OstContext& context);

}  // namespace salvora
