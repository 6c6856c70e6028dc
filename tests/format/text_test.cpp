// Text must survive in every script: UTF-16 with surrogates, and 8-bit code pages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/text.h"

namespace salvora {
namespace {

std::vector<std::uint8_t> le(std::initializer_list<std::uint16_t> units) {
  std::vector<std::uint8_t> out;
  for (auto u : units) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return out;
}

TEST(Utf16ToUtf8, ScriptsSurrogatesAndLoneHalves) {
  EXPECT_EQ(utf16_to_utf8(le({0x41, 0xE9})), "A\xC3\xA9");
  EXPECT_EQ(utf16_to_utf8(le({0x65E5, 0x672C})), "\xE6\x97\xA5\xE6\x9C\xAC");  // 日本
  EXPECT_EQ(utf16_to_utf8(le({0x041F, 0x0440})), "\xD0\x9F\xD1\x80");          // Пр
  EXPECT_EQ(utf16_to_utf8(le({0xD83D, 0xDE00})), "\xF0\x9F\x98\x80");          // emoji pair
  EXPECT_EQ(utf16_to_utf8(le({0xD83D, 0x41})), "\xEF\xBF\xBD" "A");           // lone high
  EXPECT_EQ(utf16_to_utf8(le({0xDE00})), "\xEF\xBF\xBD");                     // lone low
  auto odd = le({0x41});
  odd.push_back(0x42);
  EXPECT_EQ(utf16_to_utf8(odd), "A");
  EXPECT_EQ(utf16_to_utf8(le({0x41, 0, 0x42}), true), "AB");
  EXPECT_EQ(utf16_to_utf8(le({0x41, 0, 0x42})), std::string("A\0B", 3));
  // The longest output for its input: every unit a lone half, the last a high one at the end.
  std::string three;
  for (int i = 0; i < 4; ++i) three += "\xEF\xBF\xBD";
  EXPECT_EQ(utf16_to_utf8(le({0xDC00, 0xDFFF, 0xDBFF, 0xD800})), three);
  EXPECT_EQ(utf16_to_utf8(le({0xFFFF, 0x800, 0x7FF, 0x80, 0x7F})), "\xEF\xBF\xBF\xE0\xA0\x80\xDF\xBF\xC2\x80\x7F");
}

TEST(Utf8ToUtf16, RoundTrip) {
  const std::string s = "Gr\xC3\xBC\xC3\x9F \xE6\x97\xA5 \xF0\x9F\x98\x80";
  EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(s)), s);
  EXPECT_EQ(utf8_to_utf16("\xFF"), std::u16string(1, u'\uFFFD'));
}

TEST(Codepage, WesternJapaneseCyrillic) {
  EXPECT_EQ(codepage_to_utf8(std::string("caf\xE9 \x80"), 1252), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(codepage_to_utf8(std::string("\x93\xFA\x96\x7B"), 932), "\xE6\x97\xA5\xE6\x9C\xAC");
  EXPECT_EQ(codepage_to_utf8(std::string("\xCF\xF0"), 1251), "\xD0\x9F\xD1\x80");
}

TEST(Codepage, UnknownFallsBackAndInvalidBytesAreMarked) {
  EXPECT_EQ(codepage_to_utf8(std::string("\xE9"), 99999), "\xC3\xA9");
  // A lead byte of Shift-JIS with nothing after it.
  EXPECT_EQ(codepage_to_utf8(std::string("a\x93"), 932), "a\xEF\xBF\xBD");
}

}  // namespace
}  // namespace salvora
