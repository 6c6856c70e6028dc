// apply_properties: kinds from classes, the subject rule, text in every script, attachments
// filled row by row, contact and folder records, bodies.
#include <gtest/gtest.h>

#include "content/apply_properties.h"
#include "content/compressed_rtf.h"
#include "content/heap_builder.h"
#include "content/item_kind.h"
#include "support/ndb_builder.h"

namespace salvora {
namespace {

using namespace salvora::testing;

PropertyEntry E(std::uint32_t id, std::uint16_t type, Bv value) {
  PropertyEntry e;
  e.id = id;
  e.raw_id = static_cast<std::uint16_t>(id);
  e.type = type;
  e.value = std::move(value);
  return e;
}

PropertyBlock B(std::vector<PropertyEntry> entries) {
  PropertyBlock b;
  b.entries = std::move(entries);
  return b;
}

ApplyOptions Unicode() { return {}; }
ApplyOptions Ansi(std::uint32_t cp = 1252) {
  ApplyOptions o;
  o.ansi_file = true;
  o.default_codepage = cp;
  return o;
}

TEST(ItemKind, MessageClasses) {
  const std::pair<const char*, ItemKind> cases[] = {
      {"IPM.Note", ItemKind::kMail},
      {"ipm.note.smime.multipartsigned", ItemKind::kMail},
      {"IPM.x-custom", ItemKind::kMail},
      {"IPM", ItemKind::kMail},
      {"", ItemKind::kMail},  // a prefix of "IPM.Note" agrees with it
      {"IPM.Contact", ItemKind::kContact},
      {"IPM.Contac", ItemKind::kContact},
      {"IPM.DistList", ItemKind::kOther},
      {"REPORT.IPM.Note.NDR", ItemKind::kReport},
      {"IPM.Activity", ItemKind::kJournal},
      {"IPM.Appointment", ItemKind::kAppointment},
      {"IPM.Task", ItemKind::kOther},
      {"IPM.StickyNote", ItemKind::kOther},
      {"IPM.Schedule.Meeting.Request", ItemKind::kOther},
      {"IPM.Post", ItemKind::kOther},
  };
  for (const auto& [cls, kind] : cases) EXPECT_EQ(kind_for_message_class(cls), kind) << cls;
}

TEST(ItemKind, ContainerClasses) {
  const std::pair<const char*, ItemKind> cases[] = {
      {"IPF.Note", ItemKind::kMail},
      {"IPF.Note.OutlookHomepage", ItemKind::kMail},
      {"ipf.note", ItemKind::kOther},  // container classes compare with case
      {"IPF.Contact", ItemKind::kContact},
      {"IPM.Contact", ItemKind::kContact},
      {"IPF.Journal", ItemKind::kJournal},
      {"IPF.Appointment", ItemKind::kAppointment},
      {"IPF.StickyNote", ItemKind::kStickyNote},
      {"IPF.Task", ItemKind::kTask},
      {"IPF", ItemKind::kOther},
      {"", ItemKind::kOther},
  };
  for (const auto& [cls, kind] : cases) EXPECT_EQ(kind_for_container_class(cls), kind) << cls;
}

TEST(ApplyProperties, SubjectPrefixOnlyAfterMarkerOne) {
  struct Case {
    const char* what;
    PropertyEntry subject;
    ApplyOptions options;
    int marker;
    int prefix;
    std::string text;
  };
  const Case cases[] = {
      {"16-bit marked", E(0x37, 0x1F, utf16(u"\x01\x05" "FW: Hello")), Unicode(), 1, 5, "FW: Hello"},
      {"8-bit marked", E(0x37, 0x1E, Bv{1, 5, 'F', 'W', ':', ' ', 'H', 'e', 'l', 'l', 'o'}), Ansi(), 1, 5, "FW: Hello"},
      {"8-bit accented first letter", E(0x37, 0x1E, Bv{0xC9, 'c', 'l', 'a', 'i', 'r'}), Ansi(), 0, 0, "\xC3\x89" "clair"},
      {"16-bit accented first letter", E(0x37, 0x1F, utf16(u"\u00DCberweisung")), Unicode(), 0, 0, "\xC3\x9C" "berweisung"},
      {"CJK", E(0x37, 0x1F, utf16(u"\u65E5\u672C\u8A9E")), Unicode(), 0, 0, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
      {"control but not 1", E(0x37, 0x1F, utf16(u"\x02\x05" "ab")), Unicode(), 0, 0, "\x02\x05" "ab"},
      {"marker alone", E(0x37, 0x1F, utf16(u"\x01")), Unicode(), 1, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ItemRecord rec;
    ASSERT_EQ(apply_properties({B({c.subject})}, &rec, c.options), 0);
    ASSERT_TRUE(rec.message && rec.message->subject);
    EXPECT_EQ(rec.message->subject->prefix_marker, c.marker);
    EXPECT_EQ(rec.message->subject->prefix_length, c.prefix);
    EXPECT_EQ(rec.message->subject->text, c.text);
  }
  ItemRecord empty;
  apply_properties({B({E(0x37, 0x1F, {})})}, &empty, Unicode());
  ASSERT_TRUE(empty.message);
  EXPECT_FALSE(empty.message->subject);
}

TEST(ApplyProperties, JapaneseAndCyrillicText) {
  const std::string nihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語
  const std::string privet = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // Привет
  const Bv sjis{0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA};
  const Bv cp1251{0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2};
  struct Case {
    const char* what;
    std::vector<PropertyEntry> entries;
    ApplyOptions options;
    std::string expected;
  };
  const Case cases[] = {
      {"UTF-16 Japanese", {E(0x0E04, 0x1F, utf16(u"\u65E5\u672C\u8A9E"))}, Unicode(), nihongo},
      {"UTF-16 Cyrillic", {E(0x0E04, 0x1F, utf16(u"\u041F\u0440\u0438\u0432\u0435\u0442"))}, Unicode(), privet},
      {"8-bit with code page 932", {E(0x3FFD, 0x03, le32(932)), E(0x0E04, 0x1E, sjis)}, Ansi(), nihongo},
      {"8-bit with code page 1251", {E(0x0E04, 0x1E, cp1251), E(0x3FFD, 0x03, le32(1251))}, Ansi(), privet},
      {"8-bit, default code page named", {E(0x0E04, 0x1E, sjis)}, Ansi(932), nihongo},
      {"8-bit in a Unicode file", {E(0x3FFD, 0x03, le32(1251)), E(0x0E04, 0x1E, cp1251)}, Unicode(), privet},
      {"trailing NUL ends the text", {E(0x0E04, 0x1F, utf16(std::u16string(u"ab\0", 3)))}, Unicode(), "ab"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ItemRecord rec;
    apply_properties({B(c.entries)}, &rec, c.options);
    ASSERT_TRUE(rec.message && rec.message->display_to);
    EXPECT_EQ(*rec.message->display_to, c.expected);
  }
  // Each display list from its own property: the copy of the source's properties that follows
  // would hide a list read from its neighbour.
  ItemRecord lists;
  apply_properties({B({E(0x0E02, 0x1F, utf16(u"Dave")), E(0x0E03, 0x1F, utf16(u"Carol")),
                       E(0x0E04, 0x1F, utf16(u"Bob"))})},
                   &lists, Unicode());
  ASSERT_TRUE(lists.message && lists.message->display_cc && lists.message->display_to);
  EXPECT_EQ(*lists.message->display_cc, "Carol");
  EXPECT_EQ(*lists.message->display_to, "Bob");
}

TEST(ApplyProperties, AttachmentsRowByRowThenObjects) {
  ItemRecord rec;
  apply_properties({B({E(0x3FFD, 0x03, le32(1251)), E(0x001A, 0x1E, bytes("IPM.Note"))})}, &rec, Ansi());
  EXPECT_EQ(rec.kind, ItemKind::kMail);
  EXPECT_EQ(rec.codepage, 1251u);

  // The attachment table: one node per row, filled in row order.
  rec.attachments.resize(3);
  rec.attachment_cursor = 0;
  std::vector<PropertyBlock> rows;
  for (std::uint32_t i = 0; i < 3; ++i) {
    std::vector<PropertyEntry> cells{E(0x67F2, 0x03, le32(0x8025 + 0x20 * i))};
    if (i != 1) cells.push_back(E(0x3704, 0x1E, Bv{0xD4, 'a', 'i', 'l', static_cast<std::uint8_t>('0' + i)}));
    rows.push_back(B(cells));
  }
  apply_properties(rows, &rec, Ansi());
  ASSERT_EQ(rec.attachments.size(), 3u);
  for (std::uint32_t i = 0; i < 3; ++i) EXPECT_EQ(rec.attachments[i].subnode_id, 0x8025 + 0x20 * i);
  EXPECT_EQ(rec.attachments[0].file_name, "\xD0\xA4" "ail0");  // code page of the message
  EXPECT_FALSE(rec.attachments[1].file_name);
  EXPECT_EQ(rec.attachments[2].file_name, "\xD0\xA4" "ail2");

  // Attachment objects, one call each with the cursor on their node.
  rec.attachment_cursor = 1;
  PropertyEntry unread = E(0x3701, 0x0102, {});
  unread.value.reset();
  unread.unread_subnode = Nid(0x8E1F);
  apply_properties({B({unread, E(0x3705, 0x03, le32(1)), E(0x3707, 0x1E, bytes("long.bin"))})}, &rec, Ansi());
  rec.attachment_cursor = 2;
  ApplyOptions object = Ansi();
  object.attachment_object = true;
  apply_properties({B({E(0x3701, 0x0102, bytes("DATA")), E(0x3705, 0x03, le32(1)), E(0x3001, 0x1E, bytes("Data"))})},
                   &rec, object);
  EXPECT_EQ(rec.attachments[2].display_name, "Data");
  EXPECT_FALSE(rec.display_name);  // the message keeps its own
  EXPECT_EQ(rec.attachments[1].subnode_id, 0x8E1Fu);
  EXPECT_FALSE(rec.attachments[1].data);
  EXPECT_EQ(rec.attachments[1].long_file_name, "long.bin");
  EXPECT_EQ(rec.attachments[1].method, 1);
  EXPECT_EQ(rec.attachments[2].data, bytes("DATA"));
  EXPECT_EQ(rec.attachments[2].data_size, 4);
  EXPECT_FALSE(rec.attachments[0].long_file_name);

  // More rows than nodes: the extra rows are ignored.
  ItemRecord few;
  few.attachments.resize(1);
  apply_properties(rows, &few, Ansi());
  EXPECT_EQ(few.attachments[0].subnode_id, 0x8025u);
}

TEST(ApplyProperties, ContactRules) {
  ItemRecord uni;
  apply_properties({B({E(0x001A, 0x1F, utf16(u"IPM.Contact")), E(0x3003, 0x1F, utf16(u"no at sign")),
                       E(0x3A06, 0x1F, utf16(u"John")), E(0x3A4D, 0x02, le32(2)),
                       E(0x8084, 0x1F, utf16(u"john@example.com"))})},
                   &uni, Unicode());
  EXPECT_EQ(uni.kind, ItemKind::kContact);
  ASSERT_TRUE(uni.contact);
  EXPECT_EQ(uni.contact->email_address, "john@example.com");
  EXPECT_EQ(uni.contact->given_name, "John");
  EXPECT_EQ(uni.contact->file_under, "John");
  EXPECT_EQ(uni.contact->gender, 2);
  apply_properties({B({E(0x8005, 0x1F, utf16(u"Doe, John"))})}, &uni, Unicode());
  EXPECT_EQ(uni.contact->file_under, "Doe, John");

  ItemRecord ansi;
  apply_properties({B({E(0x3003, 0x1E, bytes("nobody")), E(0x3A06, 0x1E, bytes("John"))})}, &ansi, Ansi());
  ASSERT_TRUE(ansi.contact);
  EXPECT_FALSE(ansi.contact->email_address);
  EXPECT_FALSE(ansi.contact->file_under);
}

TEST(ApplyProperties, FolderStoreAndBodies) {
  ItemRecord folder;
  apply_properties({B({E(0x3001, 0x1F, utf16(u"Inbox")), E(0x3602, 0x03, le32(12)), E(0x3603, 0x03, le32(3)),
                       E(0x360A, 0x0B, le32(1)), E(0x3613, 0x1F, utf16(u"IPF.Task"))})},
                   &folder, Unicode());
  EXPECT_EQ(folder.display_name, "Inbox");
  EXPECT_EQ(folder.kind, ItemKind::kTask);
  ASSERT_TRUE(folder.folder_counts);
  EXPECT_EQ(folder.folder_counts->content_count, 12);
  EXPECT_EQ(folder.folder_counts->unread_count, 3);
  EXPECT_EQ(folder.folder_counts->has_subfolders, 1);
  EXPECT_FALSE(folder.message || folder.contact || folder.store);

  ItemRecord store;
  Bv eid(24, 0);
  eid[20] = 0x22;
  eid[21] = 0x80;
  apply_properties({B({E(0x35E0, 0x0102, eid), E(0x7C07, 0x0102, Bv{1, 2, 3})})}, &store, Unicode());
  ASSERT_TRUE(store.store);
  EXPECT_EQ(store.store->ipm_subtree_entry_id, eid);
  EXPECT_EQ(store.store->value_7c07[2], 3);
  EXPECT_EQ(store.store->value_7c07[3], 0);

  ItemRecord msg;
  const Bv rtf = {0x2D, 0, 0, 0, 0x2B, 0, 0, 0, 'L', 'Z', 'F', 'u', 0xF1, 0xC5, 0xC7, 0xA7,
                  0x03, 0x00, 0x0A, 0x00, 0x72, 0x63, 0x70, 0x67, 0x31, 0x32, 0x35, 0x42, 0x32,
                  0x0A, 0xF3, 0x20, 0x68, 0x65, 0x6C, 0x09, 0x00, 0x20, 0x62, 0x77, 0x05, 0xB0,
                  0x6C, 0x64, 0x7D, 0x0A, 0x80, 0x0F, 0xA0};
  PropertyEntry named1 = E(kStringNamedId, 0x1F, utf16(u"one"));
  PropertyEntry named2 = E(kStringNamedId, 0x1F, utf16(u"two"));
  PropertyEntry named3 = E(kStringNamedId, 0x1F, utf16(u"three"));
  ApplyOptions o;
  o.rtf_path = testing::TestTempDir() + "/apply.rtf";
  apply_properties({B({E(0x1013, 0x1F, utf16(u"<p>\u00E9</p>")), E(0x1009, 0x0102, rtf), named1, named2, named3})},
                   &msg, o);
  ASSERT_TRUE(msg.message);
  EXPECT_EQ(msg.message->html_body, bytes("<p>\xC3\xA9</p>"));
  EXPECT_EQ(msg.message->rtf_available, 1);
  ASSERT_TRUE(msg.message->rtf_body);
  EXPECT_EQ(msg.message->rtf_body->size(), 43u);
  EXPECT_EQ(msg.message->named_text_1, utf16(u"one"));
  EXPECT_EQ(msg.message->named_text_2, utf16(u"two"));

  ItemRecord bad;
  apply_properties({B({E(0x1009, 0x0102, Bv{1, 2, 3}), E(0x1013, 0x0102, Bv{0, 1})})}, &bad, Unicode());
  ASSERT_TRUE(bad.message);
  EXPECT_EQ(bad.message->rtf_available, 0);
  EXPECT_EQ(bad.message->html_body, (Bv{0, 1}));  // binary HTML is kept byte for byte

  EXPECT_EQ(apply_properties({}, nullptr, Unicode()), -1);
  EXPECT_EQ(release_item(&msg), 0);
  EXPECT_FALSE(msg.message);
  EXPECT_EQ(release_item(nullptr), 0);
}

}  // namespace
}  // namespace salvora
