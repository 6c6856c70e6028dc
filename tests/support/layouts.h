#pragma once
// Tests run once per file layout: the three layouts, and their test names "ansi", "unicode",
// "unicode4k".

#include <gtest/gtest.h>

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

inline auto AllLayouts() { return ::testing::Values(FileLayout::kAnsi, FileLayout::kUnicode, FileLayout::kUnicode4k); }

}  // namespace salvora
