#include "ndb/node_tree.h"

#include <algorithm>
#include <unordered_set>

#include "platform/fenced_run.h"

namespace salvora {

namespace {

// Every node needs an entry of at least 16 bytes in an index page, or a block of its own when
// a scan of the file finds it, so a file holds fewer nodes than a sixteenth of its bytes.
std::size_t most_nodes_in(const CFile64& file) {
  constexpr std::size_t kWithoutFile = std::size_t{1} << 20;
  constexpr std::size_t kLinkLimit = std::size_t{1} << 31;  // links are 32-bit distances
  const std::uint64_t length = file.IsOpen() ? file.GetLength() : 0;
  return std::min<std::size_t>(kLinkLimit, std::max<std::size_t>(kWithoutFile, length / 16 + 1024));
}

}  // namespace

const ReservedArray<NodeRecord>& NodeTree::nodes() const {
  static const ReservedArray<NodeRecord> kNone(0);
  return nodes_ ? *nodes_ : kNone;
}

void NodeTree::Place(Nid nid, Bid data_bid, Bid sub_bid, Nid parent_nid, const BlockIndex& blocks,
                     const CFile64& file) {
  if (!nodes_) nodes_ = std::make_unique<ReservedArray<NodeRecord>>(most_nodes_in(file), Backing::kTemporaryFile);
  auto& nodes = *nodes_;
  const auto key_of = [&nodes](std::uint32_t position) { return nodes[position].nid.value; };
  // A sound index yields its NIDs in ascending order: the records themselves are then the
  // index, searched by halving. The first NID out of order builds the hash over them all.
  const bool appends_in_order = sorted_ && (nodes.empty() || nodes.back().nid.value < nid.value);
  NodeRecord* node = appends_in_order ? nullptr : Find(nid);
  if (node == nullptr) {
    if (sorted_ && !appends_in_order) {
      sorted_ = false;
      std::vector<std::uint32_t>().swap(fences_);
      index_.Reserve(nodes.size() + 1, key_of);
      for (std::size_t i = 0; i < nodes.size(); ++i) index_.Insert(nodes[i].nid.value, static_cast<std::uint32_t>(i), key_of);
    }
    if (nodes.size() == nodes.max_size()) throw std::length_error("the node index holds more nodes than the file can");
    node = &nodes.emplace_back();
    node->nid = nid;
    if (sorted_ && (nodes.size() - 1) % kRecordsPerFence == 0) fences_.push_back(nid.value);
    if (!sorted_) index_.Insert(nid.value, static_cast<std::uint32_t>(nodes.size() - 1), key_of);
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
  const auto& nodes = this->nodes();
  if (sorted_) {
    const auto run = fenced_run(fences_, nid.value, kRecordsPerFence, nodes.size());
    if (!run) return std::nullopt;
    const auto first = nodes.begin() + run->first;
    const auto last = nodes.begin() + run->second;
    auto it = std::lower_bound(first, last, nid.value, [](const NodeRecord& n, std::uint32_t key) { return n.nid.value < key; });
    if (it == last || it->nid.value != nid.value) return std::nullopt;
    return static_cast<std::uint32_t>(it - nodes.begin());
  }
  return index_.Find(nid.value, [&nodes](std::uint32_t position) { return nodes[position].nid.value; });
}

NodeRecord* NodeTree::Find(Nid nid) const {
  auto pos = PositionOf(nid);
  return pos ? const_cast<NodeRecord*>(&nodes()[*pos]) : nullptr;
}

void NodeTree::PrependRoot(NodeRecord* node) {
  node->next_sibling_ = node->to(first_root_);
  first_root_ = node;
  if (!last_root_) last_root_ = node;
}

NodeRecord* NodeTree::NextPreOrder(const NodeRecord* node) {
  if (NodeRecord* child = node->first_child()) return child;
  for (const NodeRecord* n = node; n != nullptr; n = n->parent()) {
    if (NodeRecord* next = n->next_sibling()) return next;
  }
  return nullptr;
}

// Visits a subtree in pre-order without leaving it.
template <typename Visit>
void NodeTree::WalkSubtree(NodeRecord* root, Visit visit) {
  NodeRecord* n = root;
  while (n != nullptr) {
    visit(n);
    if (NodeRecord* child = n->first_child()) {
      n = child;
      continue;
    }
    while (n != root && n->next_sibling() == nullptr) n = n->parent();
    n = (n == root) ? nullptr : n->next_sibling();
  }
}

// Only a parent cycle is cut, which a sound index never has: the sibling before the node is
// looked for rather than kept in every node.
void NodeTree::Unlink(NodeRecord* node) {
  NodeRecord* parent = node->parent();
  if (parent->first_child() == node) {
    parent->first_child_ = parent->to(node->next_sibling());
  } else {
    NodeRecord* before = parent->first_child();
    while (before && before->next_sibling() != node) before = before->next_sibling();
    if (before) before->next_sibling_ = before->to(node->next_sibling());
  }
  node->parent_ = node->next_sibling_ = 0;
}

void NodeTree::Link() {
  first_root_ = last_root_ = nullptr;
  detached_.clear();
  if (!nodes_) return;
  auto& nodes = *nodes_;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (i % kNodesBetweenReleases == 0) nodes.ReleaseResidentPages();
    nodes[i].parent_ = nodes[i].next_sibling_ = nodes[i].first_child_ = 0;
  }
  // Every node is linked only after the whole index has been read, so a node reaches its
  // parent wherever the parent's entry sits, before or after it and on any page. Children go
  // in index order: the nodes are taken from the last, each put before its parent's first
  // child so far, which needs nothing beside the records.
  for (std::size_t i = nodes.size(); i-- > 0;) {
    if (i % kNodesBetweenReleases == 0) nodes.ReleaseResidentPages();
    NodeRecord& n = nodes[i];
    if (n.parent_nid.is_null() || n.parent_nid == n.nid) {
      PrependRoot(&n);
      continue;
    }
    const auto p = PositionOf(n.parent_nid);
    if (!p) {
      detached_.push_back(&n);
      continue;
    }
    NodeRecord& parent = nodes[*p];
    n.parent_ = n.to(&parent);
    n.next_sibling_ = n.to(parent.first_child());
    parent.first_child_ = parent.to(&n);
  }
  std::reverse(detached_.begin(), detached_.end());

  // A damaged index can make nodes each other's parents; such a cycle hangs below no root and
  // would hide its members. Count what the roots reach; only when nodes are missing look for
  // cycles and cut each one, keeping the cut node apart like a node without parent.
  std::size_t reached = 0;
  auto count = [&](NodeRecord*) {
    if (++reached % kNodesBetweenReleases == 0) nodes.ReleaseResidentPages();
  };
  for (NodeRecord* r = first_root_; r; r = r->next_sibling()) WalkSubtree(r, count);
  for (NodeRecord* d : detached_) WalkSubtree(d, count);
  if (reached == nodes.size()) return;

  std::unordered_set<const NodeRecord*> seen;
  auto mark = [&](NodeRecord* x) { seen.insert(x); };
  for (NodeRecord* r = first_root_; r; r = r->next_sibling()) WalkSubtree(r, mark);
  for (NodeRecord* d : detached_) WalkSubtree(d, mark);
  for (auto& n : nodes) {
    if (seen.count(&n)) continue;
    std::unordered_set<const NodeRecord*> chain;
    NodeRecord* x = &n;
    while (x->parent() && !seen.count(x) && chain.insert(x).second) x = x->parent();
    if (x->parent() && chain.count(x)) {
      Unlink(x);
      detached_.push_back(x);
      WalkSubtree(x, mark);
    }
  }
}

}  // namespace salvora
