// The save pass over real files, writing into the fake store: counters, published values,
// folder choice, stop, and messages attached to messages.
#include <algorithm>
#include <filesystem>

#include "automation/member_ids.h"
#include "support/run_program.h"
#include "support/source_damage.h"
#include "writer/save_pass.h"
#include "writer/writer_fixture.h"

namespace salvora {
namespace {

using testing::FakeFolder;
using testing::FakeItem;
using testing::TestTempDir;
using testing::WriterTest;

class RecordingObserver : public SaveObserver {
 public:
  void Message(std::string_view text) override { messages.emplace_back(text); }
  void Completed() override { ++completed; }
  std::vector<std::string> messages;
  int completed = 0;
};

class SavePass : public WriterTest {
 protected:
  SaveOptions Sample() {
    SaveOptions o;
    o.source_path = testing::SourceDir() + "/samples/sample.ost";
    o.select_all = true;
    o.destination = TestTempDir() + "/save";
    o.write_log = false;
    o.writer = Options();
    return o;
  }
  SaveOutcome Run(const SaveOptions& o) { return RunSavePass(o, control, observer, progress); }
  // Every folder of another source, as Sample() saves the bundled one.
  SaveOutcome RunOn(const std::string& source) {
    SaveOptions o = Sample();
    o.source_path = source;
    return Run(o);
  }

  PassControl control;
  RecordingObserver observer;
  SaveProgress progress;
};

TEST_F(SavePass, BundledSampleEveryFolder) {
  const SaveOutcome out = Run(Sample());
  ASSERT_EQ(out.status, SaveStatus::kCompleted) << out.error;
  EXPECT_EQ(observer.completed, 1);
  EXPECT_TRUE(progress.close_request.load());
  EXPECT_TRUE(control.StopRequested());
  EXPECT_EQ(progress.items_saved.load(), 241);
  EXPECT_GE(progress.items_to_save.load() + 3, progress.items_saved.load());
  // The 8 notes and the 6 meeting requests and responses, which travel as mail.
  EXPECT_EQ(progress.counter(SaveCounter::kMails), 14);
  EXPECT_EQ(progress.counter(SaveCounter::kInbox), 10);
  EXPECT_EQ(progress.counter(SaveCounter::kSyncIssues), 1);
  EXPECT_EQ(progress.counter(SaveCounter::kCalendar), 169);
  EXPECT_EQ(progress.store_errors(), 0) << progress.first_store_error();
  EXPECT_EQ(progress.store_path(), TestTempDir() + "/save/Salvora_Tools_Personal_Folder6-1-2008 9-5.pst");
  ASSERT_TRUE(store.folder("Inbox"));
  EXPECT_EQ(store.folder("Inbox")->folder_class, "IPF.Post");
  EXPECT_EQ(store.folder("Inbox")->items.size(), 10u);
  std::size_t meeting_requests = 0;
  for (auto& item : store.folder("Inbox")->items) {
    const auto it = item->props.find(dispid::kMessageClass);
    if (it != item->props.end() && it->second.string_value() &&
        *it->second.string_value() == "IPM.Schedule.Meeting.Request") {
      ++meeting_requests;
    }
  }
  EXPECT_EQ(meeting_requests, 2u);  // kept as what they are
  EXPECT_EQ(store.folder("Calendar")->folder_class, "IPF.Appointment");
  EXPECT_EQ(store.folder("Calendar")->items.size(), 9u);
  EXPECT_EQ(store.folder("Calendar/United States holidays")->items.size(), 160u);
  EXPECT_EQ(store.folder("Contacts/Companies")->folder_class, "IPF.Contact");
  // Every folder is made, with its own class, and takes its hidden items and its properties.
  ASSERT_TRUE(store.folder("Quick Step Settings"));
  EXPECT_EQ(store.folder("Quick Step Settings")->folder_class, "IPF.Configuration");
  std::size_t hidden = 0;
  for (const auto& item : store.stored_items()) hidden += item->hidden_in ? 1 : 0;
  EXPECT_GT(hidden, 0u);
  EXPECT_FALSE(store.folder("Calendar")->accessed->empty());
  // The last checked folder, and the text of the counter moved last.
  EXPECT_FALSE(progress.folder_name().empty());
  EXPECT_FALSE(progress.count_text().empty());
  // Attachments of the mails arrive with their names and bytes.
  std::size_t attachments = 0;
  for (auto& item : store.folder("Inbox")->items) attachments += item->attachments.size();
  EXPECT_EQ(attachments, 22u);
}

TEST_F(SavePass, OnlyTheInboxChosenStillWritesWhatOtherFoldersYield) {
  SaveOptions o = Sample();
  o.select_all = false;
  o.selected_folders = {"Personal Folders\\Inbox\\"};
  ASSERT_EQ(Run(o).status, SaveStatus::kCompleted);
  EXPECT_EQ(store.folder("Inbox")->items.size(), 10u);
  // The sample holds no contact items (its meeting requests with attachments are mail): no
  // contacts folder is made when it is not chosen.
  EXPECT_FALSE(store.folder("Contacts"));
  // An appointment's record names no folder class: the unchosen Calendar is not made for the
  // items directly in it ...
  // ... but on the way to a subfolder's items each folder is judged by its own name, so the
  // Calendar is made then, and the subfolder for its items, as a calendar too.
  ASSERT_TRUE(store.folder("Calendar"));
  EXPECT_EQ(store.folder("Calendar")->folder_class, "IPF.Appointment");
  ASSERT_TRUE(store.folder("Calendar/United States holidays"));
  EXPECT_EQ(store.folder("Calendar/United States holidays")->folder_class, "IPF.Appointment");
  EXPECT_EQ(store.folder("Calendar/United States holidays")->items.size(), 160u);
  EXPECT_EQ(progress.counter(SaveCounter::kCalendar), 169);  // counted all the same
}

// Issue 7, mend 10, through the pass: a chosen folder below an unchosen one gets its items.
TEST_F(SavePass, NestedChosenFolderBelowAnUnchosenParent) {
  SaveOptions o = Sample();
  o.select_all = false;
  o.selected_folders = {"Personal Folders\\Calendar\\United States holidays\\"};
  ASSERT_EQ(Run(o).status, SaveStatus::kCompleted);
  ASSERT_TRUE(store.folder("Calendar/United States holidays"));
  EXPECT_EQ(store.folder("Calendar")->folder_class, "IPF.Appointment");
  EXPECT_EQ(store.folder("Calendar/United States holidays")->items.size(), 160u);
}

// A store that fills up part way: every item the store does not hold is counted once as not
// written, whichever item kind met the full disk first and whether or not that ended the walk,
// and the store's own reason is the one kept.
TEST_F(SavePass, FullStoreCountsEveryItemItLacks) {
  ASSERT_EQ(Run(Sample()).status, SaveStatus::kCompleted);
  const std::size_t whole = store.stored_items().size();
  ASSERT_EQ(progress.store_errors(), 0);
  for (std::size_t room : {std::size_t{0}, std::size_t{5}, std::size_t{13}, std::size_t{100}, whole - 1}) {
    const std::size_t before = store.stored_items().size();
    store.full = false;
    store.on_move = [&] {
      if (store.stored_items().size() - before == room) store.full = true;
    };
    store.full = room == 0;
    WriterProcessState state_of_run;
    SaveOptions o = Sample();
    o.writer.state = &state_of_run;
    PassControl run_control;
    SaveProgress run_progress;
    const SaveOutcome out = RunSavePass(o, run_control, observer, run_progress);
    EXPECT_EQ(out.status, SaveStatus::kCompleted) << room;
    const std::size_t written = store.stored_items().size() - before;
    EXPECT_EQ(written, room);
    EXPECT_EQ(static_cast<std::size_t>(run_progress.store_errors()), whole - written) << "room for " << room;
    EXPECT_NE(run_progress.first_store_error().find("the disk is full"), std::string::npos)
        << run_progress.first_store_error();
  }
  store.on_move = nullptr;
  store.full = false;
}

TEST_F(SavePass, StopBeforeAndDuringTheWalk) {
  control.RequestStop();
  EXPECT_EQ(Run(Sample()).status, SaveStatus::kStopped);
  EXPECT_TRUE(store.created.empty());
  control.ClearStop();

  int moves = 0;
  store.on_move = [&] {
    if (++moves == 20) control.RequestStop();
  };
  EXPECT_EQ(Run(Sample()).status, SaveStatus::kStopped);
  EXPECT_EQ(observer.completed, 0);
  EXPECT_FALSE(progress.close_request.load());
  EXPECT_EQ(store.stored_items().size(), 20u);
}

TEST_F(SavePass, UnreadableSourceAndUnusableStore) {
  SaveOptions o = Sample();
  o.source_path = TestTempDir() + "/no-such.ost";
  EXPECT_EQ(Run(o).status, SaveStatus::kCannotReadSource);
  EXPECT_EQ(observer.messages, std::vector<std::string>{std::string(kMsgCannotReadOst)});

  ObjectFactory empty;
  o = Sample();
  o.writer.factory = &empty;
  observer.messages.clear();
  EXPECT_EQ(Run(o).status, SaveStatus::kTargetUnavailable);
  EXPECT_EQ(observer.messages, std::vector<std::string>{std::string(kMsgOutlookNotConfigured)});
}

const FakeItem* attached_item(const FakeItem& item) {
  for (const auto& a : item.attachments) {
    if (a.item) return a.item.get();
  }
  return nullptr;
}

// Issue 7, mend 7: an attached message stays a message, and so does a message attached to it.
TEST_F(SavePass, AttachedMessagesStayMessagesAtEveryDepth) {
  const std::string corpus = testing::CorpusDir();
  if (corpus.empty() || !std::filesystem::exists(corpus + "/hht-msg-in-msg-in-msg.pst")) {
    GTEST_SKIP() << "corpus absent; skipped";
  }
  SaveOptions o = Sample();
  o.source_path = corpus + "/hht-msg-in-msg-in-msg.pst";
  ASSERT_EQ(Run(o).status, SaveStatus::kCompleted);
  auto stored = store.stored_items();
  ASSERT_EQ(stored.size(), 1u);
  const FakeItem& outer = *stored[0];
  ASSERT_EQ(outer.attachments.size(), 2u);
  const auto& first = outer.attachments[0].item ? outer.attachments[0] : outer.attachments[1];
  ASSERT_TRUE(first.item);
  EXPECT_EQ(first.type, Variant(kAttachEmbeddedItem));
  EXPECT_EQ(*first.display_name.string_value(), "I have attachments!");
  const FakeItem* inner = first.item.get();
  EXPECT_EQ(inner->text(dispid::kSubject), "I have attachments!");
  EXPECT_EQ(inner->folder, nullptr);  // only inside its mail
  EXPECT_FALSE(inner->imported_header.empty());
  const FakeItem* innermost = attached_item(*inner);
  ASSERT_TRUE(innermost) << "the message attached to the attached message";
  EXPECT_FALSE(innermost->text(dispid::kSubject).empty());
  // Plain file attachments inside are files again, not object bytes.
  std::size_t files = 0;
  for (const auto* m : {&outer, inner, innermost}) {
    for (const auto& a : m->attachments) files += a.item ? 0 : 1;
  }
  EXPECT_GE(files, 2u);
}

// Items written field by field keep their attachments as mail does: a contact its picture,
// an appointment the messages attached to it.
TEST_F(SavePass, ContactsAndAppointmentsKeepTheirAttachments) {
  const std::string corpus = testing::CorpusDir();
  if (corpus.empty() || !std::filesystem::exists(corpus + "/fairport-items.pst")) GTEST_SKIP() << "corpus absent; skipped";
  const auto items_of_type = [&](std::int32_t type) {
    std::vector<const FakeItem*> out;
    for (const auto& item : store.stored_items())
      if (item->type_ == type) out.push_back(item.get());
    return out;
  };
  ASSERT_EQ(RunOn(corpus + "/fairport-items.pst").status, SaveStatus::kCompleted);
  std::size_t pictures = 0;
  for (const FakeItem* contact : items_of_type(kItemContact))
    for (const auto& a : contact->attachments) pictures += a.bytes.size() == 25401 && !a.item ? 1 : 0;
  EXPECT_EQ(pictures, 1u);

  const auto attached_to_appointments = [&] {
    std::size_t n = 0;
    for (const FakeItem* appointment : items_of_type(kItemAppointment))
      for (const auto& a : appointment->attachments) n += a.item ? 1 : 0;
    return n;
  };
  const std::size_t before = attached_to_appointments();
  control.ClearStop();
  ASSERT_EQ(RunOn(corpus + "/jlp-dist-list.pst").status, SaveStatus::kCompleted);
  EXPECT_EQ(attached_to_appointments() - before, 2u);
}

// A message and a folder whose objects cannot be read are named; what the folder held is saved
// under Recovered Items, and everything else as usual.
TEST_F(SavePass, UnreadableObjectsAreNamed) {
  const std::string path = TestTempDir() + "/damaged.ost";
  const auto damaged = testing::DamageMessageAndFolder(testing::SourceDir() + "/samples/sample.ost", path);
  ASSERT_EQ(RunOn(path).status, SaveStatus::kCompleted);
  const auto lines = progress.unreadable();
  ASSERT_EQ(progress.unreadable_count(), 2) << ::testing::PrintToString(lines);
  const auto has = [&](const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(has("item " + std::to_string(damaged.message.value) + " could not be read"));
  EXPECT_TRUE(has("folder " + std::to_string(damaged.folder.value) +
                  " could not be read; what it held is put under Recovered Items"));
  EXPECT_GT(store.stored_items().size(), 100u);
  const FakeFolder* recovered = store.folder("Recovered Items");
  ASSERT_NE(recovered, nullptr);
  EXPECT_EQ(recovered->items.size(), damaged.folder_items);
}

// A block whose checksum fails is still used (its bytes may be all there is), and the item it
// belongs to is named as damaged.
TEST_F(SavePass, DamagedBlocksAreUsedAndNamed) {
  const std::string path = TestTempDir() + "/bad-checksum.ost";
  const Nid message = testing::BreakChecksumOfOneMessage(testing::SourceDir() + "/samples/sample.ost", path);
  ASSERT_EQ(RunOn(path).status, SaveStatus::kCompleted);
  EXPECT_EQ(progress.items_saved.load(), 241);
  EXPECT_EQ(progress.counter(SaveCounter::kCalendar) + progress.counter(SaveCounter::kMails), 169 + 14);
  ASSERT_EQ(progress.unreadable_count(), 1) << ::testing::PrintToString(progress.unreadable());
  EXPECT_NE(progress.unreadable()[0].find("item " + std::to_string(message.value) + ": part of its data is damaged"),
            std::string::npos)
      << progress.unreadable()[0];
}

}  // namespace
}  // namespace salvora
