// The store server driven through the automation boundary with the save pass's call
// sequences, and the PST it writes read back with the strict reader and the verifier.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "automation/byte_stream.h"
#include "automation/member_ids.h"
#include "automation/object_factory.h"
#include "format/entry_id.h"
#include "format/filetime.h"
#include "format/prop_types.h"
#include "pststore/item_properties.h"
#include "pststore/pst/pst_file_reader.h"
#include "pststore/pst/pst_verifier.h"
#include "pststore/sample_mailbox.h"
#include "pststore/store_driver.h"
#include "pststore/store_file.h"
#include "pststore/store_mailbox.h"
#include "pststore/store_readback.h"
#include "pststore/store_servers.h"

namespace salvora::store {
namespace {

using testing::ReadBack;
using testing::ReadMessage;
using testing::ReadStore;
using K = InvokeKind;

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

void ExpectClean(const std::string& path) {
  const auto result = pst::PstVerifier::Verify(path);
  EXPECT_TRUE(result.opened) << path;
  EXPECT_TRUE(result.violations.empty()) << Join(result.violations);
}

std::uint64_t TimeOf(const pst::Property* p) { return p ? static_cast<std::uint64_t>(p->AsInt()) : 0; }

std::string NamedText(const ReadStore& s, const ReadMessage& m, const pst::Guid& set, std::uint32_t lid) {
  const pst::Property* p = s.Named(m, named(set, lid));
  return p ? p->AsString() : "<absent>";
}

class StoreServerTest : public ::testing::Test {
 protected:
  void TearDown() override { close_store_files(); }
};

// ---- the whole save road -------------------------------------------------------------------

class StandardMailbox : public StoreServerTest {
 protected:
  static void SetUpTestSuite() {
    path_ = pst::testing::TempPath("standard.pst");
    values_ = testing::WriteStandardMailbox(path_);
    close_store_files();
    store_ = ReadBack(path_);
  }
  static std::string path_;
  static testing::StandardValues values_;
  static ReadStore store_;
};
std::string StandardMailbox::path_;
testing::StandardValues StandardMailbox::values_;
ReadStore StandardMailbox::store_;

TEST_F(StandardMailbox, FileIsCleanAndReadable) {
  ExpectClean(path_);
  ASSERT_TRUE(store_.opened);
  EXPECT_TRUE(store_.problems.empty()) << Join(store_.problems);
}

TEST_F(StandardMailbox, StoreIsNamedByItsRoot) {
  const pst::Property* name = pst::find_prop(store_.store_props, kPidDisplayName);
  ASSERT_TRUE(name);
  EXPECT_EQ(name->AsString(), values_.display_name);
}

TEST_F(StandardMailbox, FoldersInTheOrderTheyWereAddedWithTheirClasses) {
  const auto& top = store_.subtree.children;
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Deleted Items", "IPF.Note"},     {"Inbox", "IPF.Post"},    {"Calendar", "IPF.Appointment"},
      {"Contacts", "IPF.Contact"},       {"Tasks", "IPF.Task"},    {"Journal", "IPF.Journal"},
      {"Notes", "IPF.StickyNote"}};
  ASSERT_EQ(top.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(top[i].name, expected[i].first);
    const pst::Property* c = pst::find_prop(top[i].props, kPidContainerClass);
    ASSERT_TRUE(c) << top[i].name;
    EXPECT_EQ(c->AsString(), expected[i].second);
  }
  const auto* inbox = store_.subtree.Child("Inbox");
  ASSERT_TRUE(inbox && inbox->Child("Projects"));
  // Content counts: the mail was marked unread.
  EXPECT_EQ(pst::find_prop(inbox->props, kPidContentCount)->AsInt(), 1);
  EXPECT_EQ(pst::find_prop(inbox->props, kPidContentUnreadCount)->AsInt(), 1);
}

TEST_F(StandardMailbox, TheInboxReceivesMail) {
  pst::PstFileReader reader([](const std::string&) {});
  ASSERT_TRUE(reader.Open(path_));
  reader.LoadTrees();
  const auto node = reader.Node(kNidReceiveFolderTable);
  ASSERT_TRUE(node);
  const auto tc = reader.ReadTc(*node);
  ASSERT_TRUE(tc && tc->rows.size() == 1);
  EXPECT_EQ(pst::find_prop(tc->rows[0].cells, 0x6605)->AsInt(), store_.subtree.Child("Inbox")->nid);
}

TEST_F(StandardMailbox, NothingButWhatWasMovedIntoFolders) {
  // Two mails and one item of each other kind; the templates and their unused copies are not
  // in the file at all.
  EXPECT_EQ(store_.subtree.TotalMessages(), 7u);
  EXPECT_EQ(store_.message_nodes, 7u);
  for (const auto& f : store_.subtree.children) {
    const std::size_t expected = f.name == "Deleted Items" ? 0 : (f.name == "Inbox" ? 1 : 1);
    EXPECT_EQ(f.messages.size(), expected) << f.name;
  }
}

TEST_F(StandardMailbox, MailCarriesTheImportedHeaderAndTheLaterPuts) {
  const auto* m = store_.subtree.Child("Inbox")->Message("RE: Quarterly report");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->Text(kPidMessageClass), "IPM.Note");
  EXPECT_EQ(m->Text(kPidSenderName), "Ann Example");
  EXPECT_EQ(m->Text(kPidSenderEmailAddress), "ann@example.com");
  EXPECT_EQ(m->Text(pid::kSenderAddressType), "SMTP");
  EXPECT_EQ(m->Text(kPidSentRepresentingName), "Ann Example");
  EXPECT_EQ(m->Text(kPidDisplayTo), "Bob Builder; Carl Smith");
  EXPECT_EQ(m->Text(kPidDisplayCc), "Dora Cc");
  EXPECT_EQ(TimeOf(m->Find(kPidClientSubmitTime)), values_.submit);
  EXPECT_EQ(TimeOf(m->Find(kPidMessageDeliveryTime)), values_.delivery);
  EXPECT_EQ(m->Text(pid::kSubjectPrefix), "RE: ");
  EXPECT_EQ(m->Text(pid::kNormalizedSubject), "Quarterly report");
  // The HTML body byte for byte, and the code page that says how to read it.
  ASSERT_TRUE(m->Find(kPidHtml));
  EXPECT_EQ(std::string(m->Find(kPidHtml)->data.begin(), m->Find(kPidHtml)->data.end()), values_.html);
  EXPECT_EQ(m->Int(pid::kInternetCodepage), 65001);
  EXPECT_FALSE(m->Find(kPidBody));
  // Received, unread, with attachments; the icon index the writer cleared is gone.
  const auto flags = static_cast<std::uint32_t>(*m->Int(kPidMessageFlags));
  EXPECT_EQ(flags & (kMsgFlagRead | kMsgFlagUnsent), 0u);
  EXPECT_NE(flags & kMsgFlagHasAttach, 0u);
  EXPECT_FALSE(m->Find(pid::kIconIndex));
  ASSERT_TRUE(m->Find(kPidSearchKey));
  EXPECT_EQ(m->Find(kPidSearchKey)->data.size(), 16u);
  EXPECT_TRUE(m->Find(kPidMessageSize));
  EXPECT_TRUE(m->Find(kPidCreationTime));
}

TEST_F(StandardMailbox, MailRecipientsAreTheMailboxesOfTheToHeader) {
  const auto* m = store_.subtree.Child("Inbox")->Message("RE: Quarterly report");
  ASSERT_TRUE(m);
  ASSERT_EQ(m->recipients.size(), 2u);
  const auto text = [](const pst::PropertyList& row, std::uint16_t id) {
    const pst::Property* p = pst::find_prop(row, id);
    return p ? p->AsString() : std::string("<absent>");
  };
  EXPECT_EQ(text(m->recipients[0], kPidDisplayName), "Bob Builder");
  EXPECT_EQ(text(m->recipients[0], kPidEmailAddress), "<absent>");
  EXPECT_EQ(text(m->recipients[1], kPidDisplayName), "Carl Smith");
  EXPECT_EQ(text(m->recipients[1], kPidEmailAddress), "bob@example.com");
  EXPECT_EQ(text(m->recipients[1], kPidAddressType), "SMTP");
  for (const auto& r : m->recipients) EXPECT_EQ(pst::find_prop(r, kPidRecipientType)->AsInt(), 1);
  // The one-off entry id a reply is addressed by.
  const pst::Property* eid = pst::find_prop(m->recipients[1], kPidEntryId);
  ASSERT_TRUE(eid);
  EXPECT_GT(eid->data.size(), 24u);
  EXPECT_EQ(eid->data[4], 0x81);
}

TEST_F(StandardMailbox, MailAttachmentsByValueSpooledAndEmbedded) {
  const auto* m = store_.subtree.Child("Inbox")->Message("RE: Quarterly report");
  ASSERT_TRUE(m);
  ASSERT_EQ(m->attachments.size(), 3u);
  const auto& small = m->attachments[0];
  EXPECT_EQ(pst::find_prop(small.props, kPidAttachLongFilename)->AsString(), "report.txt");
  EXPECT_EQ(pst::find_prop(small.props, kPidAttachMethod)->AsInt(), 1);
  EXPECT_EQ(small.data, values_.small_file);
  // Larger than what is kept in memory: it went through the spool file after its source was
  // deleted, and arrives whole.
  const auto& big = m->attachments[1];
  EXPECT_EQ(pst::find_prop(big.props, kPidAttachFilename)->AsString(), "big.bin");
  EXPECT_EQ(big.data.size(), values_.big_file.size());
  EXPECT_TRUE(big.data == values_.big_file);
  const auto& embedded = m->attachments[2];
  EXPECT_EQ(pst::find_prop(embedded.props, kPidAttachMethod)->AsInt(), 5);
  EXPECT_EQ(pst::find_prop(embedded.props, kPidDisplayName)->AsString(), "Original message");
  ASSERT_TRUE(embedded.embedded);
  EXPECT_EQ(embedded.embedded->Text(kPidSubject), "Original message");
  EXPECT_EQ(embedded.embedded->Text(kPidBody), "inner text");
  EXPECT_EQ(embedded.embedded->Text(kPidMessageClass), "IPM.Note");
}

// The header and the files handed over as streams arrive as they do through files, the large
// one through the spool.
TEST_F(StoreServerTest, StreamsInPlaceOfFiles) {
  const std::string path = pst::testing::TempPath("streams.pst");
  std::vector<std::uint8_t> big(3u << 20);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7 + i / 4096);
  {
    testing::SaveDriver d(path, "Streams");
    const DispatchPtr inbox = d.Folder({{"Inbox", "IPF.Note"}});
    testing::MailInput m;
    m.streams = true;
    m.subject = "streamed";
    m.sender_name = "Ann Lee";
    m.sender_address = "ann@example.com";
    m.display_to = "Bob <bob@example.com>";
    m.submit = 133'000'000'000'000'000ull;
    m.files = {{"small.txt", {'h', 'i'}}, {"big.bin", big}};
    d.WriteMail(m, inbox);
    // A stream needs the attachment's name: it has none of its own.
    const DispatchPtr mail = d.CreateItem(0);
    const DispatchPtr attachments = get(mail, dispid::kAttachments).dispatch_value();
    const std::vector<Variant> args{DispatchPtr(std::make_shared<MemoryStream>("x"))};
    try {
      attachments->invoke(dispid::kAddAttachment, K::kMethod, Arguments(args.data(), args.size()));
      ADD_FAILURE() << "a stream without a name was taken";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.code(), AutomationError::Code::kBadArgument);
    }
  }
  close_store_files();
  ExpectClean(path);
  const ReadStore s = ReadBack(path);
  const ReadMessage* m = s.subtree.Child("Inbox")->Message("streamed");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->Text(kPidSenderName), "Ann Lee");
  EXPECT_EQ(m->Text(kPidSenderEmailAddress), "ann@example.com");
  EXPECT_EQ(TimeOf(pst::find_prop(m->props, kPidClientSubmitTime)), 133'000'000'000'000'000ull);
  ASSERT_EQ(m->attachments.size(), 2u);
  EXPECT_EQ(pst::find_prop(m->attachments[0].props, kPidAttachLongFilename)->AsString(), "small.txt");
  EXPECT_EQ(m->attachments[0].data, (std::vector<std::uint8_t>{'h', 'i'}));
  EXPECT_TRUE(m->attachments[1].data == big);
}

TEST_F(StandardMailbox, MailWithoutAddressesOrTimes) {
  const auto* m = store_.subtree.Child("Inbox")->Child("Projects")->Message("Plain one");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->Text(kPidSenderName), "Eve");
  EXPECT_FALSE(m->Find(kPidSenderEmailAddress));
  // "To:UnKnown" is the header's stand-in for nobody: no recipient row comes of it, and no
  // display list either.
  EXPECT_TRUE(m->recipients.empty());
  EXPECT_FALSE(m->Find(kPidDisplayTo));
  EXPECT_FALSE(m->Find(kPidClientSubmitTime));
  EXPECT_FALSE(m->Find(kPidMessageDeliveryTime));
  EXPECT_EQ(m->Text(kPidBody), "plain body text");
  EXPECT_EQ(m->Int(pid::kNativeBody), 1);
  EXPECT_TRUE(m->attachments.empty());
}

TEST_F(StandardMailbox, AppointmentTimesAndLocation) {
  const auto* a = store_.subtree.Child("Calendar")->Message("Planning");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Text(kPidMessageClass), "IPM.Appointment");
  EXPECT_EQ(a->Text(kPidBody), "Agenda");
  EXPECT_EQ(TimeOf(store_.Named(*a, named(kPsetidAppointment, lid::kAppointmentStartWhole))), values_.start);
  EXPECT_EQ(TimeOf(store_.Named(*a, named(kPsetidAppointment, lid::kAppointmentEndWhole))), values_.end);
  EXPECT_EQ(TimeOf(store_.Named(*a, named(kPsetidCommon, lid::kCommonStart))), values_.start);
  EXPECT_EQ(TimeOf(a->Find(pid::kStartDate)), values_.start);
  EXPECT_EQ(TimeOf(a->Find(pid::kEndDate)), values_.end);
  EXPECT_EQ(NamedText(store_, *a, kPsetidAppointment, lid::kLocation), "Room 4");
  EXPECT_EQ(store_.Named(*a, named(kPsetidAppointment, lid::kAppointmentDuration))->AsInt(), 90);
  EXPECT_EQ(store_.Named(*a, named(kPsetidCommon, lid::kReminderSet))->AsInt(), 1);
}

TEST_F(StandardMailbox, ContactFieldsByPropertyIdAndNamedProperty) {
  const auto* c = store_.subtree.Child("Contacts")->Message("Jr.");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Text(kPidMessageClass), "IPM.Contact");
  EXPECT_EQ(c->Text(kPidDisplayName), "Holly Hunter");
  EXPECT_EQ(c->Text(0x3A10), "E-17");
  EXPECT_EQ(c->Text(0x3A06), "Holly");
  EXPECT_EQ(c->Text(0x3A11), "Hunter");
  EXPECT_EQ(c->Text(0x3A05), "Jr.");
  EXPECT_EQ(c->Text(0x3A16), "Acme");
  EXPECT_EQ(c->Text(0x3A1C), "+1 555 0100");
  EXPECT_EQ(c->Text(kPidBody), "Met at the fair");
  const pst::Property* gender = c->Find(pid::kGender);
  ASSERT_TRUE(gender);
  EXPECT_EQ(gender->type(), kPtypInteger16);
  EXPECT_EQ(gender->AsInt(), 2);
  EXPECT_EQ(NamedText(store_, *c, kPsetidAddress, lid::kFileUnder), "Hunter, Holly");
  EXPECT_EQ(NamedText(store_, *c, kPsetidAddress, 0x801B), "1 Main St\r\nSpringfield");
  EXPECT_EQ(NamedText(store_, *c, kPsetidAddress, 0x8045), "1 Main St");
  EXPECT_EQ(NamedText(store_, *c, kPsetidAddress, 0x8046), "Springfield");
  EXPECT_EQ(NamedText(store_, *c, kPsetidAddress, lid::kEmail1EmailAddress), "holly@example.org");
  EXPECT_EQ(NamedText(store_, *c, kPsetidAddress, lid::kEmail1AddressType), "SMTP");
  EXPECT_EQ(NamedText(store_, *c, kPsetidCommon, 0x8534), "120 km");
}

TEST_F(StandardMailbox, TaskJournalAndNote) {
  const auto* t = store_.subtree.Child("Tasks")->Message("Task one");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->Text(kPidMessageClass), "IPM.Task");
  EXPECT_EQ(t->Text(kPidBody), "Do it");
  EXPECT_EQ(TimeOf(store_.Named(*t, named(kPsetidTask, lid::kTaskDateCompleted))), values_.completed);
  const pst::Property* contacts = store_.Named(*t, named(kPsetidCommon, lid::kContacts));
  ASSERT_TRUE(contacts);
  EXPECT_EQ(contacts->type(), kPtypMultipleString);

  const auto* j = store_.subtree.Child("Journal")->Message("Call with Grace");
  ASSERT_TRUE(j);
  EXPECT_EQ(j->Text(kPidMessageClass), "IPM.Activity");
  EXPECT_EQ(j->Text(kPidBody), "Telep");
  EXPECT_EQ(j->Text(kPidDisplayTo), "Grace");
  EXPECT_TRUE(store_.Named(*j, named(kPsetidLog, lid::kLogStart)));

  // A note's subject is the first line of its text; closing it with "discard" kept its body.
  const auto* n = store_.subtree.Child("Notes")->Message("Buy milk");
  ASSERT_TRUE(n);
  EXPECT_EQ(n->Text(kPidMessageClass), "IPM.StickyNote");
  EXPECT_EQ(n->Text(kPidBody), "Buy milk\r\nand bread");
  EXPECT_EQ(store_.Named(*n, named(kPsetidNote, lid::kNoteColor))->AsInt(), 3);
}

// ---- the same path twice, and files that are not ours -----------------------------------------

TEST_F(StoreServerTest, SecondAddStoreOfTheSamePathIsTheSameStore) {
  const std::string path = pst::testing::TempPath("twice.pst");
  {
    testing::SaveDriver first(path, "First name");
    const DispatchPtr inbox = first.Folder({{"Inbox", "IPF.Post"}});
    testing::MailInput m;
    m.sender_name = "A";
    m.subject = "one";
    first.WriteMail(m, inbox);
  }
  {
    // A second save of the process: new servers, the same path, the root renamed again.
    testing::SaveDriver second(path, "Second name");
    EXPECT_EQ(*get(second.root, dispid::kName).string_value(), "Second name");
    const std::int32_t before = *get(second.root_folders, dispid::kCount).int32_value();
    const DispatchPtr inbox = second.Folder({{"Inbox", "IPF.Post"}});
    EXPECT_EQ(*get(second.root_folders, dispid::kCount).int32_value(), before);  // found, not added
    testing::MailInput m;
    m.sender_name = "B";
    m.subject = "two";
    second.WriteMail(m, inbox);
  }
  close_store_files();
  ExpectClean(path);
  const auto store = ReadBack(path);
  EXPECT_EQ(pst::find_prop(store.store_props, kPidDisplayName)->AsString(), "Second name");
  const auto* inbox = store.subtree.Child("Inbox");
  ASSERT_TRUE(inbox);
  EXPECT_TRUE(inbox->Message("one"));
  EXPECT_TRUE(inbox->Message("two"));
  EXPECT_EQ(store.message_nodes, 2u);
  // Items of the two sessions do not share a search key.
  EXPECT_NE(inbox->Message("one")->Find(kPidSearchKey)->data, inbox->Message("two")->Find(kPidSearchKey)->data);
}

TEST_F(StoreServerTest, AnExistingFileIsNeverOverwritten) {
  const std::string path = pst::testing::TempPath("not-ours.pst");
  {
    std::ofstream f(path, std::ios::binary);
    f << "precious";
  }
  register_store_servers();
  const DispatchPtr app = create_object(kOutlookApplication);
  const DispatchPtr ns = invoke(app, dispid::kGetNamespace, K::kMethod, {"MAPI"}).dispatch_value();
  EXPECT_THROW(invoke(ns, dispid::kAddStore, K::kMethod, {path}), AutomationError);
  std::ifstream f(path, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "precious");
}

TEST_F(StoreServerTest, GetLastIsTheStoreAddedLast) {
  const std::string a = pst::testing::TempPath("last-a.pst"), b = pst::testing::TempPath("last-b.pst");
  testing::SaveDriver da(a, "Store A");
  testing::SaveDriver db(b, "Store B");
  const DispatchPtr roots = get(da.ns, dispid::kFolders).dispatch_value();
  EXPECT_EQ(*get(invoke(roots, dispid::kGetLast, K::kMethod).dispatch_value(), dispid::kName).string_value(), "Store B");
  // Adding the first path again makes it the last one added.
  invoke(da.ns, dispid::kAddStore, K::kMethod, {a});
  EXPECT_EQ(*get(invoke(roots, dispid::kGetLast, K::kMethod).dispatch_value(), dispid::kName).string_value(), "Store A");
  EXPECT_EQ(*get(roots, dispid::kCount).int32_value(), 2);
}

// ---- folders -----------------------------------------------------------------------------------

TEST_F(StoreServerTest, FolderCollectionCountItemAndAdd) {
  testing::SaveDriver d(pst::testing::TempPath("folders.pst"), "Folders");
  const DispatchPtr c = d.root_folders;
  EXPECT_EQ(*get(c, dispid::kCount).int32_value(), 1);  // the wastebasket of a new store
  const DispatchPtr x = invoke(c, dispid::kAddFolder, K::kMethod, {"X", "IPF.Post"}).dispatch_value();
  const DispatchPtr lower = invoke(c, dispid::kAddFolder, K::kMethod, {"inbox", "IPF.Post"}).dispatch_value();
  const DispatchPtr upper = invoke(c, dispid::kAddFolder, K::kMethod, {"Inbox", "IPF.Post"}).dispatch_value();
  EXPECT_EQ(*get(c, dispid::kCount).int32_value(), 4);
  for (std::int32_t i = 2; i <= 4; ++i) {
    const auto f = invoke(c, dispid::kItem, K::kMethod, {i}).dispatch_value();
    EXPECT_EQ(*get(f, dispid::kName).string_value(), (std::vector<std::string>{"X", "inbox", "Inbox"}[i - 2]));
  }
  EXPECT_EQ(*get(invoke(c, dispid::kGetLast, K::kMethod).dispatch_value(), dispid::kName).string_value(), "Inbox");
  // Without a class a folder takes its parent's.
  const DispatchPtr sub = get(x, dispid::kFolders).dispatch_value();
  invoke(sub, dispid::kAddFolder, K::kMethod, {"Y"});
  put(x, dispid::kName, "X renamed");
  put(x, dispid::kDescription, "about X");
  EXPECT_EQ(*get(x, dispid::kDescription).string_value(), "about X");
  close_store_files();
  const auto store = ReadBack(pst::testing::TempPath("folders.pst"));
  const auto* renamed = store.subtree.Child("X renamed");
  ASSERT_TRUE(renamed);
  EXPECT_EQ(pst::find_prop(renamed->props, kPidComment)->AsString(), "about X");
  ASSERT_TRUE(renamed->Child("Y"));
  EXPECT_EQ(pst::find_prop(renamed->Child("Y")->props, kPidContainerClass)->AsString(), "IPF.Post");
  EXPECT_TRUE(store.subtree.Child("inbox") && store.subtree.Child("Inbox"));
  ExpectClean(pst::testing::TempPath("folders.pst"));
}

TEST_F(StoreServerTest, FolderCallsThatFail) {
  testing::SaveDriver d(pst::testing::TempPath("folder-errors.pst"), "Errors");
  const DispatchPtr c = d.root_folders;
  invoke(c, dispid::kAddFolder, K::kMethod, {"Same", "IPF.Post"});
  struct Case {
    const char* what;
    MemberId member;
    InvokeKind kind;
    std::vector<Variant> args;
    AutomationError::Code code;
  };
  const std::vector<Case> cases = {
      {"index 0", dispid::kItem, K::kMethod, {std::int32_t{0}}, AutomationError::Code::kBadArgument},
      {"index past the end", dispid::kItem, K::kMethod, {std::int32_t{3}}, AutomationError::Code::kBadArgument},
      {"no such name", dispid::kItem, K::kMethod, {"Nope"}, AutomationError::Code::kFailed},
      {"empty name", dispid::kAddFolder, K::kMethod, {"", "IPF.Post"}, AutomationError::Code::kBadArgument},
      {"same name twice", dispid::kAddFolder, K::kMethod, {"Same", "IPF.Post"}, AutomationError::Code::kFailed},
      {"class of a wrong type", dispid::kAddFolder, K::kMethod, {"Z", true}, AutomationError::Code::kBadArgument},
      {"count is no method", dispid::kCount, K::kPut, {std::int32_t{1}}, AutomationError::Code::kUnknownMember},
      {"unknown member", 0x7777, K::kMethod, {}, AutomationError::Code::kUnknownMember},
  };
  for (const auto& t : cases) {
    try {
      c->invoke(t.member, t.kind, Arguments(t.args.data(), t.args.size()));
      ADD_FAILURE() << t.what << ": no error";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.code(), t.code) << t.what << ": " << e.what();
    }
  }
  EXPECT_EQ(*get(c, dispid::kCount).int32_value(), 2);
}

// ---- items -------------------------------------------------------------------------------------

TEST_F(StoreServerTest, ItemCallsThatFail) {
  testing::SaveDriver d(pst::testing::TempPath("item-errors.pst"), "Errors");
  const DispatchPtr folder = d.Folder({{"Inbox", "IPF.Post"}});
  const DispatchPtr mail = d.CreateItem(0);
  const DispatchPtr contact = d.CreateItem(kItemContact);
  const DispatchPtr stored = d.CreateItem(kItemNote);
  put(stored, dispid::kBody, "x");
  invoke(stored, dispid::kMove, K::kMethod, {folder});
  const DispatchPtr deleted = d.CreateItem(kItemNote);
  invoke(deleted, dispid::kDelete, K::kMethod);
  struct Case {
    const char* what;
    DispatchPtr object;
    MemberId member;
    InvokeKind kind;
    std::vector<Variant> args;
    AutomationError::Code code;
  };
  const std::vector<Case> cases = {
      {"item type 9", d.app, dispid::kCreateItem, K::kMethod, {std::int32_t{9}}, AutomationError::Code::kBadArgument},
      {"namespace other than MAPI", d.app, dispid::kGetNamespace, K::kMethod, {"OTHER"}, AutomationError::Code::kBadArgument},
      {"contact field on a mail", mail, dispid::kGivenName, K::kPut, {"A"}, AutomationError::Code::kUnknownMember},
      {"task field on a contact", contact, dispid::kTaskDateCompleted, K::kPut, {Variant::Date(40000.0)}, AutomationError::Code::kUnknownMember},
      {"number into a text field", contact, dispid::kGivenName, K::kPut, {std::int32_t{3}}, AutomationError::Code::kBadArgument},
      {"gender out of range", contact, dispid::kGender, K::kPut, {std::int32_t{70000}}, AutomationError::Code::kBadArgument},
      {"move to no folder", mail, dispid::kMove, K::kMethod, {mail}, AutomationError::Code::kBadArgument},
      {"move without target", mail, dispid::kMove, K::kMethod, {}, AutomationError::Code::kBadArgument},
      {"close mode 7", mail, dispid::kClose, K::kMethod, {std::int32_t{7}}, AutomationError::Code::kBadArgument},
      {"change after move", stored, dispid::kSubject, K::kPut, {"late"}, AutomationError::Code::kFailed},
      {"save after move", stored, dispid::kSave, K::kMethod, {}, AutomationError::Code::kFailed},
      {"second move", stored, dispid::kMove, K::kMethod, {folder}, AutomationError::Code::kFailed},
      {"delete a stored item", stored, dispid::kDelete, K::kMethod, {}, AutomationError::Code::kFailed},
      {"use a deleted item", deleted, dispid::kSave, K::kMethod, {}, AutomationError::Code::kFailed},
      {"copy a deleted item", deleted, dispid::kCopy, K::kMethod, {}, AutomationError::Code::kFailed},
      {"unknown entry id", d.ns, dispid::kGetItemFromID, K::kMethod, {"00112233", Variant()}, AutomationError::Code::kFailed},
      {"import without item", d.safe, dispid::kImport, K::kMethod, {"/nonexistent", kImportRfc822}, AutomationError::Code::kFailed},
  };
  for (const auto& t : cases) {
    try {
      t.object->invoke(t.member, t.kind, Arguments(t.args.data(), t.args.size()));
      ADD_FAILURE() << t.what << ": no error";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.code(), t.code) << t.what << ": " << e.what();
    }
  }
}

TEST_F(StoreServerTest, TemplateIsFoundByEntryIdAndNeverStored) {
  const std::string path = pst::testing::TempPath("template.pst");
  {
    testing::SaveDriver d(path, "Template");
    const DispatchPtr folder = d.Folder({{"Inbox", "IPF.Post"}});
    const DispatchPtr t = d.CreateItem(kItemNote);
    invoke(t, dispid::kSave, K::kMethod);
    const std::string id = *get(t, dispid::kEntryID).string_value();
    EXPECT_EQ(id.size(), 48u);
    const DispatchPtr again = invoke(d.ns, dispid::kGetItemFromID, K::kMethod, {id, Variant()}).dispatch_value();
    put(again, dispid::kMessageClass, "IPM.Note");
    EXPECT_EQ(*get(t, dispid::kMessageClass).string_value(), "IPM.Note");  // one item, two handles
    const DispatchPtr copy = invoke(t, dispid::kCopy, K::kMethod).dispatch_value();
    put(copy, dispid::kSubject, "the copy");
    EXPECT_EQ(*get(t, dispid::kSubject).string_value(), "");
    invoke(copy, dispid::kMove, K::kMethod, {folder});
    // Once stored, an item's entry id is the store's, and finds it while it is held.
    const std::string stored_id = *get(copy, dispid::kEntryID).string_value();
    EXPECT_NE(stored_id, id);
    const DispatchPtr found = invoke(d.ns, dispid::kGetItemFromID, K::kMethod, {stored_id, Variant()}).dispatch_value();
    EXPECT_EQ(*get(found, dispid::kSubject).string_value(), "the copy");
    invoke(t, dispid::kDelete, K::kMethod);
    EXPECT_THROW(invoke(d.ns, dispid::kGetItemFromID, K::kMethod, {id, Variant()}), AutomationError);
  }
  close_store_files();
  const auto store = ReadBack(path);
  EXPECT_EQ(store.message_nodes, 1u);
  ASSERT_TRUE(store.subtree.Child("Inbox"));
  EXPECT_TRUE(store.subtree.Child("Inbox")->Message("the copy"));
}

TEST_F(StoreServerTest, CopyOfAStoredItemIsWrittenWhereItIsSaved) {
  const std::string path = pst::testing::TempPath("copy.pst");
  {
    testing::SaveDriver d(path, "Copy");
    const DispatchPtr a = d.Folder({{"A", "IPF.Post"}});
    const DispatchPtr b = d.Folder({{"B", "IPF.Post"}});
    const DispatchPtr item = d.CreateItem(kItemJournal);
    put(item, dispid::kSubject, "orig");
    invoke(item, dispid::kMove, K::kMethod, {a});
    const DispatchPtr saved = invoke(item, dispid::kCopy, K::kMethod).dispatch_value();
    put(saved, dispid::kSubject, "saved copy");
    invoke(saved, dispid::kSave, K::kMethod);  // in A, like its original
    const DispatchPtr moved = invoke(item, dispid::kCopy, K::kMethod).dispatch_value();
    put(moved, dispid::kSubject, "moved copy");
    invoke(moved, dispid::kMove, K::kMethod, {b});  // only in B
    const DispatchPtr dropped = invoke(item, dispid::kCopy, K::kMethod).dispatch_value();
    put(dropped, dispid::kSubject, "never saved");
  }
  close_store_files();
  const auto store = ReadBack(path);
  EXPECT_EQ(store.message_nodes, 3u);
  EXPECT_TRUE(store.subtree.Child("A")->Message("orig"));
  EXPECT_TRUE(store.subtree.Child("A")->Message("saved copy"));
  EXPECT_TRUE(store.subtree.Child("B")->Message("moved copy"));
  EXPECT_EQ(store.subtree.Child("B")->messages.size(), 1u);
}

// A contact given no subject is titled by its name, as Outlook titles it; its file-as and
// display name follow from the name parts when they were not put.
TEST_F(StoreServerTest, ContactWithoutSubjectOrFullName) {
  const std::string path = pst::testing::TempPath("contact.pst");
  {
    testing::SaveDriver d(path, "Contacts");
    const DispatchPtr f = d.Folder({{"Contacts", "IPF.Contact"}});
    const DispatchPtr c = d.CreateItem(kItemContact);
    put(c, dispid::kGivenName, "Ada");
    put(c, dispid::kSurname, "Lovelace");
    d.SaveAndMove(c, f);
  }
  close_store_files();
  const auto store = ReadBack(path);
  const auto* c = store.subtree.Child("Contacts")->Message("Ada Lovelace");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Text(kPidDisplayName), "Ada Lovelace");
  EXPECT_EQ(NamedText(store, *c, kPsetidAddress, lid::kFileUnder), "Ada Lovelace");
  EXPECT_FALSE(store.Named(*c, named(kPsetidAddress, lid::kEmail1AddressType)));  // no address, no e-mail entry
}

TEST_F(StoreServerTest, PutsReadBackAndEmptyRemoves) {
  register_store_servers();
  const DispatchPtr app = create_object(kOutlookApplication);
  const DispatchPtr c = invoke(app, dispid::kCreateItem, K::kMethod, {kItemContact}).dispatch_value();
  put(c, dispid::kGivenName, "Ivy");
  EXPECT_EQ(*get(c, dispid::kGivenName).string_value(), "Ivy");
  put(c, dispid::kGivenName, Variant());
  EXPECT_EQ(*get(c, dispid::kGivenName).string_value(), "");
  put(c, dispid::kFileAs, "Ivy, Poison");
  EXPECT_EQ(*get(c, dispid::kFileAs).string_value(), "Ivy, Poison");
  const DispatchPtr t = invoke(app, dispid::kCreateItem, K::kMethod, {kItemTask}).dispatch_value();
  put(t, dispid::kTaskDateCompleted, Variant::Date(45383.5));
  EXPECT_EQ(*get(t, dispid::kTaskDateCompleted).date_value(), 45383.5);
  // A date before 1601 is kept as the earliest there is, not refused.
  put(t, dispid::kTaskDateCompleted, Variant::Date(-200000.0));
  EXPECT_EQ(*get(t, dispid::kTaskDateCompleted).date_value(), -109205.0);
  EXPECT_THROW(put(t, dispid::kTaskDateCompleted, Variant::Date(std::nan(""))), AutomationError);
  put(t, dispid::kTaskContactNames, "Jo");
  EXPECT_EQ(*get(t, dispid::kTaskContactNames).string_value(), "Jo");
  EXPECT_TRUE(get(app, dispid::kVersion).string_value()->starts_with("12"));
}

// ---- durability --------------------------------------------------------------------------------

TEST_F(StoreServerTest, ReleasingTheServersCommits) {
  const std::string path = pst::testing::TempPath("release.pst");
  {
    testing::SaveDriver d(path, "Release");
    const DispatchPtr f = d.Folder({{"Notes", "IPF.StickyNote"}});
    const DispatchPtr n = d.CreateItem(kItemNote);
    put(n, dispid::kBody, "kept");
    invoke(n, dispid::kMove, K::kMethod, {f});
  }
  // The store is still open in this process; what a reader sees is what was committed.
  ASSERT_EQ(open_store_files().size(), 1u);
  ExpectClean(path);
  const auto store = ReadBack(path);
  ASSERT_TRUE(store.subtree.Child("Notes"));
  EXPECT_TRUE(store.subtree.Child("Notes")->Message("kept"));
}

// A save killed mid-way leaves a valid file with everything up to its last checkpoint.
TEST_F(StoreServerTest, KilledSaveLeavesTheLastCheckpoint) {
  const std::string path = pst::testing::TempPath("killed.pst");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    try {
      open_store_file(path)->set_checkpoint_rule({10, std::chrono::hours(1)});
      testing::SaveDriver d(path, "Killed");
      const DispatchPtr f = d.Folder({{"Inbox", "IPF.Post"}});
      for (int i = 0; i < 25; ++i) {
        testing::MailInput m;
        m.sender_name = "S";
        m.subject = "m" + std::to_string(i);
        m.body = std::string(3000, 'b');
        d.WriteMail(m, f);
      }
      raise(SIGKILL);  // while the servers are held: nothing is released
    } catch (...) {
    }
    _exit(3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  pst::testing::RemoveScratchOf(child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended on its own: " << status;
  ExpectClean(path);
  const auto store = ReadBack(path);
  ASSERT_TRUE(store.subtree.Child("Inbox"));
  EXPECT_EQ(store.subtree.Child("Inbox")->messages.size(), 20u);  // the checkpoints at 10 and 20
}

}  // namespace
}  // namespace salvora::store

namespace salvora::store {
namespace {

// The store object's accessor: the links to the folders a mailbox fills are set (those of the
// root folder go there, where Outlook reads them), its own identity is refused, and the
// receive folder is the one named, whatever its name.
TEST_F(StoreServerTest, StoreLinksAndReceiveFolderByIdentity) {
  const std::string path = pst::testing::TempPath("store-links.pst");
  {
    testing::SaveDriver d(path, "Links");
    const DispatchPtr calendar =
        invoke(d.root_folders, dispid::kAddFolder, K::kMethod, {"Kalender", "IPF.Appointment"}).dispatch_value();
    const DispatchPtr inbox = invoke(d.root_folders, dispid::kAddFolder, K::kMethod, {"受信トレイ", "IPF.Note"}).dispatch_value();
    const DispatchPtr store = get(inbox, dispid::kStore).dispatch_value();
    const DispatchPtr accessor = get(store, dispid::kPropertyAccessor).dispatch_value();
    const std::string id_hex = *get(calendar, dispid::kEntryID).string_value();
    std::vector<std::uint8_t> id;
    for (std::size_t i = 0; i + 1 < id_hex.size(); i += 2) id.push_back(static_cast<std::uint8_t>(std::stoi(id_hex.substr(i, 2), nullptr, 16)));
    const std::string sent = "http://schemas.microsoft.com/mapi/proptag/0x35E40102";
    const std::string appointments = "http://schemas.microsoft.com/mapi/proptag/0x36D00102";
    invoke(accessor, dispid::kSetProperty, K::kMethod, {sent, Variant::Bytes(id)});
    invoke(accessor, dispid::kSetProperty, K::kMethod, {appointments, Variant::Bytes(id)});
    EXPECT_EQ(*invoke(accessor, dispid::kGetProperty, K::kMethod, {sent}).bytes_value(), id);
    EXPECT_THROW(invoke(accessor, dispid::kSetProperty, K::kMethod,
                        {"http://schemas.microsoft.com/mapi/proptag/0x0FF90102", Variant::Bytes(id)}),
                 AutomationError);
    invoke(store, dispid::kSetReceiveFolder, K::kMethod, {Variant(inbox)});
    EXPECT_THROW(invoke(store, dispid::kSetReceiveFolder, K::kMethod, {Variant("Inbox")}), AutomationError);
  }
  close_store_files();
  ExpectClean(path);
  pst::PstFileReader reader([](const std::string&) {});
  ASSERT_TRUE(reader.Open(path));
  reader.LoadTrees();
  const auto props = [&](Nid nid) { return *reader.ReadPc(*reader.Node(nid)); };
  const auto calendar_nid = ReadBack(path).subtree.Child("Kalender")->nid;
  const auto names = [&](const pst::PropertyList& list, std::uint16_t id) {
    const pst::Property* p = pst::find_prop(list, id);
    return p && p->data.size() == 24 ? EntryId::Parse(p->data)->nid.value : 0u;
  };
  EXPECT_EQ(names(props(kNidMessageStore), 0x35E4), calendar_nid);
  EXPECT_EQ(names(props(kNidRootFolder), 0x36D0), calendar_nid);
  const auto receive = reader.ReadTc(*reader.Node(kNidReceiveFolderTable));
  ASSERT_TRUE(receive && receive->rows.size() == 1);
  EXPECT_EQ(static_cast<std::uint32_t>(pst::find_prop(receive->rows[0].cells, kPidReceiveFolderNid)->AsInt()),
            ReadBack(path).subtree.Child("受信トレイ")->nid);
}

}  // namespace
}  // namespace salvora::store
