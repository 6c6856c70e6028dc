#pragma once
// The node tree: every node of the node B-tree, linked under its parent NID. The tree doubles
// as the folder hierarchy: folders, messages and the other nodes hang under their parents.
//
// Records live in one array reserved for the most nodes the file can hold, so they never move:
// pointers to them stay valid for the tree's lifetime. The array is backed by a temporary file,
// so that a mailbox of millions of nodes does not hold them all in memory: the walks let go of
// the pages they read every few thousand nodes (release_file_backed_pages).
//
// A node whose parent never appears in the index is kept apart (detached), counted, and still
// found by NID.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "format/ids.h"
#include "ndb/block_index.h"
#include "ndb/flat_index.h"
#include "platform/reserved_array.h"

namespace salvora {

// One per node of the store, so every byte counts: a mailbox of a million messages holds a
// million of these (40 bytes each).
struct NodeRecord {
  NodeRecord() = default;
  // A copy stands alone: its links are not carried over, they would point outside its tree.
  NodeRecord(const NodeRecord& other)
      : nid(other.nid), parent_nid(other.parent_nid), data_bid(other.data_bid), sub_bid(other.sub_bid),
        data_block(other.data_block), sub_block(other.sub_block) {}
  NodeRecord& operator=(const NodeRecord&) = delete;

  Nid nid;
  Nid parent_nid;                           // as stored in the entry
  Bid data_bid;                             // as stored in the entry
  Bid sub_bid;                              // 0 when the node has no sub-nodes
  bool data_block = false;                  // data_bid is in the block index
  bool sub_block = false;                   // sub_bid is in the block index

  NodeRecord* next_sibling() const { return at(next_sibling_); }
  NodeRecord* parent() const { return at(parent_); }  // null at the root level and for detached nodes
  NodeRecord* first_child() const { return at(first_child_); }

 private:
  friend class NodeTree;
  // Links are distances in records to other records of the same tree, which never move; 0 is
  // none (a node is never linked to itself).
  NodeRecord* at(std::int32_t distance) const {
    return distance == 0 ? nullptr : const_cast<NodeRecord*>(this) + distance;
  }
  std::int32_t to(const NodeRecord* other) const { return other ? static_cast<std::int32_t>(other - this) : 0; }

  std::int32_t next_sibling_ = 0;
  std::int32_t parent_ = 0;
  std::int32_t first_child_ = 0;
};

static_assert(sizeof(NodeRecord) <= 40, "a node record grew: a million of them are held at once");

class NodeTree {
 public:
  // How many nodes a walk over the records reads between two releases of their pages
  // (release_file_backed_pages). A folder's children may lie anywhere in the array, a page
  // apart each, so this bounds the memory a walk keeps in use.
  static constexpr std::uint32_t kNodesBetweenReleases = 64;
  // The same for lookups by id, each of which reads a page or two of the array (the records
  // beyond a fence): lookups in no order hold a page each, and the 64 KB the system maps
  // around it, until their pages are let go of.
  static constexpr std::uint32_t kLookupsBetweenReleases = 16;

  // Adds an entry as the walk meets it; a NID met again refreshes the node in place.
  void Place(Nid nid, Bid data_bid, Bid sub_bid, Nid parent_nid, const BlockIndex& blocks, const CFile64& file);
  // Links every node under its parent once the walk is done. Nodes whose parent never appeared,
  // and nodes caught in a parent cycle, become detached.
  void Link();

  NodeRecord* Find(Nid nid) const;
  NodeRecord* first_root() const { return first_root_; }
  NodeRecord* last_root() const { return last_root_; }
  const std::vector<NodeRecord*>& detached() const { return detached_; }
  std::size_t size() const { return nodes_ ? nodes_->size() : 0; }
  const ReservedArray<NodeRecord>& nodes() const;

  // Pre-order successor of a node within the whole tree (children first), or null at the end.
  static NodeRecord* NextPreOrder(const NodeRecord* node);

 private:
  void PrependRoot(NodeRecord* node);
  static void Unlink(NodeRecord* node);
  template <typename Visit>
  static void WalkSubtree(NodeRecord* root, Visit visit);
  std::optional<std::uint32_t> PositionOf(Nid nid) const;

  // Made at the first Place, sized by the file: every node takes at least 16 bytes of it.
  std::unique_ptr<ReservedArray<NodeRecord>> nodes_;
  bool sorted_ = true;  // nodes_ ascend by NID and index_ is empty
  // While sorted, the NID of every kRecordsPerFence-th record: a lookup halves these in memory
  // and then only the run of records after its fence, instead of reading a dozen pages of the
  // array all over it.
  static constexpr std::size_t kRecordsPerFence = 64;
  std::vector<std::uint32_t> fences_;
  FlatIndex index_;
  NodeRecord* first_root_ = nullptr;
  NodeRecord* last_root_ = nullptr;
  std::vector<NodeRecord*> detached_;
};

}  // namespace salvora
