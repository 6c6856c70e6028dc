#include "automation/schema_name.h"

#include <cstdio>

namespace salvora {

namespace {

constexpr std::string_view kProptag = "http://schemas.microsoft.com/mapi/proptag/0x";
constexpr std::string_view kId = "http://schemas.microsoft.com/mapi/id/";
constexpr std::string_view kString = "http://schemas.microsoft.com/mapi/string/";

// The byte of a GUID's registry form each text position pair stands for: the first three
// groups are little-endian, the last two in order.
constexpr std::array<int, 16> kGuidByteOrder = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

std::string hex(std::uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) out[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
  return out;
}

std::optional<std::uint64_t> parse_hex(std::string_view text) {
  if (text.empty() || text.size() > 16) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return std::nullopt;
    v = v << 4 | static_cast<std::uint64_t>(d);
  }
  return v;
}

std::string guid_text(const std::array<std::uint8_t, 16>& set) {
  std::string out = "{";
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += hex(set[static_cast<std::size_t>(kGuidByteOrder[i])], 2);
  }
  return out + "}";
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" at the start of text.
std::optional<std::array<std::uint8_t, 16>> parse_guid(std::string_view text) {
  if (text.size() < 38 || text[0] != '{' || text[37] != '}') return std::nullopt;
  std::array<std::uint8_t, 16> set{};
  std::size_t pos = 1;
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      if (text[pos] != '-') return std::nullopt;
      ++pos;
    }
    auto b = parse_hex(text.substr(pos, 2));
    if (!b) return std::nullopt;
    set[static_cast<std::size_t>(kGuidByteOrder[i])] = static_cast<std::uint8_t>(*b);
    pos += 2;
  }
  return set;
}

}  // namespace

std::string proptag_schema_name(std::uint16_t id, std::uint16_t type) {
  return std::string(kProptag) + hex(id, 4) + hex(type, 4);
}

std::string id_schema_name(const std::array<std::uint8_t, 16>& set, std::uint32_t lid, std::uint16_t type) {
  // Numbers of four digits or fewer are written as four, as Outlook writes them; a wider
  // number keeps all its digits.
  return std::string(kId) + guid_text(set) + "/" + hex(lid, lid > 0xFFFF ? 8 : 4) + hex(type, 4);
}

std::string string_schema_name(const std::array<std::uint8_t, 16>& set, std::string_view name, std::uint16_t type) {
  std::string out = std::string(kString) + guid_text(set) + "/" + std::string(name);
  if (type != 0) out += "/0x" + hex(type, 8);
  return out;
}

std::optional<PropertySchema> parse_schema_name(std::string_view text) {
  PropertySchema s;
  if (text.starts_with(kProptag)) {
    const auto tag = text.size() == kProptag.size() + 8 ? parse_hex(text.substr(kProptag.size())) : std::nullopt;
    if (!tag) return std::nullopt;
    s.id = static_cast<std::uint16_t>(*tag >> 16);
    s.type = static_cast<std::uint16_t>(*tag & 0xFFFF);
    return s;
  }
  const bool by_id = text.starts_with(kId);
  if (!by_id && !text.starts_with(kString)) return std::nullopt;
  text.remove_prefix(by_id ? kId.size() : kString.size());
  s.set = parse_guid(text);
  if (!s.set || text.size() < 40 || text[38] != '/') return std::nullopt;
  text.remove_prefix(39);
  if (by_id) {
    // The number, then four digits of type.
    if (text.size() < 8 || text.size() > 12) return std::nullopt;
    const auto lid = parse_hex(text.substr(0, text.size() - 4));
    const auto type = parse_hex(text.substr(text.size() - 4));
    if (!lid || !type) return std::nullopt;
    s.lid = static_cast<std::uint32_t>(*lid);
    s.type = static_cast<std::uint16_t>(*type);
    return s;
  }
  // A trailing "/0x" and eight digits is the type; whatever is before it is the name.
  if (text.size() > 11 && text.substr(text.size() - 11, 3) == "/0x") {
    if (const auto type = parse_hex(text.substr(text.size() - 8)); type && *type <= 0xFFFF) {
      s.type = static_cast<std::uint16_t>(*type);
      text.remove_suffix(11);
    }
  }
  if (text.empty()) return std::nullopt;
  s.name = std::string(text);
  return s;
}

}  // namespace salvora
