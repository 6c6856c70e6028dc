#pragma once
// The store's named-property map: which numeric name or string name stands behind each
// property id of 0x8000 and up that the store assigned (MS-PST 2.4.7). Built once per file
// from the streams of node 0x61 and consulted for every such id while decoding.

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "content/property_block.h"
#include "format/byte_reader.h"
#include "format/property_sets.h"

namespace salvora {

struct NamedProperty {
  enum Kind : std::int32_t { kNumeric = 1, kString = 2 };
  Kind kind = kNumeric;
  std::uint32_t key = 0;            // the property id the store assigned: 0x8000 + wPropIdx
  std::uint32_t numeric_name = 0;   // kNumeric: the low 16 bits of dwPropertyID
  std::uint32_t lid = 0;            // kNumeric: the whole dwPropertyID, as a copy names it
  std::optional<std::string> name;  // kString: the name in UTF-8; empty when unreadable
  std::uint16_t guid_index = 0;     // wGuid: 1 PS_MAPI, 2 PS_PUBLIC_STRINGS, 3+ GUID stream
};

class NamedPropertyMap {
 public:
  // Parses the entry stream (NAMEID records) and the string stream. The map ends at the first
  // record with wGuid 0 or at the last whole record. Empty when stop is set meanwhile.
  static NamedPropertyMap FromStreams(Bytes entry_stream, Bytes string_stream,
                                     const std::atomic<bool>* stop = nullptr);
  // From the decoded property context of node 0x61: its entry (0x0003) and string (0x0004)
  // streams, the later entry winning when an id appears twice. Empty optional without an
  // entry stream.
  static std::optional<NamedPropertyMap> FromPropertyBlock(const PropertyBlock& block);

  // The property set of an entry: PS_MAPI and PS_PUBLIC_STRINGS by their index, the others from
  // the GUID stream (node 0x61's 0x0002). Empty when the index points past the stream.
  std::optional<PropertySetGuid> property_set(const NamedProperty& entry) const;
  void set_guid_stream(Bytes guids) { guids_.assign(guids.begin(), guids.end()); }

  // The entry for an assigned id, or null. Of two entries with one key, the one read later
  // answers.
  const NamedProperty* Find(std::uint32_t key) const;

  // Ascending by key; among equal keys the later-read record first.
  const std::vector<NamedProperty>& entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }

 private:
  std::vector<NamedProperty> entries_;
  std::vector<std::uint8_t> guids_;
};

}  // namespace salvora
