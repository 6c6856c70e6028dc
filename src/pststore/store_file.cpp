#include "pststore/store_file.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <random>

#include "automation/dispatch.h"
#include "format/entry_id.h"
#include "format/ids.h"
#include "format/prop_types.h"
#include "platform/file64.h"
#include "platform/reserved_array.h"
#include "pststore/pst/pst_file_reader.h"

namespace salvora::store {

namespace {

constexpr const char* kDefaultDisplayName = "Personal Folders";

std::string hex_upper(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
  return out;
}

}  // namespace

namespace {

struct WriterMakers {
  std::mutex mutex;
  std::vector<std::pair<std::string, StoreWriterMaker>> makers;
};

WriterMakers& writer_makers() {
  static WriterMakers m;
  return m;
}

// The maker registered for the path's suffix; null for a PST.
StoreWriterMaker maker_for(const std::string& path) {
  WriterMakers& m = writer_makers();
  std::lock_guard lock(m.mutex);
  for (const auto& [suffix, maker] : m.makers)
    if (path.ends_with(suffix)) return maker;
  return nullptr;
}

}  // namespace

void register_store_writer(const std::string& suffix, StoreWriterMaker maker) {
  WriterMakers& m = writer_makers();
  std::lock_guard lock(m.mutex);
  for (auto& entry : m.makers) {
    if (entry.first == suffix) {
      entry.second = std::move(maker);
      return;
    }
  }
  m.makers.emplace_back(suffix, std::move(maker));
}

std::unique_ptr<pst::StoreWriter> make_store_writer(const std::string& path, const RecordKey& record_key) {
  if (StoreWriterMaker maker = maker_for(path)) return maker(path, record_key);
  pst::PstOptions options;
  options.display_name = kDefaultDisplayName;
  options.record_key = record_key;
  options.keep_existing = true;
  return pst::PstWriter::Create(path, options);
}

std::shared_ptr<StoreFile> StoreFile::Create(const std::string& path) {
  std::shared_ptr<StoreFile> store(new StoreFile());
  store->path_ = path;
  std::random_device rd;
  for (auto& b : store->record_key_) b = static_cast<std::uint8_t>(rd());
  store->writer_ = make_store_writer(path, store->record_key_);
  store->display_name_ = kDefaultDisplayName;
  store->root_ = std::make_unique<StoreFolder>();
  store->root_->id = store->writer_->ipm_subtree();
  store->root_->name = "Top of Personal Folders";
  // A new store has its wastebasket below the subtree, as Outlook makes it.
  auto deleted = std::make_unique<StoreFolder>();
  deleted->id = store->writer_->deleted_items();
  deleted->name = "Deleted Items";
  deleted->container_class = "IPF.Note";
  deleted->parent = store->root_.get();
  for (auto [id, nid] : {std::pair{kPidIpmSubTreeEntryId, store->root_->id}, std::pair{kPidIpmWastebasketEntryId, deleted->id}}) {
    EntryId eid;
    eid.record_key = store->record_key_;
    eid.nid = Nid(nid);
    pst::set_prop(store->store_props_, pst::Property::Binary(id, eid.Serialize()));
  }
  store->root_->children.push_back(std::move(deleted));
  store->receive_in_root_ = true;
  store->last_commit_ = std::chrono::steady_clock::now();
  return store;
}

namespace {

// The folder tree below a folder, as the file's hierarchy tables list it.
void read_folders(const pst::PstFileReader& reader, StoreFolder& folder, int depth) {
  if (depth > 64) return;
  const auto table = reader.Node(table_nid(Nid(folder.id), kNidTypeHierarchyTable));
  if (!table) return;
  const auto tc = reader.ReadTc(*table);
  if (!tc) return;
  for (const auto& row : tc->rows) {
    const auto node = reader.Node(Nid(row.row_id));
    if (!node) continue;
    auto child = std::make_unique<StoreFolder>();
    child->id = row.row_id;
    child->parent = &folder;
    if (const auto pc = reader.ReadPc(*node)) {
      if (const pst::Property* p = pst::find_prop(*pc, kPidDisplayName)) child->name = p->AsString();
      if (const pst::Property* p = pst::find_prop(*pc, kPidContainerClass)) child->container_class = p->AsString();
      if (const pst::Property* p = pst::find_prop(*pc, kPidComment)) child->description = p->AsString();
    }
    read_folders(reader, *child, depth + 1);
    folder.children.push_back(std::move(child));
  }
}

}  // namespace

std::shared_ptr<StoreFile> StoreFile::Open(const std::string& path) {
  {
    // An offline store is someone's mailbox cache, the very file a recovery reads: never
    // written to, whatever its layout.
    CFile64 file;
    CFileException error;
    if (!file.Open(path, CFile64::Access::kReadOnly, CFile64::Lock::kNone, &error)) throw error;
    std::uint8_t head[10] = {};
    if (file.ReadAt(0, head, sizeof head) == sizeof head && head[8] == 'S' && head[9] == 'O')
      throw std::runtime_error(path + ": an offline store (OST) is never added to");
  }
  std::shared_ptr<StoreFile> store(new StoreFile());
  store->path_ = path;
  store->writer_ = pst::PstWriter::Open(path, pst::PstOptions{});
  // The writer has what it needs to add to the file; the store server needs the folder tree by
  // name and the store's own key, read here from what is on disk.
  std::vector<std::string> problems;
  pst::PstFileReader reader([&](const std::string& s) { problems.push_back(s); });
  if (!reader.Open(path)) throw std::runtime_error(path + ": cannot be read back");
  reader.LoadTrees();
  const auto store_node = reader.Node(kNidMessageStore);
  const auto props = store_node ? reader.ReadPc(*store_node) : std::nullopt;
  if (!props) throw std::runtime_error(path + ": the store object cannot be read");
  const pst::Property* key = pst::find_prop(*props, kPidRecordKey);
  const pst::Property* subtree = pst::find_prop(*props, kPidIpmSubTreeEntryId);
  if (!key || key->data.size() != 16 || !subtree || subtree->data.size() != EntryId::kSize)
    throw std::runtime_error(path + ": the store has no record key or no IPM subtree");
  std::copy(key->data.begin(), key->data.end(), store->record_key_.begin());
  if (const pst::Property* name = pst::find_prop(*props, kPidDisplayName)) store->display_name_ = name->AsString();
  store->store_props_ = *props;
  store->root_ = std::make_unique<StoreFolder>();
  store->root_->id = EntryId::Parse(subtree->data)->nid.value;
  read_folders(reader, *store->root_, 0);
  store->last_commit_ = std::chrono::steady_clock::now();
  return store;
}

StoreFile::~StoreFile() {
  try {
    Close();
  } catch (...) {
    // The last commit failed; the file keeps its previous checkpoint.
  }
}

void StoreFile::RequireOpen() const {
  if (!writer_) throw AutomationError(AutomationError::Code::kFailed, kNoMember, path_ + ": the store is closed");
}

bool StoreFile::is_open() const {
  std::lock_guard lock(mutex_);
  return writer_ != nullptr;
}

std::string StoreFile::display_name() const {
  std::lock_guard lock(mutex_);
  return display_name_;
}

void StoreFile::SetDisplayName(const std::string& name) {
  std::lock_guard lock(mutex_);
  RequireOpen();
  writer_->SetStoreProperties({pst::Property::String(kPidDisplayName, name)});
  display_name_ = name;
  pst::set_prop(store_props_, pst::Property::String(kPidDisplayName, name));
}

namespace {

// The links to special folders that Outlook keeps on the root folder rather than on the store
// object (and again on the Inbox, where the writer of the mailbox puts them).
bool root_folder_link(std::uint16_t id) { return (id >= 0x36D0 && id <= 0x36D9) || id == 0x36E4; }

}  // namespace

std::optional<pst::Property> StoreFile::StoreProperty(std::uint16_t id) const {
  std::lock_guard lock(mutex_);
  if (const pst::Property* p = pst::find_prop(store_props_, id)) return *p;
  return std::nullopt;
}

void StoreFile::SetStoreProperty(pst::Property property) {
  std::lock_guard lock(mutex_);
  RequireOpen();
  if (root_folder_link(property.id())) writer_->SetFolderProperties(writer_->root_folder(), {property});
  else writer_->SetStoreProperties({property});
  if (property.id() == kPidDisplayName) display_name_ = property.AsString();
  pst::set_prop(store_props_, std::move(property));
}

void StoreFile::SetReceiveFolder(StoreFolder& folder) {
  std::lock_guard lock(mutex_);
  RequireOpen();
  writer_->SetReceiveFolder(folder.id);
  receive_in_root_ = false;
}

StoreFolder& StoreFile::AddFolder(StoreFolder& parent, const std::string& name, const std::string& container_class) {
  std::lock_guard lock(mutex_);
  RequireOpen();
  auto folder = std::make_unique<StoreFolder>();
  folder->id = writer_->AddFolder(parent.id, name, container_class);
  folder->name = name;
  folder->container_class = container_class;
  folder->parent = &parent;
  if (receive_in_root_ && &parent == root_.get() && name == "Inbox") {
    writer_->SetReceiveFolder(folder->id);
    receive_in_root_ = false;
  }
  parent.children.push_back(std::move(folder));
  return *parent.children.back();
}

void StoreFile::RenameFolder(StoreFolder& folder, const std::string& name) {
  std::lock_guard lock(mutex_);
  RequireOpen();
  writer_->SetFolderProperties(folder.id, {pst::Property::String(kPidDisplayName, name)});
  folder.name = name;
}

void StoreFile::SetFolderProperty(StoreFolder& folder, pst::Property property) {
  std::lock_guard lock(mutex_);
  RequireOpen();
  writer_->SetFolderProperties(folder.id, {property});
  if (property.id() == kPidDisplayName) folder.name = property.AsString();
  else if (property.id() == kPidContainerClass) folder.container_class = property.AsString();
  else if (property.id() == kPidComment) folder.description = property.AsString();
  else pst::set_prop(folder.props, std::move(property));
}

void StoreFile::SetDescription(StoreFolder& folder, const std::string& description) {
  std::lock_guard lock(mutex_);
  RequireOpen();
  writer_->SetFolderProperties(folder.id, {pst::Property::String(kPidComment, description)});
  folder.description = description;
}

std::uint16_t StoreFile::RegisterName(const pst::PropertyName& name) {
  std::lock_guard lock(mutex_);
  RequireOpen();
  return writer_->RegisterName(name);
}

std::uint32_t StoreFile::AddMessage(StoreFolder& folder, pst::MessageSpec message) {
  std::lock_guard lock(mutex_);
  RequireOpen();
  std::uint32_t nid = 0;
  try {
    nid = writer_->AddMessage(folder.id, std::move(message));
  } catch (...) {
    NoteFailure(*writer_);
    throw;
  }
  ++since_commit_;
  try {
    CheckpointIfDue();
  } catch (...) {
    // This message's caller hears of it through the error; the ones before it are counted here.
    --since_commit_;
    NoteFailure(*writer_);
    throw;
  }
  return nid;
}

void StoreFile::NoteCommitted() {
  committed_messages_ += since_commit_;
  since_commit_ = 0;
  last_commit_ = std::chrono::steady_clock::now();
}

void StoreFile::NoteFailure(const pst::StoreWriter& writer) {
  // Once the writer has failed nothing more reaches the file: every message accepted since the
  // last commit is lost, though its caller was told it was stored.
  if (!writer.failed() || lost_counted_) return;
  lost_counted_ = true;
  lost_messages_ += since_commit_;
  since_commit_ = 0;
}

std::string StoreFile::EntryIdOf(std::uint32_t nid) const { return hex_upper(pst::make_entry_id(record_key_, nid)); }

void StoreFile::set_checkpoint_rule(const CheckpointRule& rule) {
  std::lock_guard lock(mutex_);
  checkpoint_rule_ = rule;
}

std::uint64_t StoreFile::projected_size() const {
  std::lock_guard lock(mutex_);
  if (!writer_) return 0;
  return writer_->projected_size();
}

bool checkpoint_due(const CheckpointRule& rule, std::uint32_t messages_since, std::chrono::steady_clock::duration elapsed,
                    std::chrono::steady_clock::duration last_cost) {
  if (messages_since < rule.messages && elapsed < rule.interval) return false;
  // Checkpoints of a tenth of a second come as the rule says: only large tables space them out.
  return last_cost < std::chrono::milliseconds(100) || elapsed >= 4 * last_cost;
}

void StoreFile::CheckpointIfDue() {
  const auto start = std::chrono::steady_clock::now();
  if (!checkpoint_due(checkpoint_rule_, since_commit_, start - last_commit_, last_commit_cost_)) return;
  writer_->Commit();
  // A checkpoint rewrote the tables and dropped the index pages it wrote: what the heap freed
  // goes back to the system, so that a long save does not keep every hole it made.
  release_free_heap_pages();
  NoteCommitted();
  last_commit_cost_ = last_commit_ - start;
}

void StoreFile::Commit() {
  std::lock_guard lock(mutex_);
  RequireOpen();
  try {
    writer_->Commit();
  } catch (...) {
    NoteFailure(*writer_);
    throw;
  }
  NoteCommitted();
}

void StoreFile::Close() {
  std::lock_guard lock(mutex_);
  if (!writer_) return;
  // The writer is dropped even when its last commit fails, so that the store is closed either
  // way; the failure still reaches the caller.
  std::unique_ptr<pst::StoreWriter> writer = std::move(writer_);
  try {
    writer->Close();
  } catch (...) {
    NoteFailure(*writer);
    throw;
  }
  NoteCommitted();
}

// ---- the stores of the process -------------------------------------------------------------

namespace {

struct Registry {
  std::mutex mutex;
  std::vector<StoreFilePtr> stores;  // in the order they were last added

  ~Registry() {
    // The end of the process closes what a save left open, so its last items are on disk.
    for (auto& s : stores) {
      try {
        s->Close();
      } catch (...) {
      }
    }
  }
};

Registry& registry() {
  static Registry r;
  return r;
}

std::string key_of(const std::string& path) {
  std::error_code ec;
  auto p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  if (ec) return std::filesystem::path(path).lexically_normal().string();
  return p.string();
}

}  // namespace

StoreFilePtr open_store_file(const std::string& path) {
  if (path.empty()) throw AutomationError(AutomationError::Code::kBadArgument, kNoMember, "a store needs a file path");
  const std::string key = key_of(path);
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = std::find_if(r.stores.begin(), r.stores.end(), [&](const StoreFilePtr& s) { return key_of(s->path()) == key; });
  StoreFilePtr store;
  if (it != r.stores.end() && (*it)->is_open()) {
    store = *it;
    r.stores.erase(it);
  } else {
    if (it != r.stores.end()) r.stores.erase(it);
    std::error_code ec;
    const bool exists = std::filesystem::exists(key, ec);
    if (ec) throw AutomationError(AutomationError::Code::kFailed, kNoMember, path + ": " + ec.message());
    if (maker_for(key)) {
      try {
        store = StoreFile::Create(key);
      } catch (const CFileException&) {
        throw;  // a name that is taken is told as one, as for a PST
      } catch (const std::exception& e) {
        throw AutomationError(AutomationError::Code::kFailed, kNoMember, e.what());
      }
    } else if (exists) {
      try {
        store = StoreFile::Open(key);
      } catch (const std::exception& e) {
        throw AutomationError(AutomationError::Code::kFailed, kNoMember, e.what());
      }
    } else {
      store = StoreFile::Create(key);
    }
  }
  r.stores.push_back(store);
  return store;
}

std::vector<StoreFilePtr> open_store_files() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::vector<StoreFilePtr> out;
  for (const auto& s : r.stores)
    if (s->is_open()) out.push_back(s);
  return out;
}

void close_store_files() {
  std::vector<StoreFilePtr> stores;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    stores.swap(r.stores);
  }
  for (auto& s : stores) s->Close();
}

}  // namespace salvora::store
