#pragma once
// StoreFile: one personal store open in this process, as the store server sees it: the PST
// writer behind it, the folder tree in the order folders were added, and the checkpoints.
//
// The stores of the process are kept by path (open_store_file): adding the same path again
// gives the same store, as Outlook keeps a store in its profile once it is added. They stay
// open until their writer closes them (Close), close_store_files() or the end of the process,
// and are committed at checkpoints (every few seconds or every few thousand messages), whenever
// a server that used them is released, and when they are closed, so a save that is stopped or
// killed leaves a valid file with what was stored before the last checkpoint. Each store counts
// its own messages committed and lost: nothing about one store is kept for the whole process.
//
// Thread-safety: every member locks the store, so a checkpoint and a save on another thread do
// not meet in the writer. The folder tree itself (StoreFolder) is read without the lock: the
// folders of one store are driven from one thread at a time, as the save pass does. Folders are
// owned by the store and live as long as it does.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "pststore/pst/message_spec.h"
#include "pststore/pst/name_map.h"
#include "pststore/pst/pst_writer.h"
#include "pststore/pst/store_writer.h"

namespace salvora::store {

struct ItemState;

// When a store commits by itself: when this many messages were written or this much time went
// by since the last commit, whichever comes first (by default 2000 messages or 5 s).
struct CheckpointRule {
  std::uint32_t messages = 2000;
  std::chrono::milliseconds interval{5000};
};

struct StoreFolder {
  pst::FolderId id = 0;
  std::string name;
  std::string container_class;
  std::string description;
  pst::PropertyList props;  // further properties set on it, as written
  // Hidden items handed out by GetStorage and not yet written, by "type:identifier".
  std::vector<std::pair<std::string, std::weak_ptr<ItemState>>> storage;
  StoreFolder* parent = nullptr;
  std::vector<std::unique_ptr<StoreFolder>> children;  // in the order they were added
};

class StoreFile {
 public:
  // Creates a new store at path: of the form registered for its suffix, else a PST. A new PST
  // fails (CFileException, EEXIST) rather than replace a file that
  // is there, or follow a link at the scratch name. Throws CFileException.
  static std::shared_ptr<StoreFile> Create(const std::string& path);
  // Opens an existing PST at path to add to it, as Outlook adds a store file it finds there.
  // Throws CFileException, or std::runtime_error for a file that is no store it can change.
  static std::shared_ptr<StoreFile> Open(const std::string& path);
  ~StoreFile();
  StoreFile(const StoreFile&) = delete;
  StoreFile& operator=(const StoreFile&) = delete;

  const std::string& path() const { return path_; }
  // The folder that the store's root stands for in the folder tree (the IPM subtree).
  StoreFolder& root() { return *root_; }

  std::string display_name() const;
  void SetDisplayName(const std::string& name);

  // A property of the message store object, or of the root folder for the links Outlook keeps
  // there (the calendar, contacts, journal, notes, tasks, drafts, reminders... folders:
  // 0x36D0-0x36DF and 0x36E4). Empty when the store has none.
  std::optional<pst::Property> StoreProperty(std::uint16_t id) const;
  // Sets one of those. The caller gives this store's own entry ids.
  void SetStoreProperty(pst::Property property);
  // The folder that mail without a more specific rule is received in (the Inbox). Replaces the
  // first-Inbox rule of AddFolder.
  void SetReceiveFolder(StoreFolder& folder);

  // A new folder below parent, appended to its children. The first "Inbox" below the root of
  // a store made here becomes the folder it receives mail in, as an Outlook mailbox's is.
  StoreFolder& AddFolder(StoreFolder& parent, const std::string& name, const std::string& container_class);
  void RenameFolder(StoreFolder& folder, const std::string& name);
  void SetDescription(StoreFolder& folder, const std::string& description);
  // Any further property of a folder (its counts and subfolder flag stay the writer's).
  void SetFolderProperty(StoreFolder& folder, pst::Property property);

  std::uint16_t RegisterName(const pst::PropertyName& name);
  // Writes a message into the folder; commits when a checkpoint is due. Returns its NID.
  std::uint32_t AddMessage(StoreFolder& folder, pst::MessageSpec message);
  // The entry id (as Outlook prints it: upper-case hex) of a folder or message of this store.
  std::string EntryIdOf(std::uint32_t nid) const;

  void Commit();
  // Commits and closes the file; later calls on the store fail.
  void Close();
  bool is_open() const;

  // This store's checkpoint rule (the default one until set).
  void set_checkpoint_rule(const CheckpointRule& rule);
  // Messages this store accepted and then lost, because a commit after them failed (a full
  // disk): the file keeps its earlier checkpoint, without them. Their writers were told they
  // were stored, so whoever counts what is missing adds these.
  std::uint64_t lost_messages() const { return lost_messages_.load(); }
  // Messages that the store's last commit put in the file: what a kill now would leave there.
  std::uint64_t committed_messages() const { return committed_messages_.load(); }
  // The size the file would have if it were committed now: what is on disk and the tables and
  // indexes a commit adds, as far as the memory they take tells (an estimate from above). 0
  // once closed.
  std::uint64_t projected_size() const;

 private:
  StoreFile() = default;
  void CheckpointIfDue();
  // A commit went through: the messages since the one before are in the file for good.
  void NoteCommitted();
  void RequireOpen() const;
  void NoteFailure(const pst::StoreWriter& writer);

  mutable std::mutex mutex_;
  std::string path_;
  std::unique_ptr<pst::StoreWriter> writer_;
  std::array<std::uint8_t, 16> record_key_{};
  std::string display_name_;
  pst::PropertyList store_props_;  // as set here or read from the file; the root folder's links too
  std::unique_ptr<StoreFolder> root_;
  // A new store receives mail in its root until an Inbox is added below it.
  bool receive_in_root_ = false;
  std::uint32_t since_commit_ = 0;  // messages accepted since the last commit
  bool lost_counted_ = false;
  CheckpointRule checkpoint_rule_;
  // Read from other threads (a progress line) without the store's lock.
  std::atomic<std::uint64_t> lost_messages_{0};
  std::atomic<std::uint64_t> committed_messages_{0};
  std::chrono::steady_clock::time_point last_commit_;
  std::chrono::steady_clock::duration last_commit_cost_{};  // how long the last checkpoint took
};

using StoreFilePtr = std::shared_ptr<StoreFile>;

// Whether a checkpoint is due: the rule says so, and the time since the last one is at least
// four times what that one took, when that was more than a tenth of a second. A commit rewrites the tables of the folders written since the
// one before, and those grow with the mailbox: without the second condition a folder of
// hundreds of thousands of messages would spend most of the save rewriting its table again
// and again (the work would grow with the square of its size). With it, checkpoints take at
// most a fifth of the time, and a kill loses at most that much more of the work.
bool checkpoint_due(const CheckpointRule& rule, std::uint32_t messages_since, std::chrono::steady_clock::duration elapsed,
                    std::chrono::steady_clock::duration last_cost);

// A store of another form than a PST, for every path that ends in suffix (".mbox"): the maker
// makes its writer, and decides what it does with a path that is already there (it never
// replaces what it finds). record_key is the store's, which the entry ids it is given carry.
// Registered once, before the first store is added.
using RecordKey = std::array<std::uint8_t, 16>;
using StoreWriterMaker = std::function<std::unique_ptr<pst::StoreWriter>(const std::string& path, const RecordKey& record_key)>;
void register_store_writer(const std::string& suffix, StoreWriterMaker maker);
// The writer of a new store at path: the registered form for its suffix, else a new PST with
// that record key (which fails rather than replace a file that is there). Throws CFileException.
std::unique_ptr<pst::StoreWriter> make_store_writer(const std::string& path, const RecordKey& record_key);

// The store at path: the one already open in this process for that file, the PST found there
// opened to be added to, or a new PST. A file that exists but cannot be opened as a store is
// refused (AutomationError kFailed) and left as it is: nothing is ever overwritten. Moves the
// store to the end of the process's store list.
StoreFilePtr open_store_file(const std::string& path);
// The open stores in the order they were last added.
std::vector<StoreFilePtr> open_store_files();
// Commits and closes every open store and forgets them.
void close_store_files();

}  // namespace salvora::store
