#pragma once
// The name-to-id map (MS-PST 2.4.7): named properties (a GUID with a numeric id or a string
// name) mapped to property ids 0x8000 and up, stored as three streams and hash buckets in the
// property context of node 0x61.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "format/property_sets.h"
#include "pststore/pst/property.h"

namespace salvora::pst {

using Guid = PropertySetGuid;

struct PropertyName {
  Guid guid{};
  std::optional<std::uint32_t> lid;  // numeric name
  std::string name;                  // string name (UTF-8) when lid is empty
  // The number first: names of one item mostly share their GUID, and lists of them are
  // searched one by one.
  bool operator==(const PropertyName& o) const { return lid == o.lid && name == o.name && guid == o.guid; }
};

inline constexpr std::uint32_t kNameBucketCount = 251;

class NameToIdMap {
 public:
  // The property id of a name, registering it when new. Throws when the 4,096 ids are used up.
  std::uint16_t Register(const PropertyName& name);
  std::optional<std::uint16_t> Find(const PropertyName& name) const;
  const std::vector<PropertyName>& names() const { return names_; }
  bool dirty() const { return dirty_; }
  void clear_dirty() { dirty_ = false; }

  // The properties of node 0x61: bucket count, the three streams and the non-empty buckets.
  PropertyList ToProperties() const;
  // Reads the map back from those properties, reporting every inconsistency (entry outside
  // the streams, hash record in the wrong bucket or missing).
  static NameToIdMap FromProperties(const PropertyList& props, std::vector<std::string>* problems);

 private:
  using Key = std::tuple<Guid, bool, std::uint32_t, std::string>;
  static Key KeyOf(const PropertyName& n) { return {n.guid, n.lid.has_value(), n.lid.value_or(0), n.lid ? std::string() : n.name}; }

  std::vector<PropertyName> names_;
  std::map<Key, std::uint16_t> index_;
  bool dirty_ = true;
};

}  // namespace salvora::pst
