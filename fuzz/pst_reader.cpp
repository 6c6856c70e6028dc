// Fuzz target: the strict PST reader's entries over a file image: both B-trees, then every
// node (up to a bound) as a heap, a property context and a table context, with its sub-nodes.
#include <cstddef>
#include <cstdint>

#include "file_image.h"
#include "pststore/pst/pst_file_reader.h"

namespace {
constexpr std::size_t kMaxNodes = 128;
constexpr std::size_t kMaxSubnodes = 32;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvora::pst;
  salvora::fuzz::FileImage& image = salvora::fuzz::SharedImage();
  if (!image.Write(data, size)) return 0;
  try {
    PstFileReader reader([](const std::string&) {});
    if (!reader.Open(image.path())) return 0;
    reader.LoadTrees();
    std::size_t n = 0;
    for (const auto& [nid, entry] : reader.nodes()) {
      if (++n > kMaxNodes) break;
      const NodeRef node = NodeRef::Of(entry);
      (void)reader.ReadValue(node.bid_data);
      (void)reader.ReadHeap(node);
      (void)reader.ReadPc(node);
      (void)reader.ReadTc(node);
      if (node.bid_sub.is_null()) continue;
      const auto subs = reader.ReadSubnodes(node.bid_sub);
      if (!subs) continue;
      std::size_t m = 0;
      for (const salvora::SubnodeBlockEntry& s : *subs) {
        if (++m > kMaxSubnodes) break;
        const NodeRef child = NodeRef::Of(s);
        (void)reader.ReadPc(child);
        (void)reader.ReadTc(child);
      }
    }
  } catch (const salvora::CFileException&) {
  }
  return 0;
}
