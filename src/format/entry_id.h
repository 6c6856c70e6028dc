#pragma once
// The entry id of an object in a store, as properties of the store object hold them (the IPM
// subtree, the deleted items, the search root): four bytes of flags, the store's record key,
// then the NID of the object.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "format/byte_reader.h"
#include "format/ids.h"

namespace salvora {

struct EntryId {
  static constexpr std::size_t kSize = 24;
  std::uint32_t flags = 0;
  std::array<std::uint8_t, 16> record_key{};
  Nid nid;

  std::vector<std::uint8_t> Serialize() const;
  // Empty when the bytes are shorter than an entry id; bytes past it are not looked at.
  static std::optional<EntryId> Parse(Bytes bytes);
};

}  // namespace salvora
