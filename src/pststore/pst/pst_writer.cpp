#include "pststore/pst/pst_writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <stdexcept>

#include "format/byte_writer.h"
#include "format/entry_id.h"
#include "format/ids.h"
#include "format/prop_types.h"
#include "format/property_sets.h"
#include "pststore/pst/disk_layout.h"
#include "pststore/pst/table_templates.h"
#include "pststore/pst/writer_impl.h"

namespace salvora::pst {

namespace {


}  // namespace

std::vector<std::uint8_t> make_entry_id(const std::array<std::uint8_t, 16>& record_key, std::uint32_t nid) {
  return EntryId{0, record_key, Nid(nid)}.Serialize();
}

// ---- node building -------------------------------------------------------------------------

NodeBuilder::NodeBuilder(PstWriter::Impl& w, BlockList* owned) : w_(w), owned_(owned), heap_(*w.store, owned) {}

std::uint32_t NodeBuilder::AllocLocalNid(std::uint8_t type) { return Nid::make(type, next_local_index_++).value; }

std::uint32_t NodeBuilder::AddValue(Bytes data) {
  const std::uint32_t nid = AllocLocalNid(kNidTypeLtp);
  subs_.push_back(SubnodeBlockEntry{nid, w_.store->WriteValue(data, owned_), 0});
  return nid;
}

std::uint32_t NodeBuilder::AddBlocks(const std::vector<std::vector<std::uint8_t>>& blocks) {
  const std::uint32_t nid = AllocLocalNid(kNidTypeLtp);
  subs_.push_back(SubnodeBlockEntry{nid, WriteHeap(blocks), 0});
  return nid;
}

std::uint32_t NodeBuilder::AddBlocksInOrder(std::size_t count,
                                            const std::function<std::vector<std::uint8_t>(std::size_t)>& block_at) {
  IndexedTreeWriter tree(*w_.store, owned_);
  for (std::size_t k = 0; k < count; ++k) tree.Put(k, block_at(k));
  // The NID after the blocks, as AddBlocks takes it after its caller made them.
  const std::uint32_t nid = AllocLocalNid(kNidTypeLtp);
  subs_.push_back(SubnodeBlockEntry{nid, tree.Finish(), 0});
  return nid;
}

std::uint64_t NodeBuilder::WriteHeap(const std::vector<std::vector<std::uint8_t>>& blocks) {
  IndexedTreeWriter tree(*w_.store, owned_);
  for (std::size_t k = 0; k < blocks.size(); ++k) tree.Put(k, blocks[k]);
  return tree.Finish();
}

HeapBlockSink NodeBuilder::HeapBlocks() {
  return [this](HeapBlock b) { heap_.Put(b.index, b.bytes); };
}

std::uint64_t NodeBuilder::FinishSubnodes() {
  std::sort(subs_.begin(), subs_.end(), [](const SubnodeBlockEntry& a, const SubnodeBlockEntry& b) { return a.nid < b.nid; });
  return w_.store->WriteSubnodes(subs_, owned_);
}

// ---- impl ----------------------------------------------------------------------------------

std::uint32_t PstWriter::Impl::AllocNid(std::uint8_t type) {
  const std::uint32_t index = ++rgnid[type];
  return Nid::make(type, index).value;
}

void PstWriter::Impl::CheckUsable() const {
  // The first error's own words go along: with a full disk, the call that failed first is often
  // one whose caller carries on (a folder, a template item), and only this repeat reaches the
  // user.
  if (failed) {
    throw std::runtime_error(path + ": the PST writer stopped after an earlier error" +
                             (failure.empty() ? std::string() : " (" + failure + ")"));
  }
}

void PstWriter::Impl::PutNode(std::uint32_t nid, std::uint64_t data, std::uint64_t sub, std::uint32_t parent) {
  nbt.Put(NbtEntry{nid, data, sub, parent});
}

void PstWriter::Impl::WritePcNode(std::uint32_t nid, std::uint32_t parent, const PropertyList& props, BlockList& owned) {
  store->FreeBlocks(owned);
  owned.clear();
  NodeBuilder nb(*this, &owned);
  const auto heap = build_property_context(props, nb);
  const std::uint64_t data = nb.WriteHeap(heap);
  PutNode(nid, data, nb.FinishSubnodes(), parent);
}

void PstWriter::Impl::WriteTcNode(std::uint32_t nid, const TableSchema& schema, std::size_t row_count,
                                  const std::function<TableRow(std::size_t)>& row_at, BlockList& owned,
                                  bool ids_ascending) {
  store->FreeBlocks(owned);
  owned.clear();
  NodeBuilder nb(*this, &owned);
  build_table_context(schema, row_count, row_at, nb, nb.HeapBlocks(), ids_ascending);
  const std::uint64_t data = nb.FinishHeap();
  PutNode(nid, data, nb.FinishSubnodes(), 0);
}

FolderState& PstWriter::Impl::Folder(std::uint32_t nid) {
  auto it = folders.find(nid);
  if (it == folders.end()) throw std::invalid_argument("no folder with NID " + std::to_string(nid));
  return it->second;
}

std::uint32_t PstWriter::Impl::NewFolder(std::uint32_t parent, std::string_view name, std::string_view container_class) {
  const std::uint32_t nid = AllocNid(kNidTypeNormalFolder);
  FolderState f;
  f.nid = nid;
  f.parent = parent;
  f.props.push_back(Property::String(kPidDisplayName, name));
  if (!container_class.empty()) f.props.push_back(Property::String(kPidContainerClass, container_class));
  folders.emplace(nid, std::move(f));
  if (parent != nid) {
    FolderState& p = Folder(parent);
    p.children.push_back(nid);
    MarkFolderChanged(p);
    p.hierarchy_dirty = true;
  }
  ++stats.folders;
  return nid;
}

PropertyList PstWriter::Impl::FolderProps(const FolderState& f) const {
  PropertyList props = f.props;
  set_prop(props, Property::Int32(kPidContentCount, static_cast<std::int32_t>(f.contents.size())));
  set_prop(props, Property::Int32(kPidContentUnreadCount, static_cast<std::int32_t>(f.unread)));
  set_prop(props, Property::Bool(kPidSubfolders, !f.children.empty()));
  normalize_props(props);
  return props;
}

// A folder's counts appear in its own property context and in its parent's hierarchy row.
void PstWriter::Impl::MarkFolderChanged(FolderState& f) {
  f.pc_dirty = true;
  if (f.parent != f.nid) Folder(f.parent).hierarchy_dirty = true;
}

void PstWriter::Impl::FlushFolder(FolderState& f) {
  if (f.search) return;
  if (f.pc_dirty) WritePcNode(f.nid, f.parent, FolderProps(f), f.owned[0]);
  if (f.hierarchy_dirty) {
    std::vector<TableRow> rows;
    for (auto child : f.children) {
      const FolderState& c = Folder(child);
      TableRow row{child, row_ver++, {}};
      for (auto& p : FolderProps(c))
        if (hierarchy_template().Find(p.tag)) row.cells.push_back(p);
      rows.push_back(std::move(row));
    }
    WriteTcNode(table_nid(Nid(f.nid), kNidTypeHierarchyTable).value, hierarchy_template(), rows, f.owned[1]);
  }
  auto write_contents = [&](const RowList& packed, const TableSchema& schema, std::uint8_t type, BlockList& owned) {
    WriteTcNode(table_nid(Nid(f.nid), type).value, schema, packed.size(), [&](std::size_t i) {
      PackedRow row = packed.at(i);
      return TableRow{row.row_id, row_ver++, row.cells.Unpack()};
    }, owned, packed.ids_ascending());
  };
  if (f.contents_dirty) write_contents(f.contents, contents_template(), kNidTypeContentsTable, f.owned[2]);
  if (f.assoc_dirty) write_contents(f.assoc, assoc_contents_template(), kNidTypeAssocContentsTable, f.owned[3]);
  f.pc_dirty = f.hierarchy_dirty = f.contents_dirty = f.assoc_dirty = false;
}

void PstWriter::Impl::FlushObjects() {
  if (store_dirty) {
    WritePcNode(kNidMessageStore.value, 0, store_props, store_owned);
    store_dirty = false;
  }
  if (receive_dirty) {
    // One row for the default message class "": where mail without a more specific entry goes.
    static const TableSchema schema = TableSchema::Layout({PropTag(kPidReceiveFolderNid, kPtypInteger32),
                                                          PropTag(kPidMessageClass, kPtypString)});
    const std::vector<TableRow> rows = {TableRow{1, row_ver++,
                                                 {Property::Int32(kPidReceiveFolderNid, static_cast<std::int32_t>(receive_folder)),
                                                  Property::String(kPidMessageClass, "")}}};
    WriteTcNode(kNidReceiveFolderTable.value, schema, rows, receive_owned);
    receive_dirty = false;
  }
  if (names.dirty()) {
    WritePcNode(kNidNameToIdMap.value, 0, names.ToProperties(), names_owned);
    names.clear_dirty();
  }
  for (auto& [nid, f] : folders) FlushFolder(f);
}

void PstWriter::Impl::WriteStaticNodes() {
  BlockList none;
  // Empty queues and lists: Outlook keeps these nodes without data.
  PutNode(kNidSearchManagementQueue.value, 0, 0, 0);
  PutNode(kNidSearchDomainObject.value, 0, 0, 0);
  const std::uint8_t sal[4] = {0x23, 0x22, 0, 0};  // the spam search folder's NID
  PutNode(kNidSearchActivityList.value, store->WriteBlock(sal, false, nullptr), 0, 0);
  const std::vector<TableRow> no_rows;
  BlockList scratch;
  WriteTcNode(kNidHierarchyTemplate.value, hierarchy_template(), no_rows, scratch);
  scratch.clear();
  WriteTcNode(kNidContentsTemplate.value, contents_template(), no_rows, scratch);
  scratch.clear();
  WriteTcNode(kNidAssocTemplate.value, assoc_contents_template(), no_rows, scratch);
  scratch.clear();
  WriteTcNode(kNidSearchContentsTemplate.value, search_contents_template(), no_rows, scratch);
  scratch.clear();
  WriteTcNode(kNidAttachmentTemplate.value, attachment_template(), no_rows, scratch);
  scratch.clear();
  WriteTcNode(kNidRecipientTemplate.value, recipient_template(), no_rows, scratch);
  scratch.clear();

  // The spam search folder with its update queue, criteria object and contents table.
  FolderState spam;
  spam.nid = kNidSpamSearchFolder.value;
  spam.parent = kNidRootFolder.value;
  spam.search = true;
  spam.props.push_back(Property::String(kPidDisplayName, "SPAM Search Folder 2"));
  const std::uint32_t spam_nid = spam.nid;
  const FolderState& placed = folders.emplace(spam_nid, std::move(spam)).first->second;
  Folder(kNidRootFolder.value).children.push_back(spam_nid);
  WritePcNode(placed.nid, placed.parent, FolderProps(placed), scratch);
  scratch.clear();
  PutNode(table_nid(Nid(spam_nid), kNidTypeSearchUpdateQueue).value, 0, 0, 0);
  WritePcNode(table_nid(Nid(spam_nid), kNidTypeSearchCriteriaObject).value, 0, {Property::Int32(kPidSearchFolderStatus, 0)}, scratch);
  scratch.clear();
  WriteTcNode(table_nid(Nid(spam_nid), kNidTypeSearchContentsTable).value, search_contents_template(), no_rows, scratch);
}

void PstWriter::Impl::WriteHeader(PstHeader h) {
  const auto bytes = h.Serialize();
  file.WriteAt(0, bytes.data(), bytes.size());
}

// The checkpoint protocol. Everything new lands in space that the last committed header does
// not use, so until the header moves nothing it references changes. The allocation maps are
// the exception: they are rewritten in place, so the old header is first marked "maps not
// valid" and synced; a file cut off while the maps change is then an old, valid store whose
// maps a reader rebuilds (MS-PST 2.6.1.3.7). The new header, with the maps valid, goes last.
// The new blocks and the old header's mark share one sync: the mark is only about the maps,
// and the blocks matter only once the new header names them.
void PstWriter::Impl::CommitNow() {
  CheckUsable();
  try {
    FlushObjects();
    const Bref nbt_root = nbt.Commit(store->space(), store->next_page_bid);
    const Bref bbt_root = store->bbt().Commit(store->space(), store->next_page_bid);
    store->space().Flush();
    if (has_committed) {
      PstHeader old = committed;
      old.amap_valid = 0;
      ++old.unique;
      WriteHeader(old);
      file.Flush();
    }
    // A store never committed has no header a reader could trust yet: its blocks and maps
    // are synced together, before its first header.
    store->space().ApplyPendingFrees();
    store->space().WriteMaps();
    file.Flush();

    PstHeader h = committed;
    h.magic_client = options.offline_client ? kClientMagicOst : kClientMagicPst;
    h.crypt_method = static_cast<std::uint8_t>(options.crypt);
    h.unique = committed.unique + 2;
    for (std::size_t t = 0; t < 32; ++t) h.rgnid[t] = rgnid[t];
    // A folder's tables share its index, and Outlook keeps their counters with the folder's.
    for (std::uint8_t t : {kNidTypeHierarchyTable, kNidTypeContentsTable, kNidTypeAssocContentsTable})
      h.rgnid[t] = std::max(h.rgnid[t], rgnid[kNidTypeNormalFolder]);
    h.nbt = nbt_root;
    h.bbt = bbt_root;
    h.file_eof = store->space().file_eof();
    h.amap_last = store->space().amap_last();
    h.amap_free = store->space().free_bytes();
    h.pmap_free = 0;
    h.amap_valid = 2;
    h.bid_next_b = store->next_bid;
    h.bid_next_p = store->next_page_bid;
    WriteHeader(h);
    file.Flush();
    store->space().MakeFreedReusable();
    committed = h;
    has_committed = true;
    bytes_at_commit = store->bytes_written;
    ++stats.commits;
  } catch (const std::exception& e) {
    if (!failed && failure.empty()) failure = e.what();
    failed = true;
    throw;
  } catch (...) {
    failed = true;
    throw;
  }
}

// ---- public API ----------------------------------------------------------------------------

PstWriter::PstWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PstWriter::~PstWriter() = default;

std::unique_ptr<PstWriter> PstWriter::Create(const std::string& path, const PstOptions& options) {
  if (options.layout != FileLayout::kUnicode && options.layout != FileLayout::kUnicode4k)
    throw std::invalid_argument("the PST writer writes the Unicode layouts only");
  auto impl = std::make_unique<Impl>();
  impl->options = options;
  impl->path = path;
  // The file is made under a scratch name and takes its own name only once the minimum store
  // is committed, so the path never holds a file that is not a valid PST.
  const std::string partial = path + ".partial";
  // A scratch file left by a killed run is replaced only where the caller replaces the store
  // itself; otherwise the name is someone's (a live writer's, or a link planted there) and
  // creating the scratch file fails rather than follow or truncate what is there.
  if (!options.keep_existing) ::unlink(partial.c_str());
  CFileException error;
  if (!impl->file.Open(partial, CFile64::Access::kCreateNew, CFile64::Lock::kExclusive, &error))
    throw CFileException(error.cause(), error.os_error(), error.os_error() == EEXIST ? partial : path);
  struct RemoveUnlessNamed {
    Impl& w;
    const std::string& partial;
    ~RemoveUnlessNamed() {
      if (w.file.IsOpen() && w.file.GetFilePath() == partial) {
        w.file.Close();
        std::remove(partial.c_str());
      }
    }
  } cleanup{*impl, partial};
  if (impl->options.record_key == std::array<std::uint8_t, 16>{}) {
    std::random_device rd;
    for (auto& b : impl->options.record_key) b = static_cast<std::uint8_t>(rd());
  }
  impl->rng.seed(options.random_seed != 0 ? options.random_seed : std::random_device{}());
  impl->store = std::make_unique<BlockStore>(impl->file, options.crypt, options.layout);
  impl->nbt = NodeTree(options.layout);
  impl->AttachNodeTree();
  impl->store->space().InitNew();
  impl->committed.version = options.layout == FileLayout::kUnicode4k ? 36 : 23;
  // Starting counters of a new store: each type's last index handed out.
  impl->rgnid.fill(0x400);
  impl->rgnid[kNidTypeSearchFolder] = 0x4000;
  impl->rgnid[kNidTypeNormalMessage] = 0x10000;
  impl->rgnid[kNidTypeAssocMessage] = 0x8000;
  impl->committed.unique = 1;

  Impl& w = *impl;
  FolderState root;
  root.nid = kNidRootFolder.value;
  root.parent = kNidRootFolder.value;
  root.props.push_back(Property::String(kPidDisplayName, ""));
  w.folders.emplace(root.nid, std::move(root));
  w.WriteStaticNodes();
  const std::uint32_t ipm = w.NewFolder(kNidRootFolder.value, "Top of Personal Folders", "");
  const std::uint32_t search_root = w.NewFolder(kNidRootFolder.value, "Search Root", "");
  const std::uint32_t deleted = w.NewFolder(ipm, "Deleted Items", "IPF.Note");
  // A new Outlook store comes with named properties already registered, and some readers
  // (libpff) refuse a map with no entries at all; register a few common ones.
  for (std::uint32_t lid : {0x8501u, 0x8503u, 0x8506u, 0x850Eu, 0x8510u, 0x8514u, 0x8516u, 0x8517u})
    w.names.Register(PropertyName{kPsetidCommon, lid, ""});
  w.names.Register(PropertyName{kPsPublicStrings, std::nullopt, "Keywords"});
  const auto& key = w.options.record_key;
  w.store_props = {
      Property::Binary(kPidRecordKey, key),
      Property::String(kPidDisplayName, options.display_name),
      Property::Int32(kPidValidFolderMask, 0x89),  // IPM subtree, wastebasket, finder
      Property::Binary(kPidIpmSubTreeEntryId, make_entry_id(key, ipm)),
      Property::Binary(kPidIpmWastebasketEntryId, make_entry_id(key, deleted)),
      Property::Binary(kPidFinderEntryId, make_entry_id(key, search_root)),
      Property::Int32(kPidPstPassword, 0),
  };
  try {
    w.CommitNow();
  } catch (const CFileException& e) {
    throw CFileException(e.cause(), e.os_error(), path);
  }
  if (options.keep_existing) {
    w.file.RenameNew(path);
  } else {
    w.file.Rename(path);
  }
  return std::unique_ptr<PstWriter>(new PstWriter(std::move(impl)));
}

FolderId PstWriter::root_folder() const { return kNidRootFolder.value; }
FolderId PstWriter::ipm_subtree() const { return Nid::make(kNidTypeNormalFolder, 0x401).value; }
FolderId PstWriter::search_root() const { return Nid::make(kNidTypeNormalFolder, 0x402).value; }
FolderId PstWriter::deleted_items() const { return Nid::make(kNidTypeNormalFolder, 0x403).value; }

FolderId PstWriter::AddFolder(FolderId parent, std::string_view name, std::string_view container_class) {
  impl_->CheckUsable();
  if (impl_->Folder(parent).search) throw std::invalid_argument("cannot add a folder under a search folder");
  return impl_->NewFolder(parent, name, container_class);
}

void PstWriter::SetFolderProperties(FolderId folder, const PropertyList& props) {
  impl_->CheckUsable();
  FolderState& f = impl_->Folder(folder);
  for (const auto& p : props) {
    if (p.id() == kPidContentCount || p.id() == kPidContentUnreadCount || p.id() == kPidSubfolders) continue;
    set_prop(f.props, p);
  }
  impl_->MarkFolderChanged(f);
}

void PstWriter::SetStoreProperties(const PropertyList& props) {
  impl_->CheckUsable();
  for (const auto& p : props) set_prop(impl_->store_props, p);
  impl_->store_dirty = true;
}

void PstWriter::SetReceiveFolder(FolderId folder) {
  impl_->CheckUsable();
  if (impl_->Folder(folder).search) throw std::invalid_argument("a search folder cannot receive mail");
  impl_->receive_folder = folder;
  impl_->receive_dirty = true;
}

std::uint16_t PstWriter::RegisterName(const PropertyName& name) { return impl_->names.Register(name); }

std::uint32_t PstWriter::AddMessage(FolderId folder, MessageSpec message) {
  impl_->CheckUsable();
  const std::uint32_t nid = impl_->AddMessage(folder, std::move(message));
  if (impl_->store->bytes_written - impl_->bytes_at_commit >= impl_->options.checkpoint_bytes) impl_->CommitNow();
  return nid;
}

void PstWriter::Commit() { impl_->CommitNow(); }

void PstWriter::Close() {
  if (!impl_->file.IsOpen()) return;
  impl_->CommitNow();
  impl_->file.Close();
}

const std::string& PstWriter::path() const { return impl_->path; }

bool PstWriter::failed() const { return impl_->failed; }

std::uint64_t PstWriter::projected_size() const {
  const PstWriterStats s = stats();
  return s.file_size + s.row_bytes + s.index_bytes;
}

PstWriterStats PstWriter::stats() const {
  PstWriterStats s = impl_->stats;
  s.bytes_written = impl_->store->bytes_written;
  s.file_size = impl_->store->space().file_eof();
  for (const auto& [nid, f] : impl_->folders)
    for (const auto* rows : {&f.contents, &f.assoc}) s.row_bytes += rows->memory_bytes();
  s.index_bytes = impl_->nbt.memory_bytes() + impl_->store->bbt().memory_bytes() + impl_->store->space().memory_bytes();
  return s;
}

}  // namespace salvora::pst
