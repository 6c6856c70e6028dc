#include "ndb/block_index.h"

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

const BlockEntry* BlockIndex::Find(Bid bid) const {
  if (bid.is_null()) return nullptr;
  auto pos = index_.Find(bid.key().value, [this](std::uint32_t position) { return KeyAt(position); });
  return pos ? &entries_[*pos] : nullptr;
}

}  // namespace salvora
