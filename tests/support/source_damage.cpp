#include "support/source_damage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "ndb/block_reader.h"
#include "ndb/ost_context.h"
#include "support/store_damage.h"

namespace salvora::testing {

namespace {

std::size_t ChildrenOfType(const NodeRecord& node, std::uint8_t type) {
  std::size_t n = 0;
  for (const NodeRecord* c = node.first_child(); c != nullptr; c = c->next_sibling()) n += c->nid.type() == type ? 1 : 0;
  return n;
}

// Overwrites bytes of the copy once the reader that chose them has let go of it.
void Overwrite(const std::string& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
  CFile64 file;
  EXPECT_TRUE(file.Open(path, CFile64::Access::kReadWrite));
  file.WriteAt(offset, bytes.data(), bytes.size());
}

// Copies source to dest and opens the copy with both indexes loaded.
void LoadCopy(const std::string& source, const std::string& dest, OstContext& ctx) {
  std::filesystem::copy_file(source, dest, std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(OpenStore(ctx, dest), 0);
  LoadBlockIndex(ctx);
  LoadNodeIndex(ctx);
}

}  // namespace

DamagedSource DamageMessageAndFolder(const std::string& source, const std::string& dest) {
  DamagedSource out;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> spans;  // offset, bytes
  {
    OstContext ctx;
    LoadCopy(source, dest, ctx);
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
      if (n.nid.type() == kNidTypeNormalMessage && n.data_block && n.parent() && n.parent() != folder &&
          n.parent()->nid.type() == kNidTypeNormalFolder) {
        message = &n;
        break;
      }
    }
    EXPECT_TRUE(folder && message) << "no message and folder to damage in " << source;
    if (!folder || !message) return out;
    out.message = message->nid;
    out.folder = folder->nid;
    out.folder_items = ChildrenOfType(*folder, kNidTypeNormalMessage);
    for (const NodeRecord* n : {message, folder}) {
      const auto block = FindBlock(ctx, n->data_bid);
      spans.emplace_back(block->ib, block->cb);
    }
  }
  for (const auto& [ib, cb] : spans) Overwrite(dest, ib, std::vector<std::uint8_t>(cb, 0xFF));
  return out;
}

Nid DamageOneAttachmentObject(const std::string& source, const std::string& dest) {
  Nid message;
  std::pair<std::uint64_t, std::uint32_t> span{0, 0};
  {
    OstContext ctx;
    LoadCopy(source, dest, ctx);
    for (const NodeRecord& n : ctx.nodes->nodes()) {
      if (n.nid.type() != kNidTypeNormalMessage || !n.data_block || !n.sub_block || !n.parent()) continue;
      const auto subnodes = ReadSubnodes(ctx, n.sub_bid);
      if (!subnodes) continue;
      for (const SubnodeEntry& e : *subnodes) {
        if (e.nid.type() != kNidTypeAttachment || !e.data_block) continue;
        message = n.nid;
        span = {e.data_block->ib, e.data_block->cb};
        break;
      }
      if (span.second != 0) break;
    }
  }
  EXPECT_NE(span.second, 0u) << "no attachment to damage in " << source;
  if (span.second != 0) Overwrite(dest, span.first, std::vector<std::uint8_t>(span.second, 0xFF));
  return message;
}

Nid BreakChecksumOfOneMessage(const std::string& source, const std::string& dest) {
  Nid message;
  std::uint64_t crc_at = 0;
  std::uint8_t crc_byte = 0;
  {
    OstContext ctx;
    LoadCopy(source, dest, ctx);
    for (const NodeRecord& n : ctx.nodes->nodes()) {
      if (n.nid.type() != kNidTypeNormalMessage || !n.data_block || !n.parent()) continue;
      const auto& g = ctx.geometry;
      const auto block = FindBlock(ctx, n.data_bid);
      const std::uint64_t disk = (block->cb + g.block_trailer_size + g.block_alignment - 1) / g.block_alignment *
                                 g.block_alignment;
      crc_at = block->ib + disk - g.block_trailer_size + (ctx.is_ansi() ? 8 : 4);
      ctx.file.ReadAt(crc_at, &crc_byte, 1);
      message = n.nid;
      break;
    }
  }
  EXPECT_NE(crc_at, 0u) << "no message in " << source;
  Overwrite(dest, crc_at, {static_cast<std::uint8_t>(crc_byte ^ 0x5A)});
  return message;
}

std::vector<std::string> DamagedCopies(const std::string& source, const std::string& dir, const std::string& prefix,
                                       std::uint32_t first_seed, std::uint32_t last_seed) {
  std::vector<std::string> out = {dir + "/" + prefix + "-checksum.ost", dir + "/" + prefix + "-folder.ost"};
  BreakChecksumOfOneMessage(source, out[0]);
  DamageMessageAndFolder(source, out[1]);
  const ByteVector bytes = ReadBytes(source);
  for (std::uint32_t seed = first_seed; seed <= last_seed; ++seed) {
    out.push_back(dir + "/" + prefix + "-seed-" + std::to_string(seed) + ".ost");
    WriteBytes(out.back(), DamageStore(bytes, seed).bytes);
  }
  return out;
}

}  // namespace salvora::testing
