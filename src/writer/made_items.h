#pragma once
// The PST entry ids of the items written so far, by the source node each was made from, for
// the links of later items to them.
//
// A mailbox of millions of items must not hold an id for each in memory: an entry id is the
// PST's own prefix (flags and store key, the same for every item of one PST file) and the
// item's NID, so a slot of eight bytes per source node keeps it, beside the node's place in the
// source's node records, in a temporary file whose pages are let go of as the budget asks.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "ndb/node_tree.h"
#include "platform/reserved_array.h"

namespace salvora {

class MadeItemIds {
 public:
  static constexpr std::size_t kEntryIdSize = 24;

  // The item made from source (a node of nodes) has this entry id. A source node the tree does
  // not hold, or an id of another size, is not kept.
  void Note(const NodeTree& nodes, Nid source, std::span<const std::uint8_t> entry_id);
  // The entry id of the item made from source, if one was noted.
  std::optional<std::vector<std::uint8_t>> Find(const NodeTree& nodes, Nid source) const;
  bool Contains(const NodeTree& nodes, Nid source) const { return Find(nodes, source).has_value(); }

 private:
  struct Slot {
    std::uint32_t nid = 0;
    std::uint32_t prefix = 0;  // 1 + its index in prefixes_; 0: nothing made from this node
  };
  static constexpr std::size_t kPrefixSize = kEntryIdSize - 4;
  // The position of source among the tree's records, if it is there.
  static std::optional<std::size_t> position_of(const NodeTree& nodes, Nid source);

  std::vector<std::array<std::uint8_t, kPrefixSize>> prefixes_;  // one per PST file written
  std::unique_ptr<ReservedArray<Slot>> slots_;
};

}  // namespace salvora
