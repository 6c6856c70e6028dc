// Reading the mail header file: mailboxes, lists, its dates, and the item it becomes after the
// import (the date layouts themselves are tested with the time conversions).

#include <gtest/gtest.h>

#include "format/prop_types.h"
#include "pststore/item_state.h"
#include "pststore/mail_import_server.h"
#include "pststore/rfc822_header.h"
#include "pststore/store_driver.h"

namespace salvora::store {
namespace {

TEST(Rfc822Header, Mailboxes) {
  const struct {
    const char* text;
    const char* name;
    const char* address;
    const char* type;
  } cases[] = {
      {"Ann Example<ann@example.com>", "Ann Example", "ann@example.com", "SMTP"},
      {"\"Example, Ann\" <ann@example.com>", "Example, Ann", "ann@example.com", "SMTP"},
      {"<ann@example.com>", "ann@example.com", "ann@example.com", "SMTP"},
      {"<Ann Example>", "Ann Example", "", ""},  // a name without an address, as the writer puts it
      {"ann@example.com", "ann@example.com", "ann@example.com", "SMTP"},
      {"Ann Example", "Ann Example", "", ""},
      {"Bob</O=ORG/OU=SITE/CN=RECIPIENTS/CN=BOB>", "Bob", "/O=ORG/OU=SITE/CN=RECIPIENTS/CN=BOB", "EX"},
      {"  Grüße <g@example.de>  ", "Grüße", "g@example.de", "SMTP"},
  };
  for (const auto& c : cases) {
    const auto a = parse_mailbox(c.text);
    ASSERT_TRUE(a) << c.text;
    EXPECT_EQ(a->name, c.name) << c.text;
    EXPECT_EQ(a->address, c.address) << c.text;
    EXPECT_EQ(a->address_type, c.type) << c.text;
  }
  // The writer's stand-in for nobody, and nothing at all.
  EXPECT_FALSE(parse_mailbox("UnKnown"));
  EXPECT_FALSE(parse_mailbox("   "));
  EXPECT_FALSE(parse_mailbox("<>"));
}

TEST(Rfc822Header, TheWritersHeader) {
  testing::MailInput m;
  m.sender_name = "Ann";
  m.sender_address = "ann@example.com";
  m.display_to = "Bob; Carl, Jr.";
  m.received_by = "carl@example.com";
  m.submit = testing::filetime_of(2020, 5, 1, 8, 0, 0);
  m.delivery = testing::filetime_of(2020, 5, 1, 8, 0, 9);
  const MailHeader h = parse_mail_header(testing::SaveDriver::MailHeader(m));
  ASSERT_TRUE(h.from);
  EXPECT_EQ(h.from->name, "Ann");
  EXPECT_EQ(h.from->address, "ann@example.com");
  ASSERT_EQ(h.to.size(), 2u);
  EXPECT_EQ(h.to[0].name, "Bob");
  EXPECT_EQ(h.to[1].name, "Carl, Jr.");  // a comma inside a name does not split it
  EXPECT_EQ(h.to[1].address, "carl@example.com");
  EXPECT_EQ(h.to_text, "Bob; Carl, Jr.<carl@example.com>");
  // A separator inside quotes or angle brackets is part of the name.
  const MailHeader quoted =
      parse_mail_header("To: \"Smith; John\" <john@example.com>; Ann <a;b@example.com>\r\n\r\n");
  ASSERT_EQ(quoted.to.size(), 2u);
  EXPECT_EQ(quoted.to[0].name, "Smith; John");
  EXPECT_EQ(quoted.to[1].address, "a;b@example.com");
  EXPECT_EQ(h.date, m.submit);
  EXPECT_EQ(h.received, m.delivery);
  EXPECT_EQ(h.delivered, m.delivery);
}

TEST(Rfc822Header, FieldsFoldingAndTheEndOfTheHeader) {
  const MailHeader h = parse_mail_header(
      "X-Other: ignored\n"
      "to: a@example.com, b@example.com\n"
      "FROM:  Someone\n"
      "  <someone@example.com>\r\n"
      "Received: from mx by host; Sun, 6 Jan 2008 09:05:07 +0000\r\n"
      "\r\n"
      "Date: Sun Jan  6 09:05:07 2009\r\n");
  ASSERT_TRUE(h.from);
  EXPECT_EQ(h.from->name, "Someone");
  EXPECT_EQ(h.from->address, "someone@example.com");
  ASSERT_EQ(h.to.size(), 2u);  // plain addresses separated by commas
  EXPECT_EQ(h.to[1].address, "b@example.com");
  EXPECT_EQ(h.received, testing::filetime_of(2008, 1, 6, 9, 5, 7));
  EXPECT_FALSE(h.date);  // after the blank line: body, not header
}

TEST(Rfc822Header, ImportFillsTheItem) {
  auto item = new_item(ItemKind::kMail);
  MailHeader h;
  h.from = MailAddress{"Ann", "ann@example.com", "SMTP"};
  h.to = {MailAddress{"Bob", "", ""}, MailAddress{"Carl", "carl@example.com", "SMTP"}};
  h.delivered = testing::filetime_of(2020, 5, 1, 8, 0, 9);
  apply_mail_header(h, *item);
  EXPECT_TRUE(item->received);
  EXPECT_EQ(item->Find(kPidSenderName)->AsString(), "Ann");
  EXPECT_EQ(item->Find(kPidSentRepresentingEmail)->AsString(), "ann@example.com");
  EXPECT_EQ(item->Find(kPidDisplayTo)->AsString(), "Bob; Carl");
  ASSERT_EQ(item->recipients.size(), 2u);
  EXPECT_FALSE(pst::find_prop(item->recipients[0].props, kPidEmailAddress));
  const pst::Property* key = pst::find_prop(item->recipients[1].props, kPidSearchKey);
  ASSERT_TRUE(key);
  EXPECT_EQ(std::string(key->data.begin(), key->data.end()), std::string("SMTP:CARL@EXAMPLE.COM", 21) + '\0');
  // Only one time in the file: it stands for both.
  EXPECT_EQ(item->Find(kPidClientSubmitTime)->AsInt(), static_cast<std::int64_t>(*h.delivered));
  EXPECT_EQ(item->Find(kPidMessageDeliveryTime)->AsInt(), static_cast<std::int64_t>(*h.delivered));

  // A second import into the same item replaces what the first brought.
  MailHeader second;
  second.to = {MailAddress{"Dan", "", ""}};
  apply_mail_header(second, *item);
  EXPECT_FALSE(item->Find(kPidSenderName));
  EXPECT_FALSE(item->Find(kPidClientSubmitTime));
  ASSERT_EQ(item->recipients.size(), 1u);
}

TEST(ItemSubject, PrefixSplit) {
  const struct {
    const char* subject;
    const char* prefix;
    const char* rest;
  } cases[] = {
      {"RE: Hello", "RE: ", "Hello"}, {"Fwd: x", "Fwd: ", "x"},   {"AW: Grüße", "AW: ", "Grüße"},
      {"Hello", "", "Hello"},         {"Re:Hello", "", "Re:Hello"}, {"Note 1: x", "", "Note 1: x"},
      {"ABCD: x", "", "ABCD: x"},     {": x", "", ": x"},          {"12: x", "", "12: x"},
      {"ÄÖÜ: x", "ÄÖÜ: ", "x"},       {"", "", ""},
  };
  for (const auto& c : cases) {
    const auto [prefix, rest] = split_subject(c.subject);
    EXPECT_EQ(prefix, c.prefix) << c.subject;
    EXPECT_EQ(rest, c.rest) << c.subject;
  }
}

}  // namespace
}  // namespace salvora::store
