#pragma once
// Properties every target may assert about what a parser hands on. A failed check traps, so
// the fuzzer and the test driver report it like any crash.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace salvora::fuzz {

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF. Everything the program
// shows or writes is promised to be this, whatever the source bytes were.
inline bool valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<std::uint8_t>(s[i]);
    std::size_t n = 0;
    std::uint32_t cp = 0, min = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1, cp = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2, cp = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3, cp = c & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (s.size() - i <= n) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto t = static_cast<std::uint8_t>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

inline void require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace salvora::fuzz
