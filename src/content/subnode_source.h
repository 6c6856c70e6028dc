#pragma once
// Where the values of an object's sub-nodes come from. Decoding asks for a sub-node by NID and
// never touches the file itself, so tests and fuzzers feed sub-nodes from memory and the
// engine from the node database.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "content/property_block.h"
#include "format/ids.h"

namespace salvora {

class SubnodeSource {
 public:
  virtual ~SubnodeSource() = default;
  // The whole value of a sub-node; empty when it is missing or unreadable.
  virtual std::optional<ByteVector> Value(Nid nid) const = 0;
  // The value's data blocks one by one, each decoded and inflated; empty on failure. A table's
  // row matrix is laid out per block, so it is read this way.
  virtual std::optional<std::vector<ByteVector>> Blocks(Nid nid) const = 0;
  // Whether Value would give the value, found out as cheaply as the source can. A source that
  // counts damage counts here what Value would count.
  virtual bool Readable(Nid nid) const { return Value(nid).has_value(); }
};

// Sub-nodes held in memory: each a list of blocks.
class MemorySubnodes : public SubnodeSource {
 public:
  void Add(Nid nid, std::vector<ByteVector> blocks) { nodes_[nid.value] = std::move(blocks); }
  std::optional<ByteVector> Value(Nid nid) const override;
  std::optional<std::vector<ByteVector>> Blocks(Nid nid) const override;

 private:
  std::map<std::uint32_t, std::vector<ByteVector>> nodes_;
};

}  // namespace salvora
