#pragma once
// USave_to_PST_Format: the writer of one save pass. It opens the target store through the store
// server ("Outlook.Application" behind the automation boundary), finds or creates the folders
// items go to, and writes each item kind into them. Every call on the store is a late-bound
// call by member id; nothing here knows how the server lays out the PST.
//
// A writer lives on the save worker's thread and is used only there. Releasing it releases its
// objects; the server commits the store when its last object goes.

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>
#include <utility>
#include <unordered_map>
#include <unordered_set>
#include <string_view>

#include "automation/dispatch.h"
#include "automation/object_factory.h"
#include "content/item_export.h"
#include "content/item_record.h"
#include "engine/source_object.h"
#include "ndb/ost_context.h"
#include "writer/made_items.h"
#include "writer/property_copy.h"
#include "writer/source_links.h"

namespace salvora {

inline constexpr std::string_view kMsgOutlookNotConfigured = "Microsoft Outlook are not Configured Properly";
inline constexpr std::string_view kMsgOutlookNotInstalled = "Microsoft Outlook are not Installed Properly";
inline constexpr std::string_view kStoreNamePrefix = "Salvora_Tools_Personal_Folder";
inline constexpr std::string_view kFallbackStoreFile = "Salvora.pst";
// The body size an automation interface of an external store refuses (characters).
inline constexpr std::size_t kExternalStoreBodyLimit = 500000;

// What outlives one writer in a recovery: the path of the first store opened (later passes
// that write to the same folder add to it) and the mail counter that drives the template
// rules. Shared only by the writers given the same state (the wizard's recovery screen keeps
// one for its saves); a writer given none has one of its own, so two passes of one process
// never write into one store unless asked to.
struct WriterProcessState {
  std::mutex mutex;
  std::string store_path;
  int mail_counter = 0;
};

// What the target store tells of itself (0 for what it does not tell): the size its file would
// have if committed now, and for every store of the writer together, the messages their
// commits put in the file and those a failed commit lost after they were accepted.
struct StoreFigures {
  std::uint64_t size = 0;
  std::uint64_t committed = 0;
  std::uint64_t lost = 0;
};

struct WriterOptions {
  // The server factory; null: the process's.
  ObjectFactory* factory = nullptr;
  // Shared state; null: the writer's own.
  WriterProcessState* state = nullptr;
  // Where the export files go; empty: the process's private temporary folder.
  std::string temp_folder;
  // A store whose automation interface refuses bodies of this many characters or more; the
  // built-in store takes any body, so none by default.
  std::optional<std::size_t> body_limit;
  // Hand the store files (the header file, one per attachment) instead of streams. A store that
  // refuses a stream gets files from then on anyway.
  bool file_road = false;
  // The ending of the store's name, which chooses its form: ".pst", or the suffix a store of
  // another form was registered under (".mbox", ".eml").
  std::string store_suffix = ".pst";
  // Polled between steps; null never stops.
  const std::atomic<bool>* stop_flag = nullptr;
  // A message for the user (the texts above); null: not shown.
  std::function<void(std::string_view)> message;
  // The time stamp of the store's name; null: the local time now.
  std::function<std::string()> time_stamp;
};

// "%d-%d-%d %d-%d" of day, month, year, hour and minute of the local time now.
std::string store_time_stamp();

// The folder class for a folder of the target store, by the record at hand: one of the six
// container classes, or empty when the folder is not to be created. `name` is the folder's
// own name when it differs from the record's (an ancestor made on the way to the record's
// folder); empty to use the record's display name.
std::string folder_class_for(const ItemRecord& record, std::string_view path,
                             std::optional<std::string_view> name = std::nullopt);

class USave_to_PST_Format {
 public:
  explicit USave_to_PST_Format(WriterOptions options = {});
  ~USave_to_PST_Format();
  USave_to_PST_Format(const USave_to_PST_Format&) = delete;
  USave_to_PST_Format& operator=(const USave_to_PST_Format&) = delete;

  // Connects to the store server, adds a new store file in the destination (empty: the output
  // folder) and names its root. The file is new: when the time-stamped name is taken, " (2)",
  // " (3)"... is added before ".pst"; only a later pass of the same state that writes to the
  // same folder adds to the store of its first pass. 0 when ready, 2 when the server is not
  // usable (the user has been told). When adding the store fails, tries once more with
  // "Salvora.pst" (or "Salvora (2).pst"...) in the same folder; an error of that second try is
  // thrown (AutomationError or std::exception). Folders made for a store that could not be
  // added are removed again.
  int OpenTargetStore(const std::string& destination, const std::string& output_folder);

  // Finishes the store written so far (the links to the folders made in it; committed and
  // closed) and adds the next one in its folder, named as the first with " (2)", " (3)"...
  // added, for a PST split at a size limit. Folders are made again as items need them; the
  // source's links go to each store for the folders made in it. Throws what stops it.
  void OpenNextStore();
  // Commits and closes the target store, so that the file is complete when the pass reports
  // it; throws the cause when it cannot be (a full disk). A store that shows no store object
  // is left to the server, which commits it when its last object goes.
  void CloseTargetStore();
  StoreFigures store_figures();

  // The folder of the target store for a source path ("Personal Folders\Inbox\Projects\"),
  // creating each missing folder along the path with the class its rules give. Returns the
  // deepest folder found or created; the store root for the top path; empty when not even the
  // first folder exists or could be made. `current` is kept for the callers' symmetry.
  DispatchPtr GetOrCreateFolder(const DispatchPtr& current, std::string_view path, const ItemRecord& record);

  // The item writers. Each writes nothing when target is empty. message_sub_bid: where the
  // message's sub-nodes are, for its attached messages.
  void WriteMail(const ItemRecord& record, const DispatchPtr& target, const OstContext& context, Bid message_sub_bid);
  void AddAttachments(const ItemRecord& record, const DispatchPtr& item, const OstContext& context, Bid message_sub_bid);
  void WriteContact(const ItemRecord& record, const DispatchPtr& target);
  void WriteAppointment(const ItemRecord& record, const DispatchPtr& target);
  void WriteTask(const MessageFields& message, const DispatchPtr& target);
  void WriteJournal(const MessageFields& message, const DispatchPtr& target);
  void WriteNote(const MessageFields& message, const DispatchPtr& target);
  // The attachments the item of the next WriteContact, WriteAppointment, WriteTask, WriteJournal
  // or WriteNote takes along: set right before that call, used once (null clears). The record
  // and context must outlive the call.
  void set_next_item_attachments(const ItemRecord* record, const OstContext* context, Bid message_sub_bid);
  // The source object the next item written (by any writer) copies every property from, after
  // its writer set its fields: set right before the call, used once (null clears). Must outlive
  // the call.
  // nid: the source object's own, so that its links to itself are known as such.
  void set_next_item_source(const SourceObject* source, Nid nid = Nid()) {
    next_item_source_ = source;
    writing_ = nid;
  }
  // Copies every property of a source folder onto a folder of the target store.
  void CopyFolderProperties(const DispatchPtr& folder, const SourceObject& source, const OstContext& context);
  // Writes a folder's hidden item (a view, a rule, a setting) into folder as the source has it,
  // with its attachments (record, when it could be read; sub_bid: where its sub-nodes are).
  void WriteAssociatedItem(const DispatchPtr& folder, const SourceObject& source, const ItemRecord* record,
                           const OstContext& context, Bid sub_bid);

  // The source's links to its special folders, taken before the first folder is made; the
  // store takes the source store's display name.
  void AdoptSourceLinks(SourceLinks links);
  const SourceLinks& source_links() const { return links_; }
  // Before the folder for a source folder at path is looked up: the source's trash, right
  // below the top, takes over the PST's own (which a new store has) under the source's name.
  void PrepareFolder(Nid source_folder, std::string_view path);
  // The target folder made for a source folder. With the top's source object and context, the
  // top folder takes the source top's name and comment.
  void NoteFolder(Nid source_folder, const DispatchPtr& target, const SourceObject* top_source = nullptr,
                  const OstContext* context = nullptr);
  // The item last placed in a folder is the one made from source: links of later items to it
  // name it. A null source only forgets the item last placed.
  void NoteWrittenItem(const OstContext& context, Nid source);
  // The messages and folders of the source that source names by entry id and that are not in
  // the PST yet (self aside).
  std::vector<Nid> UnwrittenLinks(const SourceObject& source, Nid self) const;
  // Once every folder is made: the store's, root folder's and Inbox's links to the special
  // folders, as the PST's entry ids of the folders made from the source's, and the Inbox as
  // the folder mail is received in. A link to a folder not made is dropped and named; for a
  // store that is not the last of a split (last false) it is dropped without a word, since a
  // folder another part holds is no loss.
  void FinishLinks(bool last = true);

  // Gives a mail item its body: HTMLBody, Body, or for a store with a body limit a temporary
  // file attached to it.
  void set_mail_body(const MessageFields& message, const DispatchPtr& item, const TextDecoding& decoding);

  const std::string& store_path() const { return opened_path_; }
  // Every store this writer added, the first one first.
  const std::vector<std::string>& store_paths() const { return store_paths_; }
  const std::string& store_display_name() const { return display_name_; }
  const std::string& mail_file_path() const { return mail_file_path_; }
  const std::string& version() const { return version_; }
  // Items that the store refused to keep (their Save or Move failed), and the first reason.
  int store_errors() const { return store_errors_; }
  // Attachments of the items written since the last call whose data or attached message could
  // not be read from the source (by display name); what could be read of them was still added.
  std::vector<std::string> take_unreadable_attachments() { return std::exchange(unreadable_attachments_, {}); }
  // Attachments of the items written since the last call that the PST does not hold (the store
  // refused them, or an attached message could not be written), by display name with the reason.
  std::vector<DroppedProperty> take_unwritten_attachments() { return std::exchange(unwritten_attachments_, {}); }
  // Properties of the objects written since the last call that did not reach the PST.
  std::vector<DroppedProperty> take_dropped_properties() { return std::exchange(dropped_properties_, {}); }
  const std::string& first_store_error() const { return first_store_error_; }
  // Why the last GetOrCreateFolder stopped short of its path because the store refused a
  // folder; empty when it did not (a folder no rule gives a class is not made, by design).
  const std::string& folder_error() const { return folder_error_; }

 private:
  bool stopped() const { return options_.stop_flag && options_.stop_flag->load(std::memory_order_relaxed); }
  void open_store_at(const std::string& path, const std::string& time_stamp);
  // A new store named folder + base + suffix, or base + " (n)" + suffix for the first free n.
  void open_new_store(const std::string& folder, const std::string& base, const std::string& time_stamp);
  DispatchPtr add_folder(const DispatchPtr& collection, const std::string& name, const std::string& folder_class);
  DispatchPtr new_mail_item();
  void build_template(bool keep);
  // Lets the import object read the message's header into the item: handed over as a stream,
  // or written to the header file first where the store takes only paths.
  void import_header(const DispatchPtr& item, const MessageFields& message);
  // A by-value attachment of node's bytes, as a stream or through a temporary file; from the
  // data read ahead when it is given, else from the source file.
  Variant add_attachment_bytes(const AttachmentNode& node, const std::string& name, const DispatchPtr& collection,
                               const OstContext& context,
                               std::shared_ptr<const ValueReadAhead> ahead = nullptr);
  // True (and the file road taken from now on) when e says the store refused a stream argument.
  bool refused_stream(const AutomationError& e);
  void fill_mail(const ItemRecord& record, const DispatchPtr& item, const OstContext& context, Bid message_sub_bid,
                 int depth, const SourceObject* source);
  void add_attachments(const ItemRecord& record, const DispatchPtr& item, const OstContext& context,
                       Bid message_sub_bid, const SourceObject* source);
  // Every property of source onto item, its recipients included.
  void copy_item(const DispatchPtr& item, const SourceObject& source, const OstContext& context);
  void note_dropped(std::vector<DroppedProperty> dropped);
  void note_unwritten_attachment(const std::string& name, std::string reason) {
    unwritten_attachments_.push_back({name, std::move(reason)});
  }
  // The attachment added, or empty.
  Variant add_embedded_message(const AttachmentNode& node, std::size_t index, const std::string& display_name,
                            const DispatchPtr& collection, const OstContext& context, Bid message_sub_bid, int depth);
  void note_store_error(const std::exception& e);
  // The PST entry id of the folder made from a source folder, if one was.
  std::optional<std::vector<std::uint8_t>> target_entry_id(Nid source_folder);
  // A source link (binary or multiple binary) as the PST's; empty when it names nothing made.
  std::optional<Variant> remapped_link(const PropertyEntry& entry);
  // The PST entry id of the folder or item made from a source object, if one was.
  std::optional<std::vector<std::uint8_t>> made_object(Nid source);
  // The item a writer just placed in its folder, for NoteWrittenItem.
  void note_placed(const Variant& moved, const DispatchPtr& item);
  // Whether a link (binary or multiple binary) names any folder of the source store.
  bool names_source_folder(const PropertyEntry& entry) const;
  void finish_item(const DispatchPtr& item, const DispatchPtr& target, bool close_instead_of_save = false);
  // The source whose properties finish_item will copy onto the item being written, or null.
  const SourceObject* copied_source() const { return next_item_attachments_.context ? next_item_source_ : nullptr; }

  // The target store's own object, or null when the store shows none.
  DispatchPtr store_object();

  WriterOptions options_;
  ObjectFactory& factory_;
  WriterProcessState own_state_;
  WriterProcessState& state_;
  std::string temp_folder_;

  std::string mail_file_path_;
  DispatchPtr application_;
  DispatchPtr namespace_;
  DispatchPtr template_item_;
  DispatchPtr attachment_collection_;
  DispatchPtr store_root_;
  DispatchPtr namespace_folders_;
  DispatchPtr root_folders_;
  DispatchPtr current_mail_item_;
  DispatchPtr safe_mail_item_;
  std::string template_entry_id_;
  std::string version_;
  std::string opened_path_;
  std::string display_name_;
  int attachment_depth_ = 0;
  struct PendingAttachments {
    const ItemRecord* record = nullptr;
    const OstContext* context = nullptr;
    Bid sub_bid;
  };
  PendingAttachments next_item_attachments_;
  const SourceObject* next_item_source_ = nullptr;
  Nid writing_;  // the source item being written, when told
  SchemaNameCache schema_names_;  // one pass reads one source
  std::vector<DroppedProperty> dropped_properties_;
  // Embedded messages written for the current mail, by data block: a damaged file that embeds
  // one message under many attachments at every level is written once, not exponentially often.
  std::unordered_set<std::uint64_t> embedded_seen_;
  std::uint64_t attachment_files_ = 0;
  bool file_road_ = false;
  int store_errors_ = 0;
  std::string first_store_error_;
  std::string folder_error_;
  std::vector<std::string> unreadable_attachments_;
  std::vector<DroppedProperty> unwritten_attachments_;
  SourceLinks links_;
  std::unordered_map<std::uint32_t, DispatchPtr> made_folders_;  // by source folder NID
  // The PST entry ids of the items written, by source node (of this store or an earlier part),
  // and the source's nodes they are kept beside.
  MadeItemIds made_items_;
  std::shared_ptr<const NodeTree> source_nodes_;
  std::optional<std::array<std::uint8_t, 24>> last_placed_;
  // Source folders made in the stores finished before this one: their links went there.
  std::unordered_set<std::uint32_t> made_earlier_;
  std::vector<std::string> store_paths_;
  std::string store_folder_;  // where the stores go, and the first one's name without ".pst"
  std::string store_base_;
  std::string time_stamp_;
  DispatchPtr store_object_;
  bool store_object_tried_ = false;
  // Of the stores closed: what their commits kept and what failed commits lost.
  std::uint64_t closed_committed_ = 0;
  std::uint64_t closed_lost_ = 0;
};

}  // namespace salvora
