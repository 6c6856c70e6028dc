#include "content/property_block.h"

#include "content/property_ids.h"
#include "format/byte_reader.h"
#include "format/text.h"

namespace salvora {

const PropertyEntry* PropertyBlock::find(std::uint32_t id) const {
  for (const auto& e : entries) {
    if (e.id == id) return &e;
  }
  return nullptr;
}

std::optional<std::int32_t> value_i32(const PropertyEntry& entry) {
  if (!entry.value || entry.value->size() < 4) return std::nullopt;
  return static_cast<std::int32_t>(load_u32(*entry.value, 0));
}

std::optional<std::uint64_t> value_u64(const PropertyEntry& entry) {
  if (!entry.value || entry.value->size() < 8) return std::nullopt;
  return load_u64(*entry.value, 0);
}

std::string value_text(const PropertyEntry& entry, std::uint32_t codepage, bool ansi_file,
                       bool drop_nul) {
  if (!entry.value) return {};
  const auto base = static_cast<std::uint16_t>(entry.type & ~kPtypMultipleFlag);
  bool wide = !ansi_file;
  if (base == kPtypString) wide = true;
  if (base == kPtypString8) wide = false;
  if (wide) return utf16_to_utf8(*entry.value, drop_nul);
  std::string text = codepage_to_utf8(*entry.value, codepage);
  if (drop_nul) std::erase(text, '\0');
  return text;
}

std::uint32_t object_codepage(const std::vector<PropertyBlock>& blocks, std::uint32_t fallback) {
  for (const auto& block : blocks) {
    if (const auto* e = block.find(content_pid::kMessageCodepage)) {
      if (auto cp = value_i32(*e); cp && *cp > 0) return static_cast<std::uint32_t>(*cp);
    }
  }
  return fallback;
}

}  // namespace salvora
