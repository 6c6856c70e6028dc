#include "content/property_decoder.h"

#include "content/value_resolver.h"

namespace salvora {

const char* decode_error_name(DecodeError error) {
  switch (error) {
    case DecodeError::kNone: return "none";
    case DecodeError::kStopped: return "stopped";
    case DecodeError::kUnreadable: return "unreadable node data";
    case DecodeError::kBadHeap: return "bad heap-on-node";
    case DecodeError::kNotPropertyContext: return "not a property context";
    case DecodeError::kBadBthHeader: return "bad BTH header";
    case DecodeError::kBadBthRoot: return "bad BTH root";
    case DecodeError::kBadTableInfo: return "bad TCINFO";
    case DecodeError::kBadRowMatrix: return "bad row matrix";
    case DecodeError::kUnknownClient: return "unknown heap client";
  }
  return "unknown";
}

DecodeResult decode_heap_properties(std::vector<ByteVector> heap_blocks,
                                    const SubnodeSource* subnodes, const DecodeOptions& options) {
  DecodeResult fail;
  if (options.stop != nullptr && options.stop->load(std::memory_order_relaxed)) {
    fail.failure.code = DecodeError::kStopped;
    return fail;
  }
  HeapError heap_error = HeapError::kNone;
  // Salvage: a heap with damage past block 0 still gives what can be read; the failure code
  // says why a heap gave nothing.
  Findings findings(Tolerance::kSalvage);
  auto heap = HeapOnNode::Parse(std::move(heap_blocks), options.hid_layout, findings, &heap_error);
  if (!heap) {
    fail.failure.code = DecodeError::kBadHeap;
    fail.failure.actual = static_cast<std::uint64_t>(heap_error);
    return fail;
  }
  ValueResolver resolver(*heap, subnodes, options);
  switch (heap->client_signature()) {
    case kClientPropertyContext:
      return ReadPropertyContext(resolver);
    case kClientTableContext:
      return ReadTableContext(resolver);
    default:
      fail.failure.code = DecodeError::kUnknownClient;
      fail.failure.actual = heap->client_signature();
      return fail;
  }
}

bool is_listing_skipped(std::uint32_t id) {
  return id == kPidBody || id == kPidRtfCompressed || id == kPidHtml || id == kPidTransportMessageHeaders;
}

HidLayout hid_layout_for(const OstContext& context) {
  return context.header.layout == FileLayout::kUnicode4k ? HidLayout::kWide : HidLayout::kStandard;
}

DecodeResult decode_properties(const OstContext& context, Bid data_bid,
                               const std::vector<SubnodeEntry>* subnodes,
                               const NamedPropertyMap* names) {
  DecodeOptions options;
  options.hid_layout = hid_layout_for(context);
  options.names = names != nullptr ? names : context.named_properties.get();
  options.stop = context.stop_flag;
  DecodeResult fail;
  if (context.stopped()) {
    fail.failure.code = DecodeError::kStopped;
    return fail;
  }
  // A data tree is a heap of several blocks, each with its own page map: read them apart.
  auto blocks = ReadNodeBlocks(context, data_bid);
  if (!blocks || blocks->empty()) {
    fail.failure.code = DecodeError::kUnreadable;
    fail.failure.hid = static_cast<std::uint32_t>(data_bid.value);
    return fail;
  }
  if (subnodes == nullptr) return decode_heap_properties(std::move(*blocks), nullptr, options);
  OstSubnodes source(context, *subnodes);
  return decode_heap_properties(std::move(*blocks), &source, options);
}

std::optional<ByteVector> OstSubnodes::Value(Nid nid) const {
  return ReadSubnodeValue(context_, nid, list_);
}

bool OstSubnodes::Readable(Nid nid) const {
  const SubnodeEntry* entry = FindSubnode(list_, nid);
  if (entry == nullptr || !entry->data_block) return false;
  // Sound blocks need no inflating to be known readable. Anything else is read as Value reads
  // it, so that a damaged block is counted exactly as a full load counts it.
  return CheckNodeData(context_, *entry->data_block) || Value(nid).has_value();
}

std::optional<std::vector<ByteVector>> OstSubnodes::Blocks(Nid nid) const {
  const SubnodeEntry* entry = FindSubnode(list_, nid);
  if (entry == nullptr) return std::nullopt;
  return ReadNodeBlocks(context_, entry->data_bid);
}

}  // namespace salvora
