#pragma once
// decode_properties: one object's heap-on-node turned into property blocks, one for a property
// context (MS-PST 2.3.3), one per row for a table context (2.3.4).
//
// decode_heap_properties works on blocks in memory; decode_properties is the edge that reads
// a node's blocks from the file. Neither throws for bad bytes: a broken structure fails the
// whole object, a broken value drops that one entry.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/heap_on_node.h"
#include "content/named_property_map.h"
#include "content/property_block.h"
#include "content/subnode_source.h"
#include "ndb/block_reader.h"
#include "ndb/ost_context.h"

namespace salvora {

enum class DecodeError {
  kNone,
  kStopped,        // the stop flag was set
  kUnreadable,     // the node's blocks could not be read
  kBadHeap,        // no heap signature, or block 0's page map is broken
  kNotPropertyContext,
  kBadBthHeader,   // the property context's or row index's BTH header
  kBadBthRoot,
  kBadTableInfo,   // TCINFO missing, of the wrong type, or its columns do not fit
  kBadRowMatrix,   // the row matrix cannot be found or read
  kUnknownClient,  // a heap that is neither a property nor a table context
};

const char* decode_error_name(DecodeError error);

struct DecodeFailure {
  DecodeError code = DecodeError::kNone;
  std::uint32_t hid = 0;  // the heap or node id involved, when there is one
  std::uint64_t expected = 0;
  std::uint64_t actual = 0;
};

struct DecodeResult {
  std::optional<PropertyList> list;  // empty on failure
  DecodeFailure failure;
  std::int32_t dropped_entries = 0;  // entries left out because their value could not be found
  std::int32_t empty_references = 0; // entries whose reference was 0: kept with a value of no bytes

  explicit operator bool() const { return list.has_value(); }
};

struct DecodeOptions {
  HidLayout hid_layout = HidLayout::kStandard;
  const NamedPropertyMap* names = nullptr;     // null: named properties keep their raw ids
  const std::atomic<bool>* stop = nullptr;     // polled per row and per entry
  // A listing load: the values no item list shows (is_listing_skipped) are looked for and their
  // blocks checked, but not copied, decoded or inflated; their entries carry value_skipped.
  bool listing = false;
};

// The bodies in their three forms and the transport headers: the largest values an item has,
// and none of them shown in an item list.
bool is_listing_skipped(std::uint32_t id);

// Decodes a heap from its blocks (block 0 first). Values held in sub-nodes, and a row matrix
// held in a sub-node, are asked of subnodes; without one they read as unread.
DecodeResult decode_heap_properties(std::vector<ByteVector> heap_blocks,
                                    const SubnodeSource* subnodes, const DecodeOptions& options);

// The same over the file: the node value at data_bid, block by block, with the object's
// sub-node list (may be null) for values kept in sub-nodes. Named properties are mapped with
// names, or else with the context's map once it is loaded.
DecodeResult decode_properties(const OstContext& context, Bid data_bid,
                               const std::vector<SubnodeEntry>* subnodes,
                               const NamedPropertyMap* names = nullptr);

// Sub-nodes read from the file through an object's sub-node list.
class OstSubnodes : public SubnodeSource {
 public:
  // Neither argument is owned; both must outlive this object.
  OstSubnodes(const OstContext& context, const std::vector<SubnodeEntry>& list)
      : context_(context), list_(list) {}
  std::optional<ByteVector> Value(Nid nid) const override;
  std::optional<std::vector<ByteVector>> Blocks(Nid nid) const override;
  bool Readable(Nid nid) const override;

 private:
  const OstContext& context_;
  const std::vector<SubnodeEntry>& list_;
};

HidLayout hid_layout_for(const OstContext& context);

}  // namespace salvora
