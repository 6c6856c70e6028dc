#pragma once
// The names a property accessor knows a property by, as Outlook's object model spells them:
//
//   http://schemas.microsoft.com/mapi/proptag/0xTTTTtttt          a tagged property (id, type)
//   http://schemas.microsoft.com/mapi/id/{GUID}/LLLLtttt           a named property by number
//   http://schemas.microsoft.com/mapi/string/{GUID}/name           a named property by name
//
// A string name may end in "/0x0000tttt" to give its type, which a name alone does not carry.
// GUIDs are written in their registry form; the bytes are the property set as a PST stores it
// (the first three groups little-endian).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace salvora {

struct PropertySchema {
  std::uint16_t type = 0;
  std::uint16_t id = 0;  // a tagged property's id; 0 for a named one
  // A named property: its set, and its number or its name.
  std::optional<std::array<std::uint8_t, 16>> set;
  std::uint32_t lid = 0;
  std::optional<std::string> name;

  bool named() const { return set.has_value(); }
};

std::string proptag_schema_name(std::uint16_t id, std::uint16_t type);
std::string id_schema_name(const std::array<std::uint8_t, 16>& set, std::uint32_t lid, std::uint16_t type);
// type 0 leaves the type out.
std::string string_schema_name(const std::array<std::uint8_t, 16>& set, std::string_view name, std::uint16_t type);

// Empty for a name of none of the three forms, or one whose numbers do not parse.
std::optional<PropertySchema> parse_schema_name(std::string_view text);

}  // namespace salvora
