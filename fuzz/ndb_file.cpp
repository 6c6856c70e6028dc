// Fuzz target: the node database reader over a whole file image. The header, both B-tree walks
// (with the repair from a scan of the file wherever a walk loses a subtree), the search for
// deleted messages, then every block and every node (up to a bound) read the way the engine reads them: node
// values whole and block by block, sub-node lists and their values.
#include <cstddef>
#include <cstdint>

#include "file_image.h"
#include "fuzz_checks.h"
#include "ndb/block_reader.h"
#include "ndb/index_repair.h"
#include "ndb/ost_context.h"

namespace {

// Enough to reach every structure of the seed files; a mutated B-tree can name far more.
constexpr std::size_t kMaxBlocks = 512;
constexpr std::size_t kMaxNodes = 256;
constexpr std::size_t kMaxSubnodes = 64;

class CountingSink : public salvora::ValueSink {
 public:
  void Deliver(salvora::Bytes chunk) override { total_ += chunk.size(); }
};

void ReadNode(const salvora::OstContext& ctx, salvora::Bid data, salvora::Bid sub) {
  using namespace salvora;
  (void)ReadNodeValue(ctx, data);
  (void)ReadNodeBlocks(ctx, data);
  if (const auto e = FindBlock(ctx, data)) {
    CountingSink sink;
    ReadNodeData(ctx, *e, sink);
  }
  if (sub.value == 0) return;
  const auto subs = ReadSubnodes(ctx, sub);
  if (!subs) return;
  std::size_t n = 0;
  for (const SubnodeEntry& s : *subs) {
    if (++n > kMaxSubnodes) break;
    (void)ReadSubnodeValue(ctx, s.nid, *subs);
    (void)ReadNodeBlocks(ctx, s.data_bid);
    if (s.sub_bid.value != 0) (void)ReadSubnodes(ctx, s.sub_bid);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvora;
  fuzz::FileImage& image = fuzz::SharedImage();
  if (!image.Write(data, size)) return 0;
  OstContext ctx;
  if (OpenStore(ctx, image.path()) != 0) return 0;
  try {
    LoadBlockIndex(ctx);
    LoadNodeIndex(ctx);
    for (const NodeRecord& deleted : FindDeletedMessages(ctx)) (void)ReadNodeValue(ctx, deleted.data_bid);
    std::size_t n = 0;
    ctx.blocks->ForEach(ctx.file, [&](const BlockEntry& b) {
      if (++n > kMaxBlocks) return false;
      (void)ReadBlock(ctx, b.bid);
      (void)ReadBlockDecoded(ctx, b.bid);
      return true;
    });
    n = 0;
    for (const NodeRecord& node : ctx.nodes->nodes()) {
      if (++n > kMaxNodes) break;
      ReadNode(ctx, node.data_bid, node.sub_bid);
    }
    // The tree's own links must stay walkable: pre-order visits each node at most once.
    n = 0;
    for (NodeRecord* p = ctx.nodes->first_root(); p != nullptr; p = NodeTree::NextPreOrder(p)) {
      fuzz::require(++n <= ctx.nodes->size());
    }
  } catch (const CFileException&) {
    // A read error of the file itself is reported by exception; the image never fails a read,
    // but a file cut short may still be reported this way.
  }
  return 0;
}
