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

// Runs of ASCII go eight units at a time: mixed text, NULs, pairs and units whose low byte alone
// is ASCII, falling across those groups at every offset, must read as the unit-by-unit reading
// of the same units does.
TEST(Utf16ToUtf8, FastAsciiRunsMatchTheUnitByUnitReading) {
  const std::vector<std::uint16_t> pieces = {0x41,   0x7F,   0x80,   0,      0xE9,  0x65E5,
                                             0xD83D, 0xDE00, 0xDC00, 0x20,   0x141, 0x4100, 0x0800};
  std::uint32_t state = 7;
  for (int round = 0; round < 2000; ++round) {
    std::u16string units;
    const int length = 1 + round % 41;
    for (int i = 0; i < length; ++i) {
      state = state * 1103515245u + 12345u;
      // Mostly ASCII, as mail is, with the rest drawn from the awkward cases.
      const std::uint16_t u = (state >> 16) % 3 != 0 ? static_cast<std::uint16_t>(0x21 + (state >> 20) % 90)
                                                   : pieces[(state >> 20) % pieces.size()];
      units.push_back(static_cast<char16_t>(u));
    }
    std::vector<std::uint8_t> bytes;
    for (char16_t u : units) {
      bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    for (bool drop_nul : {false, true})
      ASSERT_EQ(utf16_to_utf8(bytes, drop_nul), utf16_to_utf8(std::u16string_view(units), drop_nul)) << round;
    std::basic_string<std::uint8_t> back = {0xAA};  // appended to, not replaced
    append_utf16le(utf16_to_utf8(bytes), back);
    std::basic_string<std::uint8_t> expected = {0xAA};
    for (char16_t u : utf8_to_utf16(utf16_to_utf8(bytes))) {
      expected.push_back(static_cast<std::uint8_t>(u & 0xFF));
      expected.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    EXPECT_EQ(back, expected) << round;
  }
}

// Runs of ASCII go eight bytes at a time: multi-byte sequences, broken ones and stray bytes
// falling across those groups at every offset must give the units the plain reading gives.
TEST(Utf8ToUtf16, FastAsciiRunsMatchTheUnitByUnitReading) {
  const std::vector<std::string> pieces = {"\xC3\xA9", "\xE6\x97\xA5", "\xF0\x9F\x98\x80", "\xE6\x97",
                                           "\xFF", "\x80", "\xC0\xAF", std::string(1, '\0')};
  std::uint32_t state = 11;
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (int i = 0; i < 1 + round % 29; ++i) {
      state = state * 1103515245u + 12345u;
      if ((state >> 16) % 4 != 0) {
        text.push_back(static_cast<char>(0x20 + (state >> 20) % 95));
      } else {
        text += pieces[(state >> 20) % pieces.size()];
      }
    }
    std::vector<std::uint8_t> expected;
    for (char16_t u : utf8_to_utf16(text)) {
      expected.push_back(static_cast<std::uint8_t>(u & 0xFF));
      expected.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    ASSERT_EQ(utf8_to_utf16le(text), expected) << round;
  }
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
