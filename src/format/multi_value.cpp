#include "format/multi_value.h"

#include "format/byte_writer.h"

namespace salvora {

std::optional<std::vector<Bytes>> parse_variable_multi(Bytes value) {
  ByteReader r(value);
  const std::uint32_t count = r.u32();
  if (!r.ok() || count > r.remaining() / 4) return std::nullopt;
  std::vector<std::uint32_t> offsets(count);
  for (auto& off : offsets) off = r.u32();
  std::vector<Bytes> items;
  items.reserve(count);
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    const std::size_t begin = offsets[i];
    const std::size_t end = i + 1 < offsets.size() ? offsets[i + 1] : value.size();
    if (begin > end || end > value.size()) return std::nullopt;
    items.push_back(value.subspan(begin, end - begin));
  }
  return items;
}

std::vector<std::uint8_t> serialize_variable_multi(const std::vector<std::vector<std::uint8_t>>& items) {
  ByteWriter w;
  w.u32(static_cast<std::uint32_t>(items.size()));
  std::uint32_t off = 4 + 4 * static_cast<std::uint32_t>(items.size());
  for (const auto& i : items) {
    w.u32(off);
    off += static_cast<std::uint32_t>(i.size());
  }
  for (const auto& i : items) w.bytes(i);
  return w.take();
}

}  // namespace salvora
