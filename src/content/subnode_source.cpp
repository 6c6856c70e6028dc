#include "content/subnode_source.h"

namespace salvora {

std::optional<ByteVector> MemorySubnodes::Value(Nid nid) const {
  auto it = nodes_.find(nid.value);
  if (it == nodes_.end()) return std::nullopt;
  ByteVector out;
  for (const auto& b : it->second) out.insert(out.end(), b.begin(), b.end());
  return out;
}

std::optional<std::vector<ByteVector>> MemorySubnodes::Blocks(Nid nid) const {
  auto it = nodes_.find(nid.value);
  if (it == nodes_.end()) return std::nullopt;
  return it->second;
}

}  // namespace salvora
