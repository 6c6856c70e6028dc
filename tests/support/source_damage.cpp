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

Nid BreakChecksumOfOneMessage(const std::string& source, const std::string& dest) {
  std::filesystem::copy_file(source, dest, std::filesystem::copy_options::overwrite_existing);
  Nid message;
  std::uint64_t crc_at = 0;
  {
    OstContext ctx;
    EXPECT_EQ(OpenStore(ctx, dest), 0);
    LoadBlockIndex(ctx);
    LoadNodeIndex(ctx);
    for (const NodeRecord& n : ctx.nodes->nodes()) {
      if (n.nid.type() != kNidTypeNormalMessage || !n.data_block || !n.parent) continue;
      const auto& g = ctx.geometry;
      const std::uint64_t disk = (n.data_block->cb + g.block_trailer_size + g.block_alignment - 1) / g.block_alignment *
                                 g.block_alignment;
      crc_at = n.data_block->ib + disk - g.block_trailer_size + (ctx.is_ansi() ? 8 : 4);
      message = n.nid;
      break;
    }
  }
  EXPECT_NE(crc_at, 0u) << "no message in " << source;
  CFile64 file;
  EXPECT_TRUE(file.Open(dest, CFile64::Access::kReadWrite));
  std::uint8_t byte = 0;
  file.ReadAt(crc_at, &byte, 1);
  byte = static_cast<std::uint8_t>(byte ^ 0x5A);
  file.WriteAt(crc_at, &byte, 1);
  return message;
}

}  // namespace salvora::testing
