#pragma once
// The node tree: every node of the node B-tree, linked under its parent NID. The tree doubles
// as the folder hierarchy: folders, messages and the other nodes hang under their parents.
//
// Records live in a deque, so pointers to them stay valid for the tree's lifetime. A node whose
// parent never appears in the index is kept apart (detached), counted, and still found by NID.

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "format/ids.h"
#include "ndb/block_index.h"
#include "ndb/flat_index.h"

namespace salvora {

// One per node of the store, so every byte counts: a mailbox of a million messages holds a
// million of these (56 bytes each).
struct NodeRecord {
  Nid nid;
  Nid parent_nid;                           // as stored in the entry
  Bid data_bid;                             // as stored in the entry
  Bid sub_bid;                              // 0 when the node has no sub-nodes
  std::int32_t child_count = 0;
  bool data_block = false;                  // data_bid is in the block index
  bool sub_block = false;                   // sub_bid is in the block index
  NodeRecord* next_sibling = nullptr;
  NodeRecord* parent = nullptr;             // null at the root level and for detached nodes
  NodeRecord* first_child = nullptr;
};

class NodeTree {
 public:
  // Adds an entry as the walk meets it; a NID met again refreshes the node in place.
  void Place(Nid nid, Bid data_bid, Bid sub_bid, Nid parent_nid, const BlockIndex& blocks, const CFile64& file);
  // Links every node under its parent once the walk is done. Nodes whose parent never appeared,
  // and nodes caught in a parent cycle, become detached.
  void Link();

  NodeRecord* Find(Nid nid) const;
  NodeRecord* first_root() const { return first_root_; }
  NodeRecord* last_root() const { return last_root_; }
  const std::vector<NodeRecord*>& detached() const { return detached_; }
  std::size_t size() const { return nodes_.size(); }
  const std::deque<NodeRecord>& nodes() const { return nodes_; }

  // Pre-order successor of a node within the whole tree (children first), or null at the end.
  static NodeRecord* NextPreOrder(const NodeRecord* node);

 private:
  void AppendRoot(NodeRecord* node);
  std::optional<std::uint32_t> PositionOf(Nid nid) const;

  std::deque<NodeRecord> nodes_;
  bool sorted_ = true;  // nodes_ ascend by NID and index_ is empty
  FlatIndex index_;
  NodeRecord* first_root_ = nullptr;
  NodeRecord* last_root_ = nullptr;
  std::vector<NodeRecord*> detached_;
};

}  // namespace salvora
