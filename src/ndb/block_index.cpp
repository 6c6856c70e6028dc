#include "ndb/block_index.h"

#include <algorithm>

#include "platform/fenced_run.h"

namespace salvora {

BlockEntry BlockEntry::From(const BbtEntry& e, FileLayout layout) {
  BlockEntry out;
  out.bid = Bid(e.bid);
  out.ib = e.ib;
  out.cb = e.cb;
  out.cb_inflated = layout == FileLayout::kUnicode4k ? e.cb_inflated : e.cb;
  out.ref_count = static_cast<std::int16_t>(e.cref);
  return out;
}

BlockIndex::BlockIndex() = default;
BlockIndex::~BlockIndex() = default;

void BlockIndex::Append(const BlockEntry& entry) { entries_.push_back(entry); }

void BlockIndex::Seal() {
  index_.Clear();
  const auto key_of = [this](std::uint32_t position) { return KeyAt(position); };
  index_.Reserve(entries_.size(), key_of);
  // Insert keeps the first position for a key: a block the walk met twice answers with its
  // first occurrence.
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    index_.Insert(entries_[i].bid.key().value, static_cast<std::uint32_t>(i), key_of);
  }
}

void BlockIndex::UseLeaves(std::unique_ptr<ReservedArray<BlockLeaf>> leaves, std::size_t count, FileLayout layout) {
  leaves_ = std::move(leaves);
  fences_.clear();
  for (std::size_t i = 0; i < leaves_->size(); i += kLeavesPerFence) fences_.push_back((*leaves_)[i].first);
  leaves_->ReleaseResidentPages();
  paged_count_ = count;
  layout_ = layout;
  geometry_ = geometry_for(layout);
  cache_ = std::make_unique<std::array<CachedLeaf, kCachedLeaves>>();
}

std::vector<BlockEntry> BlockIndex::ReadLeaf(std::size_t i, const CFile64& file) const {
  const BlockLeaf& leaf = (*leaves_)[i];
  std::vector<std::uint8_t> page(geometry_.page_size);
  std::size_t got = 0;
  try {
    got = file.ReadAt(leaf.ib, page.data(), page.size());
  } catch (const CFileException&) {
    got = 0;
  }
  std::vector<BlockEntry> out;
  if (got < page.size()) return out;
  out.reserve(leaf.count);
  for (std::size_t k = 0; k < leaf.count; ++k)
    out.push_back(BlockEntry::From(parse_bt_entry<BbtEntry>(page, k, geometry_.bbt_leaf_entry_size, layout_), layout_));
  return out;
}

std::optional<BlockEntry> BlockIndex::Find(Bid bid, const CFile64& file) const {
  if (bid.is_null()) return std::nullopt;
  const std::uint64_t key = bid.key().value;
  if (paged()) {
    if (auto e = FindInLeaves(key, file)) return e;
  }
  auto pos = index_.Find(key, [this](std::uint32_t position) { return KeyAt(position); });
  if (!pos) return std::nullopt;
  return entries_[*pos];
}

std::optional<BlockEntry> BlockIndex::FindInLeaves(std::uint64_t key, const CFile64& file) const {
  // The last leaf that begins at or before the key is the only one that can hold it.
  const auto run = fenced_run(fences_, key, kLeavesPerFence, leaves_->size());
  if (!run) return std::nullopt;
  auto after = std::upper_bound(leaves_->begin() + run->first, leaves_->begin() + run->second, key,
                                [](std::uint64_t k, const BlockLeaf& leaf) { return k < leaf.first; });
  if (after == leaves_->begin()) return std::nullopt;
  const auto i = static_cast<std::size_t>(after - leaves_->begin()) - 1;
  CachedLeaf& slot = (*cache_)[i % kCachedLeaves];
  std::lock_guard lock(slot.mutex);
  if (slot.leaf != i) {
    slot.entries = ReadLeaf(i, file);
    slot.leaf = i;
    if ((misses_.fetch_add(1, std::memory_order_relaxed) + 1) % kLeafReadsBetweenReleases == 0) leaves_->ReleaseResidentPages();
  }
  auto it = std::lower_bound(slot.entries.begin(), slot.entries.end(), key,
                             [](const BlockEntry& e, std::uint64_t k) { return e.bid.key().value < k; });
  if (it == slot.entries.end() || it->bid.key().value != key) return std::nullopt;
  return *it;
}

void BlockIndex::ForEach(const CFile64& file, const std::function<bool(const BlockEntry&)>& f) const {
  const std::size_t leaves = leaves_ ? leaves_->size() : 0;
  for (std::size_t i = 0; i < leaves; ++i) {
    for (const BlockEntry& e : ReadLeaf(i, file))
      if (!f(e)) return;
    if ((i + 1) % kLeafReadsBetweenReleases == 0) leaves_->ReleaseResidentPages();
  }
  for (const BlockEntry& e : entries_)
    if (!f(e)) return;
}

std::uint64_t BlockIndex::memory_bytes() const {
  std::uint64_t bytes = entries_.size() * sizeof(BlockEntry) + index_.memory_bytes() + (leaves_ ? leaves_->memory_bytes() : 0) +
                        fences_.capacity() * sizeof(std::uint64_t);
  if (cache_)
    for (CachedLeaf& c : *cache_) {
      std::lock_guard lock(c.mutex);
      bytes += c.entries.capacity() * sizeof(BlockEntry);
    }
  return bytes;
}

}  // namespace salvora
