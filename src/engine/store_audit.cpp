#include "engine/store_audit.h"

#include <algorithm>
#include <exception>

#include "content/property_decoder.h"
#include "engine/object_loader.h"
#include "format/byte_reader.h"
#include "format/prop_types.h"
#include "format/table_context.h"

namespace salvora {

namespace {

std::string id_text(Nid nid) { return std::to_string(nid.value); }

// The NIDs a table lists, one per row; empty when the table is absent or unreadable (then
// there is nothing to compare with). Only the row id cell of each row is read: a folder of a
// large mailbox lists hundreds of thousands of messages, and decoding every column of every
// row would cost far more memory than the rows themselves.
std::vector<Nid> table_rows(const OstContext& ctx, Nid table) {
  std::vector<Nid> out;
  const NodeRecord* node = FindNode(ctx, table);
  if (!node || !node->data_block || ctx.stopped()) return out;
  try {
    std::vector<SubnodeEntry> subnodes;
    if (!node->sub_bid.is_null()) {
      if (auto list = ReadSubnodes(ctx, node->sub_bid)) subnodes = std::move(*list);
    }
    auto blocks = ReadNodeBlocks(ctx, node->data_bid);
    if (!blocks) return out;
    Findings findings(Tolerance::kSalvage);
    auto heap = HeapOnNode::Parse(std::move(*blocks), hid_layout_for(ctx), findings);
    if (!heap || heap->client_signature() != kClientTableContext) return out;
    const auto info = read_tc_info(*heap, findings);
    if (!info) return out;
    const auto column = std::find_if(info->columns.begin(), info->columns.end(), [](const TcColumn& c) {
      return c.tag == ((std::uint32_t{kPidLtpRowId} << 16) | kPtypInteger32);
    });
    if (column == info->columns.end()) return out;
    OstSubnodes source(ctx, subnodes);
    const auto matrix = read_tc_rows(
        *heap, *info, [&source](Nid nid) { return source.Blocks(nid); }, findings);
    if (!matrix) return out;
    out.reserve(matrix->rows.size());
    for (Bytes row : matrix->rows) {
      if (!cell_present(row, *info, *column)) continue;
      const auto cell = cell_bytes(row, *info, *column);
      if (!cell || cell->size() < 4) continue;
      const std::uint32_t id = ByteReader(*cell).u32();
      if (id != 0) out.push_back(Nid(id));
    }
  } catch (const std::exception&) {
    out.clear();  // an unreadable table: nothing to compare with
  }
  return out;
}

void audit_folder(const OstContext& ctx, const NodeRecord& folder, StoreAudit& out) {
  const std::uint32_t index = folder.nid.index();
  for (Nid row : table_rows(ctx, Nid::make(kNidTypeContentsTable, index))) {
    if (!FindNode(ctx, row)) {
      out.lost.push_back("folder " + id_text(folder.nid) + ": message " + id_text(row) +
                         " is listed in its contents table but is not in the file's index");
    }
  }
  for (Nid row : table_rows(ctx, Nid::make(kNidTypeHierarchyTable, index))) {
    if (!FindNode(ctx, row)) {
      out.lost.push_back("folder " + id_text(folder.nid) + ": subfolder " + id_text(row) +
                         " is listed in its hierarchy table but is not in the file's index");
    }
  }
}

}  // namespace

std::vector<std::string> AuditNodes(const OstContext& context) {
  StoreAudit out;
  if (context.nodes->size() > 0 && !LoadStoreRecord(context)) {
    out.lost.push_back("the message-store object (node 33) could not be read: the store's own settings are lost, "
                       "and its mailbox root was looked for without it");
  }
  for (const NodeRecord& node : context.nodes->nodes()) {
    if (context.stopped()) break;
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
