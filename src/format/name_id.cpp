#include "format/name_id.h"

#include <algorithm>

namespace salvora {

void NameIdRecord::Serialize(ByteWriter& w) const {
  w.u32(value);
  w.u16(word());
  w.u16(prop_index);
}

NameIdRecord NameIdRecord::Parse(ByteReader& r) {
  NameIdRecord rec;
  rec.value = r.u32();
  const std::uint16_t word = r.u16();
  rec.is_string = (word & 1) != 0;
  rec.guid_index = static_cast<std::uint16_t>(word >> 1);
  rec.prop_index = r.u16();
  return rec;
}

std::vector<NameIdRecord> parse_name_id_records(Bytes stream) {
  std::vector<NameIdRecord> out;
  out.reserve(stream.size() / NameIdRecord::kSize);
  ByteReader r(stream);
  while (r.has(NameIdRecord::kSize)) out.push_back(NameIdRecord::Parse(r));
  return out;
}

std::optional<NameIdString> parse_name_id_string(Bytes strings, std::uint32_t offset) {
  if (offset >= strings.size()) return std::nullopt;
  ByteReader r(strings);
  r.seek(offset);
  NameIdString s;
  s.length = r.u32();
  if (!r.ok()) return std::nullopt;
  s.text = r.bytes(std::min<std::size_t>(s.length, r.remaining()));
  return s;
}

}  // namespace salvora
