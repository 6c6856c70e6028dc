// \uN with a parameter no 16-bit unit can hold (damage, or a hostile body): the text stays
// UTF-8 and the character is read from the parameter's low 16 bits.
#include <gtest/gtest.h>

#include <string>

#include "content/rtf_to_text.h"

namespace salvora {
namespace {

std::string text_of(const std::string& rtf) {
  std::string text;
  rtf_to_text(Bytes(reinterpret_cast<const std::uint8_t*>(rtf.data()), rtf.size()), text);
  return text;
}

TEST(RtfUnicodeParameter, OutOfRangeParameterKeepsItsLow16Bits) {
  struct Case {
    const char* rtf;
    const char* text;
  };
  const Case cases[] = {
      {"{\\rtf1\\uc0 a\\u8364 b}", "a\xE2\x82\xAC" "b"},          // in range: U+20AC
      {"{\\rtf1\\uc0 a\\u-4 b}", "a\xEF\xBF\xBC" "b"},            // negative, as written: U+FFFC
      {"{\\rtf1\\uc0 a\\u8364204 b}", "a\xEA\x82\xAC" "b"},       // 0x7FA0AC: U+A0AC
      {"{\\rtf1\\uc0 a\\u-70000 b}", "a\xEE\xBA\x90" "b"},        // -70000 + 2 * 65536: U+EE90
      {"{\\rtf1\\uc0 a\\u99999999999 b}", "a\xEF\xBF\xBF" "b"},   // saturated at 0x7FFFFFFF: U+FFFF
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rtf);
    EXPECT_EQ(text_of(c.rtf), c.text);
  }
}

}  // namespace
}  // namespace salvora
