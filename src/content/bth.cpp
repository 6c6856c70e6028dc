#include "content/bth.h"

#include <set>

namespace salvora {

namespace {

// Index levels above this are not written by any client and would only come from damage.
constexpr std::uint8_t kMaxIndexLevels = 8;

void CollectLeaves(const HeapOnNode& heap, const BthHeader& header, Bytes node, int level,
                   std::set<std::uint32_t>& visited, std::vector<Bytes>& out) {
  if (level == 0) {
    const std::size_t rs = header.record_size();
    const std::size_t count = node.size() / rs;
    for (std::size_t i = 0; i < count; ++i) out.push_back(node.subspan(i * rs, rs));
    return;
  }
  const std::size_t rs = std::size_t{header.key_size} + 4;
  const std::size_t count = node.size() / rs;
  for (std::size_t i = 0; i < count; ++i) {
    const Hid child(load_u32(node, i * rs + header.key_size));
    // A child seen before means a cycle or shared subtrees, both damage: reading it again
    // could only repeat records or never end.
    if (!visited.insert(child.value).second) continue;
    auto bytes = heap.Lookup(child);
    if (!bytes) continue;
    CollectLeaves(heap, header, *bytes, level - 1, visited, out);
  }
}

}  // namespace

std::optional<BthHeader> ReadBthHeader(const HeapOnNode& heap, Hid hid) {
  auto bytes = heap.Lookup(hid);
  if (!bytes) return std::nullopt;
  ByteReader r(*bytes);
  const std::uint8_t type = r.u8();
  BthHeader h;
  h.key_size = r.u8();
  h.entry_size = r.u8();
  h.index_levels = r.u8();
  h.root = Hid(r.u32());
  if (!r.ok() || type != BthHeader::kType || h.key_size == 0) return std::nullopt;
  if (h.index_levels > kMaxIndexLevels) return std::nullopt;
  return h;
}

std::optional<std::vector<Bytes>> ReadBthRecords(const HeapOnNode& heap, const BthHeader& header) {
  std::vector<Bytes> out;
  if (header.root.value == 0) return out;
  auto root = heap.Lookup(header.root);
  if (!root) return std::nullopt;
  std::set<std::uint32_t> visited{header.root.value};
  CollectLeaves(heap, header, *root, header.index_levels, visited, out);
  return out;
}

}  // namespace salvora
