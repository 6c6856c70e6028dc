#include "writer/save_pass.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <utility>

#include "engine/embedded_loader.h"
#include "engine/folder_hierarchy.h"
#include "engine/folder_walk.h"
#include "engine/item_prefetch.h"
#include "engine/named_map_loader.h"
#include "engine/object_loader.h"
#include "engine/store_audit.h"
#include "ndb/index_repair.h"
#include "engine/source_object.h"
#include "format/byte_reader.h"
#include "platform/activity_log.h"
#include "writer/outside_mailbox.h"
#include "writer/property_copy.h"
#include "writer/source_stream.h"

namespace salvora {

namespace {

constexpr std::string_view kContactsPath = "Personal Folders\\Contacts\\";
constexpr std::size_t kLogTextChars = 99;
constexpr std::uint16_t kSentMailLink = 0x35E4;  // the store's PR_IPM_SENTMAIL_ENTRYID
// Items read ahead of the writing: enough to keep the second thread busy while an item with
// large attachments is written, few enough that memory stays small.
constexpr std::size_t kPrefetchWindow = 8;
// Attachment data is read ahead with its message up to this much an item, and while the items
// waiting hold less than kPrefetchBytes, so that the writing thread only writes it; larger data
// is read by the writing thread as it writes, a block at a time.
constexpr std::uint64_t kReadAheadPerItem = std::uint64_t{8} << 20;
constexpr std::size_t kPrefetchBytes = std::size_t{16} << 20;

// The item, with as much of its attachments' data as kReadAheadPerItem allows read ahead.
std::unique_ptr<ItemRecord> load_for_saving(const OstContext& ctx, const NodeRecord& node, SourceObject& source) {
  auto record = LoadItem(ctx, &node, AttachmentLoad::kObjects, &source, BodyLoad::kAsStored);
  if (!record) return record;
  std::uint64_t left = kReadAheadPerItem;
  source.attachment_data.resize(record->attachments.size());
  for (std::size_t i = 0; i < record->attachments.size() && left > 0 && !ctx.stopped(); ++i) {
    const AttachmentNode& a = record->attachments[i];
    if (a.data || a.data_bid.is_null() || a.object_unreadable || is_embedded_message(a)) continue;
    auto value = SourceValueStream::ReadAhead(ctx, a.data_bid, left);
    if (!value) continue;
    left -= value->bytes.size();
    source.attachment_data[i] = std::move(value);
  }
  return record;
}

static_assert(static_cast<std::size_t>(SaveCounter::kJunkEmail) + 1 == kCountedMailFolders,
              "the counted mail folders begin the counters");

// An error that ends the walk; the completion still follows.
struct WalkEnded {};
// An error that escaped the mail writer: the pass ends without its completion.
struct SavingIncomplete {
  std::string what;
};

// Whole characters only, so a cut never splits one.
std::string cut_chars(std::string_view text, std::size_t chars) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && n++ == chars) return std::string(text.substr(0, i));
  }
  return std::string(text);
}

// What an item is likely to take in the PST: the larger of the size the source gives it and the
// bytes of its properties, recipients and attachments (whose data the row's size tells), a tenth
// more, and a little for its node, table rows and index entries. An estimate from above: a
// split PST stays below its limit.
std::uint64_t estimated_pst_bytes(const SourceObject* source) {
  constexpr std::uint64_t kItemOverhead = 4096;
  if (!source) return kItemOverhead;
  const auto sum = [](const std::vector<PropertyEntry>& entries, std::uint16_t size_id) {
    std::uint64_t bytes = 0, stated = 0;
    for (const auto& e : entries) {
      bytes += e.size();
      if (e.raw_id == size_id && e.value) stated = load_u32(Bytes(*e.value), 0);
    }
    return std::max(bytes, stated);
  };
  std::uint64_t bytes = sum(source->properties, kPidMessageSize);
  for (const auto& r : source->recipients) bytes += sum(r, 0);
  for (const auto& a : source->attachments) bytes += sum(a, kPidAttachSize);
  return bytes + bytes / 10 + kItemOverhead;
}

// The messages the index lists in a folder, readable or not.
std::int64_t messages_in(const NodeRecord& folder) {
  std::int64_t n = 0;
  for (const NodeRecord* c = folder.first_child(); c; c = c->next_sibling()) n += c->nid.type() == kNidTypeNormalMessage;
  return n;
}

bool is_empty_record(const ItemRecord& r) {
  return !r.message && !r.folder_counts && !r.contact && !r.store && !r.journal && !r.appointment &&
         r.attachments.empty() && r.kind == ItemKind::kNone && !r.item_class;
}

// What every PST of the pass begins with. The walk starts below the top: the top is the
// store's root, named as the source names it. Messages anywhere (the Outbox, the Drafts) name
// the folder their copy goes to once sent: that folder is made first, where the walk will find
// it, so their link can name it.
void make_first_folders(USave_to_PST_Format& writer, const OstContext& ctx, const NodeRecord* root,
                        const SaveOptions& options) {
  if (!root) return;
  try {
    const auto top = ReadSourceObject(ctx, root->data_bid, root->sub_bid);
    writer.NoteFolder(root->nid, writer.GetOrCreateFolder(nullptr, kRootFolderPath, ItemRecord{}),
                      top ? &*top : nullptr, &ctx);
  } catch (const std::exception&) {
    // The top keeps the PST's own name.
  }
  if (!options.select_all) return;
  for (const auto& [id, nid] : writer.source_links().store_links) {
    if (id != kSentMailLink) continue;
    const NodeRecord* sent = FindNode(ctx, nid);
    if (!sent || sent->parent() != root) continue;
    try {
      const auto record = LoadItem(ctx, sent);
      if (!record || !record->display_name || record->display_name->empty()) continue;
      const std::string path = append_path_component(kRootFolderPath, *record->display_name);
      writer.PrepareFolder(nid, path);
      writer.NoteFolder(nid, writer.GetOrCreateFolder(nullptr, path, *record));
    } catch (const std::exception&) {
      // The walk makes it in its turn; links made before that are dropped and named.
    }
  }
}

class SaveWalk : public RecoveringVisitor {
 public:
  SaveWalk(const SaveOptions& options, OstContext& ctx, SaveProgress& progress, USave_to_PST_Format& writer,
           const NodeRecord* root)
      : options_(options),
        ctx_(ctx),
        progress_(progress),
        writer_(writer),
        root_(root),
        path_(kRootFolderPath),
        // The bodies stay as stored: the copy writes the source's own as they are, and the
        // writers take a body from the record only when the source brings none.
        prefetch_([&ctx](const NodeRecord& node, SourceObject& source) { return load_for_saving(ctx, node, source); },
                  options.threads > 1 ? kPrefetchWindow : 0, ItemPrefetcher::Sharing::kWorkerLoadsAll, kPrefetchBytes) {
    if (root && !root->nid.is_null()) folders_.Add(std::string(kRootFolderPath), root->nid);
  }

  void EnterRecovered() override {
    if (ended_) return;
    path_ = std::string(kRecoveredItemsPath);
    last_mail_path_.clear();
  }
  std::vector<const NodeRecord*> TakeLostFolders() override { return std::exchange(lost_folders_, {}); }

  // Deleted messages found on request go to their own folder; whatever among them is no
  // readable message is passed over without a word (it was never the user's item to lose).
  void SaveDeleted(const std::vector<NodeRecord>& nodes, PassControl& control) {
    if (ended_ || nodes.empty()) return;
    deleted_ = true;
    path_ = std::string(kRecoveredDeletedPath);
    last_mail_path_.clear();
    for (const NodeRecord& node : nodes) {
      if (control.Poll() || ended_) break;
      Visit(node);
    }
    deleted_ = false;
  }
  int deleted_saved() const { return deleted_saved_; }

  bool Visit(const NodeRecord& node) override {
    if (ended_) return CountUnwritten(node);
    // A folder's associated messages are its hidden settings (views, rules, forms): they go
    // with the folder as hidden items, never among the user's mail.
    if (node.nid.type() == kNidTypeAssocMessage) {
      progress_.items_saved.store(++nodes_);
      SaveAssociated(node);
      return false;
    }
    // Damage met on this thread while the object is written, or on the prefetcher's while it was read.
    const std::uint64_t damaged_before = damaged_blocks_read_here();
    try {
      const bool readable = VisitObject(node);
      if (readable && !deleted_ && (damaged_blocks_read_here() != damaged_before || loaded_damaged_ != 0))
        ReportDamaged(node);
    } catch (const WalkEnded&) {
      // Nothing more is written; what the rest of the walk holds is counted as not written.
      ended_ = true;
      return false;
    }
    return descend_;
  }

  void Leave() override {
    prefetch_.Leave();
    if (!tallies_.empty()) {
      // A folder's lines are written when it is left, with the items it held itself: written
      // on entry they could only carry the count of the folder before it.
      const FolderTally t = std::move(tallies_.back());
      tallies_.pop_back();
      if (t.logged) {
        write_log_line(LogSelector::kActivity, "\r\n");
        write_log_line(LogSelector::kActivity, cut_chars("Folder Name : " + t.path, kLogTextChars));
        write_log_line(LogSelector::kActivity, cut_chars("No of E-mail : " + std::to_string(t.items), kLogTextChars));
      }
    }
    if (!ended_) path_ = remove_last_path_component(path_);
  }

  // Items the store refused, or never got because an error ended the writing, and the first
  // reason: beside the writer's own count of the mails it could not store.
  int not_written() const { return not_written_; }
  const std::string& first_not_written_reason() const { return first_reason_; }

 private:
  // Loads and saves one node; false when it yielded nothing. Sets descend_ for a folder to enter.
  bool VisitObject(const NodeRecord& node) {
    descend_ = false;
    std::unique_ptr<ItemRecord> record;
    // One reading gives both the record the writers go by and every property for the copy.
    LoadedItem loaded = prefetch_.Take(node);
    loaded_damaged_ = loaded.damaged_blocks;
    SourceObject source = std::move(loaded.source);
    record = std::move(loaded.record);  // null when the node could not be read: it costs itself only
    progress_.items_saved.store(++nodes_);
    if (deleted_) {
      if (!record || !record->message || !record->item_class || record->folder_counts) return false;
      // Written without a copy, a deleted mail takes its body from the record: the bodies it has
      // are wanted as text after all.
      if (copy_brings(&source, {kPidBody, kPidRtfCompressed})) {
        try {
          if (auto with_text = LoadItem(ctx_, &node)) record = std::move(with_text);
        } catch (const std::exception&) {
          // the body as loaded, without its RTF
        }
      }
      SplitIfFull(&source);
      SaveItem(node, *record);
      ++deleted_saved_;
      progress_.ledger().DeletedRecovered(path_);
      return true;
    }
    if (!record || is_empty_record(*record)) {
      ReportUnreadable(node);
      return false;
    }
    // A folder whose object lacks its counts (some writers leave them out) is still a folder:
    // taken for an item it would become an empty mail and its contents would be lost.
    if (record->folder_counts || node.nid.type() == kNidTypeNormalFolder) {
      EnterFolder(node, *record);
      descend_ = true;
      prefetch_.Enter(FolderItems(node));
      return true;
    }
    // An item that names an item the walk has not written yet (a list and the contacts in it)
    // waits for the end of the walk, when the PST can name the items it links to.
    if (WaitsForLinked(source, node)) {
      deferred_.push_back({&node, path_});
      return true;
    }
    WriteItem(node, *record, std::move(source));
    return true;
  }

  // Whether the item names a message not written yet, or a folder of the mailbox not made yet
  // that the walk will make (when it makes them all).
  bool WaitsForLinked(const SourceObject& source, const NodeRecord& node) const {
    for (Nid nid : writer_.UnwrittenLinks(source, node.nid)) {
      if (nid.type() == kNidTypeNormalMessage) return true;
      if (nid.type() == kNidTypeNormalFolder && options_.select_all && below_top(nid)) return true;
    }
    return false;
  }

  bool below_top(Nid nid) const {
    int depth = 0;
    for (const NodeRecord* n = FindNode(ctx_, nid); n && root_ && depth < kMaxFolderDepth; n = n->parent(), ++depth) {
      if (n == root_) return true;
      if (n->parent() == n) return false;
    }
    return false;
  }
  static constexpr int kMaxFolderDepth = 256;

  void WriteItem(const NodeRecord& node, const ItemRecord& record, SourceObject source) {
    source_ = std::move(source);
    writing_ = node.nid;
    writer_.NoteWrittenItem(ctx_, Nid());  // whatever was placed before is no part of this item
    SplitIfFull(&*source_);
    SaveItem(node, record);
    source_.reset();
    writing_ = Nid();
    writer_.NoteWrittenItem(ctx_, node.nid);
    progress_.items_committed.store(writer_.store_figures().committed);
    ReportDropped(node);
    progress_.set_store_errors(writer_.store_errors() + not_written_,
                               writer_.first_store_error().empty() ? first_reason_ : writer_.first_store_error());
    ReportAttachments(node, "item ");
  }

 public:
  // The items that waited for others, written in rounds: each round those whose linked items
  // are all in the PST by now. Lists that name each other in a ring go last, as they are, and
  // their links to the ones not yet written are left out and named. False when stopped.
  bool SaveDeferred(PassControl& control) {
    bool force = false;
    for (int round = 0; !deferred_.empty(); ++round) {
      std::vector<DeferredItem> waiting = std::exchange(deferred_, {});
      for (std::size_t i = 0; i < waiting.size(); ++i) {
        if (ended_) {
          not_written_ += static_cast<int>(waiting.size() - i);
          return true;
        }
        if (control.Poll()) return false;
        if (!SaveDeferredItem(waiting[i], force)) deferred_.push_back(waiting[i]);
      }
      force = deferred_.size() == waiting.size() || round + 1 >= kDeferredRounds;
    }
    return true;
  }

 private:
  struct DeferredItem {
    const NodeRecord* node;
    std::string path;
  };
  static constexpr int kDeferredRounds = 8;

  // False when the item still names one not written and force is not set.
  bool SaveDeferredItem(const DeferredItem& d, bool force) {
    SourceObject source;
    std::unique_ptr<ItemRecord> record;
    try {
      record = LoadItem(ctx_, d.node, AttachmentLoad::kObjects, &source, BodyLoad::kAsStored);
    } catch (const std::exception&) {
      record.reset();
    }
    path_ = d.path;
    last_mail_path_.clear();
    if (!record || is_empty_record(*record)) {
      ReportUnreadable(*d.node);
      return true;
    }
    if (!force && WaitsForLinked(source, *d.node)) return false;
    try {
      WriteItem(*d.node, *record, std::move(source));
    } catch (const WalkEnded&) {
      ended_ = true;
    }
    return true;
  }

  // A folder's hidden items go with it, as the source has them, when the folder is written.
  void SaveAssociated(const NodeRecord& node) {
    // The top is not entered like the folders below it: its hidden items go to the store's
    // root when the whole mailbox is chosen.
    if (path_ == kRootFolderPath && options_.select_all && !folder_targets_.count(path_)) {
      folder_targets_[path_] = writer_.GetOrCreateFolder(target_, path_, ItemRecord{});
    }
    const auto folder = folder_targets_.find(path_);
    if (folder == folder_targets_.end() || !folder->second) {
      // A chosen folder the store failed to make takes its hidden items with it: counted.
      if (const auto failed = failed_folders_.find(path_); failed != failed_folders_.end()) NotWritten(failed->second);
      return;
    }
    std::optional<SourceObject> source;
    try {
      source = ReadSourceObject(ctx_, node.data_bid, node.sub_bid);
    } catch (const std::exception&) {
      source.reset();
    }
    if (!source) {
      progress_.add_unreadable(path_ + ": hidden item " + std::to_string(node.nid.value) + " could not be read");
      return;
    }
    std::unique_ptr<ItemRecord> record;
    try {
      record = LoadItem(ctx_, &node);
    } catch (const std::exception&) {
      record.reset();  // its properties still go; its attachments cannot
    }
    ending_on_error([&] { writer_.WriteAssociatedItem(folder->second, *source, record.get(), ctx_, node.sub_bid); });
    ReportDropped(node);
    ReportAttachments(node, "hidden item ");
  }

  // Attachments the PST lacks or holds only in part, named with their item.
  void ReportAttachments(const NodeRecord& node, const char* what) {
    const std::string item = path_ + ": " + what + std::to_string(node.nid.value) + ": attachment \"";
    for (const auto& name : writer_.take_unreadable_attachments())
      progress_.add_unreadable(item + name + "\" could not be read whole; what could be read of it is kept");
    for (const auto& a : writer_.take_unwritten_attachments())
      progress_.add_unreadable(item + a.property + "\" was not written: " + a.reason);
  }

  // Properties that did not reach the PST, named one by one.
  void ReportDropped(const NodeRecord& node) {
    for (const auto& d : writer_.take_dropped_properties())
      progress_.add_dropped_property(path_ + ": item " + std::to_string(node.nid.value) + ": property " + d.property +
                                     " was not copied: " + d.reason);
  }

  // The item writers copy every property of the source object after setting their fields.
  template <class F>
  void with_source(F&& write) {
    struct Clear {
      USave_to_PST_Format& w;
      ~Clear() { w.set_next_item_source(nullptr); }
    } clear{writer_};
    writer_.set_next_item_source(source_ ? &*source_ : nullptr, writing_);
    write();
  }

  void NotWritten(const std::exception& e) { NotWritten(cause_text(e)); }
  void NotWritten(std::string reason) {
    if (not_written_++ == 0) first_reason_ = std::move(reason);
  }

  // An item whose folder the store failed to make is not written: counted, with the store's
  // reason. (A folder that no rule gives a class is no failure: its items are left out by
  // design.)
  // An item's own lookup may find no error when its folder's failed earlier (the record of an
  // item in it names no class to make it by): that earlier failure is the reason.
  bool placed(const DispatchPtr& target) {
    if (target) return true;
    if (!writer_.folder_error().empty()) {
      NotWritten(writer_.folder_error());
    } else if (const auto it = failed_folders_.find(path_); it != failed_folders_.end()) {
      NotWritten(it->second);
    }
    return false;
  }

  // After the writing ended: every item below is one the PST lacks. Folders are entered
  // without being read, items counted without being read.
  bool CountUnwritten(const NodeRecord& node) {
    progress_.items_saved.store(++nodes_);
    if (node.nid.type() == kNidTypeNormalMessage || node.nid.type() == kNidTypeAssocMessage) ++not_written_;
    return node.nid.type() == kNidTypeNormalFolder;
  }

  // Blocks whose checksums fail are used as read (damaged text beats none), and named.
  void ReportDamaged(const NodeRecord& node) {
    const char* what = node.nid.type() == kNidTypeNormalFolder ? "folder " : "item ";
    progress_.add_unreadable(path_ + ": " + what + std::to_string(node.nid.value) +
                             ": part of its data is damaged (block checksums do not match); saved as read");
  }

  // A folder or message that yields nothing is named to the user: the pass goes on without it,
  // but nobody should believe the PST holds everything.
  void ReportUnreadable(const NodeRecord& node) {
    const auto type = node.nid.type();
    const std::string where = path_ + ": ";
    if (type == kNidTypeNormalMessage) {
      progress_.add_unreadable(where + "item " + std::to_string(node.nid.value) + " could not be read");
    } else if (type == kNidTypeNormalFolder) {
      // Its name and settings are lost; what it held is saved under Recovered Items.
      progress_.add_unreadable(where + "folder " + std::to_string(node.nid.value) +
                               " could not be read; what it held is put under Recovered Items");
      lost_folders_.push_back(&node);
    }
  }

  bool selected(const std::string& path) const {
    return options_.select_all ||
           std::find(options_.selected_folders.begin(), options_.selected_folders.end(), path) !=
               options_.selected_folders.end();
  }

  void bump(SaveCounter c) {
    const int v = ++progress_.counters[static_cast<std::size_t>(c)];
    count_text_ = std::to_string(v);
    if (c >= SaveCounter::kMails) progress_.ledger().ItemSaved(path_);
    // The well-known mail folders' counters count mails already counted as mails.
    if (c >= SaveCounter::kMails && !tallies_.empty()) ++tallies_.back().items;
  }

  void EnterFolder(const NodeRecord& node, const ItemRecord& record) {
    path_ = append_path_component(path_, record.display_name.value_or(""));
    bool logged = false;
    if (record.item_class) folder_classes_[path_] = *record.item_class;
    if (selected(path_)) {
      try {
        MakeFolder(node, path_, record);
        ReportDropped(node);
        progress_.set_folder_name(path_);
        progress_.set_count_text(count_text_);
        logged = options_.write_log;
      } catch (const std::exception& e) {
        // The folder's items still find their folder, or its nearest ancestor, one by one.
        failed_folders_.emplace(path_, cause_text(e));
      }
    }
    if (is_mail_folder(record)) folders_.Add(path_, node.nid);
    tallies_.push_back(FolderTally{path_, logged, 0, &node, record});
    progress_.ledger().EnterFolder(path_, node.nid.value, messages_in(node));
  }

  void MakeFolder(const NodeRecord& node, const std::string& path, const ItemRecord& record) {
    writer_.PrepareFolder(node.nid, path);
    target_ = writer_.GetOrCreateFolder(target_, path, record);
    if (!writer_.folder_error().empty()) failed_folders_.emplace(path, writer_.folder_error());
    // The folder made for the path is the source folder's own (not an ancestor that took
    // its place): it gets the source folder's hidden items, and its properties but at the
    // top, which stands for the store itself and keeps the store's, with the top's name.
    if (target_ && writer_.folder_error().empty()) {
      auto source = ReadSourceObject(ctx_, node.data_bid, node.sub_bid);
      if (path != kRootFolderPath && source) writer_.CopyFolderProperties(target_, *source, ctx_);
      writer_.NoteFolder(node.nid, target_, path == kRootFolderPath && source ? &*source : nullptr, &ctx_);
      folder_targets_[path] = target_;
    }
  }

  // Before an item: when it would take the PST past the size limit, the PST is finished and
  // the next one begun, where the top and the folders the walk is in are made again as they
  // were (the others when an item needs them). A PST takes its first item whatever its size:
  // an item larger than the limit has a PST of its own.
  void SplitIfFull(const SourceObject* source) {
    if (options_.max_store_size == 0 || items_in_store_++ == 0) return;
    const std::uint64_t size = writer_.store_figures().size;
    if (size == 0 || size + estimated_pst_bytes(source) <= options_.max_store_size) return;
    ending_on_error([&] { writer_.OpenNextStore(); });
    items_in_store_ = 1;
    progress_.add_store_path(writer_.store_path());
    folder_targets_.clear();
    target_.reset();
    last_mail_path_.clear();
    make_first_folders(writer_, ctx_, root_, options_);
    for (const FolderTally& t : tallies_) {
      if (!t.node || !selected(t.path)) continue;
      try {
        MakeFolder(*t.node, t.path, t.record);
      } catch (const std::exception&) {
        // Its items look for their folder by path as they come, as after any failed folder.
      }
      writer_.take_dropped_properties();  // told when the folder was first made
    }
  }

  // The folder of an item: a failure to reach it ends the walk.
  DispatchPtr resolve(const std::string& path, const ItemRecord& record) {
    try {
      target_ = writer_.GetOrCreateFolder(target_, path, record);
    } catch (const std::exception& e) {
      NotWritten(e);
      throw WalkEnded{};
    }
    return target_;
  }

  template <class F>
  void ending_on_error(F&& write) {
    try {
      write();
    } catch (const std::exception& e) {
      NotWritten(e);
      throw WalkEnded{};
    }
  }

  // The item a property writer makes takes the record's attachments along.
  template <class F>
  void with_attachments(const NodeRecord& node, const ItemRecord& r, F&& write) {
    struct Clear {
      USave_to_PST_Format& w;
      ~Clear() { w.set_next_item_attachments(nullptr, nullptr, Bid()); }
    } clear{writer_};
    writer_.set_next_item_attachments(&r, &ctx_, node.sub_bid);
    write();
  }

  void SaveItem(const NodeRecord& node, const ItemRecord& r) {
    const bool has_class = r.item_class.has_value();
    const std::string& cls = has_class ? *r.item_class : empty_;
    if (has_class && cls == "IPM.Task") {
      bump(SaveCounter::kTasks);
      progress_.set_count_text(count_text_);
      DispatchPtr target = resolve(path_, r);
      last_mail_path_.clear();
      if (r.message && placed(target)) {
        try {
          with_source([&] { with_attachments(node, r, [&] { writer_.WriteTask(*r.message, target); }); });
        } catch (const std::exception& e) {
          NotWritten(e);  // a task the store refuses is skipped, and counted
        }
      }
      return;
    }
    if (has_class && cls == "IPM.StickyNote") {
      bump(SaveCounter::kNotes);
      progress_.set_count_text(count_text_);
      DispatchPtr target = resolve(path_, r);
      last_mail_path_.clear();
      if (r.message && placed(target)) {
        ending_on_error([&] { with_source([&] { with_attachments(node, r, [&] { writer_.WriteNote(*r.message, target); }); }); });
      }
      return;
    }
    if (r.kind == ItemKind::kJournal) {
      DispatchPtr target = resolve(path_, r);
      last_mail_path_.clear();
      if (r.message && placed(target)) {
        ending_on_error([&] { with_source([&] { with_attachments(node, r, [&] { writer_.WriteJournal(*r.message, target); }); }); });
      }
      if ((r.message || r.journal) && r.journal && r.journal->entry_type) {
        bump(SaveCounter::kJournal);
        progress_.set_count_text(count_text_);
      }
      return;
    }
    if (r.kind == ItemKind::kAppointment) {
      bump(SaveCounter::kCalendar);
      DispatchPtr target = resolve(path_, r);
      last_mail_path_.clear();
      if (r.appointment) {
        if (placed(target)) ending_on_error([&] { with_source([&] { with_attachments(node, r, [&] { writer_.WriteAppointment(r, target); }); }); });
      } else if (r.message) {
        SaveMail(node, r);  // no start, end or location to write: its text and class still come out
      }
      return;
    }
    if (r.contact && !(has_class && cls == "IPM.Note") && r.kind != ItemKind::kMail) {
      SaveContact(node, r);
      return;
    }
    // Messages of classes no other writer takes (meeting requests and responses, reports,
    // posts, documents) are written as mail with their own class: none of the user's messages
    // is left behind for its class.
    if (r.message && (r.kind == ItemKind::kMail || r.kind == ItemKind::kOther || r.kind == ItemKind::kReport ||
                      r.kind == ItemKind::kContact || r.kind == ItemKind::kNone)) {
      SaveMail(node, r);
    } else if (!r.message && r.item_class && source_) {
      // An item with none of the fields the writers know (free/busy data, a class of some
      // add-in's) is still the user's: it goes the mail road with nothing but its own
      // properties.
      ItemRecord bare = r;
      bare.message.emplace();
      SaveMail(node, bare);
    }
  }

  // A contact goes to the contacts folder wherever the source kept it.
  // A contact kept in a folder of contacts (whatever its name: "連絡先", "Kontakte") stays
  // there; one kept anywhere else goes to the Contacts folder.
  void SaveContact(const NodeRecord& node, const ItemRecord& r) {
    const auto cls = folder_classes_.find(path_);
    const bool in_contacts_folder = cls != folder_classes_.end() && cls->second.starts_with("IPF.Contact");
    const std::string path =
        path_.starts_with(kContactsPath) || in_contacts_folder ? path_ : std::string(kContactsPath);
    try {
      target_ = writer_.GetOrCreateFolder(target_, path, r);
      if (placed(target_)) {
        with_source([&] { with_attachments(node, r, [&] { writer_.WriteContact(r, target_); }); });
        bump(SaveCounter::kContacts);
      }
    } catch (const std::exception& e) {
      NotWritten(e);  // the contact is skipped: not in the contacts counter, but not written
    }
    last_mail_path_.clear();
  }

  void SaveMail(const NodeRecord& node, const ItemRecord& r) {
    // Consecutive mails of one folder share one lookup.
    if (path_ != last_mail_path_) {
      resolve(path_, r);
      last_mail_path_ = path_;
    }
    if (!placed(target_)) return;
    try {
      with_source([&] { writer_.WriteMail(r, target_, ctx_, node.sub_bid); });
    } catch (const std::exception& e) {
      throw SavingIncomplete{cause_text(e)};
    }
    if (ctx_.stopped()) return;
    auto* entry = folders_.FindFolderEntry(node.parent() ? node.parent()->nid : Nid());
    bump(SaveCounter::kMails);
    progress_.set_count_text(count_text_);
    if (!entry) return;
    // Counted where it is written: the folder that holds it, never the entry a mail in a folder
    // of another kind was filed under.
    if (const auto counted = counted_mail_folder(path_)) bump(static_cast<SaveCounter>(*counted));
  }

  // The folders entered and not yet left, with the items each holds.
  struct FolderTally {
    std::string path;
    bool logged = false;
    int items = 0;
    const NodeRecord* node = nullptr;  // for a split, which makes it again in the next PST
    ItemRecord record;
  };
  std::vector<FolderTally> tallies_;
  const SaveOptions& options_;
  OstContext& ctx_;
  SaveProgress& progress_;
  USave_to_PST_Format& writer_;
  const NodeRecord* root_;
  FolderListOf<int> folders_;
  std::string path_;
  std::string last_mail_path_;
  std::string count_text_ = "0";
  DispatchPtr target_;
  std::int64_t nodes_ = 0;
  const std::string empty_;
  bool descend_ = false;
  bool ended_ = false;
  bool deleted_ = false;
  int deleted_saved_ = 0;
  std::uint64_t items_in_store_ = 0;  // items begun in the PST being written
  std::vector<const NodeRecord*> lost_folders_;
  std::vector<DeferredItem> deferred_;  // items that name items written after them
  // Chosen folders the store failed to make, with its reason.
  std::map<std::string, std::string> failed_folders_;
  int not_written_ = 0;
  std::string first_reason_;
  // The item being written, every property as the source has it.
  std::optional<SourceObject> source_;
  Nid writing_;  // its node
  // The target folder made for each source folder's path, and each source folder's class.
  std::map<std::string, DispatchPtr> folder_targets_;
  std::map<std::string, std::string> folder_classes_;
  // Damaged blocks met while the item being written was read.
  std::uint64_t loaded_damaged_ = 0;
  // Last: its thread ends before anything it reads for is gone.
  ItemPrefetcher prefetch_;
};

void publish_store_errors(SaveProgress& progress, const USave_to_PST_Format& writer, const SaveWalk& walk) {
  const std::string& first = writer.first_store_error();
  progress.set_store_errors(writer.store_errors() + walk.not_written(),
                            first.empty() ? walk.first_not_written_reason() : first);
}

}  // namespace

const char* save_counter_key(SaveCounter counter) {
  static constexpr const char* kKeys[] = {"inbox",   "drafts",   "outbox",   "sent_items", "sync_issues",
                                          "deleted_items", "junk_email", "mails", "calendar", "contacts",
                                          "tasks",   "journal",  "notes"};
  const auto i = static_cast<std::size_t>(counter);
  return i < std::size(kKeys) ? kKeys[i] : "";
}

std::string SaveProgress::folder_name() const {
  std::lock_guard lock(mutex_);
  return folder_name_;
}
std::string SaveProgress::count_text() const {
  std::lock_guard lock(mutex_);
  return count_text_;
}
std::string SaveProgress::store_path() const {
  std::lock_guard lock(mutex_);
  return store_path_;
}
int SaveProgress::store_errors() const {
  std::lock_guard lock(mutex_);
  return store_errors_;
}
std::string SaveProgress::first_store_error() const {
  std::lock_guard lock(mutex_);
  return first_store_error_;
}
void SaveProgress::set_folder_name(std::string text) {
  std::lock_guard lock(mutex_);
  folder_name_ = std::move(text);
}
void SaveProgress::set_count_text(std::string text) {
  std::lock_guard lock(mutex_);
  count_text_ = std::move(text);
}
void SaveProgress::set_store_path(std::string text) {
  std::lock_guard lock(mutex_);
  store_path_ = std::move(text);
}
void SaveProgress::add_store_path(std::string path) {
  std::lock_guard lock(mutex_);
  if (store_path_.empty()) store_path_ = path;
  store_paths_.push_back(std::move(path));
}
std::vector<std::string> SaveProgress::store_paths() const {
  std::lock_guard lock(mutex_);
  return store_paths_;
}
void SaveProgress::add_unreadable(std::string line) {
  std::lock_guard lock(mutex_);
  ++unreadable_count_;
  report_.append(line).push_back('\n');
  ledger_.Loss(line);
  if (unreadable_.size() < kMaxUnreadableLines) unreadable_.push_back(std::move(line));
}

void SaveProgress::add_dropped_property(std::string line) {
  std::lock_guard lock(mutex_);
  report_.append(line).push_back('\n');
  ledger_.DroppedProperty(line);
  if (dropped_.size() < kMaxUnreadableLines) dropped_.push_back(std::move(line));
  ++dropped_count_;
}

std::string SaveProgress::loss_report() const {
  std::lock_guard lock(mutex_);
  return report_;
}

int SaveProgress::dropped_property_count() const {
  std::lock_guard lock(mutex_);
  return dropped_count_;
}

std::vector<std::string> SaveProgress::dropped_properties() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

int SaveProgress::unreadable_count() const {
  std::lock_guard lock(mutex_);
  return unreadable_count_;
}

std::vector<std::string> SaveProgress::unreadable() const {
  std::lock_guard lock(mutex_);
  return unreadable_;
}

void SaveProgress::add_rebuilt(std::string line) {
  std::lock_guard lock(mutex_);
  if (rebuilt_.size() < kMaxUnreadableLines) rebuilt_.push_back(std::move(line));
}

std::vector<std::string> SaveProgress::rebuilt() const {
  std::lock_guard lock(mutex_);
  return rebuilt_;
}

void SaveProgress::add_left_behind(std::string line) {
  std::lock_guard lock(mutex_);
  if (left_behind_.size() < kMaxUnreadableLines) left_behind_.push_back(std::move(line));
}

std::vector<std::string> SaveProgress::left_behind() const {
  std::lock_guard lock(mutex_);
  return left_behind_;
}

void SaveProgress::set_store_errors(int count, std::string last) {
  std::lock_guard lock(mutex_);
  store_errors_ = count;
  first_store_error_ = std::move(last);
}

std::string output_folder_for(const std::string& source_path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(source_path, ec);
  if (ec) p = source_path;
  return (p.parent_path() / "Repair").string() + "/";
}

namespace {

SaveOutcome run_save_pass(const SaveOptions& options, PassControl& control, SaveObserver& observer,
                          SaveProgress& progress, std::optional<USave_to_PST_Format>& writer_slot) {
  OstContext ctx;
  ctx.stop_flag = control.stop_flag();
  ctx.default_codepage = options.default_codepage;
  if (OpenStore(ctx, options.source_path) != 0) {
    observer.Message(kMsgCannotReadOst);
    return {SaveStatus::kCannotReadSource, ctx.open_error.message()};
  }
  progress.ledger().Begin(options.source_path, source_format_text(ctx));
  if (options.write_log) {
    write_log_line(LogSelector::kActivity, "\r\n");
    write_log_line(LogSelector::kActivity, "Step3 : Saving OST File ");
    write_log_line(LogSelector::kActivity, "\r\n");
  }
  if (control.Poll()) return {SaveStatus::kStopped, {}};
  try {
    LoadBlockIndex(ctx);
    LoadNodeIndex(ctx);
    if (control.Poll()) return {SaveStatus::kStopped, {}};
    LoadNamedPropertyMap(ctx);
  } catch (const std::exception& e) {
    return {SaveStatus::kCannotReadIndexes, e.what()};
  }
  if (control.Poll()) return {SaveStatus::kStopped, {}};

  std::vector<NodeRecord> deleted;
  if (options.recover_deleted) deleted = FindDeletedMessages(ctx);
  std::unique_ptr<ItemRecord> store_record = LoadStoreRecord(ctx);
  if (control.Poll()) return {SaveStatus::kStopped, {}};
  // A store without its message-store object or its usual root is saved as far as it goes (the
  // analysis does the same): only a store with nothing to recover fails, with its cause.
  const NodeRecord* root = FindSalvageRoot(ctx, store_record.get());
  if (!root && FindOrphans(ctx, nullptr).empty() && deleted.empty()) {
    const bool no_store = !store_record || !store_record->store;
    observer.Message(no_store ? kMsgFileAnalysisFailed : kMsgRootFolderNotFound);
    return {no_store ? SaveStatus::kAnalysisFailed : SaveStatus::kRootNotFound, NothingRecoverableCause(ctx)};
  }
  store_record.reset();

  const std::int64_t count = root ? CountWalkNodes(*root, &control) : 0;
  if (control.Poll()) return {SaveStatus::kStopped, {}};
  progress.items_to_save.store(count - kWalkProgressShortfall);
  for (auto& c : progress.counters) c.store(0);

  WriterOptions writer_options = options.writer;
  writer_options.stop_flag = control.stop_flag();
  writer_options.message = [&observer](std::string_view text) { observer.Message(text); };
  USave_to_PST_Format& writer = writer_slot.emplace(std::move(writer_options));
  const std::string output_folder =
      options.output_folder.empty() ? output_folder_for(options.source_path) : options.output_folder;
  try {
    if (writer.OpenTargetStore(options.destination, output_folder) != 0) {
      return {SaveStatus::kTargetUnavailable, "the store server is not usable"};
    }
  } catch (const std::exception& e) {
    return {SaveStatus::kTargetFailed, cause_text(e)};
  }
  progress.add_store_path(writer.store_path());

  // The folders' tables are checked against the index now, before the PST's own indexes and
  // tables grow, and reported at the end.
  std::vector<std::string> node_losses = AuditNodes(ctx);
  if (control.Poll()) return {SaveStatus::kStopped, {}};

  writer.AdoptSourceLinks(ReadSourceLinks(ctx, root));
  make_first_folders(writer, ctx, root, options);
  SaveWalk walk(options, ctx, progress, writer, root);
  bool finished = true;
  try {
    finished = (!root || WalkFolderTree(*root, control, walk)) && WalkRecovered(ctx, root, control, walk) &&
               walk.SaveDeferred(control);
    if (finished) walk.SaveDeleted(deleted, control);
    progress.deleted_recovered.store(walk.deleted_saved());
  } catch (const SavingIncomplete& e) {
    publish_store_errors(progress, writer, walk);
    observer.Message(kMsgSavingNotComplete);
    return {SaveStatus::kIncomplete, e.what};
  } catch (const std::exception&) {
  }
  // An error that ended the writing leaves what was written, and completion follows; the
  // items it cost are in the count.
  publish_store_errors(progress, writer, walk);
  if (!finished) {
    progress.ledger().Resolve(ctx);
    return {SaveStatus::kStopped, {}};
  }
  try {
    writer.FinishLinks();
  } catch (const std::exception& e) {
    progress.add_dropped_property(std::string("the store's links to its special folders were not written: ") + e.what());
  }
  for (const auto& d : writer.take_dropped_properties())
    progress.add_dropped_property("store: property " + d.property + " was not copied: " + d.reason);
  if (options.select_all)
    for (auto& line : DescribeOutsideMailbox(ctx, root)) progress.add_left_behind(std::move(line));
  // The losses no object's reading shows, named like the analysis and the dump name them.
  const StoreAudit audit = CompleteAudit(ctx, std::move(node_losses));
  for (const auto& line : audit.lost) progress.add_unreadable(line);
  for (const auto& line : audit.rebuilt) progress.add_rebuilt(line);
  progress.ledger().Resolve(ctx);
  observer.Completed();
  control.RequestStop();
  progress.close_request.store(true);
  return {SaveStatus::kCompleted, {}};
}

}  // namespace

SaveOutcome RunSavePass(const SaveOptions& options, PassControl& control, SaveObserver& observer,
                        SaveProgress& progress) {
  std::optional<USave_to_PST_Format> writer;
  SaveOutcome outcome = run_save_pass(options, control, observer, progress, writer);
  if (!writer) return outcome;
  // The pass owns its store: it is completed here, whatever ended the pass, before anyone
  // reports it as written; its counts reach the caller through the progress.
  try {
    writer->CloseTargetStore();
  } catch (const std::exception& e) {
    outcome.close_error = cause_text(e);
  }
  const StoreFigures figures = writer->store_figures();
  progress.items_committed.store(figures.committed);
  progress.items_lost.store(figures.lost);
  return outcome;
}

}  // namespace salvora
