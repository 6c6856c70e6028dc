// Opening the target store, the folder class rules, and GetOrCreateFolder.
#include <filesystem>
#include <fstream>

#include "automation/member_ids.h"
#include "writer/writer_fixture.h"

namespace salvora {
namespace {

using testing::FolderRecord;
using testing::MailRecord;
using testing::TestTempDir;
using testing::WriterTest;

struct ClassCase {
  const char* label;
  std::optional<std::string> name;
  std::optional<std::string> cls;
  bool counts_only;
  std::string path;
  std::string expected;
};

TEST(FolderClassRules, FirstMatchingRuleDecides) {
  const ClassCase cases[] = {
      {"Inbox by name despite its class", "Inbox", "IPF.Note", false, "Personal Folders\\Inbox\\", "IPF.Post"},
      {"conflict folders", "Conflicts", "IPF.Contact", false, "Personal Folders\\Sync Issues\\Conflicts\\", "IPF.Post"},
      {"a mail folder's class", "Projects", "IPF.Note", false, "Personal Folders\\Projects\\", "IPF.Post"},
      {"bare folder", std::nullopt, std::nullopt, true, "Personal Folders\\X\\", "IPF.Post"},
      {"well-known mail names", "Junk E-mail", "IPF.Other", false, "Personal Folders\\Junk E-mail\\", "IPF.Post"},
      {"post class needs a name", "Board", "IPM.Post", false, "Personal Folders\\Board\\", "IPF.Post"},
      {"post class without a name", std::nullopt, "IPM.Post", false, "Personal Folders\\Board\\", "IPF.Note"},
      {"calendar by class", "Meetings", "IPF.Appointment", false, "Personal Folders\\Meetings\\", "IPF.Appointment"},
      {"calendar by name", "Calendar", "IPF.Whatever", false, "Personal Folders\\Calendar\\", "IPF.Appointment"},
      {"anything below Contacts", "Companies", "IPF.Contact.Company", false, "Personal Folders\\Contacts\\Companies\\", "IPF.Contact"},
      {"journal", "Log", "IPF.Journal", false, "Personal Folders\\Log\\", "IPF.Journal"},
      {"notes", "Notes", std::nullopt, false, "Personal Folders\\Notes\\", "IPF.StickyNote"},
      {"tasks", "To do", "IPF.Task", false, "Personal Folders\\To do\\", "IPF.Task"},
      {"names compare with case", "inbox", "IPF.Configuration", false, "Personal Folders\\inbox\\", "IPF.Configuration"},
      {"classes compare exactly", "RSS Feeds", "IPF.Note.OutlookHomepage", false, "Personal Folders\\RSS Feeds\\", "IPF.Note.OutlookHomepage"},
      {"any other folder keeps its own class", "Quick Step Settings", "IPF.Configuration", false, "Personal Folders\\Quick Step Settings\\", "IPF.Configuration"},
      {"a folder without a class is a mail folder", "Odd", std::nullopt, false, "Personal Folders\\Odd\\", "IPF.Note"},
  };
  for (const auto& c : cases) {
    ItemRecord r = FolderRecord(c.name, c.cls);
    if (!c.counts_only) r.message.emplace();  // more than its counts: not a bare folder
    EXPECT_EQ(folder_class_for(r, c.path), c.expected) << c.label;
  }
  // An item record: its folder holds items of its kind.
  EXPECT_EQ(folder_class_for(MailRecord("x"), "Personal Folders\\Inbox\\Projects\\"), "IPF.Note");
  ItemRecord appointment = MailRecord("x");
  appointment.item_class = "IPM.Appointment";
  EXPECT_EQ(folder_class_for(appointment, "Personal Folders\\Calendar\\Holidays\\"), "IPF.Appointment");
  // A folder on the way is judged by its own name.
  EXPECT_EQ(folder_class_for(MailRecord("x"), "Personal Folders\\Inbox\\", std::string_view("Inbox")), "IPF.Post");
}

class FolderCreation : public WriterTest {};

TEST_F(FolderCreation, OpensATimeStampedStoreAndNamesItsRoot) {
  auto& w = Open();
  ASSERT_EQ(store.added_store_paths.size(), 1u);
  EXPECT_EQ(store.added_store_paths[0], TestTempDir() + "/dest/Salvora_Tools_Personal_Folder6-1-2008 9-5.pst");
  EXPECT_EQ(store.root->name, "Salvora_Tools_Personal_Folder6-1-2008 9-5");
  EXPECT_EQ(store.root->description, store.root->name);
  EXPECT_EQ(w.store_path(), store.added_store_paths[0]);
  EXPECT_EQ(w.version(), "12.0.0.4518");
}

TEST_F(FolderCreation, LaterPassesAddToTheFirstStoreOnlyInTheSameFolder) {
  USave_to_PST_Format first(Options());
  ASSERT_EQ(first.OpenTargetStore("", TestTempDir() + "/out/"), 0);
  const std::string first_path = TestTempDir() + "/out/Salvora_Tools_Personal_Folder6-1-2008 9-5.pst";
  EXPECT_EQ(store.added_store_paths.back(), first_path);
  auto later = Options();
  later.time_stamp = [] { return std::string("7-1-2008 10-0"); };
  USave_to_PST_Format same_folder(later);
  ASSERT_EQ(same_folder.OpenTargetStore(TestTempDir() + "/out", TestTempDir() + "/out/"), 0);
  EXPECT_EQ(store.added_store_paths.back(), first_path);
  EXPECT_EQ(store.root->name, "Salvora_Tools_Personal_Folder7-1-2008 10-0");
  // Another destination is honoured: a store of its own there.
  USave_to_PST_Format elsewhere(later);
  ASSERT_EQ(elsewhere.OpenTargetStore(TestTempDir() + "/elsewhere/", TestTempDir() + "/out/"), 0);
  EXPECT_EQ(store.added_store_paths.back(), TestTempDir() + "/elsewhere/Salvora_Tools_Personal_Folder7-1-2008 10-0.pst");
  std::filesystem::remove_all(TestTempDir() + "/out");
  std::filesystem::remove_all(TestTempDir() + "/elsewhere");
}

TEST_F(FolderCreation, RetriesOnceWithTheFixedNameInTheDestination) {
  store.refuse_add_store_once = true;
  auto& w = Open();
  EXPECT_EQ(w.store_path(), TestTempDir() + "/dest/Salvora.pst");
  EXPECT_EQ(state.store_path, "") << "the fixed name does not become the recovery's store";
  std::filesystem::remove_all(TestTempDir() + "/dest");
}

// A name another run holds (its PST, the scratch file it is writing, or a link someone planted
// at that scratch name) is passed over: the new store never adds to another run's.
TEST_F(FolderCreation, TakenNamesGetTheNextNumber) {
  namespace fs = std::filesystem;
  const std::string dir = TestTempDir() + "/taken/";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string name = dir + "Salvora_Tools_Personal_Folder6-1-2008 9-5";
  std::ofstream(name + ".pst") << "earlier run";
  std::ofstream(name + " (2).pst.partial") << "a run still writing";
  fs::create_symlink(dir + "nowhere", name + " (3).pst.partial");
  USave_to_PST_Format w(Options());
  ASSERT_EQ(w.OpenTargetStore(dir, dir), 0);
  EXPECT_EQ(w.store_path(), name + " (4).pst");
  EXPECT_EQ(store.added_store_paths, std::vector<std::string>{name + " (4).pst"});
  fs::remove_all(dir);
}

// A store that cannot be added at all leaves no folder made for it.
TEST_F(FolderCreation, FailureLeavesNoFolderBehind) {
  namespace fs = std::filesystem;
  const std::string base = TestTempDir() + "/nothing-left";
  fs::remove_all(base);
  store.refuse_add_store = true;
  USave_to_PST_Format w(Options());
  EXPECT_ANY_THROW(w.OpenTargetStore(base + "/a/b", base + "/Repair/"));
  EXPECT_FALSE(fs::exists(base));
  EXPECT_EQ(store.added_store_paths.size(), 0u);
  EXPECT_EQ(store.count_calls("AddStore"), 2) << "the time-stamped name, then the fixed one";
}

TEST_F(FolderCreation, ServerProblemsAreTheTwoMessages) {
  {
    ObjectFactory empty;
    auto o = Options();
    o.factory = &empty;
    USave_to_PST_Format w(o);
    EXPECT_EQ(w.OpenTargetStore("/tmp", "/tmp/"), 2);
  }
  store.refuse_logon = true;
  USave_to_PST_Format w(Options());
  EXPECT_EQ(w.OpenTargetStore("/tmp", "/tmp/"), 2);
  EXPECT_EQ(messages, (std::vector<std::string>{std::string(kMsgOutlookNotConfigured), std::string(kMsgOutlookNotInstalled)}));
}

TEST_F(FolderCreation, TopPathIsTheRootAndCreatesNothing) {
  auto& w = Open();
  EXPECT_EQ(w.GetOrCreateFolder(nullptr, "Personal Folders\\", FolderRecord("x", "IPF.Note")), store.root);
  EXPECT_EQ(store.count_calls("AddFolder"), 0);
}

TEST_F(FolderCreation, FindsByNameAndCreatesWithTheClassRules) {
  auto& w = Open();
  auto inbox = w.GetOrCreateFolder(nullptr, "Personal Folders\\Inbox\\", FolderRecord("Inbox", "IPF.Note"));
  ASSERT_TRUE(store.folder("Inbox"));
  EXPECT_EQ(inbox.get(), store.folder("Inbox"));
  EXPECT_EQ(store.folder("Inbox")->folder_class, "IPF.Post");
  auto projects = w.GetOrCreateFolder(inbox, "Personal Folders\\Inbox\\Projects\\", FolderRecord("Projects", "IPF.Note"));
  EXPECT_EQ(projects.get(), store.folder("Inbox/Projects"));
  auto meetings = w.GetOrCreateFolder(nullptr, "Personal Folders\\Meetings\\", FolderRecord("Meetings", "IPF.Appointment"));
  EXPECT_EQ(store.folder("Meetings")->folder_class, "IPF.Appointment");
  w.GetOrCreateFolder(nullptr, "Personal Folders\\Contacts\\Companies\\", FolderRecord("Companies", "IPF.Contact.Company"));
  EXPECT_EQ(store.folder("Contacts")->folder_class, "IPF.Contact");
  EXPECT_EQ(store.folder("Contacts/Companies")->folder_class, "IPF.Contact");
  // Found again, not made again.
  const int adds = store.count_calls("AddFolder");
  EXPECT_EQ(w.GetOrCreateFolder(nullptr, "Personal Folders\\Inbox\\Projects\\", MailRecord("m")), projects);
  EXPECT_EQ(store.count_calls("AddFolder"), adds);
}

TEST_F(FolderCreation, EveryFolderIsMadeWithItsOwnClass) {
  auto& w = Open();
  w.GetOrCreateFolder(nullptr, "Personal Folders\\Inbox\\", FolderRecord("Inbox", "IPF.Note"));
  auto f = w.GetOrCreateFolder(nullptr, "Personal Folders\\Inbox\\Settings\\", FolderRecord("Settings", "IPF.Configuration"));
  ASSERT_TRUE(store.folder("Inbox/Settings"));
  EXPECT_EQ(f.get(), store.folder("Inbox/Settings"));
  EXPECT_EQ(store.folder("Inbox/Settings")->folder_class, "IPF.Configuration");
}

TEST_F(FolderCreation, NamesCompareWithCase) {
  auto& w = Open();
  w.GetOrCreateFolder(nullptr, "Personal Folders\\inbox\\", FolderRecord("inbox", "IPF.Note"));
  w.GetOrCreateFolder(nullptr, "Personal Folders\\Inbox\\", FolderRecord("Inbox", "IPF.Note"));
  EXPECT_EQ(store.root->children->folders.size(), 2u);
}

// Issue 7, mend 10: a nested folder whose parents were not chosen gets its whole chain, and its
// items land in it, not in its first missing ancestor.
TEST_F(FolderCreation, CreatesEveryMissingFolderAlongThePath) {
  auto& w = Open();
  auto deep = w.GetOrCreateFolder(nullptr, "Personal Folders\\Inbox\\A\\B\\", FolderRecord("B", "IPF.Note"));
  ASSERT_TRUE(store.folder("Inbox/A/B"));
  EXPECT_EQ(deep.get(), store.folder("Inbox/A/B"));
  EXPECT_EQ(store.folder("Inbox")->folder_class, "IPF.Post");
  EXPECT_EQ(store.folder("Inbox/A")->folder_class, "IPF.Post");
  EXPECT_EQ(w.GetOrCreateFolder(nullptr, "Personal Folders\\Inbox\\A\\B\\", MailRecord("in B")), deep);
  // Each ancestor is judged by its own name: Calendar stays a calendar below which any
  // appointment folder is made.
  w.GetOrCreateFolder(nullptr, "Personal Folders\\Calendar\\Holidays\\", FolderRecord("Holidays", "IPF.Appointment"));
  EXPECT_EQ(store.folder("Calendar")->folder_class, "IPF.Appointment");
  EXPECT_EQ(store.folder("Calendar/Holidays")->folder_class, "IPF.Appointment");
}

// Issue 7, mend 4: the folder Add hands back is used as it is; the pause and the look-up by
// position are only for a store that hands back nothing.
TEST_F(FolderCreation, UsesTheFolderAddReturnsAndFallsBackToThePositionOtherwise) {
  auto& w = Open();
  for (int i = 0; i < 20; ++i) {
    w.GetOrCreateFolder(nullptr, "Personal Folders\\F" + std::to_string(i) + "\\", FolderRecord("x", "IPF.Note"));
  }
  EXPECT_EQ(store.root->children->folders.size(), 20u);
  store.add_returns_folder = false;
  auto f = w.GetOrCreateFolder(nullptr, "Personal Folders\\Late\\", FolderRecord("Late", "IPF.Note"));
  EXPECT_EQ(f.get(), store.folder("Late"));
}

}  // namespace
}  // namespace salvora
