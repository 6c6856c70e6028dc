#include "ndb/index_repair.h"

#include <cinttypes>
#include <cstdio>
#include <map>
#include <unordered_map>

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
  ctx.findings.truncated = true;
  ctx.findings.lost.push_back("the file is cut short: its header gives " + std::to_string(ctx.header.file_eof) +
                              " bytes, " + std::to_string(ctx.file_size) + " are there; what the last " +
                              std::to_string(ctx.header.file_eof - ctx.file_size) + " bytes held is lost");
}

}  // namespace

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
    if (!range_of(ranges, key, e.page_bid != 0) || context.blocks->Find(e.entry.bid)) continue;
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
    context.nodes->Place(e->nid, e->data, e->sub, e->parent, *context.blocks);
    ++added[range_of(ranges, nid, true)];
  }
  report_ranges(context.findings, "node index", ranges, added);
  return context.nodes->size() > 0;
}

std::vector<NodeRecord> FindDeletedMessages(OstContext& context) {
  const IndexScan& scan = EnsureIndexScan(context);
  // Every block the scan found that the index lacks: a deleted message's blocks were freed and
  // left the block index, but their bytes may still be intact where they were.
  std::unordered_map<std::uint64_t, const ScannedBlockEntry*> blocks;
  for (const auto& e : scan.block_entries) {
    const std::uint64_t key = e.entry.bid.key().value;
    if (context.blocks->Find(e.entry.bid)) continue;
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
    r.data_block = FindBlock(context, e->data);
    r.sub_block = FindBlock(context, e->sub);
    out.push_back(r);
  }
  return out;
}

}  // namespace salvora
