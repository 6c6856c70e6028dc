// RTF to text: what a reader sees survives in every script, what it does not see stays out, and
// a damaged document yields the text up to the damage.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "content/rtf_to_text.h"
#include "format/text.h"
#include "platform/file64.h"

namespace salvora {
namespace {

struct Converted {
  RtfTextResult result;
  std::string text;
};

Converted convert(std::string_view rtf) {
  Converted c{RtfTextResult::kOk, {}};
  c.result = rtf_to_text(Bytes(reinterpret_cast<const std::uint8_t*>(rtf.data()), rtf.size()), c.text);
  return c;
}

struct Case {
  const char* what;
  std::string rtf;
  std::string text;
  RtfTextResult result = RtfTextResult::kOk;
};

void run(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const Converted got = convert(c.rtf);
    EXPECT_EQ(got.text, c.text) << c.what;
    EXPECT_EQ(got.result, c.result) << c.what;
  }
}

TEST(RtfToText, GroupsDestinationsAndEndings) {
  run({
      {"paragraphs", "{\\rtf1 Hello\\par World}", "Hello\nWorld"},
      {"font table", "{\\rtf1{\\fonttbl{\\f0\\fswiss Arial;}{\\f1 Courier;}}Text}", "Text"},
      {"colour table and info", "{\\rtf1{\\colortbl;\\red255\\green0\\blue0;}{\\info{\\title T}}Body}", "Body"},
      {"ignorable unknown group", "{\\rtf1{\\*\\unknownword hidden}shown \\unknownword kept}", "shown kept"},
      {"html tags of an HTML body", "{\\rtf1\\fromhtml1{\\*\\htmltag64 <p>}Hi{\\*\\htmltag72 </p>}}", "Hi"},
      {"field instruction", "{\\rtf1{\\field{\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}}}", "link"},
      {"escaped braces and backslash", "{\\rtf1 a\\{b\\}c\\\\d}", "a{b}c\\d"},
      {"line breaks in the source", "{\\rtf1 on\r\ne\ntwo}", "onetwo"},
      {"backslash line break is a paragraph", "{\\rtf1 a\\\r\nb\\\nc}", "a\nb\nc"},
      {"tab, line, cell, row", "{\\rtf1 a\\tab b\\line c\\cell d\\cell\\row}", "a\tb\nc\td\t\n"},
      {"surplus closing brace", "{\\rtf1 All}}", "All", RtfTextResult::kStackUnderflow},
      {"the two closing braces of a decompressed body", "{\\rtf1 Done}}}", "Done", RtfTextResult::kStackUnderflow},
      {"last group never closed", "{\\rtf1 Open{\\b bold", "Openbold", RtfTextResult::kUnmatchedBrace},
      {"bad hex digit", "{\\rtf1 a\\'zz}", "a", RtfTextResult::kInvalidHex},
      {"end after a backslash", "{\\rtf1 a\\", "a", RtfTextResult::kEndOfFileInControlWord},
      {"NUL bytes", std::string("{\\rtf1 a\\'00b\0c}", 16), "abc"},
  });
}

TEST(RtfToText, EveryScriptArrivesAsUtf8) {
  run({
      {"hex in the document code page", "{\\rtf1\\ansi\\ansicpg1252 caf\\'e9}", "caf\xC3\xA9"},
      {"Cyrillic code page", "{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8}", "\xD0\x9F\xD1\x80\xD0\xB8"},
      {"raw 8-bit bytes", "{\\rtf1\\ansi\\ansicpg1253 \xe1\xe2}", "\xCE\xB1\xCE\xB2"},
      {"unicode with fallback", "{\\rtf1\\uc1 \\u26085?\\u26412?}", "\xE6\x97\xA5\xE6\x9C\xAC"},
      {"negative unicode and a surrogate pair", "{\\rtf1 \\u-3?\\u-10179?\\u-8704?}",
       "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
      {"lone surrogate", "{\\rtf1 \\u-10179?x}", "\xEF\xBF\xBDx"},
      {"two hex bytes as fallback", "{\\rtf1\\uc2\\u26085\\'93\\'fa X}", "\xE6\x97\xA5 X"},
      {"no fallback", "{\\rtf1\\uc0\\u233 x}", "\xC3\xA9x"},
      {"fallback count belongs to its group", "{\\rtf1{\\uc3 \\u233 abcd}\\u233 ef}", "\xC3\xA9" "d\xC3\xA9" "f"},
      {"group end ends the fallback", "{\\rtf1\\uc3{\\u233}abc}", "\xC3\xA9" "abc"},
      {"typographic characters", "{\\rtf1\\lquote x\\rquote \\ldblquote y\\rdblquote \\emdash\\~\\bullet}",
       "\xE2\x80\x98x\xE2\x80\x99\xE2\x80\x9Cy\xE2\x80\x9D\xE2\x80\x94\xC2\xA0\xE2\x80\xA2"},
  });
}

TEST(RtfToText, FontCodePagesKeepDoubleBytePairsTogether) {
  const std::string fonts =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\fnil\\fcharset128 MS Gothic;}"
      "{\\f2\\fnil\\fcharset0\\cpg1253 Greek;}{\\f3\\fcharset204 Cyr;}}";
  run({
      {"Shift-JIS font", fonts + "A{\\f1\\'93\\'fa\\'96\\'7b}B}", "A\xE6\x97\xA5\xE6\x9C\xAC" "B"},
      {"trail byte written as an escaped backslash", fonts + "{\\f1\\'83\\\\}}", "\xE3\x82\xBD"},
      {"explicit code page wins", fonts + "{\\f2\\'e1}}", "\xCE\xB1"},
      {"font switch back to the default font", fonts + "\\f3\\'c0\\f0\\'c0}", "\xD0\x90\xC3\x80"},
      {"default font's character set", "{\\rtf1\\deff1{\\fonttbl{\\f1\\fcharset204 C;}}\\'c0}", "\xD0\x90"},
      {"a Western font in a Japanese document (an HTML body's no-break space)",
       "{\\rtf1\\ansi\\ansicpg932{\\fonttbl{\\f0 Gothic;}{\\f3\\fcharset0 Courier New;}}\\f0\\'93\\'fa{\\f3\\'a0}}",
       "\xE6\x97\xA5\xC2\xA0"},
  });
}

TEST(RtfToText, BinaryDataAndOverlongWords) {
  const std::string long_word(40, 'x');
  run({
      {"binary picture data", "{\\rtf1 a{\\pict\\bin4 {}\\}}b}", "ab"},
      {"bin without a count reads nothing", "{\\rtf1\\fs24 a\\bin b}", "ab"},
      {"bin0 reads nothing", "{\\rtf1 a\\bin0 b}", "ab"},
      {"overlong word is dropped whole", "{\\rtf1 a \\" + long_word + " b}", "a b"},
      {"overlong parameter saturates", "{\\rtf1 a\\fs99999999999999999999999 b}", "ab"},
      {"huge bin count ends at the end", "{\\rtf1 a\\bin99999999999 }}}", "a}}}", RtfTextResult::kUnmatchedBrace},
      {"minus without digits is text", "{\\rtf1 a\\b-c}", "a-c"},
      {"a skipped group's unicode does not swallow its bin", "{\\rtf1{\\pict\\u1234\\bin2 {{}a}", "a"},
  });
}

TEST(RtfToText, DeepNestingIsRefused) {
  std::string deep = "{\\rtf1 top";
  for (int i = 0; i < kMaxRtfGroupDepth + 5; ++i) deep += '{';
  const Converted got = convert(deep);
  EXPECT_EQ(got.result, RtfTextResult::kStackOverflow);
  EXPECT_EQ(got.text, "top");
}

TEST(RtfToText, AppendsAndReadsFromAnOpenFile) {
  const auto path = std::filesystem::temp_directory_path() / ("rtf_to_text_" + std::to_string(::getpid()) + ".rtf");
  {
    CFile64 out;
    ASSERT_TRUE(out.Open(path.string(), CFile64::Access::kCreate));
    const std::string doc = "JUNK{\\rtf1\\ansi\\ansicpg1251 \\'c4\\'e0}";
    out.Write(doc.data(), doc.size());
  }
  CFile64 in;
  ASSERT_TRUE(in.Open(path.string(), CFile64::Access::kReadOnly));
  in.Seek(4, CFile64::begin);
  std::string text = "kept:";
  EXPECT_EQ(rtf_to_text(in, text), RtfTextResult::kOk);
  EXPECT_EQ(text, "kept:\xD0\x94\xD0\xB0");
  std::filesystem::remove(path);
}

// Whatever the bytes, the reader stops, and what it gives is valid UTF-8.
TEST(RtfToText, ArbitraryInputGivesValidUtf8) {
  static constexpr char kAlphabet[] = "{}\\'*uc0123456789abfx -\xe9\x93\xfa\r\n";
  std::uint32_t seed = 12345;
  for (int doc = 0; doc < 3000; ++doc) {
    std::string rtf = "{\\rtf1\\ansicpg932\\deff0{\\fonttbl{\\f0\\fcharset128 G;}}";
    const int len = doc % 97;
    for (int i = 0; i < len; ++i) {
      seed = seed * 1103515245u + 12345u;
      rtf += kAlphabet[(seed >> 16) % (sizeof kAlphabet - 1)];
    }
    const Converted got = convert(rtf);
    EXPECT_EQ(sanitize_utf8(got.text), got.text) << rtf;
  }
}

// The HTML of a message kept as RTF comes back from its \fromhtml1 groups and text; a document
// that carries none gives none.
TEST(RtfCarriedHtml, MarkupAndTextWithoutWhatOnlyTheRtfShows) {
  struct HtmlCase {
    const char* what;
    std::string rtf;
    std::string html;  // empty: the document carries no HTML
  };
  const std::string head = "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset204 Arial Cyr;}}";
  const HtmlCase cases[] = {
      {"tags, text and an RTF-only paragraph mark",
       head + "{\\*\\htmltag19 <html><body>}{\\*\\htmltag64 <p>}\\htmlrtf {\\htmlrtf0 Hi \\'e9\\htmlrtf\\par\\htmlrtf0}"
              "{\\*\\htmltag72 </p>}\\htmlrtf }\\htmlrtf0{\\*\\htmltag27 </body></html>}}",
       "<html><body><p>Hi \xC3\xA9</p></body></html>"},
      {"a tag's 8-bit bytes are in the document's code page, text in its font's",
       head + "{\\*\\htmltag0 <a title=\"\\'e9\">}\\f1 \\'e4{\\*\\htmltag0 </a>}}", "<a title=\"\xC3\xA9\">\xD0\xB4</a>"},
      {"the sender's form of a tag is left for the one beside it",
       head + "{\\*\\mhtmltag0 <img src=\"file.png\">}{\\*\\htmltag0 <img src=\"cid:p1\">}}", "<img src=\"cid:p1\">"},
      {"a Unicode character hidden with its fallback", head + "\\htmlrtf \\u8364?\\htmlrtf0 x}", "x"},
      {"plain RTF", "{\\rtf1\\ansi Hello\\par}", ""},
      {"\\fromhtml0", "{\\rtf1\\ansi\\fromhtml0 Hello}", ""},
      {"\\fromhtml1 in a group of the body is no header", "{\\rtf1 {\\fromhtml1 x}}", ""},
  };
  for (const auto& c : cases) {
    std::string html = "kept:";
    const bool carried = rtf_carried_html(Bytes(reinterpret_cast<const std::uint8_t*>(c.rtf.data()), c.rtf.size()), html);
    EXPECT_EQ(carried, !c.html.empty()) << c.what;
    EXPECT_EQ(html, "kept:" + c.html) << c.what;
  }
  // The text of such a document stays what it was: the RTF's text, without the markup.
  EXPECT_EQ(convert(cases[0].rtf).text, "Hi \xC3\xA9\n");
}

}  // namespace
}  // namespace salvora
