#pragma once
// Property context (MS-PST 2.3.3): a heap whose BTH maps property ids to values, and where
// values too large for the heap go to sub-nodes of the node.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "format/heap_on_node.h"
#include "pststore/pst/property.h"

namespace salvora::pst {

// Where the builders of property and table contexts put what does not fit the heap: values
// longer than 3580 bytes and large row matrices become sub-nodes of the node being built.
class SubnodeSink {
 public:
  virtual ~SubnodeSink() = default;
  // A value of any size as a sub-node (NID type 0x1F); returns its NID.
  virtual std::uint32_t AddValue(Bytes data) = 0;
  // A sub-node whose data tree consists of exactly these blocks, in order.
  virtual std::uint32_t AddBlocks(const std::vector<std::vector<std::uint8_t>>& blocks) = 0;
};

// The value of a sub-node of the node being read; empty optional when missing or unreadable.
using SubnodeResolver = std::function<std::optional<std::vector<std::uint8_t>>(std::uint32_t nid)>;

// A value already written as a sub-node (a streamed attachment): the record points at it.
struct PrebuiltValue {
  std::uint32_t tag = 0;
  std::uint32_t nid = 0;
};

// The heap blocks of a property context over props (any order; one value per id) and values
// already in sub-nodes.
std::vector<std::vector<std::uint8_t>> BuildPropertyContext(PropertyList props, SubnodeSink& sink,
                                                            const std::vector<PrebuiltValue>& prebuilt = {});

// Reads a property context back. Problems name malformed structures and values that could not
// be resolved; the values that could be read are returned.
std::optional<PropertyList> ReadPropertyContext(const HeapOnNode& heap, const SubnodeResolver& resolve,
                                                std::vector<std::string>* problems);

}  // namespace salvora::pst
