#pragma once
// The decoded properties of one object: a property context gives one block, a table context
// one block per row. Every entry owns a copy of its value, so a list outlives the node data
// it was read from.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/ids.h"
#include "format/prop_types.h"

namespace salvora {

using ByteVector = std::vector<std::uint8_t>;

// The id an entry gets when the named-property map names it by a string rather than a number.
inline constexpr std::uint32_t kStringNamedId = 2;
// Where a numeric name below 0x8000 is moved, so it never stands for a standard property.
inline constexpr std::uint32_t kLowNumericNameBase = 0x10000;

struct PropertyEntry {
  // The property id; for a named property (raw id 0x8000 and up) the numeric name the map
  // gives it, or kStringNamedId when the map names it by a string.
  std::uint32_t id = 0;
  std::uint16_t raw_id = 0;   // the id as stored in the object
  std::uint16_t type = 0;     // the property type as stored
  // The value: inline fixed values as 4 (or, in a table row, 8) little-endian bytes, every
  // other value as stored. Empty when the value sits in a sub-node that could not be read.
  std::optional<ByteVector> value;
  // The sub-node that holds the value when it could not be read (0 otherwise), so that the
  // caller can still stream it from the file later.
  Nid unread_subnode;
  // The value was found readable and left unread on purpose (a listing load does not look at
  // bodies); value is then empty.
  bool value_skipped = false;
  // For PT_OBJECT: the sub-node the object lives in (an embedded message or OLE storage).
  Nid object_nid;
  // The name of a string-named property, UTF-8.
  std::optional<std::string> name;

  std::size_t size() const { return value ? value->size() : 0; }
};

struct PropertyBlock {
  // 1 for a property context; the table's row count for a table context (same in every row).
  std::int32_t total_rows = 1;
  std::vector<PropertyEntry> entries;

  // The first entry with this (mapped) id, or null.
  const PropertyEntry* find(std::uint32_t id) const;
};

struct PropertyList {
  bool table = false;  // rows of a table context rather than one property context
  std::vector<PropertyBlock> blocks;
};

// Fixed-width readings of a value; empty when absent or too short.
std::optional<std::int32_t> value_i32(const PropertyEntry& entry);
std::optional<std::uint64_t> value_u64(const PropertyEntry& entry);

// A string property as UTF-8: PT_UNICODE from UTF-16LE, PT_STRING8 from the code page. Any
// other type is read as the file's own string form (UTF-16 in a Unicode file, 8-bit in an ANSI
// file). U+0000 characters are kept unless drop_nul is set.
std::string value_text(const PropertyEntry& entry, std::uint32_t codepage, bool ansi_file,
                       bool drop_nul = false);

// The code page of an object's 8-bit strings: PR_MESSAGE_CODEPAGE when a block carries it,
// else the fallback.
std::uint32_t object_codepage(const std::vector<PropertyBlock>& blocks, std::uint32_t fallback);

}  // namespace salvora
