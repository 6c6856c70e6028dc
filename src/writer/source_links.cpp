#include "writer/source_links.h"

#include <algorithm>

#include "engine/object_reader.h"
#include "format/entry_id.h"
#include "format/multi_value.h"
#include "format/prop_types.h"

namespace salvora {

namespace {

// The store object's links to folders that the mailbox, not the store's making, decides.
constexpr std::uint16_t kStoreLinkIds[] = {
    0x35E2,  // outbox
    0x35E3,  // wastebasket (deleted items)
    0x35E4,  // sent mail
};
// (The views folders, 0x35E5 and 0x35E6, lie outside the mailbox's folders: the PST keeps its
// own, as Outlook makes them.)

std::optional<LoadedObject> read_node(const OstContext& context, Nid nid) {
  const NodeRecord* node = FindNode(context, nid);
  if (!node) return std::nullopt;
  try {
    return ReadObject(context, *node);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

const PropertyEntry* find_entry(const std::vector<PropertyEntry>& entries, std::uint16_t id) {
  for (const auto& e : entries)
    if (e.raw_id == id && e.value) return &e;
  return nullptr;
}

std::vector<PropertyEntry> folder_links_of(const std::vector<PropertyEntry>& entries) {
  std::vector<PropertyEntry> out;
  for (const auto& e : entries)
    if (is_folder_link_property(e.raw_id) && e.value) out.push_back(e);
  return out;
}

}  // namespace

// 0x36DA and above (extended folder flags and the like) are no links and are copied as they are.
bool is_folder_link_property(std::uint16_t id) { return (id >= 0x36D0 && id <= 0x36D9) || id == 0x36E4; }

std::optional<Nid> SourceLinks::source_object(Bytes entry_id) const {
  if (!store_key || entry_id.size() != EntryId::kSize) return std::nullopt;
  const auto id = EntryId::Parse(entry_id);
  if (!id || id->record_key != *store_key) return std::nullopt;
  return id->nid;
}

SourceLinks ReadSourceLinks(const OstContext& context, const NodeRecord* top) {
  SourceLinks links;
  if (auto store = read_node(context, kNidMessageStore); store && !store->properties.blocks.empty()) {
    const auto& entries = store->properties.blocks.front().entries;
    const std::uint32_t codepage = object_codepage(store->properties.blocks, context.default_codepage);
    if (const PropertyEntry* key = find_entry(entries, kPidRecordKey); key && key->value->size() == 16) {
      links.store_key.emplace();
      std::copy(key->value->begin(), key->value->end(), links.store_key->begin());
    }
    if (const PropertyEntry* name = find_entry(entries, kPidDisplayName)) {
      std::string text = value_text(*name, codepage, context.is_ansi(), true);
      if (!text.empty()) links.store_name = std::move(text);
    }
    for (std::uint16_t id : kStoreLinkIds) {
      const PropertyEntry* e = find_entry(entries, id);
      if (!e) continue;
      if (const auto nid = links.source_object(*e->value)) {
        links.store_links.emplace_back(id, *nid);
        if (id == kPidIpmWastebasketEntryId) links.wastebasket = *nid;
      }
    }
  }
  if (auto table = read_node(context, kNidReceiveFolderTable); table && table->properties.table) {
    // The row of the default class "" names the Inbox; a mailbox without one has no Inbox by
    // identity, and none is made up here.
    for (const auto& row : table->properties.blocks) {
      const PropertyEntry* cls = row.find(kPidMessageClass);
      const PropertyEntry* folder = row.find(kPidReceiveFolderNid);
      if (!folder || (cls && cls->value && !value_text(*cls, 1252, context.is_ansi(), true).empty())) continue;
      if (const auto nid = value_i32(*folder); nid && *nid != 0) links.receive_folder = Nid(static_cast<std::uint32_t>(*nid));
      break;
    }
  }
  if (auto root = read_node(context, kNidRootFolder); root && !root->properties.blocks.empty())
    links.folder_links = folder_links_of(root->properties.blocks.front().entries);
  // Some writers keep the links on the Inbox only.
  if (links.folder_links.empty() && !links.receive_folder.is_null()) {
    if (auto inbox = read_node(context, links.receive_folder); inbox && !inbox->properties.blocks.empty())
      links.folder_links = folder_links_of(inbox->properties.blocks.front().entries);
  }
  const auto note_place = [&](Nid nid) {
    int depth = 0;
    for (const NodeRecord* n = FindNode(context, nid); n && top && depth < 256; n = n->parent(), ++depth) {
      if (n == top) {
        links.mailbox_folders.insert(nid.value);
        return;
      }
      if (n->parent() == n) return;
    }
  };
  for (const auto& [id, nid] : links.store_links) note_place(nid);
  for (const auto& e : links.folder_links) {
    if (e.type == kPtypBinary) {
      if (auto nid = links.source_object(*e.value)) note_place(*nid);
    } else if (const auto items = parse_variable_multi(*e.value)) {
      for (Bytes item : *items)
        if (auto nid = links.source_object(item)) note_place(*nid);
    }
  }
  return links;
}

}  // namespace salvora
