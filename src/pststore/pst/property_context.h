#pragma once
// Property context (MS-PST 2.3.3): a heap whose BTH maps property ids to values, and where
// values too large for the heap go to sub-nodes of the node.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "format/heap_on_node.h"
#include "format/table_context.h"
#include "pststore/pst/property.h"

namespace salvora::pst {

// Where the builders of property and table contexts put what does not fit the heap: values
// longer than 3580 bytes and large row matrices become sub-nodes of the node being built.
class SubnodeSink {
 public:
  virtual ~SubnodeSink() = default;
  // A value of any size as a sub-node (NID type kNidTypeLtp); returns its NID.
  virtual std::uint32_t AddValue(Bytes data) = 0;
  // A sub-node whose data tree consists of exactly these blocks, in order.
  virtual std::uint32_t AddBlocks(const std::vector<std::vector<std::uint8_t>>& blocks) = 0;
  // The same for count blocks that block_at makes one at a time, in order (and may add other
  // sub-nodes while it does). A sink that writes them as they come holds one block, not all;
  // this one gathers them for AddBlocks.
  virtual std::uint32_t AddBlocksInOrder(std::size_t count,
                                         const std::function<std::vector<std::uint8_t>(std::size_t)>& block_at) {
    std::vector<std::vector<std::uint8_t>> blocks;
    blocks.reserve(count);
    for (std::size_t k = 0; k < count; ++k) blocks.push_back(block_at(k));
    return AddBlocks(blocks);
  }
};

// The sub-nodes of the node being read: a value whole, or a value's data blocks apart (a
// table's row matrix is laid out per block). Both give an empty optional when the sub-node is
// missing or unreadable.
struct SubnodeResolver {
  std::function<std::optional<std::vector<std::uint8_t>>(std::uint32_t nid)> value;
  SubnodeBlocks blocks;
};

// A value already written as a sub-node (a streamed attachment): the record points at it.
struct PrebuiltValue {
  std::uint32_t tag = 0;
  std::uint32_t nid = 0;
};

// The heap blocks of a property context over props (any order; one value per id) and values
// already in sub-nodes.
std::vector<std::vector<std::uint8_t>> build_property_context(const PropertyList& props, SubnodeSink& sink,
                                                            const std::vector<PrebuiltValue>& prebuilt = {});

// Reads a property context back through the shared layout. Findings name malformed structures
// and values that could not be resolved; the values that could be read are returned.
std::optional<PropertyList> read_property_context(const HeapOnNode& heap, const SubnodeResolver& resolve,
                                                Findings& findings);

}  // namespace salvora::pst
