// The analysis walk over stores written in code: which list and counter every item lands in,
// and what stop and pause do.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "engine/analysis_pass.h"
#include "engine/item_reload.h"
#include "engine/object_loader.h"
#include "format/crc.h"
#include "pststore/pst/pst_writer.h"
#include "support/ndb_builder.h"
#include "support/run_program.h"
#include "support/source_damage.h"
#include "support/store_damage.h"

namespace salvora {
namespace {

using pst::MessageSpec;
using pst::Property;
using pst::PstWriter;

MessageSpec message(std::string_view cls, std::string_view subject) {
  MessageSpec m;
  m.props.push_back(Property::String(kPidMessageClass, cls));
  m.props.push_back(Property::String(kPidSubject, subject));
  m.props.push_back(Property::String(kPidSenderName, "Ann"));
  return m;
}

struct Recorder : AnalysisObserver {
  std::vector<std::string> folders;
  std::vector<std::string> messages;
  int completed = 0;
  std::int64_t range = -100;
  void FolderFound(const salvora::FolderFound& f) override { folders.push_back(f.path); }
  void ProgressRange(std::int64_t m) override { range = m; }
  void Message(std::string_view text, bool) override { messages.emplace_back(text); }
  void Completed() override { ++completed; }
};

struct Run {
  AnalysisStatus status;
  AnalysisResult result;
  Recorder observer;
};

std::unique_ptr<Run> analyse(const std::string& path, PassControl* control = nullptr, int threads = 2) {
  auto run = std::make_unique<Run>();
  PassControl own;
  AnalysisOptions options;
  options.source_path = path;
  options.write_log = false;
  options.threads = threads;
  run->status = RunAnalysis(options, control ? *control : own, run->observer, run->result);
  return run;
}

std::size_t items_in(const AnalysisResult& r, const std::string& path) {
  for (const auto& e : r.mail_folders.entries()) {
    if (e.path == path) return e.items.size();
  }
  return 9999;
}

TEST(AnalysisPass, EmptySubtreeCompletesWithZeroCounters) {
  const std::string path = testing::TestTempDir() + "/empty-subtree.pst";
  PstWriter::Create(path, {})->Close();
  auto run = analyse(path);
  EXPECT_EQ(run->status, AnalysisStatus::kCompleted);
  EXPECT_EQ(run->observer.completed, 1);
  for (int c : run->result.counters) EXPECT_EQ(c, 0);
  // The root and the "Deleted Items" every new store has, both empty.
  ASSERT_EQ(run->result.mail_folders.entries().size(), 2u);
  EXPECT_EQ(run->result.mail_folders.entries()[0].path, "Personal Folders\\");
  for (const auto& e : run->result.mail_folders.entries()) EXPECT_TRUE(e.items.empty());
}

TEST(AnalysisPass, ItemsLandWhereTheirKindAndFolderSay) {
  const std::string path = testing::TestTempDir() + "/kinds.pst";
  {
    auto w = PstWriter::Create(path, {});
    const auto top = w->ipm_subtree();
    const auto inbox = w->AddFolder(top, "Inbox", "IPF.Note");
    const auto archive = w->AddFolder(inbox, "Archive", "IPF.Note");
    const auto calendar = w->AddFolder(top, "Calendar", "IPF.Appointment");
    const auto junk = w->AddFolder(top, "Junk E-mail", "IPF.Note");
    w->AddMessage(inbox, message("IPM.Note", "hello"));
    w->AddMessage(archive, message("IPM.Note", "old news"));     // counts towards Inbox
    w->AddMessage(calendar, message("IPM.Note", "stray mail"));  // listed in the last entry, counted in Calendar
    w->AddMessage(junk, message("IPM.Task", "a task"));
    w->AddMessage(junk, message("IPM.Taskx", "not a task"));     // exact comparison: mail
    w->AddMessage(junk, message("IPM.StickyNote", "a note"));
    w->AddMessage(calendar, message("IPM.Appointment", "meeting"));
    MessageSpec contact_as_mail = message("IPM.Note", "contact fields, mail class");
    contact_as_mail.props.push_back(Property::String(0x3A16, "ACME"));  // company
    w->AddMessage(junk, contact_as_mail);
    MessageSpec contact = message("IPM.Contact", "Bob");
    contact.props.push_back(Property::String(0x3A16, "ACME"));
    w->AddMessage(w->AddFolder(top, "Contacts", "IPF.Contact"), contact);
    w->Close();
  }
  auto run = analyse(path);
  ASSERT_EQ(run->status, AnalysisStatus::kCompleted);
  const auto& r = run->result;
  // The calendar's mail has no entry of its own: it is filed in the entry created last before it
  // was met, Archive, but counted where it is, in the Calendar. Items count by their folder.
  EXPECT_EQ(r.counter(AnalysisCounter::kInbox), 2);
  EXPECT_EQ(items_in(r, "Personal Folders\\Inbox\\"), 1u);
  EXPECT_EQ(items_in(r, "Personal Folders\\Inbox\\Archive\\"), 2u);
  EXPECT_EQ(r.counter(AnalysisCounter::kTasks), 0);  // the task and the note are Junk's
  EXPECT_EQ(r.tasks.size(), 1u);
  EXPECT_EQ(r.counter(AnalysisCounter::kNotes), 0);
  EXPECT_EQ(r.counter(AnalysisCounter::kCalendar), 2);
  EXPECT_EQ(r.calendar_folder_path, "Personal Folders\\Calendar\\");
  EXPECT_EQ(r.counter(AnalysisCounter::kContacts), 1);
  EXPECT_EQ(r.contacts.size(), 1u);
  // Junk holds the mail that fell through: "IPM.Taskx" and the mail-class contact.
  EXPECT_EQ(items_in(r, "Personal Folders\\Junk E-mail\\"), 2u);
  EXPECT_EQ(r.counter(AnalysisCounter::kJunkEmail), 4);
  std::size_t listed = 0;
  for (const auto& e : r.mail_folders.entries()) listed += e.items.size();
  EXPECT_EQ(listed, 5u);  // hello, old news, stray mail, not a task, contact-as-mail
  ASSERT_EQ(run->observer.folders.size(), 6u);  // with "Deleted Items"
  EXPECT_EQ(run->observer.folders[1], "Personal Folders\\Inbox\\");
  EXPECT_EQ(run->observer.folders[2], "Personal Folders\\Inbox\\Archive\\");
}

TEST(AnalysisPass, StrayMailGoesToTheLastEntryCreatedSoFar) {
  const std::string path = testing::TestTempDir() + "/stray.pst";
  {
    auto w = PstWriter::Create(path, {});
    const auto top = w->ipm_subtree();
    w->AddFolder(top, "Inbox", "IPF.Note");
    const auto calendar = w->AddFolder(top, "Calendar", "IPF.Appointment");
    w->AddFolder(top, "Zed", "IPF.Note");  // walked after the calendar
    w->AddMessage(calendar, message("IPM.Note", "stray"));
    w->Close();
  }
  auto run = analyse(path);
  EXPECT_EQ(items_in(run->result, "Personal Folders\\Inbox\\"), 1u);
  EXPECT_EQ(items_in(run->result, "Personal Folders\\Zed\\"), 0u);
  EXPECT_EQ(run->result.counter(AnalysisCounter::kInbox), 0);  // counted where it is
  EXPECT_EQ(run->result.counter(AnalysisCounter::kCalendar), 1);
}

// Pausing holds the walk at its next poll; a stop while paused ends it without completion.
TEST(AnalysisPass, PauseHoldsAndStopEndsQuietly) {
  const std::string path = testing::TestTempDir() + "/many.pst";
  {
    auto w = PstWriter::Create(path, {});
    const auto inbox = w->AddFolder(w->ipm_subtree(), "Inbox", "IPF.Note");
    for (int i = 0; i < 50; ++i) w->AddMessage(inbox, message("IPM.Note", "m" + std::to_string(i)));
    w->Close();
  }
  struct Pauser : AnalysisObserver {
    PassControl* control = nullptr;
    std::int64_t last = 0;
    void ProgressPosition(std::int64_t p) override {
      last = p;
      if (p == 10) control->Pause();
    }
  };
  PassControl control;
  Pauser observer;
  observer.control = &control;
  AnalysisResult result;
  AnalysisOptions options;
  options.source_path = path;
  options.write_log = false;
  AnalysisStatus status = AnalysisStatus::kCompleted;
  std::thread worker([&] { status = RunAnalysis(options, control, observer, result); });
  // Held at its poll, the worker reports nothing more: what it reported before the hold is
  // read under the control's lock, after the worker took it.
  EXPECT_TRUE(control.WaitUntilHeld());
  EXPECT_EQ(observer.last, 10);
  control.RequestStop();
  worker.join();
  EXPECT_EQ(status, AnalysisStatus::kStopped);
  EXPECT_LT(result.nodes_decoded, 50u);
}

// A folder whose object cannot be read no longer hides what it holds: its messages are listed
// under Recovered Items, and the folder and an unreadable message are named as lost, as convert
// names them.
TEST(AnalysisPass, ContentsOfAnUnreadableFolderAreListedUnderRecoveredItems) {
  const std::string path = testing::TestTempDir() + "/damaged-for-analysis.ost";
  const auto damaged = testing::DamageMessageAndFolder(testing::SourceDir() + "/samples/sample.ost", path);
  auto run = analyse(path);
  ASSERT_EQ(run->status, AnalysisStatus::kCompleted);
  EXPECT_EQ(items_in(run->result, std::string(kRecoveredItemsPath)), damaged.folder_items);
  EXPECT_NE(std::find(run->observer.folders.begin(), run->observer.folders.end(), std::string(kRecoveredItemsPath)),
            run->observer.folders.end());
  ASSERT_EQ(run->result.lost.size(), 2u) << ::testing::PrintToString(run->result.lost);
  EXPECT_NE(run->result.lost[0].find("could not be read"), std::string::npos);
}

// Without its message-store object the store is still read from its usual root, and the lost
// object is named.
TEST(AnalysisPass, UnreadableStoreObjectCostsOnlyItself) {
  const std::string source = testing::SourceDir() + "/samples/sample.ost";
  const std::string path = testing::TestTempDir() + "/no-store-object.ost";
  testing::ByteVector bytes = testing::ReadBytes(source);
  {
    OstContext ctx;
    ASSERT_EQ(OpenStore(ctx, source), 0);
    LoadBlockIndex(ctx);
    LoadNodeIndex(ctx);
    const NodeRecord* store = FindNode(ctx, kNidMessageStore);
    ASSERT_TRUE(store && store->data_block);
    const auto block = FindBlock(ctx, store->data_bid);
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(block->ib), block->cb, 0);
  }
  testing::WriteBytes(path, bytes);
  const auto whole = analyse(source);
  const auto damaged = analyse(path);
  ASSERT_EQ(damaged->status, AnalysisStatus::kCompleted);
  EXPECT_EQ(damaged->result.folders.size(), whole->result.folders.size());
  EXPECT_EQ(items_in(damaged->result, "Personal Folders\\Inbox\\"), items_in(whole->result, "Personal Folders\\Inbox\\"));
  ASSERT_FALSE(damaged->result.lost.empty());
  EXPECT_NE(damaged->result.lost.back().find("message-store object"), std::string::npos);
}

TEST(AnalysisPass, UnusableSourcesGiveTheirMessages) {
  auto missing = analyse(testing::TestTempDir() + "/missing.ost");
  EXPECT_EQ(missing->status, AnalysisStatus::kSourceInUse);
  ASSERT_EQ(missing->observer.messages.size(), 1u);
  EXPECT_EQ(missing->observer.messages[0], "Selected Source File in use.");

  testing::NdbBuilder b(FileLayout::kUnicode);
  b.AddNode(kNidMessageStore, b.AddBlock({1, 2, 3}), Bid(), Nid());  // no heap: no store record
  auto garbage = analyse(b.WriteTemp("no-store.pst"));
  EXPECT_EQ(garbage->status, AnalysisStatus::kCannotSave);
  EXPECT_EQ(garbage->observer.messages.at(0), "Cannot Save File");
}

}  // namespace
}  // namespace salvora

namespace salvora {
namespace {

// The lists keep no bodies; the preview reads them again through the kept indexes.
TEST(AnalysisPass, PreviewReloadsTheBodyByNid) {
  const std::string path = testing::TestTempDir() + "/bodies.pst";
  {
    auto w = PstWriter::Create(path, {});
    const auto inbox = w->AddFolder(w->ipm_subtree(), "Inbox", "IPF.Note");
    MessageSpec m = message("IPM.Note", "with body");
    m.props.push_back(Property::String(kPidBody, std::string(100000, 'b')));
    w->AddMessage(inbox, m);
    w->Close();
  }
  auto run = analyse(path);
  const auto& entries = run->result.mail_folders.entries();
  const MailSummary* mail = nullptr;
  for (const auto& e : entries) {
    if (!e.items.empty()) mail = &e.items.front();
  }
  ASSERT_NE(mail, nullptr);
  EXPECT_EQ(mail->subject, "with body");
  auto record = ReloadItem(run->result.store, mail->nid);
  ASSERT_TRUE(record && record->message && record->message->plain_body);
  EXPECT_EQ(record->message->plain_body->size(), 100000u);
  EXPECT_EQ(ReloadItem(run->result.store, Nid(0x7FFFFFE4)), nullptr);
}

}  // namespace
}  // namespace salvora

namespace salvora {
namespace {

// An attachment's own properties describe the attachment: its display name, or a field that
// would make the item look like a contact, must not reach the item that carries it.
TEST(LoadItemAttachments, AttachmentPropertiesStayWithTheAttachment) {
  const std::string path = testing::TestTempDir() + "/meeting.pst";
  std::uint32_t nid = 0;
  {
    auto w = PstWriter::Create(path, {});
    const auto inbox = w->AddFolder(w->ipm_subtree(), "Inbox", "IPF.Note");
    MessageSpec m = message("IPM.Schedule.Meeting.Request", "planning");
    pst::AttachmentSpec a;
    a.props.push_back(Property::String(kPidDisplayName, "invite.ics"));
    a.props.push_back(Property::String(kPidAttachLongFilename, "invite.ics"));
    a.props.push_back(Property::String(0x3A16, "ACME"));  // a contact field, on the attachment
    a.data = {'B', 'E', 'G', 'I', 'N'};
    m.attachments.push_back(a);
    nid = w->AddMessage(inbox, m);
    w->Close();
  }
  std::unique_ptr<ItemRecord> r;
  {
    OstContext ctx;  // closed before the analysis opens the file again
    ASSERT_EQ(OpenStore(ctx, path), 0);
    LoadBlockIndex(ctx);
    LoadNodeIndex(ctx);
    r = LoadItem(ctx, FindNode(ctx, Nid(nid)));
  }
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->contact.has_value());
  EXPECT_FALSE(r->display_name.has_value());
  ASSERT_EQ(r->attachments.size(), 1u);
  EXPECT_EQ(r->attachments[0].long_file_name, "invite.ics");
  ASSERT_TRUE(r->attachments[0].data.has_value());
  EXPECT_EQ(r->attachments[0].data->size(), 5u);

  auto run = analyse(path);
  EXPECT_EQ(run->result.counter(AnalysisCounter::kContacts), 0);
  EXPECT_EQ(run->result.counter(AnalysisCounter::kInbox), 1);
}

}  // namespace
}  // namespace salvora

namespace salvora {
namespace {

// Retypes a node in every node-index leaf of a Unicode store (its index stays, so the order of
// the entries holds): the node is then missing under its own NID, as after a lost index entry.
void drop_from_node_index(testing::ByteVector& store, Nid nid) {
  constexpr std::size_t kEntry = 32, kCountAt = 488, kCrcAt = 500, kCrcSpan = 496;
  for (std::uint64_t page : testing::IndexPages(store, 0x81, 0)) {
    for (std::size_t i = 0; i < store[page + kCountAt]; ++i) {
      std::uint8_t* e = store.data() + page + i * kEntry;
      if ((e[0] | e[1] << 8 | e[2] << 16 | static_cast<std::uint32_t>(e[3]) << 24) != nid.value) continue;
      e[0] = static_cast<std::uint8_t>((e[0] & ~0x1F) | 0x1F);
      const std::uint32_t crc = ComputeCrc(std::span(store.data() + page, kCrcSpan));
      for (int b = 0; b < 4; ++b) store[page + kCrcAt + b] = static_cast<std::uint8_t>(crc >> (8 * b));
    }
  }
}

// A contents table's rows are compared with the index, in a table whose rows live in the
// heap and in one large enough to keep them in a sub-node.
TEST(AnalysisPass, TableRowsWithoutTheirMessageAreNamed) {
  const std::string path = testing::TestTempDir() + "/rows-without-messages.pst";
  std::vector<Nid> small, large;  // the messages' NIDs
  {
    auto w = PstWriter::Create(path, {});
    const auto top = w->ipm_subtree();
    const auto few = w->AddFolder(top, "Few", "IPF.Note");
    const auto many = w->AddFolder(top, "Many", "IPF.Note");
    for (int i = 0; i < 3; ++i) small.push_back(Nid(w->AddMessage(few, message("IPM.Note", "few " + std::to_string(i)))));
    for (int i = 0; i < 300; ++i) large.push_back(Nid(w->AddMessage(many, message("IPM.Note", "many " + std::to_string(i)))));
    w->Close();
  }
  testing::ByteVector bytes = testing::ReadBytes(path);
  drop_from_node_index(bytes, small[1]);
  drop_from_node_index(bytes, large[250]);
  testing::WriteBytes(path, bytes);

  auto run = analyse(path);
  ASSERT_EQ(run->status, AnalysisStatus::kCompleted);
  std::vector<std::string> named;
  for (const auto& line : run->result.lost) {
    if (line.find("is listed in its contents table but is not in the file's index") != std::string::npos) named.push_back(line);
  }
  ASSERT_EQ(named.size(), 2u) << ::testing::PrintToString(run->result.lost);
  const auto names = [&](Nid nid) {
    return std::any_of(named.begin(), named.end(), [&](const std::string& l) {
      return l.find("message " + std::to_string(nid.value) + " ") != std::string::npos;
    });
  };
  EXPECT_TRUE(names(small[1]));
  EXPECT_TRUE(names(large[250]));
}

// Everything a run gives the user, in the order it gives it.
void expect_same_run(const Run& one, const Run& two) {
  EXPECT_EQ(one.status, two.status);
  const AnalysisResult& a = one.result;
  const AnalysisResult& b = two.result;
  EXPECT_EQ(a.folders, b.folders);
  ASSERT_EQ(a.mail_folders.entries().size(), b.mail_folders.entries().size());
  for (std::size_t i = 0; i < a.mail_folders.entries().size(); ++i) {
    const auto& x = a.mail_folders.entries()[i];
    const auto& y = b.mail_folders.entries()[i];
    EXPECT_EQ(x.path, y.path);
    EXPECT_EQ(x.items, y.items) << x.path;
  }
  EXPECT_EQ(a.tasks, b.tasks);
  EXPECT_EQ(a.notes, b.notes);
  EXPECT_EQ(a.journal, b.journal);
  EXPECT_EQ(a.calendar, b.calendar);
  EXPECT_EQ(a.contacts, b.contacts);
  EXPECT_EQ(a.counters, b.counters);
  EXPECT_EQ(a.nodes_decoded, b.nodes_decoded);
  EXPECT_EQ(a.mail_items_by_folder, b.mail_items_by_folder);
  EXPECT_EQ(a.rebuilt, b.rebuilt);
  EXPECT_EQ(a.lost, b.lost);
  EXPECT_EQ(one.observer.folders, two.observer.folders);
  EXPECT_EQ(one.observer.messages, two.observer.messages);
}

// The second thread loads items while the walk loads others: what the user is shown, damage
// and losses included, must not depend on it. Each source is read several times on two threads,
// so that the threads meet in different places.
TEST(AnalysisPass, TwoThreadsListWhatOneDoes) {
  const std::string sample = testing::SourceDir() + "/samples/sample.ost";
  const std::string dir = testing::TestTempDir();
  std::vector<std::string> sources = {sample};
  // Many items in two folders, beside a subfolder.
  {
    const std::string path = dir + "/many-for-threads.pst";
    auto w = PstWriter::Create(path, {});
    const auto inbox = w->AddFolder(w->ipm_subtree(), "Inbox", "IPF.Note");
    const auto sub = w->AddFolder(inbox, "Sub", "IPF.Note");
    for (int i = 0; i < 300; ++i) {
      w->AddMessage(i % 3 == 0 ? sub : inbox, message(i % 10 == 0 ? "IPM.Task" : "IPM.Note", "m" + std::to_string(i)));
    }
    w->Close();
    sources.push_back(path);
  }
  for (const auto& copy : testing::DamagedCopies(sample, dir, "threads", 1, 8)) sources.push_back(copy);
  for (const auto& path : sources) {
    SCOPED_TRACE(path);
    const auto one = analyse(path, nullptr, 1);
    for (int run = 0; run < 3; ++run) expect_same_run(*one, *analyse(path, nullptr, 2));
  }
}

}  // namespace
}  // namespace salvora
