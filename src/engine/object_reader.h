#pragma once
// Reading one object of the store (a folder, a message, an attachment) into decoded property
// blocks, with its sub-node list. The layer between the node tree and everything that wants an
// object's properties: item loading, the folder walk, the dump.

#include <cstdint>
#include <optional>
#include <vector>

#include "content/property_decoder.h"
#include "ndb/block_reader.h"
#include "ndb/ost_context.h"

namespace salvora {

// Sub-node values larger than this are left unread by ReadObject when asked to: the caller
// streams them from the file (attachment data) instead of holding them in memory.
inline constexpr std::uint64_t kLargeValueLimit = 4u << 20;

struct LoadedObject {
  PropertyList properties;
  std::vector<SubnodeEntry> subnodes;  // the object's own sub-node list
};

struct ReadObjectOptions {
  bool defer_large_values = false;  // leave sub-node values above kLargeValueLimit unread
  bool listing = false;             // leave the bodies unread, checked only (DecodeOptions::listing)
};

// Decodes the object whose data block and sub-node block are given. Empty optional when its
// data cannot be read or decoded (the failure is in the result's reason).
std::optional<LoadedObject> ReadObject(const OstContext& context, Bid data_bid, Bid sub_bid,
                                       const ReadObjectOptions& options = {},
                                       DecodeFailure* failure = nullptr);
std::optional<LoadedObject> ReadObject(const OstContext& context, const NodeRecord& node,
                                       const ReadObjectOptions& options = {});

// The logical size of a sub-node's value without reading it (the data tree's total, or the
// block's inflated size); empty when unknown.
std::optional<std::uint64_t> SubnodeValueSize(const OstContext& context, const SubnodeEntry& entry);

// Streams a value into a sink (hashing, a file) without holding it whole.
bool StreamSubnodeValue(const OstContext& context, const SubnodeEntry& entry, ValueSink& sink);

}  // namespace salvora
