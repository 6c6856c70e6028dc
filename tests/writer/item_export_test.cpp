// The mail header file and the choice of a mail's body.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "content/item_export.h"
#include "support/ndb_builder.h"

namespace salvora {
namespace {

constexpr std::uint64_t kJan6 = 128440839000000000ull;  // 2008-01-06 09:05:00 UTC, a Sunday
constexpr std::uint64_t kJul1 = 128593872000000000ull;  // 2008-07-01 12:00:00 UTC

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

ByteVector bytes(std::string_view s) { return ByteVector(s.begin(), s.end()); }

TEST(MailHeader, FromLine) {
  struct Case {
    std::optional<std::string> name, address;
    const char* line;
  } cases[] = {
      {std::nullopt, std::nullopt, "From:UnKnown\r\n"},
      {"Ann Lee", std::nullopt, "From:Ann Lee\r\n"},
      {"Ann Lee", "ann@example.com", "From:Ann Lee<ann@example.com>\r\n"},
      {"Ann Lee", "/O=ORG/CN=ANN", "From:<Ann Lee>\r\n"},
      {std::nullopt, "ann@example.com", "From:<ann@example.com>\r\n"},
      {std::nullopt, "/O=ORG/CN=ANN", "From:UnKnown\r\n"},
  };
  for (const auto& c : cases) {
    MessageFields m;
    m.sender_name = c.name;
    m.sender_address = c.address;
    const std::string text = mail_header_text(m);
    EXPECT_EQ(text.substr(0, text.find("\r\n") + 2), c.line);
  }
}

TEST(MailHeader, ToLineAndNoTimes) {
  MessageFields m;
  EXPECT_EQ(mail_header_text(m), "From:UnKnown\r\nTo:UnKnown\r\n");
  m.display_to = "Bob; Carol";
  m.received_by_address = "EXCHANGE-DN";
  EXPECT_EQ(mail_header_text(m), "From:UnKnown\r\nTo:Bob; Carol<EXCHANGE-DN>\r\n");
}

TEST(MailHeader, TimeLinesTakeSubmitForDateAndDeliveryForTheOthers) {
  MessageFields m;
  m.submit_time = kJan6;
  EXPECT_EQ(mail_header_text(m),
            "From:UnKnown\r\nTo:UnKnown\r\nDate: Sun Jan  6 09:05:00 2008\r\n"
            "Received: Sun Jan  6 09:05:00 2008\r\nDelivery-date: Sun Jan  6 09:05:00 2008\r\n");
  m.delivery_time = kJul1;
  EXPECT_EQ(mail_header_text(m),
            "From:UnKnown\r\nTo:UnKnown\r\nDate: Sun Jan  6 09:05:00 2008\r\n"
            "Received: Tue Jul  1 12:00:00 2008\r\nDelivery-date: Tue Jul  1 12:00:00 2008\r\n");
  m.submit_time.reset();
  EXPECT_NE(mail_header_text(m).find("Date: Tue Jul  1 12:00:00 2008\r\n"), std::string::npos);
}

TEST(MailHeader, TextIsUtf8AndALineBreakCannotStartAnotherField) {
  MessageFields m;
  m.sender_name = "Jürgen Müller";
  m.sender_address = "j@example.de";
  m.display_to = "山田 太郎\r\nBcc: evil@example.com";
  const std::string text = mail_header_text(m);
  EXPECT_NE(text.find("From:Jürgen Müller<j@example.de>\r\n"), std::string::npos);
  EXPECT_NE(text.find("To:山田 太郎  Bcc: evil@example.com\r\n"), std::string::npos);
  EXPECT_EQ(text.find("\r\nBcc"), std::string::npos);
}

TEST(MailHeader, FileHoldsTheLinesAndAStopLeavesItIncomplete) {
  const std::string path = testing::TestTempDir() + "/Temp.eml";
  MessageFields m;
  m.sender_name = "Ann";
  m.submit_time = kJan6;
  ASSERT_TRUE(write_mail_header(m, path));
  EXPECT_EQ(slurp(path), mail_header_text(m));
  std::atomic<bool> stop{true};
  EXPECT_FALSE(write_mail_header(m, path, &stop));
}

TEST(MailBody, HtmlWinsAndIsPassedByteForByteUpToItsNul) {
  MessageFields m;
  m.plain_body = "a much longer plain body than the html";
  ByteVector html = bytes("<p>caf\xE9</p>");
  html.push_back(0);
  html.push_back('x');
  m.html_body = html;
  const MailBody b = choose_mail_body(m, {});
  EXPECT_EQ(b.kind, MailBody::Kind::kHtml);
  EXPECT_EQ(b.content, "<p>caf\xE9</p>");
}

TEST(MailBody, RtfTextWinsOverALongerPlainBody) {
  MessageFields m;
  m.plain_body = "a plain body that is longer than the rtf text";
  m.rtf_body = bytes("{\\rtf1\\ansi Hello\\par World}");
  m.rtf_available = 1;
  const MailBody b = choose_mail_body(m, {});
  EXPECT_EQ(b.kind, MailBody::Kind::kText);
  EXPECT_EQ(b.content, "Hello\nWorld");
  // An RTF body without text leaves the choice to the plain candidates.
  m.rtf_body = bytes("{\\rtf1{\\fonttbl{\\f0 Arial;}}}");
  EXPECT_EQ(choose_mail_body(m, {}).content, *m.plain_body);
}

// Issue 7, mend 8: the RTF text of a body in another script arrives as UTF-8.
TEST(MailBody, RtfTextInOtherScriptsIsUtf8) {
  MessageFields m;
  m.rtf_body = bytes("{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2 \\u26085?\\u26412?}");
  m.rtf_available = 1;
  EXPECT_EQ(choose_mail_body(m, {}).content, "Привет 日本");
}

TEST(MailBody, LongestCandidateWithTiesToTheFirst) {
  MessageFields m;
  EXPECT_EQ(choose_mail_body(m, {}).kind, MailBody::Kind::kNone);
  m.plain_body = "only the plain body";
  EXPECT_EQ(choose_mail_body(m, {}).content, "only the plain body");
  m.text_a = "same length as plain";  // 20 characters, as the plain body below
  m.plain_body = "plain of twenty char";
  EXPECT_EQ(choose_mail_body(m, {}).content, "same length as plain");
  // A named text is read as the file's strings: UTF-16LE in a Unicode file.
  const std::u16string wide = u"a named text that is the longest of all";
  m.named_text_2 = ByteVector(reinterpret_cast<const std::uint8_t*>(wide.data()),
                              reinterpret_cast<const std::uint8_t*>(wide.data() + wide.size()));
  EXPECT_EQ(choose_mail_body(m, TextDecoding{false, 1252}).content, "a named text that is the longest of all");
  // Characters count, not bytes: four Cyrillic letters are shorter than five ASCII ones.
  MessageFields n;
  n.text_a = "Дом!";
  n.plain_body = "house";
  EXPECT_EQ(choose_mail_body(n, {}).content, "house");
}

}  // namespace
}  // namespace salvora
