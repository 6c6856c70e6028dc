// The mail-file store: the mbox quoting and names written once, and a message put in MIME form
// read back with GMime's own parser.

#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "format/prop_types.h"
#include "mimestore/file_names.h"
#include "mimestore/mbox_format.h"
#include "mimestore/mime_message.h"
#include "mimestore/mime_writer.h"
#include "mimestore/recurrence_pattern.h"
#include "mimestore/vcard.h"
#include "pststore/item_properties.h"

namespace salvora::mime {
namespace {

using pst::Property;

TEST(Mbox, QuotesEveryFromLineAndOnlyThose) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"From a\n", ">From a\n\n"},
      {">From a\n>>From b\n", ">>From a\n>>>From b\n\n"},
      {"Subject: x\n\nFrom here\nnot From here\nFrom\n", "Subject: x\n\n>From here\nnot From here\nFrom\n\n"},
      {"no line end", "no line end\n\n"},
      {">>> quoted\n", ">>> quoted\n\n"},
  };
  for (const auto& c : cases) {
    std::string out;
    append_mboxrd(c.in, out);
    EXPECT_EQ(out, c.out) << c.in;
  }
  EXPECT_EQ(mbox_from_line("a@b.example", 128252160000000000ull), "From a@b.example Sat Jun  2 00:00:00 2007\n");
  EXPECT_EQ(mbox_from_line("two words", 128252160000000000ull).substr(0, 19), "From MAILER-DAEMON ");
  MailFlags flags;
  EXPECT_EQ(mbox_status_lines(flags), "");
  EXPECT_EQ(maildir_info(flags), "2,");
  flags = {true, true, true, true};
  EXPECT_EQ(mbox_status_lines(flags), "Status: RO\nX-Status: AFT\n");
  EXPECT_EQ(maildir_info(flags), "2,DFRS");
}

TEST(FileNames, AreSafeEverywhereAndUnique) {
  EXPECT_EQ(safe_name("Re: a/b\\c*?\"<>|\x01\x7f", "x"), "Re_ a_b_c________");
  EXPECT_EQ(safe_name(" ..hidden.. ", "x"), "hidden");
  EXPECT_EQ(safe_name("..", "fallback"), "fallback");
  EXPECT_EQ(safe_name("", "fallback"), "fallback");
  // A cut never splits a character: 60 two-byte letters and one more cut to 120 bytes.
  std::string greek;
  for (int i = 0; i < 61; ++i) greek += "\xCE\xB1";
  EXPECT_EQ(safe_name(greek, "x"), greek.substr(0, 120));
  EXPECT_EQ(safe_name("a" + greek, "x"), "a" + greek.substr(0, 118));

  const auto dir = std::filesystem::temp_directory_path() / ("mime_names_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  EXPECT_EQ(create_unique_file(dir, "m", ".eml"), (dir / "m.eml").string());
  EXPECT_EQ(create_unique_file(dir, "m", ".eml"), (dir / "m (2).eml").string());
  std::filesystem::remove_all(dir);
}

std::vector<std::uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

pst::MessageSpec sample_mail() {
  pst::MessageSpec m;
  m.props = {Property::String(kPidSubject, "Grüße, from Zürich"),
             Property::String(kPidSenderName, "Anna Müller"),
             Property::String(kPidSenderEmailAddress, "anna@example.org"),
             Property::String(0x0C1E, "SMTP"),
             Property::String(kPidBody, "line one\r\nFrom the start\r\n"),
             Property::Binary(kPidHtml, bytes_of("<p>hi <img src=\"cid:pic1\"></p>")),
             Property::Time(kPidClientSubmitTime, 128252160000000000ull),
             Property::Int32(kPidMessageFlags, 1)};
  pst::RecipientSpec to;
  to.props = {Property::Int32(kPidRecipientType, 1), Property::String(kPidDisplayName, "Bob"),
              Property::String(kPidSmtpAddress, "bob@example.org")};
  pst::RecipientSpec bcc;
  bcc.props = {Property::Int32(kPidRecipientType, 3), Property::String(kPidDisplayName, "Carl"),
               Property::String(kPidEmailAddress, "carl@example.org")};
  m.recipients = {to, bcc};
  pst::AttachmentSpec picture;
  picture.props = {Property::String(kPidAttachLongFilename, "p.png"), Property::String(kPidAttachMimeTag, "image/png"),
                   Property::String(kPidAttachContentId, "pic1")};
  picture.data = bytes_of("\x89PNG....");
  pst::AttachmentSpec file;
  file.props = {Property::String(kPidAttachLongFilename, "Übersicht – 2024.pdf")};
  file.data = bytes_of(std::string("%PDF\0\x01\x02", 7));
  pst::AttachmentSpec inner;
  inner.props = {Property::String(kPidDisplayName, "forwarded")};
  inner.embedded = std::make_shared<pst::MessageSpec>();
  inner.embedded->props = {Property::String(kPidSubject, "inner"), Property::String(kPidBody, "inside")};
  m.attachments = {picture, file, inner};
  return m;
}

struct Parsed {
  GMimeMessage* message = nullptr;
  ~Parsed() {
    if (message) g_object_unref(message);
  }
};

void parse(const std::string& text, Parsed& out) {
  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(text.data(), text.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  out.message = g_mime_parser_construct_message(parser, nullptr);
  g_object_unref(parser);
  g_object_unref(stream);
}

std::string content_of(GMimeObject* object) {
  GMimeDataWrapper* wrapper = g_mime_part_get_content(GMIME_PART(object));
  GMimeStream* out = g_mime_stream_mem_new();
  g_mime_data_wrapper_write_to_stream(wrapper, out);
  GByteArray* a = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
  std::string s(reinterpret_cast<const char*>(a->data), a->len);
  g_object_unref(out);
  return s;
}

TEST(MimeMessage, BodiesPicturesAttachmentsAndAttachedMessagesReadBack) {
  const BuiltMessage built = build_mime_message(sample_mail());
  EXPECT_EQ(built.facts.subject, "Grüße, from Zürich");
  EXPECT_EQ(built.facts.sender_address, "anna@example.org");
  EXPECT_TRUE(built.facts.flags.read);
  EXPECT_EQ(built.text.find('\r'), std::string::npos) << "line ends are the mbox's own";
  EXPECT_EQ(built.text.find("Grüße"), std::string::npos) << "the subject is encoded, not raw";
  Parsed p;
  parse(built.text, p);
  ASSERT_NE(p.message, nullptr);
  EXPECT_STREQ(g_mime_message_get_subject(p.message), "Grüße, from Zürich");
  auto addresses = [&](GMimeAddressType t) {
    char* s = internet_address_list_to_string(g_mime_message_get_addresses(p.message, t), nullptr, FALSE);
    std::string out = s ? s : "";
    g_free(s);
    return out;
  };
  EXPECT_EQ(addresses(GMIME_ADDRESS_TYPE_FROM), "Anna Müller <anna@example.org>");
  EXPECT_EQ(addresses(GMIME_ADDRESS_TYPE_TO), "Bob <bob@example.org>");
  EXPECT_EQ(addresses(GMIME_ADDRESS_TYPE_BCC), "Carl <carl@example.org>");

  // mixed(alternative(plain, related(html, picture)), file, message)
  GMimeObject* top = g_mime_message_get_mime_part(p.message);
  ASSERT_TRUE(GMIME_IS_MULTIPART(top));
  GMimeMultipart* mixed = GMIME_MULTIPART(top);
  ASSERT_EQ(g_mime_multipart_get_count(mixed), 3);
  GMimeObject* alternative = g_mime_multipart_get_part(mixed, 0);
  EXPECT_TRUE(g_mime_content_type_is_type(g_mime_object_get_content_type(alternative), "multipart", "alternative"));
  GMimeObject* plain = g_mime_multipart_get_part(GMIME_MULTIPART(alternative), 0);
  EXPECT_EQ(content_of(plain), "line one\r\nFrom the start\r\n") << "the text keeps its own bytes";
  GMimeObject* related = g_mime_multipart_get_part(GMIME_MULTIPART(alternative), 1);
  ASSERT_TRUE(GMIME_IS_MULTIPART(related));
  GMimeObject* picture = g_mime_multipart_get_part(GMIME_MULTIPART(related), 1);
  EXPECT_STREQ(g_mime_part_get_content_id(GMIME_PART(picture)), "pic1");
  EXPECT_EQ(content_of(picture), "\x89PNG....");
  GMimeObject* file = g_mime_multipart_get_part(mixed, 1);
  EXPECT_STREQ(g_mime_part_get_filename(GMIME_PART(file)), "Übersicht – 2024.pdf");
  EXPECT_EQ(content_of(file), std::string("%PDF\0\x01\x02", 7));
  EXPECT_NE(built.text.find("filename*=UTF-8''%C3%9Cbersicht"), std::string::npos) << "RFC 2231 for a name beyond ASCII";
  GMimeObject* attached = g_mime_multipart_get_part(mixed, 2);
  ASSERT_TRUE(GMIME_IS_MESSAGE_PART(attached));
  EXPECT_STREQ(g_mime_message_get_subject(g_mime_message_part_get_message(GMIME_MESSAGE_PART(attached))), "inner");
}

TEST(MimeMessage, TheSourcesOwnHeadersAreKeptButItsMimeFields) {
  pst::MessageSpec m;
  m.props = {Property::String(kPidTransportMessageHeaders,
                              "Received: from a by b; Mon, 2 Jun 2007 00:00:00 +0000\r\n"
                              "Message-ID: <x@y>\r\nFrom: Z <z@example.org>\r\nSubject: old\r\n"
                              "Content-Type: multipart/alternative; boundary=zz\r\nMIME-Version: 1.0\r\n"),
             Property::String(kPidSubject, "new"), Property::String(kPidBody, "text")};
  const std::string text = build_mime_message(m).text;
  Parsed p;
  parse(text, p);
  ASSERT_NE(p.message, nullptr);
  EXPECT_STREQ(g_mime_message_get_message_id(p.message), "x@y");
  EXPECT_STREQ(g_mime_message_get_subject(p.message), "new");
  EXPECT_NE(text.find("Received: from a by b"), std::string::npos);
  EXPECT_EQ(text.find("boundary=zz"), std::string::npos);
  EXPECT_EQ(content_of(g_mime_message_get_mime_part(p.message)), "text");
}

std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(MimeWriter, MirrorsTheFolderTreeAsThunderbirdAndMaildirKeepIt) {
  const auto dir = std::filesystem::temp_directory_path() / ("mime_writer_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  for (MailLayout layout : {MailLayout::kMbox, MailLayout::kEml}) {
    const auto top = dir / (layout == MailLayout::kMbox ? "x.mbox" : "x.eml");
    MimeWriter w(top, layout);
    const auto inbox = w.AddFolder(w.ipm_subtree(), "Inbox", "IPF.Note");
    const auto projects = w.AddFolder(inbox, "Pro/jects", "IPF.Note");
    w.AddFolder(w.ipm_subtree(), "Empty", "IPF.Note");
    w.SetFolderProperties(w.deleted_items(), {Property::String(kPidDisplayName, "Papierkorb")});
    pst::MessageSpec hidden;
    hidden.associated = true;
    w.AddMessage(inbox, hidden);
    w.AddMessage(projects, sample_mail());
    w.AddMessage(projects, sample_mail());
    w.Close();
    if (layout == MailLayout::kMbox) {
      EXPECT_EQ(read_file(top / "Inbox"), "") << "a hidden item is no message";
      const std::string projects_box = read_file(top / "Inbox.sbd" / "Pro_jects");
      EXPECT_EQ(projects_box.find("From anna@example.org Sat Jun  2 00:00:00 2007\nStatus: RO\n"), 0u);
      EXPECT_NE(projects_box.find("\n\nFrom anna@example.org "), std::string::npos) << "the second message";
      EXPECT_TRUE(std::filesystem::is_regular_file(top / "Empty"));
      EXPECT_TRUE(std::filesystem::is_regular_file(top / "Papierkorb"));
    } else {
      EXPECT_TRUE(std::filesystem::is_directory(top / "Empty"));
      EXPECT_TRUE(std::filesystem::is_directory(top / "Papierkorb"));
      const auto name = "2007-06-02 000000 Grüße, from Zürich";
      EXPECT_TRUE(std::filesystem::is_regular_file(top / "Inbox" / "Pro_jects" / (std::string(name) + ";2,S.eml")));
      EXPECT_TRUE(std::filesystem::is_regular_file(top / "Inbox" / "Pro_jects" / (std::string(name) + " (2);2,S.eml")));
    }
  }
  std::filesystem::remove_all(dir);
}

TEST(VCard, EscapesAndFoldsAsRfc6350Says) {
  EXPECT_EQ(vcard_escape("a\\b,c;d\r\ne\rf\ng"), "a\\\\b\\,c\\;d\\ne\\nf\\ng");
  EXPECT_EQ(fold_content_line("NOTE:short"), "NOTE:short\r\n");
  // 75 octets a line, the continuation's leading space counted, never inside a character.
  const std::string line = "NOTE:" + std::string(69, 'x') + "\xC3\xA9" + std::string(80, 'y');
  const std::string folded = fold_content_line(line);
  EXPECT_EQ(folded.substr(0, 76), "NOTE:" + std::string(69, 'x') + "\r\n");
  EXPECT_EQ(folded.substr(76, 75), " \xC3\xA9" + std::string(72, 'y'));
  std::string unfolded;
  for (std::size_t at = 0; at < folded.size();) {
    const std::size_t end = folded.find("\r\n", at);
    EXPECT_LE(end - at, 75u);
    unfolded += folded.substr(at == 0 ? at : at + 1, end - (at == 0 ? at : at + 1));
    at = end + 2;
  }
  EXPECT_EQ(unfolded, line);
}

TEST(VCard, ContactAndDistributionList) {
  pst::NameToIdMap names;
  auto named_id = [&](std::uint32_t lid) { return names.Register(store::named(kPsetidAddress, lid)); };
  pst::MessageSpec contact;
  contact.props = {Property::String(kPidMessageClass, "IPM.Contact"), Property::String(kPidDisplayName, "Doe, Jane"),
                   Property::String(0x3A06, "Jane"), Property::String(0x3A11, "Doe"),
                   Property::String(named_id(0x8083), "jane@example.org"), Property::String(0x3A1C, "+1 555 0100")};
  const std::string card = contact_vcard(contact, names);
  EXPECT_EQ(card.find("BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Doe\\, Jane\r\nN:Doe;Jane;;;\r\n"), 0u) << card;
  EXPECT_NE(card.find("EMAIL;PREF=1:jane@example.org\r\n"), std::string::npos) << card;
  EXPECT_NE(card.find("TEL;TYPE=\"cell\":+1 555 0100\r\n"), std::string::npos) << card;

  // A one-off member: flags, provider, version, Unicode flag, then name, type and address.
  std::vector<std::uint8_t> entry(22, 0);
  entry.push_back(0x00);
  entry.push_back(0x80);
  for (std::string_view s : {"Bob", "SMTP", "bob@example.org"}) {
    for (char c : s) entry.insert(entry.end(), {static_cast<std::uint8_t>(c), 0});
    entry.insert(entry.end(), {0, 0});
  }
  pst::MessageSpec list;
  list.props = {Property::String(kPidMessageClass, "IPM.DistList"), Property::String(kPidDisplayName, "Team"),
                Property::MultiBinary(named_id(0x8054), {entry, {1, 2, 3}})};
  const std::string group = contact_vcard(list, names);
  EXPECT_NE(group.find("KIND:group\r\nFN:Team\r\nMEMBER:mailto:bob@example.org\r\nEND:VCARD\r\n"), std::string::npos)
      << group;
}

TEST(Recurrence, PatternReadsAndRefusesShortOrOverlongBlobs) {
  // Weekly on Monday and Wednesday every 2 weeks, 10 times, one instance deleted.
  std::vector<std::uint8_t> blob;
  auto u16 = [&](std::uint16_t v) { blob.insert(blob.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}); };
  auto u32 = [&](std::uint32_t v) { u16(static_cast<std::uint16_t>(v)); u16(static_cast<std::uint16_t>(v >> 16)); };
  u16(0x3004); u16(0x3004); u16(0x200B); u16(1); u16(0); u32(0); u32(2); u32(0);
  u32(0x0A);                      // Monday and Wednesday
  u32(0x2022); u32(10); u32(1);   // after 10, weeks start on Monday
  u32(1); u32(215000000);         // one deleted
  u32(0);                         // none changed
  u32(214990000); u32(215100000); u32(0x3006); u32(0x3009); u32(540); u32(600);
  const auto p = parse_recurrence_pattern(blob);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->days_mask, 0x0Au);
  EXPECT_EQ(p->occurrences, 10u);
  EXPECT_EQ(p->deleted, std::vector<std::uint32_t>{215000000});
  EXPECT_EQ(p->start_offset, 540u);
  EXPECT_FALSE(parse_recurrence_pattern(Bytes(blob).first(blob.size() - 1)));
  blob[40] = 0xFF;  // a deleted count beyond the blob
  EXPECT_FALSE(parse_recurrence_pattern(blob));
}

}  // namespace
}  // namespace salvora::mime
