// Every public sample file: the header is read as its README says, every node finds its
// blocks, and every object's data decodes to a heap-on-node.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ndb/block_reader.h"
#include "ndb/ost_context.h"
#include "support/ndb_builder.h"

namespace salvora {
namespace {

struct CorpusFile {
  std::string name;
  std::string client;  // "SM" or "SO"
  int version = 0;
  int crypt = 0;
};

// Reads the file table of the corpus README: name, magic/client, wVer and crypt columns.
std::vector<CorpusFile> corpus_table(const std::string& dir) {
  std::ifstream in(dir + "/README.md");
  std::vector<CorpusFile> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("| ", 0) != 0) continue;
    std::vector<std::string> cells;
    std::stringstream ss(line.substr(1));
    std::string cell;
    while (std::getline(ss, cell, '|')) {
      const auto b = cell.find_first_not_of(' ');
      const auto e = cell.find_last_not_of(' ');
      cells.push_back(b == std::string::npos ? "" : cell.substr(b, e - b + 1));
    }
    if (cells.size() < 7 || cells[0] == "file" || cells[0].find('.') == std::string::npos) continue;
    CorpusFile f;
    f.name = cells[0];
    f.client = cells[4].substr(cells[4].find('/') + 1);
    f.version = std::atoi(cells[5].c_str());
    f.crypt = std::atoi(cells[6].c_str());
    out.push_back(f);
  }
  return out;
}

bool is_heap_node(Nid nid) {
  switch (nid.type()) {
    case kNidTypeNormalFolder: case kNidTypeNormalMessage: case kNidTypeHierarchyTable:
    case kNidTypeContentsTable: case kNidTypeAssocContentsTable: case kNidTypeAssocMessage:
      return true;
    default:
      return false;
  }
}

TEST(Corpus, EveryFileOpensWithItsHeaderAndDecodes) {
  const std::string dir = testing::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "sample corpus not found (set SALVORA_CORPUS_DIR); skipped";
  const auto files = corpus_table(dir);
  ASSERT_GT(files.size(), 40u);
  std::size_t checked = 0;
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    OstContext ctx;
    ASSERT_EQ(OpenStore(ctx, dir + "/" + f.name), 0);
    EXPECT_EQ(ctx.header.version, f.version);
    EXPECT_EQ(ctx.header.crypt_byte, f.crypt);
    EXPECT_EQ(ctx.header.is_ost(), f.client == "SO");
    EXPECT_EQ(LoadBlockIndex(ctx), 0);
    EXPECT_EQ(LoadNodeIndex(ctx), 0);
    EXPECT_GT(ctx.blocks->size(), 10u);
    EXPECT_GT(ctx.nodes->size(), 20u);
    EXPECT_EQ(ctx.nodes->detached().size(), 0u);
    std::size_t heaps = 0;
    for (const auto& n : ctx.nodes->nodes()) {
      if (!n.data_bid.is_null()) EXPECT_TRUE(n.data_block) << std::hex << n.nid.value;
      if (!n.sub_bid.is_null()) {
        EXPECT_TRUE(n.sub_block) << std::hex << n.nid.value;
        EXPECT_TRUE(ReadSubnodes(ctx, n.sub_bid).has_value()) << std::hex << n.nid.value;
      }
      if (!is_heap_node(n.nid) || !n.data_block) continue;
      auto blocks = ReadNodeBlocks(ctx, n.data_bid);
      ASSERT_TRUE(blocks.has_value()) << std::hex << n.nid.value;
      ASSERT_FALSE(blocks->empty());
      // Every heap block of a heap-on-node starts with its page map offset; the first carries
      // the heap signature 0xEC.
      ASSERT_GE((*blocks)[0].size(), 12u);
      EXPECT_EQ((*blocks)[0][2], 0xEC) << std::hex << n.nid.value;
      ++heaps;
    }
    EXPECT_GT(heaps, 5u);
    ++checked;
  }
  std::printf("[ corpus ] %zu files checked in %s\n", checked, dir.c_str());
}

}  // namespace
}  // namespace salvora
