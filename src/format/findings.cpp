#include "format/findings.h"

namespace salvora {

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
