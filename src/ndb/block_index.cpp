#include "ndb/block_index.h"

namespace salvora {

void BlockIndex::Append(const BlockEntry& entry) { entries_.push_back(entry); }

void BlockIndex::Seal() {
  index_.Clear();
  index_.Reserve(entries_.size());
  // Insert keeps the first position for a key: a block the walk met twice answers with its
  // first occurrence.
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    index_.Insert(entries_[i].bid.key().value, static_cast<std::uint32_t>(i));
  }
}

const BlockEntry* BlockIndex::Find(Bid bid) const {
  if (bid.is_null()) return nullptr;
  auto pos = index_.Find(bid.key().value);
  return pos ? &entries_[*pos] : nullptr;
}

}  // namespace salvora
