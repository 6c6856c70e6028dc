#include "pststore/pst/block_store.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "pststore/pst/disk_layout.h"

namespace salvora::pst {

std::uint64_t BlockStore::WriteBlock(Bytes payload, bool internal, BlockList* owned) {
  const std::uint64_t bid = next_bid | (internal ? kBidInternal : 0);
  next_bid += 4;
  const FileLayout layout = geometry().layout;
  const StoredBlock stored = store_block_data(payload, bid, crypt_, layout, !internal);
  const std::uint64_t ib = space_.AllocateBlock(geometry().block_disk_size(stored.bytes.size()));
  const auto disk = seal_block(stored, bid, ib, layout);
  space_.Write(ib, disk);
  bytes_written += disk.size();
  BbtEntry entry{bid, ib, static_cast<std::uint16_t>(stored.bytes.size()), 2};
  if (layout == FileLayout::kUnicode4k) entry.cb_inflated = stored.cb_inflated;
  bbt_.Put(entry);
  if (owned) owned->push_back(bid);
  return bid;
}

std::uint64_t BlockStore::WriteDataBlock(Bytes payload, BlockList* owned, TreeRepeats* repeats) {
  SharedBlocks::Digest digest = SharedBlocks::Of(payload);
  if (repeats) {
    // The k-th repeat is looked up under its own key (and slot: the table picks slots by the
    // first bytes): no earlier block of this tree has it.
    const std::uint32_t k = (*repeats)[digest]++;
    for (std::size_t i = 0; i < sizeof k; ++i) digest[sizeof k - 1 - i] ^= static_cast<std::uint8_t>(k >> (8 * i));
  }
  if (const std::uint64_t bid = shared_.Find(digest)) {
    // The slot may name a block freed since (ids are never given out twice, so the tree says
    // so), and cRef is 16 bits: past its top the bytes are written again.
    std::optional<BbtEntry> e = bbt_.Find(bid);
    if (e && e->cref < 0xFFFF) {
      ++e->cref;
      bbt_.Put(*e);
      if (owned) owned->push_back(bid);
      ++blocks_shared;
      return bid;
    }
  }
  const std::uint64_t bid = WriteBlock(payload, false, owned);
  shared_.Remember(digest, bid);
  return bid;
}

std::uint64_t BlockStore::WriteValue(Bytes data, BlockList* owned) {
  if (data.empty()) return 0;
  if (data.size() <= geometry().max_block_data) return WriteDataBlock(data, owned, nullptr);
  DataTreeWriter w(*this, owned);
  w.Append(data);
  return w.Finish();
}

std::uint64_t BlockStore::WriteTree(const std::vector<std::uint64_t>& bids, const std::vector<std::uint32_t>& sizes,
                                    BlockList* owned) {
  if (bids.empty()) return 0;
  if (bids.size() == 1) return bids.front();
  const std::size_t per = XBlock::kMaxEntries;
  if (bids.size() > per * per) throw std::length_error("value too large for a data tree");
  std::vector<std::uint64_t> xbids;
  std::uint64_t grand = 0;
  for (std::size_t i = 0; i < bids.size(); i += per) {
    XBlock x;
    x.level = 1;
    std::uint64_t total = 0;
    for (std::size_t j = i; j < std::min(bids.size(), i + per); ++j) {
      x.bids.push_back(bids[j]);
      total += sizes[j];
    }
    x.total = static_cast<std::uint32_t>(total);
    grand += total;
    xbids.push_back(WriteBlock(x.Serialize(), true, owned));
  }
  if (xbids.size() == 1) return xbids.front();
  XBlock xx;
  xx.level = 2;
  xx.total = static_cast<std::uint32_t>(grand);
  xx.bids = std::move(xbids);
  return WriteBlock(xx.Serialize(), true, owned);
}

std::uint64_t BlockStore::WriteSubnodes(const std::vector<SubnodeBlockEntry>& entries, BlockList* owned) {
  if (entries.empty()) return 0;
  std::vector<SubnodeBlockEntry> index;
  for (std::size_t i = 0; i < entries.size(); i += SubnodeBlock::kMaxLeafEntries) {
    SubnodeBlock leaf;
    leaf.level = 0;
    leaf.entries.assign(entries.begin() + static_cast<std::ptrdiff_t>(i),
                        entries.begin() + static_cast<std::ptrdiff_t>(std::min(entries.size(), i + SubnodeBlock::kMaxLeafEntries)));
    index.push_back(SubnodeBlockEntry{leaf.entries.front().nid, WriteBlock(leaf.Serialize(), true, owned), 0});
  }
  if (index.size() == 1) return index.front().bid_data;
  if (index.size() > SubnodeBlock::kMaxIndexEntries) throw std::length_error("too many sub-nodes");
  SubnodeBlock top;
  top.level = 1;
  top.entries = std::move(index);
  return WriteBlock(top.Serialize(), true, owned);
}

void BlockStore::FreeBlocks(const BlockList& bids) {
  for (auto bid : bids) {
    const std::optional<BbtEntry> e = bbt_.Find(bid);
    if (!e) continue;
    // A block other nodes still reference (only in files the writer opened, never in its own)
    // loses one reference and stays.
    if (e->cref > 2) {
      BbtEntry shared = *e;
      --shared.cref;
      bbt_.Put(shared);
      continue;
    }
    space_.Free(e->ib, geometry().block_disk_size(e->cb));
    bbt_.Erase(bid, space_);
  }
}

void DataTreeWriter::Append(Bytes data) {
  size_ += data.size();
  while (!data.empty()) {
    const std::size_t max = store_.geometry().max_block_data;
    const std::size_t take = std::min<std::size_t>(data.size(), max - block_.size());
    block_.insert(block_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(take));
    data = data.subspan(take);
    if (block_.size() == max) EndBlock();
  }
}

void DataTreeWriter::EndBlock() {
  if (block_.empty()) return;
  bids_.push_back(store_.WriteDataBlock(block_, owned_, &repeats_));
  sizes_.push_back(static_cast<std::uint32_t>(block_.size()));
  block_.clear();
}

std::uint64_t DataTreeWriter::Finish() {
  EndBlock();
  return store_.WriteTree(bids_, sizes_, owned_);
}

void IndexedTreeWriter::Put(std::size_t index, Bytes payload) {
  if (index >= bids_.size()) {
    bids_.resize(index + 1, 0);
    sizes_.resize(index + 1, 0);
  }
  if (bids_[index] != 0) throw std::logic_error("data tree block " + std::to_string(index) + " given twice");
  bids_[index] = store_.WriteDataBlock(payload, owned_, &repeats_);
  sizes_[index] = static_cast<std::uint32_t>(payload.size());
}

std::uint64_t IndexedTreeWriter::Finish() {
  if (std::find(bids_.begin(), bids_.end(), 0) != bids_.end()) throw std::logic_error("data tree block missing");
  return store_.WriteTree(bids_, sizes_, owned_);
}

}  // namespace salvora::pst
