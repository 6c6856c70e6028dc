#include "writer/store_size.h"

#include <charconv>
#include <cstdio>

#include "ndb/block_index.h"

namespace salvora {

namespace {

constexpr std::pair<char, int> kUnits[] = {{'G', 30}, {'M', 20}, {'K', 10}};

}  // namespace

std::optional<std::uint64_t> parse_store_size(std::string_view text) {
  std::uint64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end == text.data() || number == 0) return std::nullopt;
  std::string_view unit = text.substr(static_cast<std::size_t>(end - text.data()));
  int shift = 0;
  if (!unit.empty()) {
    const char letter = static_cast<char>(unit.front() & ~0x20);  // upper case
    for (const auto& [name, bits] : kUnits)
      if (letter == name) shift = bits;
    if (shift == 0) return std::nullopt;
    unit.remove_prefix(1);
    if (unit == "iB" || unit == "ib" || unit == "B" || unit == "b") unit = {};
    if (!unit.empty()) return std::nullopt;
  }
  if (number > (std::uint64_t{1} << (62 - shift))) return std::nullopt;
  return number << shift;
}

std::string store_size_text(std::uint64_t bytes) {
  for (const auto& [name, bits] : kUnits) {
    const std::uint64_t unit = std::uint64_t{1} << bits;
    if (bytes != 0 && bytes % unit == 0) return std::to_string(bytes / unit) + name;
  }
  return std::to_string(bytes);
}

std::string readable_size(std::uint64_t bytes) {
  char text[32];
  if (bytes >= (1ull << 30)) std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / (1ull << 30));
  else std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1ull << 20));
  return text;
}

std::uint64_t predicted_pst_size(OstContext& context) {
  try {
    if (!context.blocks || context.blocks->size() == 0) LoadBlockIndex(context);
    std::uint64_t inflated = 0;
    context.blocks->ForEach(context.file, [&](const BlockEntry& entry) {
      inflated += entry.cb_inflated;
      return true;
    });
    return inflated + inflated / 10;
  } catch (const std::exception&) {
    return 0;
  }
}

}  // namespace salvora
