#include "support/source_damage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "ndb/ost_context.h"

namespace salvora::testing {

namespace {

std::size_t ChildrenOfType(const NodeRecord& node, std::uint8_t type) {
  std::size_t n = 0;
  for (const NodeRecord* c = node.first_child; c != nullptr; c = c->next_sibling) n += c->nid.type() == type ? 1 : 0;
  return n;
}

}  // namespace

DamagedSource DamageMessageAndFolder(const std::string& source, const std::string& dest) {
  std::filesystem::copy_file(source, dest, std::filesystem::copy_options::overwrite_existing);
  DamagedSource out;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> spans;  // offset, bytes
  {
    OstContext ctx;
    EXPECT_EQ(OpenStore(ctx, dest), 0);
    LoadBlockIndex(ctx);
    LoadNodeIndex(ctx);
    const NodeRecord* folder = nullptr;
    for (const NodeRecord& n : ctx.nodes->nodes()) {
      if (n.nid.type() == kNidTypeNormalFolder && n.data_block && ChildrenOfType(n, kNidTypeNormalMessage) >= 2 &&
          ChildrenOfType(n, kNidTypeNormalFolder) == 0) {
        folder = &n;
        break;
      }
    }
    const NodeRecord* message = nullptr;
    for (const NodeRecord& n : ctx.nodes->nodes()) {
      if (n.nid.type() == kNidTypeNormalMessage && n.data_block && n.parent && n.parent != folder &&
          n.parent->nid.type() == kNidTypeNormalFolder) {
        message = &n;
        break;
      }
    }
    EXPECT_TRUE(folder && message) << "no message and folder to damage in " << source;
    if (!folder || !message) return out;
    out.message = message->nid;
    out.folder = folder->nid;
    out.folder_items = ChildrenOfType(*folder, kNidTypeNormalMessage);
    for (const NodeRecord* n : {message, folder}) spans.emplace_back(n->data_block->ib, n->data_block->cb);
  }
  CFile64 file;
  EXPECT_TRUE(file.Open(dest, CFile64::Access::kReadWrite));
  for (const auto& [ib, cb] : spans) {
    const std::vector<std::uint8_t> junk(cb, 0xFF);
    file.WriteAt(ib, junk.data(), junk.size());
  }
  return out;
}

}  // namespace salvora::testing
