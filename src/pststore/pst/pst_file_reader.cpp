#include "pststore/pst/pst_file_reader.h"

#include <cstdio>
#include <memory>
#include <set>

#include "pststore/pst/disk_layout.h"
#include "pststore/pst/property_context.h"

namespace salvora::pst {

std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

bool PstFileReader::Open(const std::string& path, CFile64::Lock lock) {
  CFileException error;
  if (!file_.Open(path, CFile64::Access::kReadOnly, lock, &error)) {
    sink_(error.message());
    return false;
  }
  file_size_ = file_.GetLength();
  const auto head = ReadRaw(0, kHeaderSize);
  Findings findings(Tolerance::kStrict);
  header_ = parse_header(head, findings);
  if (!header_.magic_ok || !header_.complete || header_.header.version < 23) {
    sink_("header: not a Unicode PST file (magic or version)");
    return false;
  }
  // This reader checks what the writer makes: the Unicode layouts of 512-byte and 4 KB pages.
  const FileLayout layout = layout_for_version(header_.header.version);
  if (layout != FileLayout::kUnicode && layout != FileLayout::kUnicode4k)
    sink_(field_mismatch("header: wVer", std::to_string(header_.header.version), "23 or 36"));
  space_ = &space_geometry(layout);
  for (const auto& p : findings.items()) sink_(p);
  crypt_ = static_cast<CryptMethod>(header_.header.crypt_method > 2 ? 0 : header_.header.crypt_method);
  return true;
}

std::vector<std::uint8_t> PstFileReader::ReadRaw(std::uint64_t ib, std::size_t n) const {
  std::vector<std::uint8_t> out(n);
  const std::size_t got = ib < file_size_ ? file_.ReadAt(ib, out.data(), n) : 0;
  out.resize(got);
  return out;
}

bool PstFileReader::WalkPage(const Bref& ref, std::uint8_t ptype, int expect_level, std::uint64_t min_key,
                             std::uint64_t max_key, std::vector<std::vector<std::uint8_t>>& leaf_entries, int depth) {
  const std::string where = std::string(ptype == kPtypeNbt ? "NBT" : "BBT") + " page at " + hex(ref.ib) + ": ";
  if (depth > 9) {
    sink_(where + "B-tree deeper than 8 intermediate levels");
    return false;
  }
  const FileLayout layout = space_->layout;
  const std::uint64_t page_size = space_->page_size;
  if (ref.ib % page_size != 0 || ref.ib + page_size > file_size_ || ref.ib < space_->first_amap) {
    sink_(where + "not a " + std::to_string(page_size) + "-aligned page inside the file");
    return false;
  }
  pages_.push_back(ref.ib);
  const auto raw = ReadRaw(ref.ib, page_size);
  for (const auto& p : check_page_trailer(raw, ptype, ref.bid, ref.ib, true, layout)) sink_(where + p);
  auto page = BtPage::Parse(raw, layout);
  if (!page) {
    sink_(where + "entry count and size do not fit the page");
    return false;
  }
  if (expect_level >= 0 && page->level != expect_level) sink_(field_mismatch(where + "cLevel", page->level, static_cast<std::uint64_t>(expect_level)));
  const std::uint8_t want_cb = BtPage::EntrySize(ptype, page->level);
  if (page->cb_ent != want_cb || page->c_ent_max != BtPage::MaxEntries(ptype, page->level, layout))
    sink_(where + "cbEnt/cEntMax wrong for the page type");
  if (page->c_ent > page->c_ent_max) sink_(where + "cEnt exceeds cEntMax");
  if (page->c_ent == 0) sink_(where + "empty B-tree page");
  if (page->cb_ent != want_cb) return false;
  // The key of entry i, by the entry kind's own parser.
  const Bytes entries(page->entries);
  const auto key_at = [&](std::size_t i) -> std::uint64_t {
    if (page->level > 0) return parse_bt_entry<BtEntry>(entries, i, want_cb, layout).key;
    if (ptype == kPtypeNbt) return parse_bt_entry<NbtEntry>(entries, i, want_cb, layout).key();
    return parse_bt_entry<BbtEntry>(entries, i, want_cb, layout).key();
  };
  std::uint64_t prev = 0;
  for (std::size_t i = 0; i < page->c_ent; ++i) {
    const Bytes e = entries.subspan(i * want_cb, want_cb);
    const std::uint64_t key = key_at(i);
    if (i > 0 && key <= prev) sink_(where + "keys not strictly ascending");
    if (key < min_key || key >= max_key) sink_(where + "key " + hex(key) + " outside its parent's range");
    prev = key;
    if (page->level == 0) {
      leaf_entries.emplace_back(e.begin(), e.end());
    } else {
      const auto child = parse_bt_entry<BtEntry>(entries, i, want_cb, layout);
      std::uint64_t next = max_key;
      if (i + 1 < page->c_ent) next = key_at(i + 1);
      WalkPage(child.child, ptype, page->level - 1, child.key, next, leaf_entries, depth + 1);
    }
  }
  return true;
}

template <class Entry>
void PstFileReader::WalkTree(const Bref& root, std::uint8_t ptype, std::vector<Entry>& out) {
  std::vector<std::vector<std::uint8_t>> raw;
  WalkPage(root, ptype, -1, 0, ~std::uint64_t{0}, raw, 0);
  for (const auto& e : raw) {
    ByteReader r(e);
    out.push_back(Entry::Parse(r, space_->layout));
  }
}

void PstFileReader::LoadTrees() {
  std::vector<BbtEntry> bbt;
  std::vector<NbtEntry> nbt;
  WalkTree(header_.header.bbt, kPtypeBbt, bbt);
  WalkTree(header_.header.nbt, kPtypeNbt, nbt);
  for (const auto& e : bbt)
    if (!blocks_.emplace(Bid(e.bid).key(), e).second) sink_("BBT: block " + hex(e.bid) + " listed twice");
  for (const auto& e : nbt)
    if (!nodes_.emplace(Nid(e.nid), e).second) sink_("NBT: node " + hex(e.nid) + " listed twice");
}

std::optional<std::vector<std::uint8_t>> PstFileReader::ReadBlock(Bid bid) const {
  auto it = blocks_.find(bid.key());
  if (it == blocks_.end()) {
    sink_("block " + hex(bid) + ": referenced but not in the block tree");
    return std::nullopt;
  }
  const BbtEntry& e = it->second;
  const std::uint64_t disk_size = space_->block_disk_size(e.cb);
  if (e.ib % space_->slot_size != 0 || e.ib + disk_size > file_size_) {
    sink_("block " + hex(bid) + ": not " + std::to_string(space_->slot_size) + "-aligned inside the file");
    return std::nullopt;
  }
  Findings findings(Tolerance::kStrict);
  const std::uint16_t size = InflatedSize(e);
  auto data = open_block(ReadRaw(e.ib, disk_size), e.bid, e.cb, e.ib, crypt_, findings, space_->layout, size);
  for (const auto& p : findings.items()) sink_("block " + hex(bid) + ": " + p);
  if (data.size() != size) return std::nullopt;
  return data;
}

std::optional<std::vector<std::vector<std::uint8_t>>> PstFileReader::ReadDataBlocks(Bid bid) const {
  std::vector<std::vector<std::uint8_t>> out;
  if (bid.is_null()) return out;
  auto b = ReadBlock(bid);
  if (!b) return std::nullopt;
  if (!bid.is_internal()) {
    out.push_back(std::move(*b));
    return out;
  }
  auto x = XBlock::Parse(*b, space_->layout, Tolerance::kStrict);
  if (!x) {
    sink_("block " + hex(bid) + ": internal block of a data tree is no XBLOCK/XXBLOCK");
    return std::nullopt;
  }
  std::uint64_t total = 0;
  // Readers refuse a tree that names one block twice (it reads as more blocks than there are).
  std::set<std::uint64_t> named;
  for (std::size_t i = 0; i < x->bids.size(); ++i) {
    const Bid child(x->bids[i]);
    if (!named.insert(child.key().value).second) sink_("block " + hex(bid) + ": names block " + hex(child) + " twice");
    if (x->level == 2) {
      if (!child.is_internal()) sink_("block " + hex(bid) + ": XXBLOCK child is not an XBLOCK");
      auto sub = ReadDataBlocks(child);
      if (!sub) return std::nullopt;
      for (auto& s : *sub) {
        total += s.size();
        out.push_back(std::move(s));
      }
    } else {
      if (child.is_internal()) sink_("block " + hex(bid) + ": XBLOCK child is an internal block");
      auto d = ReadBlock(child);
      if (!d) return std::nullopt;
      total += d->size();
      out.push_back(std::move(*d));
    }
  }
  if (total != x->total) sink_(field_mismatch("block " + hex(bid) + ": lcbTotal", x->total, total) + ", the size of the data below it");
  for (std::size_t i = 0; x->level == 1 && i + 1 < x->bids.size(); ++i) {
    const auto it = blocks_.find(Bid(x->bids[i]).key());
    if (it != blocks_.end() && InflatedSize(it->second) != space_->max_block_data) {
      sink_("block " + hex(bid) + ": a data block other than the last is not full");
      break;
    }
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> PstFileReader::ReadValue(Bid bid) const {
  auto blocks = ReadDataBlocks(bid);
  if (!blocks) return std::nullopt;
  std::vector<std::uint8_t> out;
  for (const auto& b : *blocks) out.insert(out.end(), b.begin(), b.end());
  return out;
}

std::optional<std::vector<SubnodeBlockEntry>> PstFileReader::ReadSubnodes(Bid bid) const {
  std::vector<SubnodeBlockEntry> out;
  if (bid.is_null()) return out;
  auto b = ReadBlock(bid);
  if (!b) return std::nullopt;
  auto s = SubnodeBlock::Parse(*b, space_->layout, Tolerance::kStrict);
  if (!bid.is_internal() || !s) {
    sink_("block " + hex(bid) + ": sub-node tree block is no SLBLOCK/SIBLOCK");
    return std::nullopt;
  }
  if (s->entries.empty()) sink_("block " + hex(bid) + ": empty sub-node block");
  for (const auto& e : s->entries) {
    if (s->level == 0) {
      out.push_back(e);
    } else {
      auto sub = ReadSubnodes(Bid(e.bid_data));
      if (!sub) return std::nullopt;
      if (!sub->empty() && sub->front().nid != e.nid) sink_("block " + hex(bid) + ": SIENTRY key differs from its SLBLOCK's first NID");
      out.insert(out.end(), sub->begin(), sub->end());
    }
  }
  for (std::size_t i = 1; i < out.size(); ++i)
    if (out[i - 1].nid >= out[i].nid) {
      sink_("block " + hex(bid) + ": sub-node NIDs not ascending");
      break;
    }
  return out;
}

std::optional<NodeRef> PstFileReader::Node(Nid nid) const {
  auto it = nodes_.find(nid);
  if (it == nodes_.end()) return std::nullopt;
  return NodeRef::Of(it->second);
}

std::optional<HeapOnNode> PstFileReader::ReadHeap(const NodeRef& node) const {
  auto blocks = ReadDataBlocks(node.bid_data);
  if (!blocks) return std::nullopt;
  Findings findings(Tolerance::kStrict);
  auto heap = HeapOnNode::Parse(std::move(*blocks), HidLayout::kStandard, findings);
  for (const auto& p : findings.items()) sink_("node " + hex(node.nid) + ": " + p);
  return heap;
}

namespace {
SubnodeResolver resolver_for(const PstFileReader& r, const NodeRef& node, std::shared_ptr<std::vector<SubnodeBlockEntry>> subs) {
  const auto find = [&r, node, subs](Nid nid) -> const SubnodeBlockEntry* {
    for (const auto& e : *subs)
      if (Nid(e.nid) == nid) return &e;
    r.Report("node " + hex(node.nid) + ": value sub-node " + hex(nid) + " is not in its sub-node list");
    return nullptr;
  };
  SubnodeResolver resolve;
  resolve.value = [&r, find](std::uint32_t nid) -> std::optional<std::vector<std::uint8_t>> {
    const SubnodeBlockEntry* e = find(Nid(nid));
    return e ? r.ReadValue(Bid(e->bid_data)) : std::nullopt;
  };
  resolve.blocks = [&r, find](Nid nid) -> std::optional<std::vector<ByteVector>> {
    const SubnodeBlockEntry* e = find(nid);
    return e ? r.ReadDataBlocks(Bid(e->bid_data)) : std::nullopt;
  };
  return resolve;
}
}  // namespace

std::optional<PropertyList> PstFileReader::ReadPc(const NodeRef& node) const {
  auto heap = ReadHeap(node);
  auto subs = ReadSubnodes(node.bid_sub);
  if (!heap || !subs) return std::nullopt;
  Findings findings(Tolerance::kStrict);
  auto pc = read_property_context(*heap, resolver_for(*this, node, std::make_shared<std::vector<SubnodeBlockEntry>>(*subs)), findings);
  for (const auto& p : findings.items()) sink_("node " + hex(node.nid) + ": " + p);
  return pc;
}

std::optional<TableContents> PstFileReader::ReadTc(const NodeRef& node) const {
  auto heap = ReadHeap(node);
  auto subs = ReadSubnodes(node.bid_sub);
  if (!heap || !subs) return std::nullopt;
  Findings findings(Tolerance::kStrict);
  auto tc = read_table_context(*heap, resolver_for(*this, node, std::make_shared<std::vector<SubnodeBlockEntry>>(*subs)), findings);
  for (const auto& p : findings.items()) sink_("node " + hex(node.nid) + ": " + p);
  return tc;
}

}  // namespace salvora::pst
