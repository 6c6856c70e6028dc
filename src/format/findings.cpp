#include "format/findings.h"

namespace salvora {

std::string field_mismatch(std::string_view field, std::string_view found, std::string_view expected) {
  std::string line(field);
  line.append(" is ").append(found).append(", expected ").append(expected);
  return line;
}

std::string field_mismatch(std::string_view field, std::uint64_t found, std::uint64_t expected) {
  return field_mismatch(field, std::to_string(found), std::to_string(expected));
}

void Findings::add(std::string text) {
  ++count_;
  if (strict() || items_.size() < kKeptWhenSalvaging) items_.push_back(std::move(text));
}

std::vector<std::string> Findings::take() {
  count_ = 0;
  std::vector<std::string> out;
  out.swap(items_);
  return out;
}

}  // namespace salvora
