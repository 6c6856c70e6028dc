#pragma once
// What the analysis pass leaves behind for the screens: the store's indexes (to read an item
// again for its preview), the folders found, and per kind the short summaries the item lists
// show. Bodies, HTML and attachment data are not kept; they are read again by NID.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "content/item_record.h"
#include "engine/folder_hierarchy.h"
#include "ndb/ost_context.h"

namespace salvora {

// Everything needed to open the same file again without walking its B-trees: the header
// values and the indexes of the pass that read it.
struct StoreInfo {
  std::string path;
  StoreHeader header;
  PageGeometry geometry;
  std::uint64_t file_size = 0;
  std::uint8_t bbt_leaf_depth = 0xFF;
  std::uint8_t nbt_leaf_depth = 0xFF;
  std::uint32_t default_codepage = 1252;
  std::shared_ptr<BlockIndex> blocks;
  std::shared_ptr<NodeTree> nodes;
  std::shared_ptr<const NamedPropertyMap> named_properties;
};

// A read-only context on the analysed file that reuses the kept indexes. 0, or -1 when the file
// cannot be opened again.
int OpenFromStoreInfo(OstContext& context, const StoreInfo& info);

struct MailSummary {
  Nid nid;
  Nid folder_nid;  // the folder node the item lives in
  std::optional<std::string> sender_name;
  std::optional<std::string> subject;
  std::optional<std::string> display_to;
  std::optional<std::uint64_t> delivery_time;

  bool operator==(const MailSummary&) const = default;
};

struct NoteSummary {
  Nid nid;
  Nid folder_nid;  // the folder node the item lives in
  std::optional<std::string> subject;
  std::optional<std::string> text;  // the start of text A, enough for the list's column
  std::optional<std::uint64_t> delivery_time;

  bool operator==(const NoteSummary&) const = default;
};

struct JournalSummary {
  Nid nid;
  Nid folder_nid;  // the folder node the item lives in
  std::optional<std::string> entry_type;
  std::optional<std::string> subject;
  std::optional<std::uint64_t> delivery_time;

  bool operator==(const JournalSummary&) const = default;
};

struct CalendarSummary {
  Nid nid;
  Nid folder_nid;  // the folder node the item lives in
  std::optional<std::string> location;
  std::optional<std::string> subject;
  std::optional<std::uint64_t> delivery_time;
  std::optional<std::uint64_t> start;

  bool operator==(const CalendarSummary&) const = default;
};

struct ContactSummary {
  Nid nid;
  Nid folder_nid;  // the folder node the item lives in
  std::optional<std::string> display_name;
  ContactFields fields;

  bool operator==(const ContactSummary&) const = default;
};

enum class AnalysisCounter : int {
  kInbox, kDrafts, kOutbox, kSentItems, kSyncIssues, kDeletedItems, kJunkEmail,
  kContacts, kTasks, kNotes, kJournal, kCalendar, kCount
};

// The key of a counter in the command line's JSON: "inbox", "sent_items", ...
const char* counter_key(AnalysisCounter counter);

struct FolderFound {
  std::string path;
  std::string container_class;
  Nid nid;
  bool mail_folder = false;

  bool operator==(const FolderFound&) const = default;
};

using FolderEntry = FolderEntryOf<MailSummary>;
using FolderList = FolderListOf<MailSummary>;

// Written by the pass on its worker thread. The lists below may be read while the pass runs, by
// a reader that holds lists_mutex: the pass appends to them only under it. The counters and
// the store information are for after the pass.
struct AnalysisResult {
  mutable std::mutex lists_mutex;
  StoreInfo store;
  std::vector<FolderFound> folders;  // in walk order, as inserted into the tree
  FolderList mail_folders;           // the root first, then every mail folder
  std::vector<MailSummary> tasks;
  std::vector<NoteSummary> notes;
  std::vector<JournalSummary> journal;
  std::vector<CalendarSummary> calendar;
  std::vector<ContactSummary> contacts;
  std::array<int, static_cast<std::size_t>(AnalysisCounter::kCount)> counters{};
  std::uint64_t nodes_decoded = 0;
  // Mail items by the folder node they live in (NID 0: put straight into Recovered Items),
  // counted whether the lists are kept or not.
  std::map<std::uint32_t, std::size_t> mail_items_by_folder;
  std::string calendar_folder_path;
  std::string current_folder_class;
  // What the pass found damaged: made good from other copies in the file ("rebuilt"), and lost
  // (objects that could not be read or were read from damaged blocks, table rows without their
  // object, index pages nothing could replace), one line each.
  std::vector<std::string> rebuilt;
  std::vector<std::string> lost;
  // What the user should know of the code page an ANSI store's 8-bit text was read in; empty
  // when there is nothing to say.
  std::string codepage_note;
  // Why a pass that found nothing to recover failed, for the user.
  std::string failure_cause;

  int counter(AnalysisCounter c) const { return counters[static_cast<std::size_t>(c)]; }
};

}  // namespace salvora
