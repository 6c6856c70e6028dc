// Walking the block and node B-trees into memory.
//
// The walkers trust a page trailer only when its checksum holds (then its level and entry count
// are the writer's). Otherwise they learn the depth of the leaves by trial (a leaf page read as
// an intermediate page yields a child offset that does not lead to a page starting with the
// expected key), and a leaf page ends at the first entry that breaks the key order. Entries are taken only from
// the page's entry area, never from its trailer or the next page on disk. This keeps pages with
// damaged trailers and stale entries behind the valid ones readable. A subtree the walk cannot take is recorded in the
// findings, and the repair looks for its entries in the rest of the file.

#include <unordered_set>

#include "format/page.h"
#include "ndb/block_reader.h"
#include "ndb/index_repair.h"
#include "ndb/ost_context.h"

namespace salvora {

namespace {

constexpr int kFailed = -1;
constexpr int kStopped = 0;
constexpr int kLeafConsumed = 2;
constexpr int kIntermediateConsumed = 3;
constexpr int kDepthLearned = 4;

// The format allows eight intermediate levels; deeper recursion can only come from a damaged
// file pointing pages at each other.
constexpr int kMaxDepth = 12;

constexpr std::uint64_t kNoKey = ~std::uint64_t{0};
constexpr std::uint64_t kNoBound = ~std::uint64_t{0};

// The number of entries a page's trailer claims, but only when the trailer proves itself: its
// CRC covers the entries and the count, so a matching CRC means the page is as its writer left
// it, and entries behind the count are leftovers of earlier states of the page (possibly in key
// order, so the order checks alone cannot tell them apart). A damaged trailer proves nothing and
// the walk falls back to the order checks.
std::size_t usable_entries(const std::optional<VerifiedBtPage>& trailer, std::size_t capacity) {
  return trailer && trailer->count <= capacity ? trailer->count : capacity;
}

struct Walk {
  OstContext& ctx;
  const PageGeometry& g;
  std::uint8_t ptype;
  // Subtrees the walk could not take, for the repair from the scan.
  std::vector<LostKeyRange>& lost;
  // Pages already consumed; a damaged tree that lists one page under several parents is read
  // once, which also bounds the work on a file built to loop.
  std::unordered_set<std::uint64_t> consumed;
  // Why the last page that failed did, for the findings.
  const char* failure = "";
  // Block tree only: when set, the leaves are listed here instead of their entries going into
  // the index, and sound stays true only while every page vouches for itself and the keys
  // rise through the whole tree (see LoadBlockIndex).
  ReservedArray<BlockLeaf>* leaves = nullptr;
  bool sound = true;
  std::uint64_t last_key = 0;
  std::size_t taken = 0;

  int fail(const char* why) {
    failure = why;
    return kFailed;
  }

  std::optional<ByteVector> read_page(std::uint64_t offset) {
    if (offset == 0 || offset >= ctx.file_size) {
      failure = "lies outside the file";
      return std::nullopt;
    }
    ByteVector page = ReadAt(ctx, offset, g.page_size);
    if (page.size() < g.page_size) {
      failure = "is cut off by the end of the file";
      return std::nullopt;
    }
    return page;
  }

  // The trailer of a page of this tree, when its checksum holds.
  std::optional<VerifiedBtPage> trailer_of(Bytes page) const {
    auto t = verify_bt_page(page, layout());
    if (t && t->ptype != ptype) return std::nullopt;
    return t;
  }

  void lose(std::uint64_t low, std::uint64_t high, std::uint64_t offset, std::string why, bool suspect = false) {
    lost.push_back({low, high, offset, std::move(why), suspect, {}, {}});
  }

  // A leaf whose checksum fails is no more trusted than a missing one: its whole key range is
  // lost to the walk, and its entries wait for the repair to confirm them.
  LostKeyRange& lose_unverified(std::uint64_t expected, std::uint64_t upper, std::uint64_t offset) {
    lose(expected == kNoKey ? 0 : expected, upper, offset, "fails its checksum");
    return lost.back();
  }

  std::size_t intermediate_capacity() const { return g.entry_area / g.bt_entry_size; }
  FileLayout layout() const { return ctx.header.layout; }
};

// ---- Leaf pages ------------------------------------------------------------------------------

// One page of a tree and, recursively, its children: the steps of the two loaders. An expected
// key of all ones checks nothing; the result is one of the k* codes above.
int walk_page(Walk& w, std::uint64_t offset, int depth, std::uint64_t expected, std::uint64_t upper);

// A leaf whose checksum fails and whose entries stop at a key out of order may have lost the
// entries behind it, or may only hold stale leftovers there: the rest of its range is looked
// for in the scan, and reported only when something is found.
void note_order_break(Walk& w, bool verified, std::uint64_t prev, std::uint64_t upper, std::uint64_t offset) {
  if (!verified && prev + 1 < upper) w.lose(prev + 1, upper, offset, "holds keys out of order", true);
}

int walk_block_leaf(Walk& w, Bytes page, const std::optional<VerifiedBtPage>& trailer, std::uint64_t offset,
                    std::uint64_t expected, std::uint64_t upper) {
  auto& ctx = w.ctx;
  const auto& g = w.g;
  const std::size_t capacity = usable_entries(trailer, g.entry_area / g.bbt_leaf_entry_size);
  bool have_prev = false;
  std::uint64_t prev = 0;
  std::size_t i = 0;
  BlockLeaf leaf{0, offset, 0};
  LostKeyRange* unverified = nullptr;
  for (; i < capacity; ++i) {
    const auto entry = parse_bt_entry<BbtEntry>(page, i, g.bbt_leaf_entry_size, w.layout());
    const std::uint64_t bid = entry.bid;
    // A page its parent lists begins with the parent's key: an empty one (zeroed) is lost too.
    if (i == 0 && expected != kNoKey && bid != expected) return w.fail("does not begin with the expected key");
    if (bid == 0) break;
    ctx.bbt_leaf_seen = true;
    // Equal ids are accepted (the first occurrence answers lookups); a falling id, or one at or
    // past the bound the parent gave this page, is a stale entry.
    if ((have_prev && bid < prev) || bid >= upper) {
      if (have_prev && !unverified) note_order_break(w, trailer.has_value(), prev, upper, offset);
      break;
    }
    if (!trailer && !w.leaves && !unverified) unverified = &w.lose_unverified(expected, upper, offset);
    if (unverified) {
      unverified->unverified_blocks.push_back(BlockEntry::From(entry, w.layout()));
    } else if (w.leaves) {
      // Paged lookups search by key: every key must be new and greater than the one before.
      const std::uint64_t key = Bid(bid).key().value;
      if (w.taken > 0 && key <= w.last_key) w.sound = false;
      if (i == 0) leaf.first = key;
      w.last_key = key;
      ++w.taken;
      ++leaf.count;
    } else {
      ctx.blocks->Append(BlockEntry::From(entry, w.layout()));
    }
    prev = bid;
    have_prev = true;
  }
  if (w.leaves) {
    // The trailer's count must be what was taken: anything cut short is for the full walk.
    if (!trailer || i != capacity || leaf.count == 0) w.sound = false;
    else w.leaves->emplace_back() = leaf;
  }
  return kLeafConsumed;
}

int walk_node_leaf(Walk& w, Bytes page, const std::optional<VerifiedBtPage>& trailer, std::uint64_t offset,
                   std::uint64_t expected, std::uint64_t upper) {
  auto& ctx = w.ctx;
  const auto& g = w.g;
  const std::size_t capacity = usable_entries(trailer, g.entry_area / g.nbt_leaf_entry_size);
  bool have_prev = false;
  std::uint64_t prev = 0;
  LostKeyRange* unverified = nullptr;
  for (std::size_t i = 0; i < capacity; ++i) {
    // The entry's parser keeps the 32 bits of the NID only: old files leave junk above them.
    const auto entry = parse_bt_entry<NbtEntry>(page, i, g.nbt_leaf_entry_size, w.layout());
    const std::uint64_t nid = entry.nid;
    // A page its parent lists begins with the parent's key: one that begins elsewhere (even past
    // the bound) is misplaced, and its subtree is lost until the repair finds it.
    if (i == 0 && expected != kNoKey && nid != expected) return w.fail("does not begin with the expected key");
    if (nid >= upper || (have_prev && nid <= prev)) {
      if (have_prev && nid != 0 && !unverified) note_order_break(w, trailer.has_value(), prev, upper, offset);
      break;
    }
    if (ctx.stopped()) return kStopped;
    ctx.nbt_leaf_seen = true;
    if (!trailer && !unverified) unverified = &w.lose_unverified(expected, upper, offset);
    if (nid == 0) continue;
    prev = nid;
    have_prev = true;
    if (unverified) unverified->unverified_nodes.push_back(entry);
    else ctx.nodes->Place(Nid(entry.nid), Bid(entry.bid_data), Bid(entry.bid_sub), Nid(entry.nid_parent), *ctx.blocks, ctx.file);
  }
  return kLeafConsumed;
}

// ---- Intermediate pages ----------------------------------------------------------------------

bool is_node_tree(const Walk& w) { return w.ptype == kPtypeNbt; }

// Entry i of an intermediate page. Node keys are 32-bit NIDs stored zero-extended; the upper
// half of old files is junk.
BtEntry entry_at(const Walk& w, Bytes page, std::size_t i) {
  BtEntry e = parse_bt_entry<BtEntry>(page, i, w.g.bt_entry_size, w.layout());
  if (is_node_tree(w)) e.key &= 0xFFFFFFFFu;
  return e;
}

bool& leaf_seen(Walk& w) { return is_node_tree(w) ? w.ctx.nbt_leaf_seen : w.ctx.bbt_leaf_seen; }
std::uint8_t& leaf_depth(Walk& w) { return is_node_tree(w) ? w.ctx.nbt_leaf_depth : w.ctx.bbt_leaf_depth; }

// trusted: the page's checksum holds and it says it is no leaf, so a child that fails is a lost
// subtree, never a sign that the leaves were one level higher.
int walk_intermediate(Walk& w, Bytes page, const std::optional<VerifiedBtPage>& trailer, std::uint64_t offset,
                      int depth, std::uint64_t expected, std::uint64_t upper) {
  const bool trusted = trailer && trailer->level > 0;
  if (!trusted) w.sound = false;
  // Its keys and child offsets are unconfirmed: whatever a bent bound or pointer keeps from
  // the walk is looked for in the scan (a child page that proves itself is still taken).
  const std::size_t lost_before = w.lost.size();
  if (!trailer) w.lose(expected == kNoKey ? 0 : expected, upper, offset, "fails its checksum", true);
  const std::size_t capacity = usable_entries(trailer, w.intermediate_capacity());
  if (expected != kNoKey && entry_at(w, page, 0).key != expected) return w.fail("does not begin with the expected key");
  // The node tree's pages bound nothing below them: its walk has always taken the keys of a
  // child up to the next entry only, whatever the parent allowed.
  const std::uint64_t bound = is_node_tree(w) ? kNoBound : upper;
  // Before any leaf is seen, a failing child may mean that this page is the leaf (its "children"
  // are leaf entries read the wrong way) or that the child's page is lost. The other children
  // tell: when none of them reads either, this page is the leaf; else the failures are losses.
  std::vector<LostKeyRange> failed;
  bool any_child_read = false;
  for (std::size_t i = 0; i < capacity; ++i) {
    const BtEntry entry = entry_at(w, page, i);
    const std::uint64_t key = entry.key;
    if (key == 0 || key >= bound) break;
    // The child's keys run up to the next entry's key; after the last rising entry the page's
    // own bound applies, and whatever follows a falling key is stale.
    std::uint64_t next = (i + 1 < capacity) ? entry_at(w, page, i + 1).key : 0;
    const bool last = next <= key;
    if (last) next = bound;
    if (w.ctx.stopped()) return kStopped;
    const std::uint64_t child = entry.child.ib;
    try {
      int r = walk_page(w, child, depth + 1, key, next);
      if (r == kDepthLearned) r = walk_page(w, child, depth + 1, key, next);
      if (r == kFailed) failed.push_back({key, next, child, w.failure, false, {}, {}});
      else any_child_read = true;
    } catch (const CFileException&) {
      // An unreadable child costs that subtree only, until the repair looks for it.
      failed.push_back({key, next, child, "cannot be read", false, {}, {}});
    }
    if (w.ctx.stopped()) return kStopped;
    if (last) break;
  }
  if (!failed.empty()) w.sound = false;
  if (!failed.empty() && !any_child_read && !leaf_seen(w) && !trusted) {
    leaf_depth(w) = static_cast<std::uint8_t>(depth);
    w.lost.erase(w.lost.begin() + static_cast<std::ptrdiff_t>(lost_before), w.lost.end());
    return kDepthLearned;
  }
  w.lost.insert(w.lost.end(), failed.begin(), failed.end());
  return kIntermediateConsumed;
}

int walk_page(Walk& w, std::uint64_t offset, int depth, std::uint64_t expected, std::uint64_t upper) {
  auto& ctx = w.ctx;
  if (depth > kMaxDepth) return w.fail("lies deeper than any index goes");
  if (ctx.stopped()) return kStopped;
  if (w.consumed.count(offset)) return w.fail("is listed twice");
  auto page = w.read_page(offset);
  if (!page) return kFailed;
  const auto trailer = w.trailer_of(*page);
  // A sound leaf says so: the depth of the leaves need not be learned by trial.
  if (trailer && trailer->level == 0 && leaf_depth(w) == 0xFF) leaf_depth(w) = static_cast<std::uint8_t>(depth);
  const bool leaf = depth == leaf_depth(w);
  int r = kFailed;
  if (!leaf) r = walk_intermediate(w, *page, trailer, offset, depth, expected, upper);
  else if (is_node_tree(w)) r = walk_node_leaf(w, *page, trailer, offset, expected, upper);
  else r = walk_block_leaf(w, *page, trailer, offset, expected, upper);
  if (r == kLeafConsumed || r == kIntermediateConsumed) w.consumed.insert(offset);
  return r;
}

// The walk of one tree from the header's root: the steps both loaders share. True when the
// root gave something; false when it was unusable (the findings say why).
bool walk_tree(Walk& w, std::uint64_t root, std::uint64_t first_key) {
  try {
    int r = walk_page(w, root, 0, first_key, kNoBound);
    if (r == kFailed) leaf_depth(w) = 0;
    if (r == kFailed || r == kDepthLearned) {
      // The root itself is the only leaf: take it again as a leaf page.
      w.consumed.clear();
      r = walk_page(w, root, 0, first_key, kNoBound);
      if (r == kFailed) return false;
    }
  } catch (const CFileException&) {
    // Keep what was gathered before the file failed.
    w.sound = false;
  }
  return true;
}

// The block tree as a directory of its leaves, when it is sound: true when the index is now
// paged. Otherwise the context is as before the attempt, for the full walk.
bool load_paged_block_index(OstContext& context) {
  // Each leaf is a page of the file: there cannot be more of them than pages.
  auto leaves = std::make_unique<ReservedArray<BlockLeaf>>(context.file_size / context.geometry.page_size + 1,
                                                           Backing::kTemporaryFile);
  std::vector<LostKeyRange> lost;
  Walk w{context, context.geometry, kPtypeBbt, lost, {}};
  w.leaves = leaves.get();
  const bool root_ok = walk_tree(w, context.header.bbt_root_ib, kNoKey);
  if (root_ok && w.sound && lost.empty() && w.taken > 0 && !context.stopped()) {
    context.blocks->UseLeaves(std::move(leaves), w.taken, context.header.layout);
    return true;
  }
  context.bbt_leaf_depth = 0xFF;
  context.bbt_leaf_seen = false;
  return false;
}

}  // namespace

int LoadBlockIndex(OstContext& context) {
  if (context.header.layout == FileLayout::kUnknown) return 2;
  context.findings = IndexFindings{};
  // A sound tree stays in the file; only one that lost something is read into memory, where
  // the repair can add to it.
  if (load_paged_block_index(context)) return RepairBlockIndex(context) ? 0 : 2;
  if (context.stopped()) return 0;
  Walk w{context, context.geometry, kPtypeBbt, context.findings.lost_blocks, {}};
  const std::uint64_t root = context.header.bbt_root_ib;
  const bool root_ok = walk_tree(w, root, kNoKey);
  if (!root_ok) w.lose(0, kNoBound, root, std::string("is not a usable page: it ") + w.failure);
  // A root that reads as a page but leads to no entry at all (a zeroed one) is no root either.
  else if (context.blocks->size() == 0 && !context.stopped()) w.lose(0, kNoBound, root, "leads to no entry");
  context.blocks->Seal();
  if (context.stopped()) return 0;
  return RepairBlockIndex(context) ? 0 : 2;
}

int LoadNodeIndex(OstContext& context) {
  if (context.header.layout == FileLayout::kUnknown) return 2;
  context.findings.lost_nodes.clear();
  Walk w{context, context.geometry, kPtypeNbt, context.findings.lost_nodes, {}};
  const std::uint64_t root = context.header.nbt_root_ib;
  const bool root_ok = walk_tree(w, root, kNidMessageStore.value);
  if (!root_ok) w.lose(0, kNoBound, root, std::string("is not a usable page: it ") + w.failure);
  else if (context.nodes->size() == 0 && !context.stopped()) w.lose(0, kNoBound, root, "leads to no entry");
  const bool usable = context.stopped() || RepairNodeIndex(context);
  context.nodes->Link();
  return usable ? 0 : 2;
}

}  // namespace salvora
