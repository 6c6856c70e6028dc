#include "engine/object_reader.h"

#include "content/named_property_map.h"
#include "format/block.h"
#include "format/byte_reader.h"

namespace salvora {

namespace {

// Sub-nodes from the file, declining values too large to hold: the decoder then leaves the
// entry unread with its sub-node id, and the caller streams it when it needs the bytes.
class BoundedSubnodes : public SubnodeSource {
 public:
  BoundedSubnodes(const OstContext& ctx, const std::vector<SubnodeEntry>& list, std::uint64_t limit)
      : ctx_(ctx), list_(list), inner_(ctx, list), limit_(limit) {}

  std::optional<ByteVector> Value(Nid nid) const override {
    if (too_large(nid)) return std::nullopt;
    return inner_.Value(nid);
  }
  std::optional<std::vector<ByteVector>> Blocks(Nid nid) const override { return inner_.Blocks(nid); }

 private:
  bool too_large(Nid nid) const {
    const SubnodeEntry* e = FindSubnode(list_, nid);
    if (!e) return false;
    auto size = SubnodeValueSize(ctx_, *e);
    return size && *size > limit_;
  }

  const OstContext& ctx_;
  const std::vector<SubnodeEntry>& list_;
  OstSubnodes inner_;
  std::uint64_t limit_;
};

}  // namespace

std::optional<std::uint64_t> SubnodeValueSize(const OstContext& context, const SubnodeEntry& entry) {
  if (!entry.data_block) return std::nullopt;
  if (!entry.data_bid.is_internal()) return entry.data_block->cb_inflated;
  auto tree = ReadBlockDecoded(context, entry.data_bid);
  if (!tree) return std::nullopt;
  const auto x = XBlock::Parse(*tree, context.header.layout, Tolerance::kSalvage);
  if (!x) return std::nullopt;
  return x->total;
}

bool StreamSubnodeValue(const OstContext& context, const SubnodeEntry& entry, ValueSink& sink) {
  if (!entry.data_block) return false;
  return ReadNodeData(context, *entry.data_block, sink);
}

std::optional<LoadedObject> ReadObject(const OstContext& context, Bid data_bid, Bid sub_bid,
                                       const ReadObjectOptions& options, DecodeFailure* failure) {
  if (context.stopped() || data_bid.is_null()) return std::nullopt;
  LoadedObject out;
  if (!sub_bid.is_null()) {
    // An unreadable sub-node list costs the values kept there, not the object.
    if (auto subs = ReadSubnodes(context, sub_bid)) out.subnodes = std::move(*subs);
  }
  auto blocks = ReadNodeBlocks(context, data_bid);
  if (!blocks) {
    if (failure) *failure = DecodeFailure{DecodeError::kUnreadable, 0, 0, 0};
    return std::nullopt;
  }
  DecodeOptions decode;
  decode.hid_layout = hid_layout_for(context);
  decode.names = context.named_properties.get();
  decode.stop = context.stop_flag;
  decode.listing = options.listing;
  DecodeResult result;
  if (options.defer_large_values) {
    BoundedSubnodes source(context, out.subnodes, kLargeValueLimit);
    result = decode_heap_properties(std::move(*blocks), &source, decode);
  } else {
    OstSubnodes source(context, out.subnodes);
    result = decode_heap_properties(std::move(*blocks), &source, decode);
  }
  if (!result.list) {
    if (failure) *failure = result.failure;
    return std::nullopt;
  }
  out.properties = std::move(*result.list);
  return out;
}

std::optional<LoadedObject> ReadObject(const OstContext& context, const NodeRecord& node,
                                       const ReadObjectOptions& options) {
  return ReadObject(context, node.data_bid, node.sub_bid, options);
}

}  // namespace salvora
