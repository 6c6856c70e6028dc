#include "content/named_property_map.h"

#include <algorithm>

#include "format/name_id.h"
#include "format/text.h"

namespace salvora {

namespace {

// The string stream holds, at each name's offset, a 32-bit byte length and the UTF-16LE name.
// budget is what the names of the map may still copy out of the stream; a name past it reads
// as unreadable.
std::optional<std::string> NameAt(Bytes strings, std::uint32_t offset, std::size_t& budget) {
  // A length past the stream is damage; keep what the stream holds rather than nothing.
  const auto stored = parse_name_id_string(strings, offset);
  if (!stored || stored->text.size() > budget) return std::nullopt;
  budget -= stored->text.size();
  const Bytes text = stored->text;
  // Names end at their length; a NUL inside ends them as well, as it would for any reader
  // that treats the name as a C string.
  std::string name = utf16_to_utf8(text);
  if (auto nul = name.find('\0'); nul != std::string::npos) name.resize(nul);
  return name;
}

}  // namespace

NamedPropertyMap NamedPropertyMap::FromStreams(Bytes entry_stream, Bytes string_stream,
                                               const std::atomic<bool>* stop) {
  NamedPropertyMap map;
  const std::vector<NameIdRecord> records = parse_name_id_records(entry_stream);
  map.entries_.reserve(records.size());
  // A sound map gives each name its own string, so its names together are about the size of
  // the stream. Records that name one long string over and over (a damaged or hostile map)
  // would multiply it without end; the names may copy four times the stream, then no more.
  std::size_t name_budget = 4 * string_stream.size() + 4096;
  for (const NameIdRecord& record : records) {
    if (stop && stop->load(std::memory_order_relaxed)) return NamedPropertyMap{};
    if (record.guid_index == 0) break;  // an unused record ends the map
    NamedProperty p;
    p.key = 0x8000u + record.prop_index;
    p.guid_index = record.guid_index;
    if (!record.is_string) {
      p.kind = NamedProperty::kNumeric;
      p.numeric_name = record.value & 0xFFFF;
      p.lid = record.value;
    } else {
      p.kind = NamedProperty::kString;
      // The whole 32 bits are the offset: a string stream grows past 64 KB in large stores.
      p.name = NameAt(string_stream, record.value, name_budget);
    }
    map.entries_.push_back(std::move(p));
  }
  // Later records go before earlier ones with the same key: reverse, then sort stably.
  std::reverse(map.entries_.begin(), map.entries_.end());
  std::stable_sort(map.entries_.begin(), map.entries_.end(),
                   [](const NamedProperty& a, const NamedProperty& b) { return a.key < b.key; });
  return map;
}

std::optional<NamedPropertyMap> NamedPropertyMap::FromPropertyBlock(const PropertyBlock& block) {
  const PropertyEntry* entries = nullptr;
  const PropertyEntry* strings = nullptr;
  const PropertyEntry* guids = nullptr;
  for (const auto& e : block.entries) {
    if (e.raw_id == kPidNameidStreamEntry) entries = &e;
    if (e.raw_id == kPidNameidStreamString) strings = &e;
    if (e.raw_id == kPidNameidStreamGuid) guids = &e;
  }
  if (entries == nullptr || !entries->value) return std::nullopt;
  Bytes string_bytes;
  if (strings != nullptr && strings->value) string_bytes = *strings->value;
  NamedPropertyMap map = FromStreams(*entries->value, string_bytes);
  if (guids != nullptr && guids->value) map.set_guid_stream(*guids->value);
  return map;
}

std::optional<PropertySetGuid> NamedPropertyMap::property_set(const NamedProperty& entry) const {
  if (entry.guid_index == 1) return kPsMapi;
  if (entry.guid_index == 2) return kPsPublicStrings;
  if (entry.guid_index < 3) return std::nullopt;
  const std::size_t offset = std::size_t{entry.guid_index - 3u} * 16;
  if (offset + 16 > guids_.size()) return std::nullopt;
  PropertySetGuid g{};
  std::copy_n(guids_.begin() + static_cast<std::ptrdiff_t>(offset), 16, g.begin());
  return g;
}

const NamedProperty* NamedPropertyMap::Find(std::uint32_t key) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                             [](const NamedProperty& p, std::uint32_t k) { return p.key < k; });
  if (it == entries_.end() || it->key != key) return nullptr;
  return &*it;
}

}  // namespace salvora
