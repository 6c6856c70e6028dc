#pragma once
// A record of the name-to-id map: the entry stream holds one per named property (NAMEID), and
// the hash buckets hold one per name under its hash key. Both are 8 bytes: a 32-bit value (the
// numeric name or the string's offset in the string stream; in a bucket, the hash key), a
// word whose bit 0 says the name is a string and whose upper 15 bits are the GUID index
// (1 PS_MAPI, 2 PS_PUBLIC_STRINGS, 3 and up the GUID stream), and the property's index (its id
// less 0x8000).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "format/byte_reader.h"
#include "format/byte_writer.h"

namespace salvora {

struct NameIdRecord {
  static constexpr std::size_t kSize = 8;
  std::uint32_t value = 0;
  bool is_string = false;
  std::uint16_t guid_index = 0;  // 0 in an unused record
  std::uint16_t prop_index = 0;

  // The stored word: GUID index and string flag; a bucket is chosen by it.
  std::uint16_t word() const { return static_cast<std::uint16_t>((guid_index << 1) | (is_string ? 1 : 0)); }
  void Serialize(ByteWriter& w) const;
  static NameIdRecord Parse(ByteReader& r);
  bool operator==(const NameIdRecord&) const = default;
};

// The whole records of a stream, in order; a partial record at its end is left out.
std::vector<NameIdRecord> parse_name_id_records(Bytes stream);

// A name in the string stream, at the offset a string record gives: a 32-bit byte length,
// then the UTF-16LE text. `text` is what the stream holds of it, a view into the stream.
struct NameIdString {
  std::uint32_t length = 0;
  Bytes text;
  bool whole() const { return text.size() == length; }
};
// Empty when the length itself lies outside the stream.
std::optional<NameIdString> parse_name_id_string(Bytes strings, std::uint32_t offset);

}  // namespace salvora
