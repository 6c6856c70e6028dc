#pragma once
// SourceLinks: what the source store says about its own folders, read before the save pass
// writes anything. A mailbox marks its special folders (trash, sent mail, calendar, contacts...)
// by entry id on its store object, its root folder and its Inbox, and its Inbox through the
// receive-folder table; their names are the user's language and prove nothing. The PST gets the
// same links, each turned into the PST's own entry id of the folder made from the source one.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "content/property_block.h"
#include "ndb/ost_context.h"

namespace salvora {

struct SourceLinks {
  // The record key of the source store: an entry id carrying it names an object of the source.
  std::optional<std::array<std::uint8_t, 16>> store_key;
  std::optional<std::string> store_name;  // the store object's display name
  // The store object's links to the folders a mailbox fills (outbox, wastebasket, sent mail,
  // views), by property id, to the source folder's NID. Not the subtree or search root, which
  // are the PST's own.
  std::vector<std::pair<std::uint16_t, Nid>> store_links;
  // The root folder's (else the Inbox's) links to the other special folders, as stored
  // (0x36D0-0x36D9: binary; 0x36E4: multiple binary).
  std::vector<PropertyEntry> folder_links;
  Nid receive_folder;  // the Inbox; null when the table names none
  Nid wastebasket;     // null when the store names none
  // The folders the links name that lie in the mailbox (below the top the walk starts at). A
  // link to a folder outside it (free/busy data, views) names what Outlook keeps for itself.
  std::unordered_set<std::uint32_t> mailbox_folders;

  // The source NID an entry id names when it names an object of this store.
  std::optional<Nid> source_object(Bytes entry_id) const;
};

// Reads the links of the store open in context; top is the folder the walk starts at (null:
// none). Parts that cannot be read are left empty: a damaged store object costs the links,
// never the save.
SourceLinks ReadSourceLinks(const OstContext& context, const NodeRecord* top);

// The root folder's (and Inbox's) links to special folders, which the PST gets once every
// folder is made.
bool is_folder_link_property(std::uint16_t id);

}  // namespace salvora
