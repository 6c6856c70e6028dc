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

// What the repair did for one range: entries taken from copies the scan found, entries of its
// own page (one that fails its checksum) that stand, and those it could not confirm.
struct RangeOutcome {
  std::size_t from_copies = 0;
  std::size_t confirmed = 0;
  std::vector<std::string> unconfirmed;
};
using Outcomes = std::unordered_map<const LostKeyRange*, RangeOutcome>;

// The findings' lines for each range, by what the repair gave it.
void report_ranges(IndexFindings& f, const char* index, const std::vector<LostKeyRange>& ranges, const Outcomes& outcomes) {
  const RangeOutcome none;
  for (const auto& r : ranges) {
    const auto it = outcomes.find(&r);
    const RangeOutcome& o = it == outcomes.end() ? none : it->second;
    if (o.from_copies > 0 || o.confirmed > 0) {
      std::string line = range_text(index, r) + ";";
      if (o.from_copies > 0)
        line += " " + std::to_string(o.from_copies) + " entries rebuilt from copies found by scanning the file";
      if (o.confirmed > 0)
        line += std::string(o.from_copies > 0 ? "," : "") + " " + std::to_string(o.confirmed) +
                " of its own entries confirmed by what they point at";
      f.rebuilt.push_back(line);
    } else if (!r.suspect_only && o.unconfirmed.empty()) {
      f.lost.push_back(range_text(index, r) + "; no copy of its entries was found in the file");
    }
    for (const auto& why : o.unconfirmed) f.lost.push_back(range_text(index, r) + "; " + why);
  }
}

// The entries of block index pages that fail their checksum stand when the block at the place
// they give vouches for their id and size: they are taken before the copies the scan found
// (they carry the reference counts that blocks found by their trailers lack). The others are
// returned, to be named unless a copy gives their ids.
std::vector<std::pair<const LostKeyRange*, BlockEntry>> take_vouched_blocks(OstContext& ctx, const std::vector<LostKeyRange>& ranges,
                                                                            Outcomes& outcomes) {
  std::vector<std::pair<const LostKeyRange*, BlockEntry>> doubtful;
  std::unordered_set<std::uint64_t> taken;
  for (const auto& r : ranges) {
    for (const BlockEntry& e : r.unverified_blocks) {
      if (ctx.stopped()) return doubtful;
      RangeOutcome& o = outcomes[&r];
      if (taken.count(e.bid.key().value) || FindBlock(ctx, e.bid)) {
        ++o.confirmed;
      } else if (BlockVouched(ctx, e)) {
        ctx.blocks->Append(e);
        taken.insert(e.bid.key().value);
        ++o.confirmed;
      } else {
        doubtful.emplace_back(&r, e);
      }
    }
  }
  ctx.blocks->Seal();
  return doubtful;
}

void name_doubtful_blocks(const OstContext& ctx, const std::vector<std::pair<const LostKeyRange*, BlockEntry>>& doubtful,
                          Outcomes& outcomes) {
  for (const auto& [range, e] : doubtful) {
    if (FindBlock(ctx, e.bid)) continue;
    outcomes[range].unconfirmed.push_back("its entry for block " + hex(e.bid.value) + " could not be confirmed (no block of that id and size at offset " +
                                          hex(e.ib) + ") and is left out");
  }
}

// Why a node entry of a page that fails its checksum cannot stand: its data block is not in
// the file, or its parent is neither a node of the file nor listed by these pages. Empty when
// it stands.
std::string node_doubt(const OstContext& ctx, const NbtEntry& e, const std::unordered_set<std::uint32_t>& listed) {
  if (e.bid_data == 0 || !FindBlock(ctx, Bid(e.bid_data))) return "its data block " + hex(e.bid_data) + " is not in the file";
  if (e.nid_parent != 0 && e.nid_parent != e.nid && !ctx.nodes->Find(Nid(e.nid_parent)) && !listed.count(e.nid_parent))
    return "its parent " + std::to_string(e.nid_parent) + " is not in the file's index";
  return {};
}

void place(OstContext& ctx, const NbtEntry& e) {
  ctx.nodes->Place(Nid(e.nid), Bid(e.bid_data), Bid(e.bid_sub), Nid(e.nid_parent), *ctx.blocks, ctx.file);
}

// The same for node index pages: a node stands when nothing is wrong with it (node_doubt, and
// a sub-node block that is in the file). Taken before the copies the scan found, which may be
// older states of the node; the others are returned for name_doubtful_nodes.
std::vector<std::pair<const LostKeyRange*, NbtEntry>> take_sound_nodes(OstContext& ctx, const std::vector<LostKeyRange>& ranges,
                                                                       Outcomes& outcomes, std::unordered_set<std::uint32_t>& listed) {
  for (const auto& r : ranges) {
    for (const NbtEntry& e : r.unverified_nodes) listed.insert(e.nid);
  }
  std::vector<std::pair<const LostKeyRange*, NbtEntry>> doubtful;
  for (const auto& r : ranges) {
    for (const NbtEntry& e : r.unverified_nodes) {
      RangeOutcome& o = outcomes[&r];
      if (ctx.nodes->Find(Nid(e.nid))) {
        ++o.confirmed;
      } else if (node_doubt(ctx, e, listed).empty() && (e.bid_sub == 0 || FindBlock(ctx, Bid(e.bid_sub)))) {
        place(ctx, e);
        ++o.confirmed;
      } else {
        doubtful.emplace_back(&r, e);
      }
    }
  }
  return doubtful;
}

// The doubtful entries no copy replaced: left out and named; one whose only fault is a sub-node
// block that is gone keeps its data, and what it kept there is named.
void name_doubtful_nodes(OstContext& ctx, const std::vector<std::pair<const LostKeyRange*, NbtEntry>>& doubtful,
                         Outcomes& outcomes, const std::unordered_set<std::uint32_t>& listed) {
  for (const auto& [range, e] : doubtful) {
    if (ctx.nodes->Find(Nid(e.nid))) continue;
    RangeOutcome& o = outcomes[range];
    const std::string node = "its entry for node " + std::to_string(e.nid);
    if (const std::string why = node_doubt(ctx, e, listed); !why.empty()) {
      o.unconfirmed.push_back(node + " could not be confirmed and is left out: " + why);
      continue;
    }
    place(ctx, e);
    ++o.confirmed;
    o.unconfirmed.push_back(node + " names a sub-node block " + hex(e.bid_sub) +
                            " that is not in the file: what the node keeps there (attachments, large values) is lost");
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
  Outcomes outcomes;
  const auto doubtful = take_vouched_blocks(context, ranges, outcomes);
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
  for (const auto& [key, e] : best) {
    context.blocks->Append(e->entry);
    ++outcomes[range_of(ranges, key, true)].from_copies;
  }
  context.blocks->Seal();
  name_doubtful_blocks(context, doubtful, outcomes);
  report_ranges(context.findings, "block index", ranges, outcomes);
  return context.blocks->size() > 0;
}

bool RepairNodeIndex(OstContext& context) {
  auto& ranges = context.findings.lost_nodes;
  if (ranges.empty()) return context.nodes->size() > 0;
  Outcomes outcomes;
  std::unordered_set<std::uint32_t> listed;
  const auto doubtful = take_sound_nodes(context, ranges, outcomes, listed);
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
  for (const auto& [nid, e] : best) {
    context.nodes->Place(e->nid, e->data, e->sub, e->parent, *context.blocks, context.file);
    ++outcomes[range_of(ranges, nid, true)].from_copies;
  }
  name_doubtful_nodes(context, doubtful, outcomes, listed);
  report_ranges(context.findings, "node index", ranges, outcomes);
  // Nodes that stayed lost may still have their data in the file.
  bool lost = false;
  for (const auto& r : ranges) {
    const auto it = outcomes.find(&r);
    lost = lost || (it != outcomes.end() && !it->second.unconfirmed.empty()) ||
           (!r.suspect_only && (it == outcomes.end() || it->second.from_copies + it->second.confirmed == 0));
  }
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
