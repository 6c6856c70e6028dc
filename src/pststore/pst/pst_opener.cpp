// Opening an existing Unicode PST to add to it: the writer's in-memory state (allocation maps,
// both B-trees, store object, name-to-id map, every folder with its table rows) is rebuilt from
// the file, so that new folders and messages go in exactly as into a store the writer made.
//
// Nothing of the file is rewritten until something changes: a folder's property context and
// tables are written anew only when a child or a message is added to it, and the blocks they
// replace are freed then. Blocks that other nodes share (a reference count above two) are
// never freed: they give up one reference and stay with their other owners.

#include <algorithm>
#include <random>
#include <set>
#include <stdexcept>

#include "format/ids.h"
#include "format/page.h"
#include "format/prop_types.h"
#include "pststore/pst/disk_layout.h"
#include "pststore/pst/pst_file_reader.h"
#include "pststore/pst/table_templates.h"
#include "pststore/pst/writer_impl.h"

namespace salvora::pst {

namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
  throw std::runtime_error(path + ": cannot add to this store: " + why);
}

// What the strict reader reports that does not stop us adding to a file: header fields that
// the next commit writes anew anyway, stray bytes in table cells of absent columns (tables are
// rewritten with zeros there), and hash records of the name map (rebuilt whole when it is
// written). Everything else, a damaged tree or an unreadable object, is refused.
bool tolerable(const std::string& problem) {
  static constexpr const char* kTolerated[] = {
      "rgbFM/rgbFP", "cbPMapFree", "fAMapValid", "bPlatformCreate", "cell of an absent column is not zero",
      "in its hash bucket", "hash record in the wrong bucket"};
  for (const char* t : kTolerated)
    if (problem.find(t) != std::string::npos) return true;
  return false;
}

// Reads the pages of one B-tree, keeping the leaves with their entries and the inner pages.
template <class Entry>
class TreeReader {
 public:
  TreeReader(const PstFileReader& reader, std::uint8_t ptype, const std::string& path)
      : reader_(reader), ptype_(ptype), path_(path) {}

  void Walk(const Bref& page, int depth) {
    if (depth > 16) refuse(path_, "a B-tree deeper than any valid file");
    const auto bytes = reader_.ReadRaw(page.ib, kPageSize);
    const auto parsed = BtPage::Parse(bytes);
    if (bytes.size() != kPageSize || !parsed || parsed->ptype != ptype_) refuse(path_, "unreadable B-tree page");
    ByteReader r(parsed->entries);
    if (parsed->level == 0) {
      std::vector<Entry> entries;
      for (std::uint8_t i = 0; i < parsed->c_ent; ++i) {
        ByteReader e(r.bytes(parsed->cb_ent));
        entries.push_back(Entry::Parse(e));
      }
      if (!r.ok()) refuse(path_, "short B-tree page");
      leaves.emplace_back(page, std::move(entries));
      return;
    }
    inner.push_back(page);
    std::vector<BtEntry> children;
    for (std::uint8_t i = 0; i < parsed->c_ent; ++i) {
      ByteReader e(r.bytes(parsed->cb_ent));
      children.push_back(BtEntry::Parse(e));
    }
    if (!r.ok()) refuse(path_, "short B-tree page");
    for (const auto& c : children) Walk(c.child, depth + 1);
  }

  std::vector<std::pair<Bref, std::vector<Entry>>> leaves;
  std::vector<Bref> inner;

 private:
  const PstFileReader& reader_;
  std::uint8_t ptype_;
  const std::string& path_;
};

// Every block a node owns alone: its data tree and its sub-node tree with the values below.
class OwnedBlocks {
 public:
  OwnedBlocks(const PstFileReader& reader, BlockTree& bbt) : reader_(reader), bbt_(bbt) {}

  BlockList Of(Bid bid_data, Bid bid_sub) {
    BlockList out;
    Data(bid_data.value, out, 0);
    Subnodes(bid_sub.value, out, 0);
    return out;
  }

 private:
  // Lists the block; true when the node owns it alone, so that what hangs below it is the
  // node's too. A shared block is listed to give up one reference, and its children stay
  // with it.
  bool Take(std::uint64_t bid, BlockList& out) {
    const std::optional<BbtEntry> e = bbt_.Find(bid);
    if (!e || e->cref < 2) return false;
    out.push_back(bid);
    return e->cref == 2;
  }

  void Data(std::uint64_t bid, BlockList& out, int depth) {
    if (bid == 0 || depth > 4 || !Take(bid, out) || !IsInternalBid(bid)) return;
    const auto payload = reader_.ReadBlock(Bid(bid));
    if (!payload) return;
    if (const auto x = XBlock::Parse(*payload, FileLayout::kUnicode, Tolerance::kStrict))
      for (auto child : x->bids) Data(child, out, depth + 1);
  }

  void Subnodes(std::uint64_t bid, BlockList& out, int depth) {
    if (bid == 0 || depth > 4 || !Take(bid, out)) return;
    const auto payload = reader_.ReadBlock(Bid(bid));
    if (!payload) return;
    const auto s = SubnodeBlock::Parse(*payload, FileLayout::kUnicode, Tolerance::kStrict);
    if (!s) return;
    for (const auto& e : s->entries) {
      if (s->level == 0) {
        Data(e.bid_data, out, 0);
        Subnodes(e.bid_sub, out, depth + 1);
      } else {
        Subnodes(e.bid_data, out, depth + 1);
      }
    }
  }

  const PstFileReader& reader_;
  BlockTree& bbt_;
};

// Table cells without the row id and version, which the writer adds to every row itself.
PropertyList row_cells(const TableRow& row) {
  PropertyList cells;
  for (const auto& p : row.cells)
    if (p.id() != kPidLtpRowId && p.id() != kPidLtpRowVer) cells.push_back(p);
  return cells;
}

// A contents row as the writer's table would hold it: the message's own values for every
// column of the template, and from the old row only what the message does not carry itself
// (its status). Outlook's tables have other columns, so a row copied as it was would lack
// values its message has once the table is written with the writer's columns.
PropertyList message_row(const PropertyList& old_cells, const std::optional<PropertyList>& message,
                        const TableSchema& schema) {
  if (!message) return old_cells;
  PropertyList cells;
  for (const auto& p : *message)
    if (schema.Find(p.tag)) cells.push_back(p);
  for (const auto& p : old_cells)
    if (schema.Find(p.tag) && !find_prop(*message, p.id())) cells.push_back(p);
  return cells;
}

}  // namespace

void FileSpace::Adopt(const std::vector<std::vector<std::uint8_t>>& maps) {
  written_count_ = maps.size();
  longest_free_.assign(maps.size(), 0);
  DropMapsBut(UINT64_MAX);
  allocated_slots_ = 0;
  cursor_ = g_.amap_offset(maps.size());
  for (auto& list : reusable_blocks_) list.clear();
  reusable_pages_.clear();
  pending_ib_.clear();
  pending_size_.clear();
  for (std::uint64_t k = 0; k < maps.size(); ++k) {
    const std::vector<std::uint8_t>& map = maps[k];
    std::uint64_t longest = 0;
    std::uint64_t run_start = 0, run = 0;
    const std::uint64_t slots = g_.slots_per_map();
    for (std::uint64_t s = 0; s <= slots; ++s) {
      const bool used = s == slots || map_slot_set(map, s);
      if (s < slots && used) ++allocated_slots_;
      if (!used) {
        if (run == 0) run_start = s;
        ++run;
      } else if (run > 0) {
        longest = std::max(longest, run);
        AddReusable(g_.amap_offset(k) + run_start * g_.slot_size, run * g_.slot_size);
        run = 0;
      }
    }
    // A map the file already holds as given stays on disk; any other is written at the next
    // commit and kept in memory until then.
    const std::uint64_t ib = g_.amap_offset(k);
    const auto page = Read(ib, g_.page_size);
    const bool same = page.size() == g_.page_size && std::equal(map.begin(), map.end(), page.begin()) &&
                      check_page_trailer(page, kPtypeAMap, ib, ib, false, g_.layout).empty();
    longest_free_[k] = static_cast<std::uint8_t>(std::min<std::uint64_t>(longest, 255));
    if (!same) {
      std::copy(map.begin(), map.end(), HoldMap(k).begin());
      resident_[k].dirty = true;
    }
  }
}

namespace {

// The file being opened, read through the strict reader. Every problem the reader reports
// that is not tolerable refuses the file, at the first step that met one.
class ExistingStore {
 public:
  explicit ExistingStore(const std::string& path)
      : path_(path), reader_([this](const std::string& s) {
          if (!tolerable(s)) problems_.push_back(s);
        }) {
    if (!reader_.Open(path)) {
      if (!problems_.empty()) refuse(path, problems_.front());
      refuse(path, "not a Unicode PST");
    }
    reader_.LoadTrees();
    if (!problems_.empty()) refuse(path, problems_.front());
    const PstHeader& h = header();
    if (h.amap_valid == 0) refuse(path, "its allocation maps are marked invalid");
    if (h.crypt_method > 2) refuse(path, "unknown encoding");
    if (h.file_eof < amap_offset(1) || (h.file_eof - kFirstAmapOffset) % kAmapCoverage != 0 ||
        h.file_eof > reader_.file_size() || h.amap_last + kAmapCoverage != h.file_eof)
      refuse(path, "its end of file does not close an allocation interval");
  }
  // The reader's sink refers to this object.
  ExistingStore(const ExistingStore&) = delete;
  ExistingStore& operator=(const ExistingStore&) = delete;

  const std::string& path() const { return path_; }
  const PstFileReader& reader() const { return reader_; }
  const PstHeader& header() const { return reader_.header().header; }

  std::optional<NodeRef> Node(Nid nid) const { return reader_.Node(nid); }

  PropertyList Pc(Nid nid) const {
    const auto node = Node(nid);
    if (!node) refuse(path_, "node " + hex(nid) + " is missing");
    auto pc = reader_.ReadPc(*node);
    if (!pc || !problems_.empty()) refuse(path_, "node " + hex(nid) + " cannot be read");
    return *pc;
  }

  // The rows of one of a folder's tables, and the blocks its node owns; none without a node.
  std::vector<TableRow> Table(std::uint32_t folder, std::uint8_t table, OwnedBlocks& owned, BlockList& blocks) const {
    const auto node = Node(table_nid(Nid(folder), table));
    if (!node) return {};
    auto tc = reader_.ReadTc(*node);
    if (!tc || !problems_.empty())
      refuse(path_, "a table of folder " + hex(folder) + " cannot be read" + (problems_.empty() ? "" : ": " + problems_.back()));
    blocks = owned.Of(node->bid_data, node->bid_sub);
    return tc->rows;
  }

  // A message's own properties, for its table row; empty when its node is missing.
  std::optional<PropertyList> MessageProps(std::uint32_t message) const {
    const auto node = Node(Nid(message));
    if (!node) return std::nullopt;
    auto pc = reader_.ReadPc(*node);
    if (!problems_.empty()) refuse(path_, "message " + hex(message) + " cannot be read: " + problems_.back());
    return pc;
  }

  const std::vector<std::string>& problems() const { return problems_; }

 private:
  std::string path_;
  std::vector<std::string> problems_;
  PstFileReader reader_;
};

// The allocation maps are made anew from what the trees use, as a reader rebuilds maps it
// cannot trust: Outlook leaves space marked that nothing holds any more (and older files mark
// their maps valid only for themselves), and the maps we commit must be exact.
std::vector<std::vector<std::uint8_t>> MapsOfUsedSpace(const PstHeader& h, const TreeReader<BbtEntry>& bbt,
                                                        const TreeReader<NbtEntry>& nbt, const std::string& path) {
  const std::uint64_t intervals = (h.file_eof - kFirstAmapOffset) / kAmapCoverage;
  std::vector<std::vector<std::uint8_t>> maps(intervals, std::vector<std::uint8_t>(kAmapBytes, 0));
  const auto mark = [&](std::uint64_t ib, std::uint64_t size) {
    if (ib < kFirstAmapOffset || ib % kSlotSize != 0 || ib + size > h.file_eof) refuse(path, "space outside its maps at " + hex(ib));
    for (std::uint64_t at = ib; at < ib + size; at += kSlotSize) {
      const std::uint64_t k = interval_of(at);
      const std::uint64_t slot = (at - amap_offset(k)) / kSlotSize;
      set_map_slot(maps[k], slot);
    }
  };
  for (std::uint64_t k = 0; k < intervals; ++k) mark(amap_offset(k), reserved_map_bytes(k));
  for (const auto* pages : {&bbt.inner, &nbt.inner})
    for (const auto& p : *pages) mark(p.ib, kPageSize);
  for (const auto& leaf : bbt.leaves) mark(leaf.first.ib, kPageSize);
  for (const auto& leaf : nbt.leaves) mark(leaf.first.ib, kPageSize);
  for (const auto& leaf : bbt.leaves)
    for (const auto& e : leaf.second) mark(e.ib, BlockDiskSize(e.cb));
  return maps;
}

// Both B-trees and the space they use, and the counters of the header, become the writer's.
void AdoptTreesAndSpace(PstWriter::Impl& w, const ExistingStore& store, const PstOptions& options) {
  const PstHeader& h = store.header();
  TreeReader<BbtEntry> bbt(store.reader(), kPtypeBbt, store.path());
  bbt.Walk(h.bbt, 0);
  TreeReader<NbtEntry> nbt(store.reader(), kPtypeNbt, store.path());
  nbt.Walk(h.nbt, 0);
  w.store->space().Adopt(MapsOfUsedSpace(h, bbt, nbt, store.path()));
  w.store->bbt().Adopt(std::move(bbt.leaves), bbt.inner, w.store->space());
  w.nbt.Adopt(std::move(nbt.leaves), nbt.inner, w.store->space());
  w.store->next_bid = h.bid_next_b;
  w.store->next_page_bid = h.bid_next_p;
  for (std::size_t t = 0; t < 32; ++t) w.rgnid[t] = h.rgnid[t];
  w.committed = h;
  w.has_committed = true;
  // Keys drawn in this session must not repeat those of the session that made the file.
  w.rng.seed(options.random_seed != 0 ? options.random_seed : std::random_device{}());
}

// The message store, the name-to-id map and the receive-folder table.
void LoadStoreObjects(PstWriter::Impl& w, const ExistingStore& store, OwnedBlocks& owned) {
  const auto owned_by = [&](Nid nid) {
    const NodeRef node = *store.Node(nid);
    return owned.Of(node.bid_data, node.bid_sub);
  };
  w.store_props = store.Pc(kNidMessageStore);
  w.store_owned = owned_by(kNidMessageStore);
  w.store_dirty = false;

  std::vector<std::string> name_problems;
  w.names = NameToIdMap::FromProperties(store.Pc(kNidNameToIdMap), &name_problems);
  std::erase_if(name_problems, tolerable);
  if (!name_problems.empty()) refuse(store.path(), name_problems.front());
  w.names.clear_dirty();
  w.names_owned = owned_by(kNidNameToIdMap);

  // The receive-folder table stays the file's (Outlook's names the Inbox) until someone sets
  // another folder; without one, the next commit writes the writer's.
  const auto receive = store.Node(kNidReceiveFolderTable);
  if (!receive) return;
  w.receive_dirty = false;
  w.receive_owned = owned.Of(receive->bid_data, receive->bid_sub);
  if (const auto tc = store.reader().ReadTc(*receive)) {
    for (const auto& row : tc->rows) {
      const Property* cls = find_prop(row.cells, kPidMessageClass);
      const Property* folder = find_prop(row.cells, kPidReceiveFolderNid);
      if (cls && folder && cls->AsString().empty()) w.receive_folder = static_cast<std::uint32_t>(folder->AsInt());
    }
  }
  if (!store.problems().empty()) refuse(store.path(), "its receive-folder table cannot be read: " + store.problems().back());
}

// A folder: its own properties, its children in hierarchy order, its contents rows.
FolderState LoadFolder(const ExistingStore& store, OwnedBlocks& owned, std::uint32_t nid, const NbtEntry& entry) {
  FolderState f;
  f.nid = nid;
  f.parent = entry.nid_parent == 0 ? nid : entry.nid_parent;
  f.search = Nid(nid).type() == kNidTypeSearchFolder;
  for (auto& p : store.Pc(Nid(nid)))
    if (p.id() != kPidContentCount && p.id() != kPidContentUnreadCount && p.id() != kPidSubfolders) f.props.push_back(p);
  f.owned[0] = owned.Of(Bid(entry.bid_data), Bid(entry.bid_sub));
  f.pc_dirty = f.hierarchy_dirty = f.contents_dirty = f.assoc_dirty = false;
  if (f.search) return f;
  for (const auto& row : store.Table(nid, kNidTypeHierarchyTable, owned, f.owned[1])) f.children.push_back(row.row_id);
  for (const auto& row : store.Table(nid, kNidTypeContentsTable, owned, f.owned[2])) {
    PropertyList cells = message_row(row_cells(row), store.MessageProps(row.row_id), contents_template());
    const Property* flags = find_prop(cells, kPidMessageFlags);
    if (!flags || (flags->AsInt() & kMsgFlagRead) == 0) ++f.unread;
    f.contents.push_back(PackedRow{row.row_id, PackedProps(cells)});
  }
  for (const auto& row : store.Table(nid, kNidTypeAssocContentsTable, owned, f.owned[3]))
    f.assoc.push_back(PackedRow{row.row_id, PackedProps(message_row(row_cells(row), store.MessageProps(row.row_id), assoc_contents_template()))});
  // A table without a node is written at the first change, as for a new folder.
  f.hierarchy_dirty = !store.Node(table_nid(Nid(nid), kNidTypeHierarchyTable));
  f.contents_dirty = !store.Node(table_nid(Nid(nid), kNidTypeContentsTable));
  f.assoc_dirty = !store.Node(table_nid(Nid(nid), kNidTypeAssocContentsTable));
  return f;
}

// The counts a folder carries are the writer's to compute. Where the file's differ (or are
// missing), the folder is written again at the next commit, so its own values and its parent's
// row agree. A search folder's count is of its search results, which stay as they are: its rows
// are stood in for by that many empty ones, never written.
void SettleFolderCounts(PstWriter::Impl& w, const ExistingStore& store) {
  for (auto& [nid, f] : w.folders) {
    const PropertyList pc = store.Pc(Nid(nid));
    const Property* count = find_prop(pc, kPidContentCount);
    const Property* unread = find_prop(pc, kPidContentUnreadCount);
    const Property* subfolders = find_prop(pc, kPidSubfolders);
    if (f.search) {
      f.contents.assign_empty(count ? static_cast<std::size_t>(std::max<std::int64_t>(count->AsInt(), 0)) : 0);
      f.unread = unread ? static_cast<std::uint32_t>(std::max<std::int64_t>(unread->AsInt(), 0)) : 0;
      continue;
    }
    const bool agrees = count && count->AsInt() == static_cast<std::int64_t>(f.contents.size()) && unread &&
                        unread->AsInt() == static_cast<std::int64_t>(f.unread) && subfolders &&
                        (subfolders->AsInt() != 0) == !f.children.empty();
    if (!agrees) {
      f.pc_dirty = true;
      if (f.parent != nid) w.folders.at(f.parent).hierarchy_dirty = true;
    }
  }
}

}  // namespace

std::unique_ptr<PstWriter> PstWriter::Open(const std::string& path, const PstOptions& options) {
  const ExistingStore store(path);
  const PstHeader& h = store.header();

  auto impl = std::make_unique<Impl>();
  impl->options = options;
  impl->options.crypt = static_cast<CryptMethod>(h.crypt_method);
  impl->options.offline_client = h.magic_client == kClientMagicOst;
  impl->path = path;
  CFileException error;
  if (!impl->file.Open(path, CFile64::Access::kReadWrite, CFile64::Lock::kExclusive, &error)) throw error;
  impl->store = std::make_unique<BlockStore>(impl->file, impl->options.crypt);
  impl->AttachNodeTree();
  Impl& w = *impl;

  AdoptTreesAndSpace(w, store, options);
  OwnedBlocks owned(store.reader(), w.store->bbt());
  LoadStoreObjects(w, store, owned);
  for (const auto& [nid, entry] : store.reader().nodes()) {
    const std::uint8_t type = nid.type();
    if (type == kNidTypeNormalFolder || type == kNidTypeSearchFolder)
      w.folders.emplace(nid.value, LoadFolder(store, owned, nid.value, entry));
  }
  if (!w.folders.count(kNidRootFolder.value)) refuse(path, "it has no root folder");
  SettleFolderCounts(w, store);
  // Rows naming folders that are not in the file are left out of the rebuilt tables.
  for (auto& [nid, f] : w.folders) {
    std::erase_if(f.children, [&](std::uint32_t c) { return !w.folders.count(c); });
  }
  for (auto& [nid, f] : w.folders) {
    if (f.parent != nid && !w.folders.count(f.parent)) refuse(path, "folder " + hex(nid) + " has no parent folder");
  }
  w.stats.folders = w.folders.size();
  w.store->bbt().DropClean();
  w.nbt.DropClean();
  w.bytes_at_commit = w.store->bytes_written;
  return std::unique_ptr<PstWriter>(new PstWriter(std::move(impl)));
}

}  // namespace salvora::pst
