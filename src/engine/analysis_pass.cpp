#include "engine/analysis_pass.h"

#include <cctype>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include "content/attachment_name.h"
#include "engine/codepage_probe.h"
#include "engine/folder_hierarchy.h"
#include "engine/folder_walk.h"
#include "engine/item_prefetch.h"
#include "engine/named_map_loader.h"
#include "engine/object_loader.h"
#include "engine/store_audit.h"
#include "ndb/index_repair.h"
#include "platform/activity_log.h"

namespace salvora {

namespace {

static_assert(static_cast<std::size_t>(AnalysisCounter::kJunkEmail) + 1 == kCountedMailFolders,
              "the counted mail folders begin the counters");

// The list's note column shows a few hundred characters at most; the whole text is read again
// for the preview.
constexpr std::size_t kNoteTextKept = 512;

// Items loaded ahead of the walk: a few, so that the two threads seldom wait for each other.
constexpr std::size_t kPrefetchWindow = 8;

std::optional<std::string> subject_text(const MessageFields& m) {
  if (!m.subject) return std::nullopt;
  return m.subject->text;
}

std::optional<std::string> clipped(const std::optional<std::string>& s, std::size_t n) {
  if (!s || s->size() <= n) return s;
  std::size_t cut = n;
  while (cut > 0 && (static_cast<unsigned char>((*s)[cut]) & 0xC0) == 0x80) --cut;  // whole characters
  return s->substr(0, cut);
}

// A message of a folder's associated contents (a view, a rule, a configuration message) is
// the folder's own machinery, not an item the user filed there.
constexpr std::int32_t kMessageFlagAssociated = 0x40;

bool is_associated(const ItemRecord& r) {
  return r.message && r.message->message_flags && (*r.message->message_flags & kMessageFlagAssociated) != 0;
}

MailSummary summarize_mail(Nid nid, Nid folder, const MessageFields& m) {
  return MailSummary{nid, folder, m.sender_name, subject_text(m), m.display_to, m.delivery_time};
}

bool class_is(std::string_view container_class, std::string_view kind) {
  if (container_class.size() < kind.size()) return false;
  for (std::size_t i = 0; i < kind.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(container_class[i])) != std::toupper(static_cast<unsigned char>(kind[i]))) {
      return false;
    }
  }
  return container_class.size() == kind.size() || container_class[kind.size()] == '.';
}

// An item is counted where it is: by the kind of the folder that holds it, whatever its own
// class, so that a folder's counter, its list and what the PST receives agree. A mail folder's
// items count for the well-known folder it is or lies below, and for none elsewhere.
std::optional<AnalysisCounter> counter_of_folder(std::string_view path, std::string_view container_class) {
  if (class_is(container_class, "IPF.Contact")) return AnalysisCounter::kContacts;
  if (class_is(container_class, "IPF.Appointment")) return AnalysisCounter::kCalendar;
  if (class_is(container_class, "IPF.Task")) return AnalysisCounter::kTasks;
  if (class_is(container_class, "IPF.StickyNote")) return AnalysisCounter::kNotes;
  if (class_is(container_class, "IPF.Journal")) return AnalysisCounter::kJournal;
  if (const auto counted = counted_mail_folder(path)) return static_cast<AnalysisCounter>(*counted);
  return std::nullopt;
}

bool is_empty_record(const ItemRecord& r) {
  return !r.message && !r.folder_counts && !r.contact && !r.store && !r.journal && !r.appointment &&
         r.attachments.empty() && r.kind == ItemKind::kNone && !r.item_class;
}

class Walk : public RecoveringVisitor {
 public:
  Walk(OstContext& ctx, PassControl& control, AnalysisObserver& observer, AnalysisResult& result,
       const AnalysisOptions& options)
      : ctx_(ctx), control_(control), observer_(observer), result_(result), keep_lists_(options.keep_lists),
        prefetch_([&ctx, load = options.item_load](const NodeRecord& node, SourceObject&) { return LoadItem(ctx, &node, load); },
                  options.threads > 1 ? kPrefetchWindow : 0, ItemPrefetcher::Sharing::kShared) {}

  // The walk from the mailbox root (null in a store that has none left), then the orphans.
  // False when the stop flag ended the walk.
  bool Run(const NodeRecord* root);

  // True when the node is a folder, now entered: its path is the current one until Leave.
  bool Visit(const NodeRecord& node) override;
  void Leave() override {
    prefetch_.Leave();
    if (!folder_classes_.empty()) folder_classes_.pop_back();
    path_ = remove_last_path_component(path_);
  }

  void EnterRecovered() override {
    path_ = std::string(kRecoveredItemsPath);
    FolderFound found{path_, "IPF.Note", Nid(), true};
    {
      std::lock_guard lock(result_.lists_mutex);
      result_.folders.push_back(found);
      result_.mail_folders.Add(path_, Nid());
    }
    observer_.FolderFound(found);
  }
  std::vector<const NodeRecord*> TakeLostFolders() override { return std::exchange(lost_folders_, {}); }

 private:
  void bump(AnalysisCounter c) {
    int& v = result_.counters[static_cast<std::size_t>(c)];
    ++v;
    observer_.CounterChanged(c, v);
  }
  // Readers of the lists on other threads take the same lock; observers are never called
  // while it is held.
  template <class List, class Value>
  void append(List& list, Value&& value) {
    if (!keep_lists_) return;
    std::lock_guard lock(result_.lists_mutex);
    list.push_back(std::forward<Value>(value));
  }
  void enter_folder(const NodeRecord& node, const ItemRecord& record);
  void classify(const NodeRecord& node, const ItemRecord& record);
  // Counts a listed item for the folder being walked.
  void count_in_folder() {
    const std::string_view cls = path_ == kRecoveredItemsPath || folder_classes_.empty()
                                     ? std::string_view("IPF.Note")
                                     : std::string_view(folder_classes_.back());
    if (const auto counter = counter_of_folder(path_, cls)) bump(*counter);
  }

  void lose(const NodeRecord& node, const std::string& what) {
    const char* kind = node.nid.type() == kNidTypeNormalFolder ? "folder " : "item ";
    result_.lost.push_back(path_ + ": " + kind + std::to_string(node.nid.value) + what);
  }

  OstContext& ctx_;
  PassControl& control_;
  AnalysisObserver& observer_;
  AnalysisResult& result_;
  bool keep_lists_;
  std::string path_;
  std::vector<const NodeRecord*> lost_folders_;
  std::vector<std::string> folder_classes_;  // of the folders entered, innermost last
  ItemPrefetcher prefetch_;
};

bool Walk::Run(const NodeRecord* root) {
  {
    std::lock_guard lock(result_.lists_mutex);
    // Without a root its entry must not answer for NID 0, which is Recovered Items' own.
    result_.mail_folders.Add(std::string(kRootFolderPath), root ? root->nid : kLooseObjectParent);
  }
  path_ = std::string(kRootFolderPath);
  if (root && root->first_child()) {
    observer_.ProgressRange(CountWalkNodes(*root) - kWalkProgressShortfall);
    if (!WalkFolderTree(*root, control_, *this)) return false;
  }
  return WalkRecovered(ctx_, root, control_, *this);
}

bool Walk::Visit(const NodeRecord& node) {
  // The lists show no attachment and no body: the attachment table tells that there are
  // some, which is all the walk needs, and the bytes are read again only for a preview or a
  // save. A note's column shows text A, which is read. A node that cannot be read (the loader
  // threw) costs itself only.
  LoadedItem loaded = prefetch_.Take(node);
  std::unique_ptr<ItemRecord> record = std::move(loaded.record);
  ++result_.nodes_decoded;
  observer_.ProgressPosition(static_cast<std::int64_t>(result_.nodes_decoded));
  if (!record || is_empty_record(*record)) {
    // The same objects the save pass names: a folder, whose contents go to Recovered Items, or
    // a message.
    if (node.nid.type() == kNidTypeNormalFolder) {
      lose(node, " could not be read; what it held is put under Recovered Items");
      lost_folders_.push_back(&node);
    } else if (node.nid.type() == kNidTypeNormalMessage) {
      lose(node, " could not be read");
    }
    return false;
  }
  if (loaded.damaged_blocks != 0) lose(node, ": part of its data is damaged (block checksums do not match); read as it is");
  if (record->folder_counts) {
    enter_folder(node, *record);
    prefetch_.Enter(FolderItems(node));
    return true;
  }
  // Named in the save pass's words: the same attachment is the same loss in every pass.
  for (std::size_t i = 0; i < record->attachments.size(); ++i) {
    if (record->attachments[i].object_unreadable)
      lose(node, ": attachment \"" + attachment_display_name(record->attachments[i], i + 1) +
                     "\" could not be read whole; what could be read of it is kept");
  }
  try {
    classify(node, *record);
  } catch (const std::exception&) {
    // A failure while listing one item skips the rest of that item.
  }
  return false;
}

void Walk::enter_folder(const NodeRecord& node, const ItemRecord& record) {
  result_.current_folder_class = record.item_class.value_or("");
  folder_classes_.push_back(result_.current_folder_class);
  const bool mail = is_mail_folder(record);
  path_ = append_path_component(path_, record.display_name.value_or(""));
  FolderFound found{path_, result_.current_folder_class, node.nid, mail};
  {
    std::lock_guard lock(result_.lists_mutex);
    result_.folders.push_back(found);
    if (mail) result_.mail_folders.Add(path_, node.nid);
  }
  observer_.FolderFound(found);
}

void Walk::classify(const NodeRecord& node, const ItemRecord& r) {
  if (node.nid.type() == kNidTypeAssocMessage || is_associated(r)) return;
  // An item put straight into Recovered Items belongs to its entry (NID 0), whatever its lost
  // parent was.
  const Nid folder = node.parent() && path_ != kRecoveredItemsPath ? node.parent()->nid : Nid();
  const std::string cls = r.item_class.value_or("");
  if (r.item_class && cls == "IPM.Task") {
    if (r.message) append(result_.tasks, summarize_mail(node.nid, folder, *r.message));
  } else if (r.item_class && cls == "IPM.StickyNote") {
    if (r.message) {
      append(result_.notes,
          NoteSummary{node.nid, folder, subject_text(*r.message), clipped(r.message->text_a, kNoteTextKept), r.message->delivery_time});
    }
  } else if (r.kind == ItemKind::kJournal) {
    if (r.message || r.journal) {
      JournalSummary j{node.nid, folder, {}, {}, {}};
      if (r.journal) j.entry_type = r.journal->entry_type;
      if (r.message) {
        j.subject = subject_text(*r.message);
        j.delivery_time = r.message->delivery_time;
      }
      append(result_.journal, std::move(j));
    }
  } else if (r.kind == ItemKind::kAppointment) {
    result_.calendar_folder_path = path_;
    if (r.appointment) {
      CalendarSummary c{node.nid, folder, r.appointment->location, {}, {}, r.appointment->start};
      if (r.message) {
        c.subject = subject_text(*r.message);
        c.delivery_time = r.message->delivery_time;
      }
      append(result_.calendar, std::move(c));
    }
  } else if (r.contact && !(r.item_class && cls == "IPM.Note") && r.kind != ItemKind::kMail) {
    append(result_.contacts, ContactSummary{node.nid, folder, r.display_name, *r.contact});
  } else {
    if (!r.message) return;
    FolderEntry* entry = result_.mail_folders.FindFolderEntry(folder);
    if (!entry) return;
    ++result_.mail_items_by_folder[folder.value];
    if (keep_lists_) append(entry->items, summarize_mail(node.nid, folder, *r.message));
  }
  count_in_folder();
}

void publish_store_info(const OstContext& ctx, const AnalysisOptions& options, StoreInfo& info) {
  info.path = options.source_path;
  info.header = ctx.header;
  info.geometry = ctx.geometry;
  info.file_size = ctx.file_size;
  info.bbt_leaf_depth = ctx.bbt_leaf_depth;
  info.nbt_leaf_depth = ctx.nbt_leaf_depth;
  info.default_codepage = ctx.default_codepage;
  info.blocks = ctx.blocks;
  info.nodes = ctx.nodes;
  info.named_properties = ctx.named_properties;
}

}  // namespace

AnalysisStatus RunAnalysis(const AnalysisOptions& options, PassControl& control, AnalysisObserver& observer,
                           AnalysisResult& result) {
  OstContext ctx;
  ctx.stop_flag = control.stop_flag();
  ctx.default_codepage = options.default_codepage;
  if (OpenStore(ctx, options.source_path) != 0) {
    observer.Message(kMsgSourceInUse, true);
    return AnalysisStatus::kSourceInUse;
  }
  publish_store_info(ctx, options, result.store);
  if (options.write_log) {
    write_log_line(LogSelector::kActivity, "\r\n");
    write_log_line(LogSelector::kActivity, "Step2: Analysis OST File");
    write_log_line(LogSelector::kActivity, "\r\n");
  }
  if (control.Poll()) return AnalysisStatus::kStopped;
  try {
    LoadBlockIndex(ctx);
    LoadNodeIndex(ctx);
    if (options.choose_codepage) {
      const CodepageChoice choice = ChooseCodepage(ctx, ctx.default_codepage, false);
      ctx.default_codepage = choice.chosen;
      result.codepage_note = choice.message;
    }
    publish_store_info(ctx, options, result.store);
    if (control.Poll()) return AnalysisStatus::kStopped;
    LoadNamedPropertyMap(ctx);
  } catch (const std::exception&) {
    observer.Message(kMsgCannotReadInfo, false);
    return AnalysisStatus::kCannotReadInfo;
  }
  if (control.Poll()) return AnalysisStatus::kStopped;
  publish_store_info(ctx, options, result.store);

  std::unique_ptr<ItemRecord> store_record = LoadStoreRecord(ctx);
  if (control.Poll()) return AnalysisStatus::kStopped;
  // A damaged store is read as far as it goes: without its message-store object or its usual
  // root, the salvage root and the orphans still hold the user's mail. Only a store with none
  // of them fails, with its cause.
  const NodeRecord* root = FindSalvageRoot(ctx, store_record.get());
  if (!root && FindOrphans(ctx, nullptr).empty()) {
    if (control.StopRequested()) return AnalysisStatus::kStopped;
    result.failure_cause = NothingRecoverableCause(ctx);
    const bool no_store = !store_record || !store_record->store;
    observer.Message(no_store ? kMsgCannotSave : kMsgCannotSearch, no_store);
    return no_store ? AnalysisStatus::kCannotSave : AnalysisStatus::kCannotSearch;
  }
  store_record.reset();

  Walk walk(ctx, control, observer, result, options);
  bool finished = true;
  try {
    finished = walk.Run(root);
  } catch (const std::exception&) {
    // An error outside one node ends the walk; what was found stays, and completion follows.
  }
  if (finished) {
    StoreAudit audit = AuditStore(ctx);
    result.rebuilt = std::move(audit.rebuilt);
    result.lost.insert(result.lost.end(), audit.lost.begin(), audit.lost.end());
  }
  if (!finished) return AnalysisStatus::kStopped;
  control.RequestStop();
  observer.Completed();
  return AnalysisStatus::kCompleted;
}

}  // namespace salvora
