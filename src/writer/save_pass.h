#pragma once
// The save pass: reads the source once more with a context of its own, opens the target store,
// and walks the whole node tree writing every folder chosen and every item of a kind it knows
// into the folder that stands for the item's path. It never touches widgets: what the status
// dialog shows is published in SaveProgress, and messages for the user go to an observer.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/folder_walk.h"
#include "platform/pass_control.h"
#include "writer/recovery_report.h"
#include "writer/save_to_pst.h"

namespace salvora {

inline constexpr std::string_view kMsgCannotReadOst = "Can Not Read OST File";
inline constexpr std::string_view kMsgFileAnalysisFailed = "File Analysis Failed";
inline constexpr std::string_view kMsgRootFolderNotFound = "Root Folder Not Found";
inline constexpr std::string_view kMsgSavingNotComplete = "Saving Process not Complete";

enum class SaveCounter : int {
  kInbox, kDrafts, kOutbox, kSentItems, kSyncIssues, kDeletedItems, kJunkEmail,
  kMails, kCalendar, kContacts, kTasks, kJournal, kNotes, kCount
};

// "inbox", "mails", "calendar", ... for the command line.
const char* save_counter_key(SaveCounter counter);

// The values the save worker publishes and the status display reads. Written by the worker
// only; safe to read from any thread at any time.
class SaveProgress {
 public:
  std::atomic<std::int64_t> items_to_save{0};
  std::atomic<std::int64_t> items_saved{0};
  std::atomic<bool> close_request{false};
  std::array<std::atomic<int>, static_cast<std::size_t>(SaveCounter::kCount)> counters{};
  // Deleted messages found and saved on request.
  std::atomic<int> deleted_recovered{0};
  // Of the PSTs written: the messages their commits put in the file (what a kill now would
  // leave), and those accepted and then lost to a commit that failed (a full disk), which the
  // items written do not show. Final once the pass has returned.
  std::atomic<std::uint64_t> items_committed{0};
  std::atomic<std::uint64_t> items_lost{0};

  int counter(SaveCounter c) const { return counters[static_cast<std::size_t>(c)].load(); }
  // The nodes the walk visits in all, which items_saved counts up to (items_to_save is the
  // shorter progress total the wizard's bar has always had).
  std::int64_t objects_to_visit() const { return items_to_save.load() + kWalkProgressShortfall; }
  std::string folder_name() const;
  std::string count_text() const;
  // The path of the store written, once it is open: the first one of a split.
  std::string store_path() const;
  // Every PST written, the first one first (more than one when split at a size limit).
  std::vector<std::string> store_paths() const;
  // Items the store refused (their Save or Move failed), and the first reason given.
  int store_errors() const;
  std::string first_store_error() const;

  void set_folder_name(std::string text);
  void set_count_text(std::string text);
  void set_store_path(std::string text);
  void add_store_path(std::string path);
  void set_store_errors(int count, std::string last);
  // Source objects that could not be read (a folder, with what it held, or an item): one line
  // each for the user, the first kMaxUnreadableLines kept, all counted.
  static constexpr std::size_t kMaxUnreadableLines = 1000;
  void add_unreadable(std::string line);
  int unreadable_count() const;
  std::vector<std::string> unreadable() const;
  // Damage in the source that was made good from other copies in it: told, but nothing is
  // missing for it.
  void add_rebuilt(std::string line);
  std::vector<std::string> rebuilt() const;
  // What the source keeps outside the mailbox's folders that the PST does not hold (search
  // folders, shortcuts, views): told, but none of the user's items is missing for it.
  void add_left_behind(std::string line);
  std::vector<std::string> left_behind() const;
  // Properties of written objects that did not reach the PST: one line each, as above.
  void add_dropped_property(std::string line);
  int dropped_property_count() const;
  std::vector<std::string> dropped_properties() const;
  // Every loss line, unreadable objects and dropped properties alike, in the order met, one
  // per line: the report kept beside the PST, which names what the lists above only count.
  std::string loss_report() const;
  // Folder by folder, what the pass wrote and lost: the recovery report's matter. Every line
  // added above reaches it too.
  RecoveryLedger& ledger() { return ledger_; }
  const RecoveryLedger& ledger() const { return ledger_; }

 private:
  mutable std::mutex mutex_;
  std::string folder_name_;
  std::string count_text_;
  std::string store_path_;
  std::vector<std::string> store_paths_;
  int store_errors_ = 0;
  std::string first_store_error_;
  int unreadable_count_ = 0;
  std::vector<std::string> unreadable_;
  std::vector<std::string> rebuilt_;
  std::vector<std::string> left_behind_;
  int dropped_count_ = 0;
  std::vector<std::string> dropped_;
  std::string report_;
  RecoveryLedger ledger_;
};

class SaveObserver {
 public:
  virtual ~SaveObserver() = default;
  // A message for the user (the texts above and the writer's).
  virtual void Message(std::string_view /*text*/) {}
  // The pass reached its end: the completion dialog's moment.
  virtual void Completed() {}
};

struct SaveOptions {
  std::string source_path;
  std::uint32_t default_codepage = 1252;
  // The folders chosen, as paths with their trailing backslash ("Personal Folders\Inbox\").
  std::vector<std::string> selected_folders;
  // Every folder is chosen, as when the top of the tree is checked.
  bool select_all = false;
  // The chosen destination; empty: the output folder.
  std::string destination;
  // The source's folder followed by "Repair/"; derived from the source path when empty.
  std::string output_folder;
  bool write_log = true;
  // Also look for deleted messages still in the file, into "Recovered Items\Deleted".
  bool recover_deleted = false;
  // Split the PST before an item that would take it past this many bytes: the next one is
  // named as the first with " (2)", " (3)"... added. 0: one PST, whatever its size.
  std::uint64_t max_store_size = 0;
  // 2: the source is read on a second thread while the PST is written; 1: one thread. The PST
  // is the same.
  int threads = 2;
  WriterOptions writer;  // its stop flag and message are the pass's own
};

enum class SaveStatus {
  kCompleted,          // the walk ran to its end, or an error ended it after the store was open
  kStopped,            // the stop flag ended the pass; what was written stays in the store
  kCannotReadSource,   // the source could not be opened
  kCannotReadIndexes,  // the indexes or the named-property map could not be read
  kAnalysisFailed,     // nothing to recover: no message-store object, root or orphan
  kRootNotFound,       // nothing to recover: a message-store object, but no root or orphan
  kTargetUnavailable,  // the store server is not usable
  kTargetFailed,       // the store could not be added, not even under the fixed name
  kIncomplete,         // an error escaped the mail writer
};

struct SaveOutcome {
  SaveOutcome(SaveStatus s = SaveStatus::kCompleted, std::string e = {}) : status(s), error(std::move(e)) {}
  SaveStatus status = SaveStatus::kCompleted;
  std::string error;  // what went wrong (the cause, for the user)
  // The PST could not be completed when the pass closed it (its last commit failed): it keeps
  // its last checkpoint. Empty when it was closed whole, or never opened.
  std::string close_error;
};

// The output folder for a source: its folder followed by "Repair/".
std::string output_folder_for(const std::string& source_path);

// Runs the pass on the calling thread. The pass owns the stores it writes: each is committed
// and closed before the pass returns, whatever its status.
SaveOutcome RunSavePass(const SaveOptions& options, PassControl& control, SaveObserver& observer,
                        SaveProgress& progress);

}  // namespace salvora
