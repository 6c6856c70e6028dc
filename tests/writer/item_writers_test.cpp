// The item writers on the fake store: what each kind puts, where it goes, and the mail road
// through the template, the import and the attachments.
#include <sys/stat.h>

#include <filesystem>

#include "automation/member_ids.h"
#include "automation/schema_name.h"
#include "format/prop_types.h"
#include "format/filetime.h"
#include "platform/temp_folder.h"
#include "writer/writer_fixture.h"

namespace salvora {
namespace {

using testing::FakeItem;
using testing::FolderRecord;
using testing::MailRecord;
using testing::WriterTest;

constexpr std::uint64_t kJan6 = 128440839000000000ull;  // 2008-01-06 09:05:00 UTC
constexpr std::uint64_t kJul1 = 128593872000000000ull;  // 2008-07-01 12:00:00 UTC

class ItemWriters : public WriterTest {
 protected:
  DispatchPtr Folder(const std::string& name, const std::string& cls) {
    return writer->GetOrCreateFolder(nullptr, "Personal Folders\\" + name + "\\", FolderRecord(name, cls));
  }
  std::shared_ptr<FakeItem> OnlyStored() {
    auto items = store.stored_items();
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? nullptr : items[0];
  }
  OstContext ctx;  // never read: the records below hold their attachment data
};

// Issue 7, mend 1: the whole text, not its first five characters.
TEST_F(ItemWriters, JournalGetsItsWholeTextAndTheSubjectOverTheTopic) {
  Open();
  MessageFields m;
  m.text_a = "Telephone call with the bank";
  m.common_name = "Ann Lee";
  m.conversation_topic = "topic";
  m.subject = SubjectFields{0, 0, "Call"};
  writer->WriteJournal(m, Folder("Journal", "IPF.Journal"));
  auto item = OnlyStored();
  EXPECT_EQ(item->type_, kItemJournal);
  EXPECT_EQ(item->text(dispid::kBody), "Telephone call with the bank");
  EXPECT_EQ(item->text(dispid::kTo), "Ann Lee");
  EXPECT_EQ(item->text(dispid::kSubject), "Call");
  EXPECT_EQ(item->folder, store.folder("Journal"));
  EXPECT_EQ(item->ended_with, (std::vector<std::string>{"Save", "Move"}));
}

// Issue 7, mend 6: start, end and location reach the appointment.
TEST_F(ItemWriters, AppointmentCarriesStartEndAndLocation) {
  Open();
  ItemRecord r;
  r.kind = ItemKind::kAppointment;
  r.message.emplace();
  r.message->text_a = "agenda";
  r.message->conversation_topic = "Review";
  r.appointment = AppointmentFields{kJul1, "Room 4", kJan6};
  writer->WriteAppointment(r, Folder("Calendar", "IPF.Appointment"));
  auto item = OnlyStored();
  EXPECT_EQ(item->type_, kItemAppointment);
  EXPECT_EQ(item->text(dispid::kSubject), "Review");
  EXPECT_EQ(item->text(dispid::kBody), "agenda");
  EXPECT_EQ(item->text(dispid::kLocation), "Room 4");
  EXPECT_EQ(item->props[dispid::kStart], Variant::Date(filetime_to_date(kJan6)));
  EXPECT_EQ(item->props[dispid::kEnd], Variant::Date(filetime_to_date(kJul1)));
}

TEST_F(ItemWriters, WithoutTextAnItemTakesItsPlainBody) {
  Open();
  MessageFields m;
  m.plain_body = "kept as the plain body";
  writer->WriteTask(m, Folder("Tasks", "IPF.Task"));
  writer->WriteNote(m, Folder("Notes", "IPF.StickyNote"));
  writer->WriteJournal(m, Folder("Journal", "IPF.Journal"));
  for (const char* f : {"Tasks", "Notes", "Journal"}) {
    EXPECT_EQ(store.folder(f)->items.at(0)->text(dispid::kBody), "kept as the plain body") << f;
  }
  m.text_a = "text A wins";
  writer->WriteNote(m, Folder("Notes", "IPF.StickyNote"));
  EXPECT_EQ(store.folder("Notes")->items.at(1)->text(dispid::kBody), "text A wins");
}

// A body the faithful copy brings is left to it: converting the record's text first would only
// be replaced. Without a copy to follow (no source, no context, or a source without a body of
// its own) the writer's body stays the item's.
TEST_F(ItemWriters, TheBodyIsLeftToTheCopyOnlyWhenTheCopyBringsOne) {
  Open();
  MessageFields m;
  m.plain_body = "the record's text";
  ItemRecord record;
  SourceObject with_body;
  PropertyEntry body;
  body.id = body.raw_id = kPidBody;
  body.type = kPtypString;
  body.value = ByteVector{'h', 0, 'i', 0};
  with_body.properties.push_back(body);
  SourceObject without_body;
  PropertyEntry importance;
  importance.id = importance.raw_id = kPidImportance;
  importance.type = kPtypInteger32;
  importance.value = ByteVector{1, 0, 0, 0};
  without_body.properties.push_back(importance);
  const auto write = [&](const SourceObject* source, bool context) {
    writer->set_next_item_source(source);
    writer->set_next_item_attachments(&record, context ? &ctx : nullptr, Bid());
    writer->WriteTask(m, Folder("Tasks", "IPF.Task"));
    writer->set_next_item_attachments(nullptr, nullptr, Bid());
    return store.folder("Tasks")->items.back();
  };
  const auto copied = write(&with_body, true);
  EXPECT_FALSE(copied->has(dispid::kBody));
  EXPECT_EQ(copied->accessed->at(proptag_schema_name(kPidBody, kPtypString)), Variant::Bytes({'h', 0, 'i', 0}));
  EXPECT_EQ(write(&without_body, true)->text(dispid::kBody), "the record's text");
  EXPECT_EQ(write(&with_body, false)->text(dispid::kBody), "the record's text");
  EXPECT_EQ(write(nullptr, true)->text(dispid::kBody), "the record's text");
}

TEST_F(ItemWriters, TaskNoteAndNothingWithoutAFolder) {
  Open();
  MessageFields m;
  m.text_a = "details";
  m.common_name = "Bob";
  m.subject = SubjectFields{1, 4, "Task subject"};
  m.delivery_time = kJan6;
  writer->WriteTask(m, nullptr);
  writer->WriteNote(m, nullptr);
  EXPECT_TRUE(store.created.empty());
  writer->WriteTask(m, Folder("Tasks", "IPF.Task"));
  auto task = OnlyStored();
  EXPECT_EQ(task->text(dispid::kSubject), "Task subject");
  EXPECT_EQ(task->text(dispid::kTaskContactNames), "Bob");
  EXPECT_EQ(task->props[dispid::kTaskDateCompleted], Variant::Date(filetime_to_date(kJan6)));
  writer->WriteNote(m, Folder("Notes", "IPF.StickyNote"));
  auto note = store.folder("Notes")->items.at(0);
  EXPECT_EQ(note->type_, kItemNote);
  EXPECT_EQ(note->text(dispid::kBody), "details");
  EXPECT_EQ(note->ended_with, (std::vector<std::string>{"Close(1)", "Move"}));
}

TEST_F(ItemWriters, ContactFieldsByMemberAndNothingWithoutThem) {
  Open();
  auto contacts = Folder("Contacts", "IPF.Contact");
  ItemRecord bare;
  bare.kind = ItemKind::kContact;
  writer->WriteContact(bare, contacts);
  EXPECT_TRUE(store.stored_items().empty());
  EXPECT_TRUE(store.created.at(0)->ended_with.empty());

  ItemRecord r;
  r.display_name = "Lee, Ann";
  r.contact.emplace();
  r.contact->generation = "Jr.";
  r.contact->file_under = "Ann Lee";
  r.contact->given_name = "Ann";
  r.contact->email_address = "ann@example.com";
  r.contact->business_postal_code = "12345";
  r.contact->postal_address = "1 Main St";
  r.contact->gender = 2;
  r.message.emplace();
  r.message->text_a = std::string(600000, 'n');  // the built-in store keeps a long body
  writer->WriteContact(r, contacts);
  auto item = OnlyStored();
  EXPECT_EQ(item->type_, kItemContact);
  EXPECT_EQ(item->text(dispid::kSubject), "Jr.");
  EXPECT_EQ(item->text(dispid::kGeneration), "Jr.");
  EXPECT_EQ(item->text(dispid::kFileAs), "Lee, Ann");
  EXPECT_EQ(item->text(dispid::kFullName), "Ann Lee");
  EXPECT_EQ(item->text(dispid::kEmail1Address), "ann@example.com");
  EXPECT_EQ(item->text(dispid::kBusinessAddressPostalCode), "12345");
  EXPECT_EQ(item->text(dispid::kBusinessAddress), "1 Main St");
  EXPECT_EQ(item->props[dispid::kGender], Variant(std::int32_t{2}));
  EXPECT_EQ(item->text(dispid::kBody).size(), 600000u);
  EXPECT_FALSE(item->has(dispid::kMobileTelephoneNumber));  // absent sources put nothing
}

TEST_F(ItemWriters, MailGoesThroughTemplateImportAndBody) {
  Open();
  auto inbox = Folder("Inbox", "IPF.Note");
  ItemRecord r = MailRecord("Quarterly report");
  r.message->sender_name = "Ann";
  r.message->sender_address = "ann@example.com";
  r.message->display_to = "Bob";
  r.message->display_cc = "Carol";
  r.message->submit_time = kJan6;
  r.message->html_body = ByteVector{'<', 'b', '>', 'h', 'i', '<', '/', 'b', '>'};
  writer->WriteMail(r, inbox, ctx, Bid());
  auto mail = OnlyStored();
  EXPECT_EQ(mail->folder, store.folder("Inbox"));
  EXPECT_EQ(mail->text(dispid::kMessageClass), "IPM.Note");
  EXPECT_EQ(mail->text(dispid::kSubject), "Quarterly report");
  EXPECT_EQ(mail->text(dispid::kHTMLBody), "<b>hi</b>");
  EXPECT_FALSE(mail->has(dispid::kBody));
  EXPECT_EQ(mail->text(dispid::kTo), "Bob");
  EXPECT_EQ(mail->text(dispid::kCC), "Carol");
  EXPECT_EQ(mail->props[dispid::kUnRead], Variant(true));
  EXPECT_EQ(mail->imported_header, mail_header_text(*r.message));
  EXPECT_EQ(store.count_calls("Import(1024)"), 1);
  EXPECT_EQ(store.count_calls("SafeFields(" + std::to_string(kIconIndexTag) + ",empty)"), 1);
  // The template was made once and never reached a folder.
  EXPECT_EQ(store.count_calls("CreateItem(5)"), 1);
  EXPECT_EQ(store.created.at(0)->folder, nullptr);
  // The header went as a stream: no file was written.
  EXPECT_FALSE(std::filesystem::exists(writer->mail_file_path()));
  // Where it goes as a file, the file is in the process's private folder, which only we can enter.
  EXPECT_EQ(writer->mail_file_path(), temp_folder() + "Temp.eml");
  struct stat st{};
  ASSERT_EQ(::stat(temp_folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(ItemWriters, VersionTwelveCopiesTheTemplateForEachMailAndRebuildsItEvery800) {
  store.version = "11.0.0.8312";
  Open();
  auto inbox = Folder("Inbox", "IPF.Note");
  for (int i = 0; i < 3; ++i) writer->WriteMail(MailRecord("m" + std::to_string(i)), inbox, ctx, Bid());
  EXPECT_EQ(state.mail_counter, 4);  // the build counts once more
  EXPECT_EQ(store.count_calls("CreateItem(5)"), 1);
  EXPECT_EQ(store.count_calls("Copy"), 3);
  EXPECT_EQ(store.folder("Inbox")->items.size(), 3u);
  state.mail_counter = 800;
  writer->WriteMail(MailRecord("m800"), inbox, ctx, Bid());
  EXPECT_EQ(store.count_calls("CreateItem(5)"), 2);
  EXPECT_EQ(store.count_calls("Delete"), 0);
  // A later pass of the process continues the counter but builds a template of its own.
  Open();
  writer->WriteMail(MailRecord("next pass"), Folder("Inbox", "IPF.Note"), ctx, Bid());
  EXPECT_EQ(store.folder("Inbox")->items.size(), 5u);
  EXPECT_EQ(store.count_calls("CreateItem(5)"), 3);
}

TEST_F(ItemWriters, VersionNineMakesAFreshTemplateEvery50Mails) {
  store.version = "9.0.0.2711";
  Open();
  auto inbox = Folder("Inbox", "IPF.Note");
  writer->WriteMail(MailRecord("first"), inbox, ctx, Bid());
  state.mail_counter = 50;
  writer->WriteMail(MailRecord("fiftieth"), inbox, ctx, Bid());
  EXPECT_EQ(store.count_calls("CreateItem(5)"), 2);
  EXPECT_EQ(store.count_calls("Delete"), 2);
  EXPECT_EQ(state.mail_counter, 51);
}

TEST_F(ItemWriters, MailWithoutFolderOrAfterStopIsNotWritten) {
  Open();
  writer->WriteMail(MailRecord("nowhere"), nullptr, ctx, Bid());
  stop = true;
  writer->WriteMail(MailRecord("stopped"), Folder("Inbox", "IPF.Note"), ctx, Bid());
  EXPECT_TRUE(store.stored_items().empty());
}

// Issue 7, mend 2: no attachment is dropped for its name. A store that reads files gets each
// under a name of our own.
TEST_F(ItemWriters, EveryAttachmentIsKeptWhateverItsName) {
  store.paths_only = true;
  Open();
  ItemRecord r = MailRecord("files");
  auto add = [&](std::optional<std::string> long_name, std::optional<std::string> short_name,
                 std::optional<std::string> display, std::string data) {
    AttachmentNode a;
    a.long_file_name = std::move(long_name);
    a.file_name = std::move(short_name);
    a.display_name = std::move(display);
    a.data = ByteVector(data.begin(), data.end());
    a.data_size = static_cast<std::int32_t>(data.size());
    a.method = 1;
    r.attachments.push_back(std::move(a));
  };
  add("Résumé 日本.pdf", "RESUME~1.PDF", std::nullopt, "pdf bytes");
  add(std::nullopt, "CON.txt", std::nullopt, "device name");
  add("", "", "lpt1", "display name only");
  add(std::nullopt, std::nullopt, std::nullopt, "no name at all");
  add("a/b\\c:d*e?.txt", std::nullopt, std::nullopt, "reserved characters");
  add(std::string(300, 'x') + ".txt", std::nullopt, std::nullopt, "");
  writer->WriteMail(r, Folder("Inbox", "IPF.Note"), ctx, Bid());
  auto mail = OnlyStored();
  ASSERT_EQ(mail->attachments.size(), 6u);
  const char* names[] = {"Résumé 日本.pdf", "CON.txt", "lpt1", "Attachment 4", "a/b\\c:d*e?.txt", nullptr};
  for (std::size_t i = 0; i < 6; ++i) {
    const auto& a = mail->attachments[i];
    const std::string expected = names[i] ? names[i] : std::string(300, 'x') + ".txt";
    EXPECT_EQ(*a.display_name.string_value(), expected);
    EXPECT_EQ(a.bytes, std::string(r.attachments[i].data->begin(), r.attachments[i].data->end()));
    // The file had a name of our own in the private folder, and is gone again.
    EXPECT_EQ(a.path.rfind(temp_folder(), 0), 0u) << a.path;
    EXPECT_EQ(a.path.find(expected), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(a.path));
  }
}

// The built-in store is handed the header and the attachments as streams, and writes no file; a
// store that refuses a stream gets files from then on, with the same content.
TEST_F(ItemWriters, StreamsByDefaultAndFilesForAStoreThatTakesOnlyPaths) {
  ItemRecord r = MailRecord("two roads");
  r.message->sender_name = "Ann";
  r.message->sender_address = "ann@example.com";
  r.message->submit_time = kJan6;
  for (const std::string& data : {std::string("small"), std::string(3u << 20, 'z')}) {
    AttachmentNode a;
    a.long_file_name = "data.bin";
    a.data = ByteVector(data.begin(), data.end());
    a.data_size = static_cast<std::int32_t>(data.size());
    a.method = 1;
    r.attachments.push_back(std::move(a));
  }
  for (const bool paths_only : {false, true}) {
    SCOPED_TRACE(paths_only ? "paths only" : "streams");
    store.paths_only = paths_only;
    Open();
    std::filesystem::remove(writer->mail_file_path());  // an earlier test's
    auto target = Folder("Inbox", "IPF.Note");
    writer->WriteMail(r, target, ctx, Bid());
    writer->WriteMail(r, target, ctx, Bid());
    testing::FakeFolder* inbox = store.folder("Inbox");
    ASSERT_TRUE(inbox);
    ASSERT_EQ(inbox->items.size(), 2u);
    for (const auto& mail : inbox->items) {
      EXPECT_EQ(mail->imported_header, mail_header_text(*r.message));
      ASSERT_EQ(mail->attachments.size(), 2u);
      for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(mail->attachments[i].bytes.size(), r.attachments[i].data->size());
        EXPECT_EQ(mail->attachments[i].path.empty(), !paths_only);
      }
    }
    EXPECT_EQ(std::filesystem::exists(writer->mail_file_path()), paths_only);
    inbox->items.clear();
  }
}

// Attachment data and attached messages the source cannot give are reported by name; the mail
// and its other attachments are written all the same.
TEST_F(ItemWriters, UnreadableAttachmentsAreReported) {
  Open();
  ItemRecord r = MailRecord("damaged attachments");
  AttachmentNode lost_data;
  lost_data.long_file_name = "report.pdf";
  lost_data.method = 1;
  lost_data.data_bid = Bid(0x9990);  // in no block index
  AttachmentNode lost_message;
  lost_message.display_name = "Forwarded";
  lost_message.method = 5;
  lost_message.object_nid = 0x8025;
  AttachmentNode fine;
  fine.long_file_name = "fine.txt";
  fine.method = 1;
  fine.data = ByteVector{'o', 'k'};
  fine.data_size = 2;
  r.attachments = {lost_data, lost_message, fine};
  writer->WriteMail(r, Folder("Inbox", "IPF.Note"), ctx, Bid());
  auto mail = OnlyStored();
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->attachments.back().bytes, "ok");
  EXPECT_EQ(writer->take_unreadable_attachments(), (std::vector<std::string>{"report.pdf", "Forwarded"}));
  EXPECT_TRUE(writer->take_unreadable_attachments().empty());
}

// An attachment whose own object could not be read is written from its table row and named as
// partial; one the store refuses costs only itself and is named with the store's reason. A
// task's attachments go the same way as a mail's.
TEST_F(ItemWriters, AttachmentsThatAreNotWholeAreNamedAndTheOthersKept) {
  Open();
  store.refuse_attachment = "refused.bin";
  ItemRecord r;
  r.message.emplace();
  r.message->subject = SubjectFields{0, 0, "with attachments"};
  AttachmentNode table_only;
  table_only.long_file_name = "table-only.doc";
  table_only.method = 1;
  table_only.object_unreadable = true;
  AttachmentNode refused;
  refused.long_file_name = "refused.bin";
  refused.method = 1;
  refused.data = ByteVector{'x'};
  AttachmentNode fine;
  fine.long_file_name = "fine.txt";
  fine.method = 1;
  fine.data = ByteVector{'o', 'k'};
  r.attachments = {table_only, refused, fine};
  writer->set_next_item_attachments(&r, &ctx, Bid());
  writer->WriteTask(*r.message, Folder("Tasks", "IPF.Task"));
  auto task = OnlyStored();
  ASSERT_TRUE(task);
  ASSERT_EQ(task->attachments.size(), 2u);
  EXPECT_EQ(task->attachments.back().bytes, "ok");
  EXPECT_EQ(writer->take_unreadable_attachments(), (std::vector<std::string>{"table-only.doc"}));
  const auto unwritten = writer->take_unwritten_attachments();
  ASSERT_EQ(unwritten.size(), 1u);
  EXPECT_EQ(unwritten[0].property, "refused.bin");
  EXPECT_NE(unwritten[0].reason.find("refused the attachment"), std::string::npos) << unwritten[0].reason;
}

// Issue 7, mend 9: the built-in store takes a body of any size as the item's body; a store with
// a limit gets large bodies as attached files.
TEST_F(ItemWriters, LargeBodiesAreBodiesUnlessTheStoreHasALimit) {
  Open();
  auto inbox = Folder("Inbox", "IPF.Note");
  ItemRecord big = MailRecord("big");
  big.message->html_body = ByteVector(700000, 'h');
  writer->WriteMail(big, inbox, ctx, Bid());
  EXPECT_EQ(store.folder("Inbox")->items.at(0)->text(dispid::kHTMLBody).size(), 700000u);
  EXPECT_TRUE(store.folder("Inbox")->items.at(0)->attachments.empty());

  auto limited = Options();
  limited.body_limit = kExternalStoreBodyLimit;
  Open(limited);
  inbox = Folder("Inbox", "IPF.Note");
  struct Case {
    bool html;
    std::size_t size;
    bool attached;
  } cases[] = {{true, 500000, true}, {true, 499999, false}, {false, 500000, true}, {false, 499999, false}};
  for (const auto& c : cases) {
    ItemRecord r = MailRecord("limit");
    if (c.html) r.message->html_body = ByteVector(c.size, 'h');
    else r.message->plain_body = std::string(c.size, 't');
    const std::size_t before = store.folder("Inbox")->items.size();
    writer->WriteMail(r, inbox, ctx, Bid());
    auto item = store.folder("Inbox")->items.at(before);
    if (c.attached) {
      ASSERT_EQ(item->attachments.size(), 1u);
      EXPECT_EQ(item->attachments[0].bytes.size(), c.size);
      EXPECT_EQ(std::filesystem::path(item->attachments[0].path).filename(), c.html ? "temp.htm" : "temp.txt");
      EXPECT_FALSE(std::filesystem::exists(item->attachments[0].path));
      EXPECT_FALSE(item->has(dispid::kHTMLBody) || item->has(dispid::kBody));
    } else {
      EXPECT_TRUE(item->attachments.empty());
      EXPECT_EQ(item->text(c.html ? dispid::kHTMLBody : dispid::kBody).size(), c.size);
    }
  }
}

}  // namespace
}  // namespace salvora
