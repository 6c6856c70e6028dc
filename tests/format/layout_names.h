#pragma once
// Test names for tests run once per file layout: "ansi", "unicode", "unicode4k".

#include <string>

#include "format/layout.h"

namespace salvora {

struct LayoutTestName {
  template <class Info>
  std::string operator()(const Info& info) const {
    std::string s = layout_name(info.param);
    std::erase(s, '-');
    return s;
  }
};

}  // namespace salvora
