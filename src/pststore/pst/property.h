#pragma once
// A property value as the writer takes it: a tag and the value's bytes in their stored form
// (little-endian numbers, UTF-16LE strings without terminator, packed fixed-size multi-values,
// count-and-offsets variable multi-values). The factories below build that form from ordinary
// values so that callers never lay out bytes themselves.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/byte_reader.h"
#include "format/prop_types.h"

namespace salvora::pst {

struct Property {
  std::uint32_t tag = 0;
  std::vector<std::uint8_t> data;

  std::uint16_t id() const { return PropIdOf(tag); }
  std::uint16_t type() const { return PropTypeOf(tag); }
  bool operator==(const Property&) const = default;

  static Property Int16(std::uint16_t id, std::int16_t v);
  static Property Int32(std::uint16_t id, std::int32_t v);
  static Property Bool(std::uint16_t id, bool v);
  static Property Int64(std::uint16_t id, std::int64_t v);
  static Property Float(std::uint16_t id, float v);
  static Property Double(std::uint16_t id, double v);
  static Property Currency(std::uint16_t id, std::int64_t v);
  // FILETIME: 100-ns ticks since 1601-01-01 UTC.
  static Property Time(std::uint16_t id, std::uint64_t filetime);
  static Property Guid(std::uint16_t id, const std::array<std::uint8_t, 16>& g);
  static Property String(std::uint16_t id, std::string_view utf8);
  static Property Binary(std::uint16_t id, Bytes bytes);
  static Property MultiString(std::uint16_t id, const std::vector<std::string>& utf8);
  static Property MultiBinary(std::uint16_t id, const std::vector<std::vector<std::uint8_t>>& items);
  static Property MultiInt32(std::uint16_t id, const std::vector<std::int32_t>& items);
  static Property MultiTime(std::uint16_t id, const std::vector<std::uint64_t>& items);
  // A multi-valued property of any type from its values in stored form: packed for fixed-size
  // types, count and offsets for strings and binaries.
  static Property Multi(std::uint16_t id, std::uint16_t multi_type, const std::vector<std::vector<std::uint8_t>>& items);
  static Property Raw(std::uint32_t tag, std::vector<std::uint8_t> bytes) { return Property{tag, std::move(bytes)}; }

  // Readers for tests and checks; they do not validate the type.
  std::int64_t AsInt() const;  // I16, I32, Bool, I64, Time (zero-extended / sign-extended)
  std::string AsString() const;  // UTF-8 of a String value
};

using PropertyList = std::vector<Property>;

const Property* find_prop(const PropertyList& props, std::uint16_t id);
// Adds or replaces by property id.
void set_prop(PropertyList& props, Property p);
// The same for a value that stays with the caller: a value replaced keeps its room for the copy.
void copy_prop(PropertyList& props, const Property& p);
// Sorts by property id; later duplicates of an id win.
void normalize_props(PropertyList& props);

// Whether a value of this type and size lives inline in a property context record.
bool is_inline_pc_value(std::uint16_t type);
// Cell width in a table row (2.3.4.4.2).
std::uint8_t table_cell_size(std::uint16_t type);

// A row's properties in one allocation: [tag u32][length u32][bytes]..., for folder tables that
// keep thousands of rows in memory between checkpoints.
class PackedProps {
 public:
  PackedProps() = default;
  explicit PackedProps(const PropertyList& props);
  PropertyList Unpack() const;
  std::size_t bytes() const { return blob_.size(); }
  // The packed form itself, to keep elsewhere and take back.
  const std::vector<std::uint8_t>& blob() const { return blob_; }
  static PackedProps FromBlob(std::vector<std::uint8_t> blob);

 private:
  std::vector<std::uint8_t> blob_;
};

}  // namespace salvora::pst
