#include "ndb/node_tree.h"

#include <algorithm>
#include <unordered_set>

namespace salvora {

void NodeTree::Place(Nid nid, Bid data_bid, Bid sub_bid, Nid parent_nid, const BlockIndex& blocks,
                     const CFile64& file) {
  const auto key_of = [this](std::uint32_t position) { return nodes_[position].nid.value; };
  // A sound index yields its NIDs in ascending order: the records themselves are then the
  // index, searched by halving. The first NID out of order builds the hash over them all.
  const bool appends_in_order = sorted_ && (nodes_.empty() || nodes_.back().nid.value < nid.value);
  NodeRecord* node = appends_in_order ? nullptr : Find(nid);
  if (node == nullptr) {
    if (sorted_ && !appends_in_order) {
      sorted_ = false;
      index_.Reserve(nodes_.size() + 1, key_of);
      for (std::size_t i = 0; i < nodes_.size(); ++i)
        index_.Insert(nodes_[i].nid.value, static_cast<std::uint32_t>(i), key_of);
    }
    nodes_.emplace_back();
    node = &nodes_.back();
    node->nid = nid;
    if (!sorted_) index_.Insert(nid.value, static_cast<std::uint32_t>(nodes_.size() - 1), key_of);
  }
  // A page walked twice (after the leaf depth was learned) meets its entries again: the node
  // is refreshed in place, never duplicated.
  node->data_bid = data_bid;
  node->sub_bid = sub_bid;
  node->parent_nid = parent_nid;
  node->data_block = blocks.Find(data_bid, file).has_value();
  node->sub_block = blocks.Find(sub_bid, file).has_value();
}

std::optional<std::uint32_t> NodeTree::PositionOf(Nid nid) const {
  if (sorted_) {
    auto it = std::lower_bound(nodes_.begin(), nodes_.end(), nid.value,
                               [](const NodeRecord& n, std::uint32_t key) { return n.nid.value < key; });
    if (it == nodes_.end() || it->nid.value != nid.value) return std::nullopt;
    return static_cast<std::uint32_t>(it - nodes_.begin());
  }
  return index_.Find(nid.value, [this](std::uint32_t position) { return nodes_[position].nid.value; });
}

NodeRecord* NodeTree::Find(Nid nid) const {
  auto pos = PositionOf(nid);
  return pos ? const_cast<NodeRecord*>(&nodes_[*pos]) : nullptr;
}

void NodeTree::AppendRoot(NodeRecord* node) {
  if (last_root_) last_root_->next_sibling = node;
  else first_root_ = node;
  last_root_ = node;
}

NodeRecord* NodeTree::NextPreOrder(const NodeRecord* node) {
  if (node->first_child) return node->first_child;
  for (const NodeRecord* n = node; n != nullptr; n = n->parent) {
    if (n->next_sibling) return n->next_sibling;
  }
  return nullptr;
}

namespace {

// Visits a subtree in pre-order without leaving it.
template <typename Visit>
void walk_subtree(NodeRecord* root, Visit visit) {
  NodeRecord* n = root;
  while (n != nullptr) {
    visit(n);
    if (n->first_child) {
      n = n->first_child;
      continue;
    }
    while (n != root && n->next_sibling == nullptr) n = n->parent;
    n = (n == root) ? nullptr : n->next_sibling;
  }
}

// Only a parent cycle is cut, which a sound index never has: the sibling before the node is
// looked for rather than kept in every node.
void unlink_from_parent(NodeRecord* node) {
  NodeRecord* parent = node->parent;
  if (parent->first_child == node) {
    parent->first_child = node->next_sibling;
  } else {
    NodeRecord* before = parent->first_child;
    while (before && before->next_sibling != node) before = before->next_sibling;
    if (before) before->next_sibling = node->next_sibling;
  }
  node->parent = node->next_sibling = nullptr;
}

}  // namespace

void NodeTree::Link() {
  first_root_ = last_root_ = nullptr;
  detached_.clear();
  for (auto& n : nodes_) {
    n.child_count = 0;
    n.parent = n.next_sibling = n.first_child = nullptr;
  }
  // Every node is linked only after the whole index has been read, so a node reaches its
  // parent wherever the parent's entry sits, before or after it and on any page. Children go
  // in index order; the last child of each node so far is known here only, by position.
  constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  std::vector<std::uint32_t> last_child(nodes_.size(), kNone);
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    NodeRecord& n = nodes_[i];
    if (n.parent_nid.is_null() || n.parent_nid == n.nid) {
      AppendRoot(&n);
      continue;
    }
    const auto p = PositionOf(n.parent_nid);
    if (!p) {
      detached_.push_back(&n);
      continue;
    }
    NodeRecord& parent = nodes_[*p];
    n.parent = &parent;
    if (last_child[*p] == kNone) parent.first_child = &n;
    else nodes_[last_child[*p]].next_sibling = &n;
    last_child[*p] = static_cast<std::uint32_t>(i);
    ++parent.child_count;
  }

  // A damaged index can make nodes each other's parents; such a cycle hangs below no root and
  // would hide its members. Count what the roots reach; only when nodes are missing look for
  // cycles and cut each one, keeping the cut node apart like a node without parent.
  std::size_t reached = 0;
  auto count = [&](NodeRecord*) { ++reached; };
  for (NodeRecord* r = first_root_; r; r = r->next_sibling) walk_subtree(r, count);
  for (NodeRecord* d : detached_) walk_subtree(d, count);
  if (reached == nodes_.size()) return;

  std::unordered_set<const NodeRecord*> seen;
  auto mark = [&](NodeRecord* x) { seen.insert(x); };
  for (NodeRecord* r = first_root_; r; r = r->next_sibling) walk_subtree(r, mark);
  for (NodeRecord* d : detached_) walk_subtree(d, mark);
  for (auto& n : nodes_) {
    if (seen.count(&n)) continue;
    std::unordered_set<const NodeRecord*> chain;
    NodeRecord* x = &n;
    while (x->parent && !seen.count(x) && chain.insert(x).second) x = x->parent;
    if (x->parent && chain.count(x)) {
      unlink_from_parent(x);
      detached_.push_back(x);
      walk_subtree(x, mark);
    }
  }
}

}  // namespace salvora
