#pragma once
// The store's folders as the node tree shows them: finding the mailbox root, telling mail
// folders from others, folder paths, and the list of mail folders that items are sorted into.
//
// Paths are UTF-8 texts of components each followed by a backslash, beginning with
// "Personal Folders\" for the mailbox root; the root's own name is never used.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "content/item_record.h"
#include "ndb/ost_context.h"

namespace salvora {

inline constexpr std::string_view kRootFolderPath = "Personal Folders\\";
// The IPM subtree of a store whose message-store object names none.
inline constexpr Nid kDefaultIpmSubtreeNid{0x2142};

// Where the folders and messages go whose parent folder is lost, and the deleted messages found
// on request; created in the analysis, the tree and the PST like any other folder.
inline constexpr std::string_view kRecoveredItemsPath = "Personal Folders\\Recovered Items\\";
inline constexpr std::string_view kRecoveredDeletedPath = "Personal Folders\\Recovered Items\\Deleted\\";

// The mailbox root: the folder the store's IPM subtree entry id names (its NID sits at byte 20
// of the entry id), else node 0x2142. When that node does not exist, the folder named
// "IPM_SUBTREE" below the root folder (0x122), as in today's offline stores. Null when none.
NodeRecord* FindRootFolder(const OstContext& context, const ItemRecord* store_record);

// The mailbox root of a damaged store, whose message-store object may be unreadable: the root
// FindRootFolder gives, else node 0x2142, else the IPM_SUBTREE folder, else the first folder
// below the root folder (0x8022), else the root folder 0x122 itself. Null when the store has
// none of them.
NodeRecord* FindSalvageRoot(const OstContext& context, const ItemRecord* store_record);

// The folders and messages that a walk from root cannot reach because their parent is lost:
// nodes whose parent is in no index, and the children of folders whose data block is missing.
// With no root, every folder and message at the top of the node tree.
std::vector<const NodeRecord*> FindOrphans(const OstContext& context, const NodeRecord* root);

// A node the passes save: a normal folder or a normal message.
bool is_folder_or_message(const NodeRecord& node);

// The well-known mail folders whose mails both passes count apart, in the order both counter
// lists begin with: Inbox, Drafts, Outbox, Sent Items, Sync Issues, Deleted Items, Junk E-mail.
inline constexpr std::size_t kCountedMailFolders = 7;
// Which of them a folder is, or lies below, or empty. Whole names are compared: a folder below
// the Inbox counts as the Inbox, one whose name only begins with "Inbox" does not.
std::optional<std::size_t> counted_mail_folder(std::string_view folder_path);

bool is_folder(const ItemRecord& record);
// A folder of class exactly "IPF.Note", or of mail kind, or one with no class and nothing but
// its counts.
bool is_mail_folder(const ItemRecord& record);

std::string append_path_component(std::string_view path, std::string_view name);
// Cuts the text after its second-to-last backslash; a path of one component stays as it is.
std::string remove_last_path_component(std::string_view path);

// One mail folder and what the analysis sorted into it. The item payload is filled by the
// pass that owns the list.
template <typename Item>
struct FolderEntryOf {
  std::string path;
  Nid folder_nid;
  std::vector<Item> items;
};

template <typename Item>
class FolderListOf {
 public:
  using Entry = FolderEntryOf<Item>;

  Entry& Add(std::string path, Nid nid) {
    entries_.push_back(Entry{std::move(path), nid, {}});
    return entries_.back();
  }
  // The entry for a folder NID; an item whose folder is not a listed mail folder lands in the
  // last entry. Null only while the list is empty.
  Entry* FindFolderEntry(Nid nid) {
    for (auto& e : entries_) {
      if (e.folder_nid == nid) return &e;
    }
    return entries_.empty() ? nullptr : &entries_.back();
  }
  std::vector<Entry>& entries() { return entries_; }
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  std::vector<Entry> entries_;
};

}  // namespace salvora
