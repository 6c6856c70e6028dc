#include "ndb/index_repair.h"

#include <cinttypes>
#include <cstdio>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "format/block.h"
#include "format/heap_on_node.h"
#include "ndb/block_reader.h"
#include "ndb/index_scan.h"

namespace salvora {

namespace {

constexpr std::uint64_t kAll = ~std::uint64_t{0};

std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%" PRIX64, v);
  return buf;
}

// The range of a lost page, as the user reads it.
std::string range_text(const char* index, const LostKeyRange& r) {
  if (r.low == 0 && r.high == kAll) return std::string(index) + ": the root page at offset " + hex(r.page_offset) + " " + r.why;
  std::string ids = hex(r.low) + (r.high == kAll ? " and up" : " to " + hex(r.high - 1));
  return std::string(index) + ": the page at offset " + hex(r.page_offset) + " for ids " + ids + " " + r.why;
}

const LostKeyRange* range_of(const std::vector<LostKeyRange>& ranges, std::uint64_t key, bool with_suspect) {
  for (const auto& r : ranges) {
    if (key >= r.low && key < r.high && (with_suspect || !r.suspect_only)) return &r;
  }
  return nullptr;
}

// The findings' lines for each range, by how many entries the scan gave it.
void report_ranges(IndexFindings& f, const char* index, const std::vector<LostKeyRange>& ranges,
                   const std::unordered_map<const LostKeyRange*, std::size_t>& added) {
  for (const auto& r : ranges) {
    const auto it = added.find(&r);
    const std::size_t n = it == added.end() ? 0 : it->second;
    if (n > 0) {
      f.rebuilt.push_back(range_text(index, r) + "; " + std::to_string(n) +
                          " entries rebuilt from copies found by scanning the file");
    } else if (!r.suspect_only) {
      f.lost.push_back(range_text(index, r) + "; no copy of its entries was found in the file");
    }
  }
}

void note_truncation(OstContext& ctx) {
  if (ctx.header.file_eof <= ctx.file_size) return;
  // A header may claim more than the file holds (a size written ahead of the data, or simply a
  // damaged field): only blocks the index places past the end are lost. Index pages past the
  // end are lost key ranges, named on their own.
  // An index whose root lies past the end, or with key ranges lost, was cut too.
  const bool index_cut = ctx.header.nbt_root_ib >= ctx.file_size || ctx.header.bbt_root_ib >= ctx.file_size ||
                         !ctx.findings.lost_blocks.empty() || !ctx.findings.lost_nodes.empty();
  std::size_t beyond = 0;
  if (ctx.blocks) {
    ctx.blocks->ForEach(ctx.file, [&](const BlockEntry& e) {
      if (e.ib + e.cb > ctx.file_size) ++beyond;
      return !ctx.stopped();
    });
  }
  const std::string sizes = "its header gives " + std::to_string(ctx.header.file_eof) + " bytes, " +
                            std::to_string(ctx.file_size) + " are there";
  if (beyond == 0 && !index_cut) {
    ctx.findings.rebuilt.push_back("the file is shorter than " + sizes + "; no block its index names lies past the end");
    return;
  }
  ctx.findings.truncated = true;
  ctx.findings.lost.push_back("the file is cut short: " + sizes + "; what the last " +
                              std::to_string(ctx.header.file_eof - ctx.file_size) + " bytes held is lost" +
                              (beyond > 0 ? " (" + std::to_string(beyond) + " blocks past the end)" : std::string()));
}

// The blocks that something names: data blocks and sub-node blocks of nodes, the children of
// data trees and the entries of sub-node lists. A block nothing names lost its owner.
std::unordered_set<std::uint64_t> named_blocks(const OstContext& ctx) {
  std::unordered_set<std::uint64_t> named;
  for (const NodeRecord& n : ctx.nodes->nodes()) {
    named.insert(n.data_bid.key().value);
    named.insert(n.sub_bid.key().value);
  }
  const FileLayout layout = ctx.header.layout;
  ctx.blocks->ForEach(ctx.file, [&](const BlockEntry& e) {
    if (ctx.stopped()) return false;
    if (!e.bid.is_internal()) return true;
    auto block = ReadBlockDecoded(ctx, e.bid);
    if (!block) return true;
    // A damaged count still names the ids that fit: those blocks have an owner, even when the
    // owner's value can no longer be read whole.
    if (const auto tree = XBlock::ParseWhatFits(*block, layout)) {
      for (const std::uint64_t id : tree->bids) named.insert(Bid(id).key().value);
    } else if (const auto list = SubnodeBlock::ParseWhatFits(*block, layout)) {
      for (const SubnodeBlockEntry& entry : list->entries) {
        named.insert(Bid(entry.bid_data).key().value);
        if (list->level == 0) named.insert(Bid(entry.bid_sub).key().value);
      }
    }
    return true;
  });
  return named;
}

// A heap-on-node whose client is a property context: the shape of every message, folder and
// attachment object.
bool begins_as_property_context(const OstContext& ctx, const BlockEntry& e) {
  if (e.bid.is_internal()) return false;
  auto block = ReadBlockDecoded(ctx, e.bid);
  if (!block) return false;
  const auto header = HeapHeader::Parse(*block);
  return header && header->complete && header->is_heap_of(kClientPropertyContext);
}

}  // namespace

std::size_t PlaceLooseObjects(OstContext& context) {
  const auto named = named_blocks(context);
  std::vector<Bid> found;
  context.blocks->ForEach(context.file, [&](const BlockEntry& e) {
    if (context.stopped()) return false;
    if (!named.count(e.bid.key().value) && begins_as_property_context(context, e)) found.push_back(e.bid);
    return true;
  });
  // NIDs from the top of the index range down: no store hands them out.
  std::uint32_t index = 0x7FFFFFF;
  std::size_t placed = 0;
  for (const Bid bid : found) {
    Nid nid = Nid::make(kNidTypeNormalMessage, index--);
    while (context.nodes->Find(nid)) nid = Nid::make(kNidTypeNormalMessage, index--);
    context.nodes->Place(nid, bid, Bid(), kLooseObjectParent, *context.blocks, context.file);
    ++placed;
  }
  return placed;
}

const IndexScan& EnsureIndexScan(OstContext& context) {
  if (!context.scan) context.scan = ScanIndexPieces(context);
  return *context.scan;
}

bool RepairBlockIndex(OstContext& context) {
  note_truncation(context);
  auto& ranges = context.findings.lost_blocks;
  if (ranges.empty()) return context.blocks->size() > 0;
  const IndexScan& scan = EnsureIndexScan(context);
  // The newest copy of each missing id: a block index page written later has a higher id. A
  // block found only by its own trailer comes last, and only for ranges truly lost: a page read
  // in part loses nothing to the order checks but stale entries.
  std::unordered_map<std::uint64_t, const ScannedBlockEntry*> best;
  for (const auto& e : scan.block_entries) {
    if (e.behind_count) continue;
    const std::uint64_t key = e.entry.bid.key().value;
    if (!range_of(ranges, key, !e.page_bid.is_null()) || FindBlock(context, e.entry.bid)) continue;
    auto& slot = best[key];
    if (!slot || e.page_bid > slot->page_bid) slot = &e;
  }
  std::unordered_map<const LostKeyRange*, std::size_t> added;
  for (const auto& [key, e] : best) {
    context.blocks->Append(e->entry);
    ++added[range_of(ranges, key, true)];
  }
  context.blocks->Seal();
  report_ranges(context.findings, "block index", ranges, added);
  return context.blocks->size() > 0;
}

bool RepairNodeIndex(OstContext& context) {
  auto& ranges = context.findings.lost_nodes;
  if (ranges.empty()) return context.nodes->size() > 0;
  const IndexScan& scan = EnsureIndexScan(context);
  std::unordered_map<std::uint32_t, const ScannedNodeEntry*> best;
  for (const auto& e : scan.node_entries) {
    if (e.behind_count || context.nodes->Find(e.nid) || !range_of(ranges, e.nid.value, true)) continue;
    // An old copy of a page also lists nodes deleted since; their blocks were freed and left
    // the block index, which tells them from the nodes lost with a damaged page.
    if (!e.data.is_null() && !FindBlock(context, e.data)) continue;
    auto& slot = best[e.nid.value];
    if (!slot || e.page_bid > slot->page_bid) slot = &e;
  }
  std::unordered_map<const LostKeyRange*, std::size_t> added;
  for (const auto& [nid, e] : best) {
    context.nodes->Place(e->nid, e->data, e->sub, e->parent, *context.blocks, context.file);
    ++added[range_of(ranges, nid, true)];
  }
  report_ranges(context.findings, "node index", ranges, added);
  // Nodes that stayed lost may still have their data in the file.
  bool lost = false;
  for (const auto& r : ranges) lost = lost || (!r.suspect_only && added.find(&r) == added.end());
  if (lost && context.blocks->size() > 0) {
    if (const std::size_t n = PlaceLooseObjects(context))
      context.findings.rebuilt.push_back("node index: " + std::to_string(n) +
                                         " objects whose index entries are lost were found by their data alone; the messages "
                                         "among them are put under Recovered Items");
  }
  return context.nodes->size() > 0;
}

std::vector<NodeRecord> FindDeletedMessages(OstContext& context) {
  const IndexScan& scan = EnsureIndexScan(context);
  // Every block the scan found that the index lacks: a deleted message's blocks were freed and
  // left the block index, but their bytes may still be intact where they were.
  std::unordered_map<std::uint64_t, const ScannedBlockEntry*> blocks;
  for (const auto& e : scan.block_entries) {
    const std::uint64_t key = e.entry.bid.key().value;
    if (FindBlock(context, e.entry.bid)) continue;
    auto& slot = blocks[key];
    if (!slot || e.page_bid > slot->page_bid) slot = &e;
  }
  for (const auto& [key, e] : blocks) context.blocks->Append(e->entry);
  context.blocks->Seal();

  std::map<std::pair<std::uint32_t, std::uint64_t>, const ScannedNodeEntry*> found;
  for (const auto& e : scan.node_entries) {
    if (e.nid.type() != kNidTypeNormalMessage || !FindBlock(context, e.data)) continue;
    const NodeRecord* live = context.nodes->Find(e.nid);
    if (live && live->data_bid.key() == e.data.key()) continue;
    found.emplace(std::make_pair(e.nid.value, e.data.key().value), &e);
  }
  std::vector<NodeRecord> out;
  out.reserve(found.size());
  for (const auto& [key, e] : found) {
    NodeRecord r;
    r.nid = e->nid;
    r.data_bid = e->data;
    r.sub_bid = e->sub;
    r.parent_nid = e->parent;
    r.data_block = FindBlock(context, e->data).has_value();
    r.sub_block = FindBlock(context, e->sub).has_value();
    out.push_back(r);
  }
  return out;
}

}  // namespace salvora
