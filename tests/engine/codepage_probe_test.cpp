// Finding the code page of an ANSI store's 8-bit text from the text itself.
#include "engine/codepage_probe.h"

#include <gtest/gtest.h>

#include "support/ndb_builder.h"
#include "support/run_program.h"

namespace salvora {
namespace {

// "日本語のテスト", "受信トレイ", "削除済みアイテム" in Shift-JIS.
const CodepageSample kJapanese{{"\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x65\x83\x58\x83\x67",
                                "\x8E\xF3\x90\x4D\x83\x67\x83\x8C\x83\x43",
                                "\x8D\xED\x8F\x9C\x8D\xCF\x82\xDD\x83\x41\x83\x43\x83\x65\x83\x80"},
                               {}};
// "Éléments supprimés", "Grüße aus Köln", "Año nuevo, €5" in Windows-1252.
const CodepageSample kWestern{{"\xC9l\xE9ments supprim\xE9s", "Gr\xFC\xDF" "e aus K\xF6ln", "A\xF1o nuevo, \x80" "5"}, {}};
// "Входящие", "Удалённые" in Windows-1251.
const CodepageSample kCyrillic{{"\xC2\xF5\xEE\xE4\xFF\xF9\xE8\xE5", "\xD3\xE4\xE0\xEB\xB8\xED\xED\xFB\xE5"}, {}};

TEST(CodepageProbe, TextReadsInTheCodePageItWasWrittenIn) {
  const CodepageChoice japanese = ChooseCodepage(kJapanese, 1252, false);
  EXPECT_EQ(japanese.chosen, 932u);
  EXPECT_NE(japanese.message.find("932 (Japanese)"), std::string::npos) << japanese.message;

  EXPECT_EQ(ChooseCodepage(kCyrillic, 1252, false).chosen, 1251u);

  // Western text reads as some CJK text too; the default stays and nothing is said.
  const CodepageChoice western = ChooseCodepage(kWestern, 1252, false);
  EXPECT_EQ(western.chosen, 1252u);
  EXPECT_TRUE(western.message.empty()) << western.message;
  // The same for text that holds nothing beyond ASCII.
  EXPECT_TRUE(ChooseCodepage(CodepageSample{{}, {}}, 1252, false).message.empty());
}

TEST(CodepageProbe, AGivenCodePageIsKeptButQuestioned) {
  const CodepageChoice choice = ChooseCodepage(kJapanese, 1252, true);
  EXPECT_EQ(choice.chosen, 1252u);
  EXPECT_NE(choice.message.find("reads better as code page 932"), std::string::npos) << choice.message;
  EXPECT_TRUE(ChooseCodepage(kJapanese, 932, true).message.empty());
}

TEST(CodepageProbe, TheStoresOwnWordAndUndecodableText) {
  // Objects that name a code page speak for those that name none, if their text agrees.
  const CodepageSample named{kJapanese.strings, {{932, 4}, {1252, 1}}};
  EXPECT_EQ(ChooseCodepage(named, 1252, false).chosen, 932u);
  const CodepageSample misnamed{kWestern.strings, {{1251, 2}}};
  EXPECT_EQ(ChooseCodepage(misnamed, 1252, false).chosen, 1252u);

  // Bytes no common code page defines as text: said, and the given code page kept.
  const CodepageSample noise{{"\x81" "a\x8D" "b\x8F"}, {}};
  const CodepageChoice choice = ChooseCodepage(noise, 1252, false);
  EXPECT_EQ(choice.chosen, 1252u);
  EXPECT_NE(choice.message.find("do not decode"), std::string::npos) << choice.message;
}

// The Japanese ANSI sample names no code page: every command reads it right without being
// told, and says how it chose.
TEST(CodepageProbe, JapaneseAnsiSampleNeedsNoOption) {
  const std::string dir = testing::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "sample corpus not found (set SALVORA_CORPUS_DIR); skipped";
  const std::string cli = testing::ProgramPath("salvora-cli");
  const std::string file = dir + "/hht-contacts97-2002.pst";
  const auto found = testing::RunProgram(cli, {"dump", file});
  const auto told = testing::RunProgram(cli, {"dump", file, "--codepage", "932"});
  ASSERT_EQ(found.exit_code, 0) << found.err;
  EXPECT_EQ(found.out, told.out);
  EXPECT_NE(found.err.find("932 (Japanese)"), std::string::npos) << found.err;
  EXPECT_EQ(told.err, "");
  const auto western = testing::RunProgram(cli, {"dump", file, "--codepage", "1252"});
  EXPECT_NE(western.err.find("warning:"), std::string::npos) << western.err;
  EXPECT_NE(western.out, found.out);

  const auto french = testing::RunProgram(cli, {"dump", dir + "/fairport-test-ansi.pst"});
  EXPECT_EQ(french.err, "");
}

}  // namespace
}  // namespace salvora
