#include "writer/item_links.h"

#include <algorithm>
#include <cstdio>

#include "format/crc.h"
#include "format/multi_value.h"
#include "format/prop_types.h"

namespace salvora {

namespace {

using ByteVec = std::vector<std::uint8_t>;
constexpr std::size_t kIdBytes = 24;

constexpr std::array<std::uint8_t, 16> kWrappedProvider = {0xC0, 0x91, 0xAD, 0xD3, 0x51, 0x9D, 0xCF, 0x11,
                                                           0xA4, 0xA9, 0x00, 0xAA, 0x00, 0x47, 0xFA, 0xA4};
constexpr std::array<std::uint8_t, 16> kContactBookProvider = {0xFE, 0x42, 0xAA, 0x0A, 0x18, 0xC7, 0x1A, 0x10,
                                                               0xE8, 0x85, 0x0B, 0x65, 0x1C, 0x24, 0x00, 0x00};
constexpr std::size_t kWrappedAt = 21;      // flags, provider, type
constexpr std::size_t kContactBookAt = 36;  // flags, provider, version, type, index, size
constexpr std::size_t kContactBookSizeAt = 32;

constexpr PropertySetGuid kAddressSet = {0x04, 0x20, 0x06, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
constexpr std::uint32_t kLidMembers = 0x8055;
constexpr std::uint32_t kLidOneOffMembers = 0x8054;
constexpr std::uint32_t kLidChecksum = 0x804C;

constexpr const char* kNotInPst = "it names an object of the source that is not in the PST";

// Where a value carries an entry id of the store, and the NID it names.
struct Link {
  std::size_t at = 0;
  Nid nid;
};

std::optional<Link> find_link(Bytes v, const StoreKey& key) {
  const auto names_store = [&](std::size_t at) {
    return v.size() == at + kIdBytes && std::equal(key.begin(), key.end(), v.begin() + static_cast<std::ptrdiff_t>(at + 4));
  };
  const auto provider = [&](const std::array<std::uint8_t, 16>& uid) {
    return v.size() >= 20 && std::equal(uid.begin(), uid.end(), v.begin() + 4);
  };
  if (names_store(0)) return Link{0, Nid(load_u32(v, 20))};
  if (provider(kWrappedProvider) && names_store(kWrappedAt)) return Link{kWrappedAt, Nid(load_u32(v, kWrappedAt + 20))};
  if (provider(kContactBookProvider) && names_store(kContactBookAt) && load_u32(v, kContactBookSizeAt) == kIdBytes)
    return Link{kContactBookAt, Nid(load_u32(v, kContactBookAt + 20))};
  return std::nullopt;
}

// The value with the PST's entry id in place of the source's, in the same wrapping.
ByteVec rewrap(Bytes v, const Link& link, const ByteVec& target) {
  ByteVec out(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(link.at));
  out.insert(out.end(), target.begin(), target.end());
  if (link.at == kContactBookAt) {
    const auto n = static_cast<std::uint32_t>(target.size());
    for (int i = 0; i < 4; ++i) out[kContactBookSizeAt + i] = static_cast<std::uint8_t>(n >> (8 * i));
  }
  return out;
}

// The store computes these of the object itself.
bool computed_own(std::uint16_t id) { return id == kPidEntryId || id == 0x0E09 /* parent entry id */; }

std::string describe(const PropertyEntry& e, const NamedPropertyMap* names) {
  char buf[48];
  const NamedProperty* n = e.raw_id >= 0x8000 && names ? names->Find(e.raw_id) : nullptr;
  if (n && n->kind == NamedProperty::kNumeric) {
    std::snprintf(buf, sizeof buf, "named 0x%04X (id 0x%04X%04X)", n->lid, e.raw_id, e.type);
  } else {
    std::snprintf(buf, sizeof buf, "0x%04X%04X", e.raw_id, e.type);
  }
  return buf;
}

bool is_address_lid(const PropertyEntry& e, const NamedPropertyMap* names, std::uint32_t lid) {
  const NamedProperty* n = e.raw_id >= 0x8000 && names ? names->Find(e.raw_id) : nullptr;
  return n && n->kind == NamedProperty::kNumeric && n->lid == lid && names->property_set(*n) == kAddressSet;
}

std::vector<ByteVec> items_of(const PropertyEntry& e) {
  std::vector<ByteVec> out;
  if (!e.value) return out;
  if (const auto items = parse_variable_multi(*e.value))
    for (Bytes b : *items) out.emplace_back(b.begin(), b.end());
  return out;
}

class Relinker {
 public:
  Relinker(const StoreKey& key, Nid self, const NamedPropertyMap* names, const MadeObjectLookup& made)
      : key_(key), self_(self), names_(names), made_(made) {}

  void Entries(std::vector<PropertyEntry>& entries, bool own) {
    for (std::size_t i = 0; i < entries.size();) {
      PropertyEntry& e = entries[i];
      if (!e.value || (own && computed_own(e.raw_id))) {
        ++i;
      } else if (e.type == kPtypBinary) {
        if (Single(e)) {
          ++i;
        } else {
          entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
        }
      } else {
        if (e.type == kPtypMultipleBinary) List(entries, e);
        ++i;
      }
    }
  }

  std::vector<DroppedProperty> take() { return std::move(dropped_); }

 private:
  // False when the value is to go.
  bool Single(PropertyEntry& e) {
    const auto link = find_link(*e.value, key_);
    if (!link) return true;
    // An item's link to itself (a contact's reference to its original, when it is one) would
    // need the entry id the PST gives it only once it is written; without it the item is its
    // own original, as a new one is. Nothing of the user's is lost.
    if (link->nid == self_) return false;
    if (auto target = made_(link->nid)) {
      *e.value = rewrap(*e.value, *link, *target);
      return true;
    }
    dropped_.push_back({describe(e, names_), kNotInPst});
    return false;
  }

  void List(std::vector<PropertyEntry>& entries, PropertyEntry& e) {
    std::vector<ByteVec> items = items_of(e);
    std::vector<std::size_t> gone;
    bool changed = false;
    for (std::size_t k = 0; k < items.size(); ++k) {
      const auto link = find_link(items[k], key_);
      if (!link) continue;
      changed = true;
      if (auto target = made_(link->nid)) {
        items[k] = rewrap(items[k], *link, *target);
      } else {
        gone.push_back(k);
        items[k].clear();
      }
    }
    if (!changed) return;
    const std::string what = describe(e, names_);
    if (is_address_lid(e, names_, kLidMembers)) {
      Members(entries, items, gone, what);
    } else {
      // A list read by position keeps its places: the one whose object is gone stays empty.
      for (std::size_t k : gone) dropped_.push_back({what + "[" + std::to_string(k) + "]", kNotInPst});
    }
    e.value = serialize_variable_multi(items);
  }

  // A distribution list's member whose contact is not in the PST stays a member by the address
  // the list keeps beside it; one without such an address leaves both lists, which go by
  // position together. The checksum is the members' again.
  void Members(std::vector<PropertyEntry>& entries, std::vector<ByteVec>& members, const std::vector<std::size_t>& gone,
               const std::string& what) {
    PropertyEntry* one_offs = nullptr;
    PropertyEntry* checksum = nullptr;
    for (auto& other : entries) {
      if (!other.value) continue;
      if (other.type == kPtypMultipleBinary && is_address_lid(other, names_, kLidOneOffMembers)) one_offs = &other;
      if (other.type == kPtypInteger32 && is_address_lid(other, names_, kLidChecksum)) checksum = &other;
    }
    std::vector<ByteVec> addresses = one_offs ? items_of(*one_offs) : std::vector<ByteVec>{};
    const bool parallel = addresses.size() == members.size();
    std::vector<std::size_t> leave;
    for (std::size_t k : gone) {
      const std::string member = what + "[" + std::to_string(k) + "]";
      if (parallel && !addresses[k].empty()) {
        members[k] = addresses[k];
        dropped_.push_back({member, "its contact is not in the PST; the member is kept by its address"});
      } else {
        leave.push_back(k);
        dropped_.push_back({member, "its contact is not in the PST and the list keeps no address for it"});
      }
    }
    for (auto k = leave.rbegin(); k != leave.rend(); ++k) {
      members.erase(members.begin() + static_cast<std::ptrdiff_t>(*k));
      if (parallel) addresses.erase(addresses.begin() + static_cast<std::ptrdiff_t>(*k));
    }
    if (parallel && !leave.empty()) one_offs->value = serialize_variable_multi(addresses);
    if (checksum) {
      ByteVec all;
      for (const auto& m : members) all.insert(all.end(), m.begin(), m.end());
      const std::uint32_t crc = member_checksum(all);
      checksum->value = ByteVec{static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8),
                                static_cast<std::uint8_t>(crc >> 16), static_cast<std::uint8_t>(crc >> 24)};
    }
  }

  const StoreKey& key_;
  Nid self_;
  const NamedPropertyMap* names_;
  const MadeObjectLookup& made_;
  std::vector<DroppedProperty> dropped_;
};

void collect(const std::vector<PropertyEntry>& entries, const StoreKey& key, Nid self, std::vector<Nid>& out) {
  const auto note = [&](Bytes v) {
    if (const auto link = find_link(v, key); link && link->nid != self) out.push_back(link->nid);
  };
  for (const auto& e : entries) {
    if (!e.value) continue;
    if (e.type == kPtypBinary) {
      note(*e.value);
    } else if (e.type == kPtypMultipleBinary) {
      if (const auto items = parse_variable_multi(*e.value))
        for (Bytes b : *items) note(b);
    }
  }
}

}  // namespace

std::uint32_t member_checksum(Bytes members) { return ComputeCrc(members); }

std::vector<Nid> linked_objects(const SourceObject& source, const StoreKey& key, Nid self) {
  std::vector<Nid> out;
  collect(source.properties, key, self, out);
  for (const auto& row : source.recipients) collect(row, key, self, out);
  return out;
}

std::vector<DroppedProperty> relink_object(SourceObject& source, const StoreKey& key, Nid self,
                                           const NamedPropertyMap* names, const MadeObjectLookup& made) {
  Relinker relinker(key, self, names, made);
  relinker.Entries(source.properties, true);
  for (auto& row : source.recipients) relinker.Entries(row, false);
  return relinker.take();
}

}  // namespace salvora
