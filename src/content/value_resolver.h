#pragma once
// Turns the stored form of one property (tag and 32-bit value or reference, or a table cell)
// into a PropertyEntry: named ids mapped, references resolved in the heap or a sub-node.
// Internal to the decoder; shared by the property and table context readers.

#include <optional>

#include "format/heap_on_node.h"
#include "content/property_decoder.h"
#include "format/property_context.h"

namespace salvora {

enum class ValueForm {
  kNone,      // a type whose value the program does not read
  kInline4,   // 2- and 4-byte fixed types, held in the record or cell itself
  kFixed8,    // 8-byte fixed types: a heap id in a property context, inline in a table row
  kVariable,  // strings, binaries, GUIDs, objects, multi-valued: always a heap id or sub-node
};

ValueForm value_form(std::uint16_t type);

class ValueResolver {
 public:
  ValueResolver(const HeapOnNode& heap, const SubnodeSource* subnodes, const DecodeOptions& options)
      : heap_(heap), subnodes_(subnodes), options_(options) {}

  // An entry with its id mapped and no value yet.
  PropertyEntry MakeEntry(std::uint16_t raw_id, std::uint16_t type) const;
  enum class Outcome { kResolved, kEmptyReference, kUnresolved };
  // Resolves a heap id or sub-node id into the entry's value. Anything but kResolved drops
  // the entry: a reference of 0, or a heap id that names no allocation.
  Outcome Resolve(PropertyEntry& entry, std::uint32_t reference) const;

  bool stopped() const {
    return options_.stop != nullptr && options_.stop->load(std::memory_order_relaxed);
  }
  const HeapOnNode& heap() const { return heap_; }
  const SubnodeSource* subnodes() const { return subnodes_; }

 private:
  void ReadSubnode(PropertyEntry& entry, Nid nid) const;
  // A listing leaves this value unread.
  bool skips(const PropertyEntry& entry) const {
    return options_.listing && entry.type != kPtypObject && is_listing_skipped(entry.id);
  }

  const HeapOnNode& heap_;
  const SubnodeSource* subnodes_;
  const DecodeOptions& options_;
};

// The two readers behind decode_heap_properties.
DecodeResult ReadPropertyContext(const ValueResolver& resolver);
DecodeResult ReadTableContext(const ValueResolver& resolver);

// A result that failed for this reason, naming the heap or node id involved.
DecodeResult decode_failure(DecodeError code, std::uint32_t hid = 0);
// Why the shared context layout gave nothing, as a decoding failure.
DecodeError decode_error_of(ContextError error);

// Resolves a reference into entry and counts a drop in result; true when the entry stands.
bool ResolveInto(const ValueResolver& resolver, PropertyEntry& entry, std::uint32_t reference,
                 DecodeResult& result);

}  // namespace salvora
