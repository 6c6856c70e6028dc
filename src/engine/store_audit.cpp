#include "engine/store_audit.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "content/property_decoder.h"
#include "engine/object_loader.h"
#include "format/byte_reader.h"
#include "format/prop_types.h"
#include "format/table_context.h"
#include "platform/reserved_array.h"

namespace salvora {

namespace {

std::string id_text(Nid nid) { return std::to_string(nid.value); }

// A table's heap: read block by block as the row index needs them when its blocks are sound,
// so that a large folder's strings are never read; whole otherwise, as any reader reads it.
std::optional<HeapOnNode> open_table_heap(const OstContext& ctx, const NodeRecord& node, Findings& findings) {
  const auto entry = FindBlock(ctx, node.data_bid);
  if (entry && CheckNodeData(ctx, *entry)) {
    if (auto list = ValueBlocks(ctx, node.data_bid); list && list->complete) {
      auto bids = std::make_shared<std::vector<Bid>>(std::move(list->blocks));
      return HeapOnNode::OpenLazily(
          bids->size(), [&ctx, bids](std::size_t i) { return ReadBlockDecoded(ctx, (*bids)[i]); }, hid_layout_for(ctx));
    }
  }
  auto blocks = ReadNodeBlocks(ctx, node.data_bid);
  if (!blocks) return std::nullopt;
  return HeapOnNode::Parse(std::move(*blocks), hid_layout_for(ctx), findings);
}

// Looks up the row id of each row of a row matrix in the index as its blocks are read, keeping
// only the ids the index lacks: rows never straddle blocks, and only the first `wanted` rows
// are the table's.
class RowIdSink : public ValueSink {
 public:
  RowIdSink(const OstContext& ctx, const TcInfo& info, const TcColumn& column, std::size_t wanted, std::vector<Nid>& out)
      : ctx_(ctx), info_(info), column_(column), wanted_(wanted), out_(out) {}
  void Deliver(Bytes block) override {
    for_each_row(block, info_.row_size(), wanted_, rows_, [this](Bytes row) { Take(row); });
  }
  void Take(Bytes row) {
    if (!cell_present(row, info_, column_)) return;
    const auto cell = cell_bytes(row, info_, column_);
    if (!cell || cell->size() < 4) return;
    const std::uint32_t id = ByteReader(*cell).u32();
    if (id == 0) return;
    // The lookups reach node records all over the index: their pages are let go of as a walk's.
    if (++looked_up_ % NodeTree::kLookupsBetweenReleases == 0) ctx_.nodes->nodes().ReleaseResidentPages();
    if (!FindNode(ctx_, Nid(id))) out_.push_back(Nid(id));
  }

 private:
  const OstContext& ctx_;
  const TcInfo& info_;
  const TcColumn& column_;
  std::size_t wanted_;
  std::size_t rows_ = 0;
  std::uint32_t looked_up_ = 0;
  std::vector<Nid>& out_;
};

// The NIDs a table lists that are not in the file's index, in row order; empty when the table
// is absent or unreadable (then there is nothing to compare with). Only the row index and the
// row id cell of each row are read, one block at a time, and each id is looked up as it comes:
// a folder of a large mailbox lists hundreds of thousands of messages, and holding its table,
// or even its ids, would cost memory in proportion to it.
std::vector<Nid> rows_missing_from_index(const OstContext& ctx, Nid table) {
  std::vector<Nid> out;
  const NodeRecord* node = FindNode(ctx, table);
  if (!node || !node->data_block || ctx.stopped()) return out;
  try {
    std::vector<SubnodeEntry> subnodes;
    if (!node->sub_bid.is_null()) {
      if (auto list = ReadSubnodes(ctx, node->sub_bid)) subnodes = std::move(*list);
    }
    Findings findings(Tolerance::kSalvage);
    const auto heap = open_table_heap(ctx, *node, findings);
    if (!heap || heap->client_signature() != kClientTableContext) return out;
    const auto info = read_tc_info(*heap, findings);
    if (!info) return out;
    const auto column = std::find_if(info->columns.begin(), info->columns.end(), [](const TcColumn& c) {
      return c.tag == ((std::uint32_t{kPidLtpRowId} << 16) | kPtypInteger32);
    });
    if (column == info->columns.end()) return out;
    // How many rows the row index lists: the matrix may hold more, which are not the table's.
    const auto indexed = read_tc_row_count(*heap, *info, findings);
    if (!indexed || *indexed == 0 || info->hnid_rows == 0) return out;
    RowIdSink sink(ctx, *info, *column, *indexed, out);
    if (hnid_is_heap(info->hnid_rows)) {
      if (const auto bytes = heap->Lookup(Hid(info->hnid_rows))) sink.Deliver(*bytes);
      return out;
    }
    const SubnodeEntry* matrix = FindSubnode(subnodes, Nid(info->hnid_rows));
    const auto entry = matrix ? FindBlock(ctx, matrix->data_bid) : std::nullopt;
    if (!entry || !ReadNodeData(ctx, *entry, sink)) out.clear();
  } catch (const std::exception&) {
    out.clear();  // an unreadable table: nothing to compare with
  }
  return out;
}

void audit_folder(const OstContext& ctx, const NodeRecord& folder, StoreAudit& out) {
  const std::uint32_t index = folder.nid.index();
  for (Nid row : rows_missing_from_index(ctx, Nid::make(kNidTypeContentsTable, index))) {
    out.lost.push_back("folder " + id_text(folder.nid) + ": message " + id_text(row) +
                       " is listed in its contents table but is not in the file's index");
  }
  for (Nid row : rows_missing_from_index(ctx, Nid::make(kNidTypeHierarchyTable, index))) {
    out.lost.push_back("folder " + id_text(folder.nid) + ": subfolder " + id_text(row) +
                       " is listed in its hierarchy table but is not in the file's index");
  }
}

}  // namespace

std::vector<std::string> AuditNodes(const OstContext& context) {
  StoreAudit out;
  if (context.nodes->size() > 0 && !LoadStoreRecord(context)) {
    out.lost.push_back("the message-store object (node 33) could not be read: the store's own settings are lost, "
                       "and its mailbox root was looked for without it");
  }
  std::uint32_t looked_at = 0;
  for (const NodeRecord& node : context.nodes->nodes()) {
    if (context.stopped()) break;
    if (++looked_at % NodeTree::kNodesBetweenReleases == 0) release_file_backed_pages();  // the records read need not stay in memory
    const auto type = node.nid.type();
    if (type != kNidTypeNormalFolder && type != kNidTypeNormalMessage) continue;
    const char* what = type == kNidTypeNormalFolder ? "folder " : "message ";
    if (!node.data_block && !node.data_bid.is_null()) {
      out.lost.push_back(what + id_text(node.nid) + ": its data block is not in the file's index" +
                         (type == kNidTypeNormalFolder ? " (what it held is put under Recovered Items)" : ""));
      continue;
    }
    if (node.data_block && type == kNidTypeNormalFolder) audit_folder(context, node, out);
  }
  return std::move(out.lost);
}

StoreAudit CompleteAudit(const OstContext& context, std::vector<std::string> node_losses) {
  StoreAudit out;
  out.rebuilt = context.findings.rebuilt;
  out.lost = context.findings.lost;
  out.lost.insert(out.lost.end(), std::make_move_iterator(node_losses.begin()),
                  std::make_move_iterator(node_losses.end()));
  return out;
}

StoreAudit AuditStore(const OstContext& context) { return CompleteAudit(context, AuditNodes(context)); }

std::string NothingRecoverableCause(const OstContext& context) {
  const auto& f = context.findings;
  auto first_lost = [&](std::string_view index) {
    for (const auto& line : f.lost) {
      if (line.starts_with(index)) return line.substr(index.size() + 2);
    }
    return std::string("it holds no entries");
  };
  if (context.blocks->size() == 0) return "the block index could not be read or rebuilt: " + first_lost("block index");
  if (context.nodes->size() == 0) return "the node index could not be read or rebuilt: " + first_lost("node index");
  return "the node index holds " + std::to_string(context.nodes->size()) +
         " nodes, but neither the mailbox root nor any folder or message among them";
}

std::unique_ptr<ItemRecord> LoadStoreRecord(const OstContext& context) {
  for (NodeRecord* node : {context.nodes->first_root(), FindNode(context, kNidMessageStore)}) {
    if (!node) continue;
    try {
      auto record = LoadItem(context, node);
      if (record && record->store) return record;
    } catch (const std::exception&) {
      // An unreadable store object: the next candidate, or none.
    }
  }
  return nullptr;
}

}  // namespace salvora
