// Walking the block and node B-trees into memory.
//
// The walkers trust nothing in a page trailer: not the level, not the entry count, not the
// signature. They learn the depth of the leaves by trial (a leaf page read as an intermediate
// page yields a child offset that does not lead to a page starting with the expected key), and
// a leaf page ends at the first entry that breaks the key order. Entries are taken only from
// the page's entry area, never from its trailer or the next page on disk. This keeps pages with
// damaged trailers and stale entries behind the valid ones readable.

#include <unordered_set>

#include "format/byte_reader.h"
#include "format/page.h"
#include "ndb/block_reader.h"
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
std::optional<std::size_t> verified_entry_count(Bytes page, FileLayout layout, std::size_t capacity) {
  const auto trailer = parse_page_trailer(page, layout);
  const auto counts = parse_bt_page_header(page, layout);
  if (!trailer || !counts) return std::nullopt;
  if ((trailer->ptype != kPtypeBbt && trailer->ptype != kPtypeNbt) || trailer->ptype_repeat != trailer->ptype)
    return std::nullopt;
  if (!trailer->crc_ok || counts->c_ent > capacity) return std::nullopt;
  return counts->c_ent;
}

// Entry i of a page, parsed by the format's entry parser for the layout.
template <class Entry>
Entry entry_at(Bytes page, std::size_t i, std::size_t size, FileLayout layout) {
  ByteReader r(page.subspan(i * size, size));
  return Entry::Parse(r, layout);
}

std::size_t usable_entries(Bytes page, FileLayout layout, std::size_t capacity) {
  return verified_entry_count(page, layout, capacity).value_or(capacity);
}

struct Walk {
  OstContext& ctx;
  const PageGeometry& g;
  // Pages already consumed; a damaged tree that lists one page under several parents is read
  // once, which also bounds the work on a file built to loop.
  std::unordered_set<std::uint64_t> consumed;

  std::optional<ByteVector> read_page(std::uint64_t offset) {
    if (offset == 0 || offset >= ctx.file_size) return std::nullopt;
    ByteVector page = ReadAt(ctx, offset, g.page_size);
    if (page.size() < g.page_size) return std::nullopt;
    return page;
  }

  std::size_t intermediate_capacity() const { return g.entry_area / g.bt_entry_size; }
};

// ---- Block B-tree ----------------------------------------------------------------------------

// One page of a tree and, recursively, its children: the steps of the two loaders. An expected
// key of all ones checks nothing; the result is one of the k* codes above.
int walk_block_page(Walk& w, std::uint64_t offset, int depth, std::uint64_t expected, std::uint64_t upper);

int walk_block_leaf(Walk& w, Bytes page, std::uint64_t expected, std::uint64_t upper) {
  auto& ctx = w.ctx;
  const auto& g = w.g;
  const std::size_t capacity = usable_entries(page, ctx.header.layout, g.entry_area / g.bbt_leaf_entry_size);
  bool have_prev = false;
  std::uint64_t prev = 0;
  for (std::size_t i = 0; i < capacity; ++i) {
    const auto entry = entry_at<BbtEntry>(page, i, g.bbt_leaf_entry_size, ctx.header.layout);
    const std::uint64_t bid = entry.bid;
    if (bid == 0) break;
    if (i == 0 && expected != kNoKey && bid != expected) return kFailed;
    ctx.bbt_leaf_seen = true;
    // Equal ids are accepted (the first occurrence answers lookups); a falling id, or one at or
    // past the bound the parent gave this page, is a stale entry.
    if (have_prev && bid < prev) break;
    if (bid >= upper) break;
    BlockEntry e;
    e.bid = Bid(bid);
    e.ib = entry.ib;
    e.cb = entry.cb;
    e.cb_inflated = ctx.header.layout == FileLayout::kUnicode4k ? entry.cb_inflated : entry.cb;
    e.ref_count = static_cast<std::int16_t>(entry.cref);
    ctx.blocks->Append(e);
    prev = bid;
    have_prev = true;
  }
  return kLeafConsumed;
}

int walk_block_intermediate(Walk& w, Bytes page, int depth, std::uint64_t expected, std::uint64_t upper) {
  const auto& g = w.g;
  const FileLayout layout = w.ctx.header.layout;
  const std::size_t capacity = usable_entries(page, layout, w.intermediate_capacity());
  if (entry_at<BtEntry>(page, 0, g.bt_entry_size, layout).key != expected && expected != kNoKey) return kFailed;
  for (std::size_t i = 0; i < capacity; ++i) {
    const auto entry = entry_at<BtEntry>(page, i, g.bt_entry_size, layout);
    const std::uint64_t key = entry.key;
    if (key == 0 || key >= upper) break;
    // The child's keys run up to the next entry's key; after the last rising entry the page's
    // own bound applies, and whatever follows a falling key is stale.
    std::uint64_t next = (i + 1 < capacity) ? entry_at<BtEntry>(page, i + 1, g.bt_entry_size, layout).key : 0;
    const bool last = next <= key;
    if (last) next = upper;
    if (w.ctx.stopped()) return kStopped;
    const std::uint64_t child = entry.child.ib;
    try {
      const int r = walk_block_page(w, child, depth + 1, key, next);
      if (r == kFailed && !w.ctx.bbt_leaf_seen) {
        w.ctx.bbt_leaf_depth = static_cast<std::uint8_t>(depth);
        return kDepthLearned;
      }
      if (r == kDepthLearned) walk_block_page(w, child, depth + 1, key, next);
    } catch (const CFileException&) {
      // An unreadable child costs that subtree only.
    }
    if (w.ctx.stopped()) return kStopped;
    if (last) break;
  }
  return kIntermediateConsumed;
}

int walk_block_page(Walk& w, std::uint64_t offset, int depth, std::uint64_t expected, std::uint64_t upper) {
  auto& ctx = w.ctx;
  if (depth > kMaxDepth) return kFailed;
  const bool leaf = depth == ctx.bbt_leaf_depth;
  if (ctx.stopped()) return kStopped;
  if (w.consumed.count(offset)) return kFailed;
  auto page = w.read_page(offset);
  if (!page) return kFailed;
  const int r = leaf ? walk_block_leaf(w, *page, expected, upper)
                     : walk_block_intermediate(w, *page, depth, expected, upper);
  if (r == kLeafConsumed || r == kIntermediateConsumed) w.consumed.insert(offset);
  return r;
}

// ---- Node B-tree -----------------------------------------------------------------------------

int walk_node_page(Walk& w, std::uint64_t offset, int depth, std::uint64_t expected, std::uint64_t upper);

int walk_node_leaf(Walk& w, Bytes page, std::uint64_t expected, std::uint64_t upper) {
  auto& ctx = w.ctx;
  const auto& g = w.g;
  const std::size_t capacity = usable_entries(page, ctx.header.layout, g.entry_area / g.nbt_leaf_entry_size);
  bool have_prev = false;
  std::uint64_t prev = 0;
  for (std::size_t i = 0; i < capacity; ++i) {
    const auto entry = entry_at<NbtEntry>(page, i, g.nbt_leaf_entry_size, ctx.header.layout);
    const std::uint64_t nid = entry.nid;
    if (nid >= upper) break;
    if (have_prev && nid <= prev) break;
    if (ctx.stopped()) return kStopped;
    if (i == 0 && expected != kNoKey && nid != expected) return kFailed;
    ctx.nbt_leaf_seen = true;
    if (nid == 0) continue;
    prev = nid;
    have_prev = true;
    ctx.nodes->Place(Nid(entry.nid), Bid(entry.bid_data), Bid(entry.bid_sub), Nid(entry.nid_parent), *ctx.blocks);
  }
  return kStopped;  // a consumed leaf page: the caller does not distinguish it from a stop
}

int walk_node_intermediate(Walk& w, Bytes page, int depth, std::uint64_t expected) {
  const auto& g = w.g;
  const FileLayout layout = w.ctx.header.layout;
  const std::size_t capacity = usable_entries(page, layout, w.intermediate_capacity());
  // Node keys are NIDs: 32 bits, stored zero-extended with whatever old files left above them.
  const auto key_at = [&](std::size_t i) { return entry_at<BtEntry>(page, i, g.bt_entry_size, layout).key & 0xFFFFFFFFu; };
  if (expected != kNoKey && key_at(0) != expected) return kFailed;
  for (std::size_t i = 0; i < capacity; ++i) {
    const std::uint64_t key = key_at(i);
    if (key == 0) break;
    if (w.ctx.stopped()) return kStopped;
    std::uint64_t next = (i + 1 < capacity) ? key_at(i + 1) : 0;
    const bool last = next <= key;
    if (last) next = kNoBound;
    const std::uint64_t child = entry_at<BtEntry>(page, i, g.bt_entry_size, layout).child.ib;
    try {
      const int r = walk_node_page(w, child, depth + 1, key, next);
      if (r == kFailed && !w.ctx.nbt_leaf_seen) {
        w.ctx.nbt_leaf_depth = static_cast<std::uint8_t>(depth);
        return kDepthLearned;
      }
      if (r == kDepthLearned) walk_node_page(w, child, depth + 1, key, next);
    } catch (const CFileException&) {
    }
    if (last) break;
  }
  return kIntermediateConsumed;
}

int walk_node_page(Walk& w, std::uint64_t offset, int depth, std::uint64_t expected, std::uint64_t upper) {
  auto& ctx = w.ctx;
  if (depth > kMaxDepth) return kFailed;
  if (ctx.stopped()) return kStopped;
  const bool leaf = depth == ctx.nbt_leaf_depth;
  if (w.consumed.count(offset)) return kFailed;
  auto page = w.read_page(offset);
  if (!page) return kFailed;
  const int r = leaf ? walk_node_leaf(w, *page, expected, upper) : walk_node_intermediate(w, *page, depth, expected);
  if (r == kIntermediateConsumed || (leaf && r != kFailed)) w.consumed.insert(offset);
  return r;
}

}  // namespace

int LoadBlockIndex(OstContext& context) {
  if (context.header.layout == FileLayout::kUnknown) return 2;
  Walk w{context, context.geometry, {}};
  const std::uint64_t root = context.header.bbt_root_ib;
  int result = 0;
  try {
    int r = walk_block_page(w, root, 0, kNoKey, kNoBound);
    if (r == kFailed) context.bbt_leaf_depth = 0;
    if (r == kFailed || r == kDepthLearned) {
      // The root itself is the only leaf: take it again as a leaf page.
      w.consumed.clear();
      r = walk_block_page(w, root, 0, kNoKey, kNoBound);
      if (r == kFailed) result = 2;
    }
  } catch (const CFileException&) {
    // Keep what was gathered before the file failed.
  }
  context.blocks->Seal();
  return result;
}

int LoadNodeIndex(OstContext& context) {
  if (context.header.layout == FileLayout::kUnknown) return 2;
  Walk w{context, context.geometry, {}};
  const std::uint64_t root = context.header.nbt_root_ib;
  int result = 0;
  try {
    int r = walk_node_page(w, root, 0, kNidMessageStore.value, kNoBound);
    if (r == kFailed) context.nbt_leaf_depth = 0;
    if (r == kFailed || r == kDepthLearned) {
      w.consumed.clear();
      r = walk_node_page(w, root, 0, kNidMessageStore.value, kNoBound);
      if (r == kFailed) result = 2;
    }
  } catch (const CFileException&) {
  }
  context.nodes->Link();
  return result;
}

}  // namespace salvora
