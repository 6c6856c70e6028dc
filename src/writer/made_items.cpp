#include "writer/made_items.h"

#include <algorithm>

#include "format/byte_reader.h"
#include "format/byte_writer.h"

namespace salvora {

std::optional<std::size_t> MadeItemIds::position_of(const NodeTree& nodes, Nid source) {
  if (source.is_null() || nodes.size() == 0) return std::nullopt;
  const NodeRecord* record = nodes.Find(source);
  if (!record) return std::nullopt;
  return static_cast<std::size_t>(record - nodes.nodes().begin());
}

void MadeItemIds::Note(const NodeTree& nodes, Nid source, std::span<const std::uint8_t> entry_id) {
  if (entry_id.size() != kEntryIdSize) return;
  const auto position = position_of(nodes, source);
  if (!position) return;
  std::array<std::uint8_t, kPrefixSize> prefix;
  std::copy_n(entry_id.begin(), kPrefixSize, prefix.begin());
  auto known = std::find(prefixes_.begin(), prefixes_.end(), prefix);
  if (known == prefixes_.end()) known = prefixes_.insert(prefixes_.end(), prefix);
  if (!slots_) slots_ = std::make_unique<ReservedArray<Slot>>(nodes.size(), Backing::kTemporaryFile);
  while (slots_->size() <= *position && slots_->size() < slots_->max_size()) slots_->emplace_back();
  if (*position >= slots_->size()) return;
  (*slots_)[*position] = Slot{load_u32(Bytes(entry_id.data(), entry_id.size()), kPrefixSize), static_cast<std::uint32_t>(known - prefixes_.begin()) + 1};
}

std::optional<std::vector<std::uint8_t>> MadeItemIds::Find(const NodeTree& nodes, Nid source) const {
  const auto position = position_of(nodes, source);
  if (!slots_ || !position || *position >= slots_->size()) return std::nullopt;
  const Slot slot = (*slots_)[*position];
  if (slot.prefix == 0 || slot.prefix > prefixes_.size()) return std::nullopt;
  std::vector<std::uint8_t> id(prefixes_[slot.prefix - 1].begin(), prefixes_[slot.prefix - 1].end());
  const auto nid = le_bytes<std::uint32_t>(slot.nid);
  id.insert(id.end(), nid.begin(), nid.end());
  return id;
}

}  // namespace salvora
