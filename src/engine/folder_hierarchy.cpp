#include "engine/folder_hierarchy.h"

#include <exception>

#include "engine/object_loader.h"
#include "format/byte_reader.h"
#include "format/entry_id.h"
#include "ndb/index_repair.h"
#include "platform/reserved_array.h"

namespace salvora {

namespace {

constexpr Nid kFirstFolderNid{0x8022};

// Today's offline stores carry no IPM subtree entry id and have no node 0x2142: their subtree
// is the folder named IPM_SUBTREE among the children of the root folder.
NodeRecord* find_named_subtree(const OstContext& context) {
  NodeRecord* root = FindNode(context, kNidRootFolder);
  if (!root) return nullptr;
  for (NodeRecord* child = root->first_child(); child; child = child->next_sibling()) {
    const auto type = child->nid.type();
    if (type != kNidTypeNormalFolder) continue;
    auto record = LoadItem(context, child);
    if (record && record->display_name && *record->display_name == "IPM_SUBTREE") return child;
  }
  return nullptr;
}

}  // namespace

NodeRecord* FindRootFolder(const OstContext& context, const ItemRecord* store_record) {
  if (!store_record || !store_record->store) return nullptr;
  Nid nid = kDefaultIpmSubtreeNid;
  if (const auto& eid = store_record->store->ipm_subtree_entry_id) {
    if (const auto id = EntryId::Parse(*eid)) nid = id->nid;
  }
  if (NodeRecord* node = FindNode(context, nid)) return node;
  return find_named_subtree(context);
}

NodeRecord* FindSalvageRoot(const OstContext& context, const ItemRecord* store_record) {
  if (NodeRecord* root = FindRootFolder(context, store_record)) return root;
  if (NodeRecord* subtree = FindNode(context, kDefaultIpmSubtreeNid)) return subtree;
  if (NodeRecord* named = find_named_subtree(context)) return named;
  // Personal stores name their subtree in the user's language, but their writers make it the
  // first folder below the root folder: node 0x8022.
  NodeRecord* first = FindNode(context, kFirstFolderNid);
  if (first && first->parent() && first->parent()->nid == kNidRootFolder) return first;
  return FindNode(context, kNidRootFolder);
}

bool is_folder_or_message(const NodeRecord& node) {
  const auto type = node.nid.type();
  return type == kNidTypeNormalFolder || type == kNidTypeNormalMessage;
}

namespace {

// An object found by its data alone is taken only when it reads as a message: its lost entry
// may as well have been a folder's, an attachment's or the store's own.
bool is_loose_message(const OstContext& context, const NodeRecord& node) {
  try {
    auto record = LoadItem(context, &node, AttachmentLoad::kListing);
    return record && record->message && record->item_class && record->item_class->starts_with("IPM") &&
           !record->folder_counts;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::vector<const NodeRecord*> FindOrphans(const OstContext& context, const NodeRecord* root) {
  std::vector<const NodeRecord*> out;
  for (const NodeRecord* n : context.nodes->detached()) {
    if (!is_folder_or_message(*n)) continue;
    if (n->parent_nid == kLooseObjectParent && !is_loose_message(context, *n)) continue;
    out.push_back(n);
  }
  if (!root) {
    for (const NodeRecord* n = context.nodes->first_root(); n; n = n->next_sibling()) {
      if (is_folder_or_message(*n)) out.push_back(n);
    }
    return out;
  }
  // A folder without its data block is passed over by the walk, and its children with it.
  std::uint32_t looked_at = 0;
  for (const NodeRecord* n = root->first_child(); n && n != root;) {
    if (++looked_at % NodeTree::kNodesBetweenReleases == 0) release_file_backed_pages();  // the records read need not stay in memory
    const bool lost_folder = n->nid.type() == kNidTypeNormalFolder && !n->data_block;
    if (lost_folder) {
      for (const NodeRecord* c = n->first_child(); c; c = c->next_sibling()) {
        if (is_folder_or_message(*c)) out.push_back(c);
      }
    }
    if (n->first_child() && !lost_folder) {
      n = n->first_child();
      continue;
    }
    while (n != root && !n->next_sibling()) n = n->parent();
    if (n != root) n = n->next_sibling();
  }
  return out;
}

std::optional<std::size_t> counted_mail_folder(std::string_view folder_path) {
  static constexpr std::string_view kPrefixes[kCountedMailFolders] = {
      "Personal Folders\\Inbox",        "Personal Folders\\Drafts",        "Personal Folders\\Outbox",
      "Personal Folders\\Sent Items",   "Personal Folders\\Sync Issues",   "Personal Folders\\Deleted Items",
      "Personal Folders\\Junk E-mail",
  };
  for (std::size_t i = 0; i < kCountedMailFolders; ++i) {
    if (folder_path.starts_with(kPrefixes[i]) && folder_path.size() > kPrefixes[i].size() &&
        folder_path[kPrefixes[i].size()] == '\\') {
      return i;
    }
  }
  return std::nullopt;
}

bool is_folder(const ItemRecord& record) { return record.folder_counts.has_value(); }

bool is_mail_folder(const ItemRecord& record) {
  if (!is_folder(record)) return false;
  if (record.item_class && *record.item_class == "IPF.Note") return true;
  if (record.kind == ItemKind::kMail) return true;
  const bool other_records = record.message || record.contact || record.store || record.journal ||
                             record.appointment || !record.attachments.empty();
  return !record.item_class && !other_records;
}

std::string append_path_component(std::string_view path, std::string_view name) {
  std::string out(path);
  out += name;
  out += '\\';
  return out;
}

std::string remove_last_path_component(std::string_view path) {
  if (path.size() < 2) return std::string(path);
  const auto second_last = path.rfind('\\', path.size() - 2);
  if (second_last == std::string_view::npos) return std::string(path);
  return std::string(path.substr(0, second_last + 1));
}

}  // namespace salvora
