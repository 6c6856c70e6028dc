// The ids of written items come back as they were noted, per PST file of a split, for nodes
// the source holds in any order; a node never written or not in the source has none.

#include "writer/made_items.h"

#include <gtest/gtest.h>

namespace salvora {
namespace {

std::vector<std::uint8_t> entry_id(std::uint8_t store, std::uint32_t nid) {
  std::vector<std::uint8_t> id(MadeItemIds::kEntryIdSize, 0);
  for (std::size_t i = 4; i < 20; ++i) id[i] = static_cast<std::uint8_t>(store + i);
  for (std::size_t i = 0; i < 4; ++i) id[20 + i] = static_cast<std::uint8_t>(nid >> (8 * i));
  return id;
}

TEST(MadeItems, IdsComeBackPerPstFileForNodesPlacedInAnyOrder) {
  BlockIndex blocks;
  CFile64 file;
  NodeTree nodes;
  const auto nid_of = [](std::uint32_t i) { return Nid::make(kNidTypeNormalMessage, i); };
  for (std::uint32_t i : {5u, 1u, 9u, 3u, 7u}) nodes.Place(nid_of(i), Bid(4 * i), Bid(), Nid(), blocks, file);
  nodes.Link();

  MadeItemIds made;
  EXPECT_FALSE(made.Find(nodes, nid_of(9)));
  made.Note(nodes, nid_of(9), entry_id(1, 0x200024));
  made.Note(nodes, nid_of(3), entry_id(2, 0x200044));  // in the second part of a split
  made.Note(nodes, nid_of(11), entry_id(1, 0x200064));  // not in the source: not kept
  made.Note(nodes, nid_of(5), std::vector<std::uint8_t>(16, 1));  // not an entry id
  EXPECT_EQ(made.Find(nodes, nid_of(9)), entry_id(1, 0x200024));
  EXPECT_EQ(made.Find(nodes, nid_of(3)), entry_id(2, 0x200044));
  EXPECT_FALSE(made.Find(nodes, nid_of(11)));
  EXPECT_FALSE(made.Find(nodes, nid_of(5)));
  EXPECT_FALSE(made.Contains(nodes, nid_of(7)));
}

}  // namespace
}  // namespace salvora
