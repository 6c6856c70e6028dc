// Object loading and the folder hierarchy over real files: the bundled sample (always there)
// and, when present, corpus files with text in several scripts and attachments.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/folder_hierarchy.h"
#include "engine/named_map_loader.h"
#include "engine/object_loader.h"
#include "ndb/index_repair.h"
#include "platform/sha256.h"
#include "support/ndb_builder.h"
#include "support/run_program.h"

namespace salvora {
namespace {

struct Opened {
  OstContext ctx;
};

std::unique_ptr<Opened> open_loaded(const std::string& path) {
  auto o = std::make_unique<Opened>();
  if (OpenStore(o->ctx, path) != 0) return nullptr;
  LoadBlockIndex(o->ctx);
  LoadNodeIndex(o->ctx);
  LoadNamedPropertyMap(o->ctx);
  return o;
}

TEST(FolderPaths, AppendAndRemove) {
  const std::string inbox = append_path_component(kRootFolderPath, "Inbox");
  EXPECT_EQ(inbox, "Personal Folders\\Inbox\\");
  EXPECT_EQ(append_path_component(inbox, "Old"), "Personal Folders\\Inbox\\Old\\");
  EXPECT_EQ(remove_last_path_component("Personal Folders\\Inbox\\Old\\"), "Personal Folders\\Inbox\\");
  EXPECT_EQ(remove_last_path_component(kRootFolderPath), "Personal Folders\\");
  EXPECT_EQ(append_path_component(kRootFolderPath, ""), "Personal Folders\\\\");  // unnamed folder
}

// Both passes count a mail by the well-known folder its folder is, or lies below.
TEST(FolderPaths, CountedMailFolders) {
  const struct {
    const char* path;
    std::optional<std::size_t> folder;
  } cases[] = {
      {"Personal Folders\\Inbox\\", 0},
      {"Personal Folders\\Inbox\\Projects\\", 0},
      {"Personal Folders\\Sent Items\\", 3},
      {"Personal Folders\\Junk E-mail\\", 6},
      {"Personal Folders\\Calendar\\", std::nullopt},
      {"Personal Folders\\inbox\\", std::nullopt},  // the names are compared as they are
      {"Personal Folders\\Inbox Old\\", std::nullopt},  // whole names only
      {"Personal Folders\\Inbox", std::nullopt},
      {"Personal Folders\\Archive\\Inbox\\", std::nullopt},
      {"Inbox\\", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(counted_mail_folder(c.path), c.folder) << c.path;
}

TEST(FolderList, UnknownFolderLandsInTheLastEntry) {
  FolderListOf<int> list;
  EXPECT_EQ(list.FindFolderEntry(Nid(0x8022)), nullptr);
  list.Add(std::string(kRootFolderPath), Nid(0x8022));
  list.Add("Personal Folders\\Inbox\\", Nid(0x8042));
  EXPECT_EQ(list.FindFolderEntry(Nid(0x8022))->path, "Personal Folders\\");
  EXPECT_EQ(list.FindFolderEntry(Nid(0x9999))->path, "Personal Folders\\Inbox\\");
}

TEST(FolderKinds, MailFolderRules) {
  ItemRecord counts_only;
  counts_only.folder_counts = FolderCounts{};
  EXPECT_TRUE(is_mail_folder(counts_only));
  ItemRecord calendar = counts_only;
  calendar.item_class = "IPF.Appointment";
  calendar.kind = ItemKind::kAppointment;
  EXPECT_TRUE(is_folder(calendar));
  EXPECT_FALSE(is_mail_folder(calendar));
  ItemRecord note = counts_only;
  note.item_class = "IPF.Note";
  EXPECT_TRUE(is_mail_folder(note));
  ItemRecord message;
  message.message = MessageFields{};
  EXPECT_FALSE(is_folder(message));
}

// Today's offline stores name no IPM subtree and have no node 0x2142.
TEST(RootFolder, OfflineStoreFindsTheIpmSubtreeByName) {
  auto o = open_loaded(testing::SourceDir() + "/samples/sample.ost");
  ASSERT_TRUE(o);
  auto store = LoadItem(o->ctx, FindNode(o->ctx, kNidMessageStore));
  ASSERT_TRUE(store);
  ASSERT_TRUE(store->store.has_value());
  EXPECT_FALSE(store->store->ipm_subtree_entry_id.has_value());
  NodeRecord* root = FindRootFolder(o->ctx, store.get());
  ASSERT_NE(root, nullptr);
  auto root_record = LoadItem(o->ctx, root);
  ASSERT_TRUE(root_record);
  EXPECT_EQ(root_record->display_name, "IPM_SUBTREE");
  EXPECT_TRUE(is_folder(*root_record));

  // Every node decodes or is refused cleanly; the mail and calendar items come out.
  std::size_t messages = 0, appointments = 0;
  for (const auto& n : o->ctx.nodes->nodes()) {
    auto r = LoadItem(o->ctx, &n);
    if (!r || n.nid.type() != kNidTypeNormalMessage) continue;
    ++messages;
    if (r->kind == ItemKind::kAppointment) ++appointments;
  }
  EXPECT_GE(messages, 183u);
  EXPECT_GE(appointments, 160u);
}

// Objects found by their data alone are taken only when they read as messages: the data of a
// lost folder, placed the same way, is no item of Recovered Items.
TEST(Orphans, LooseObjectsAreTakenOnlyWhenTheyReadAsMessages) {
  auto o = open_loaded(testing::SourceDir() + "/samples/sample.ost");
  ASSERT_TRUE(o);
  NodeRecord* root = FindRootFolder(o->ctx, LoadItem(o->ctx, FindNode(o->ctx, kNidMessageStore)).get());
  ASSERT_TRUE(root);
  const std::size_t before = FindOrphans(o->ctx, root).size();
  Bid message_data, folder_data;
  for (const auto& n : o->ctx.nodes->nodes()) {
    if (n.nid.type() == kNidTypeNormalMessage && n.parent() && message_data.is_null()) message_data = n.data_bid;
    if (n.nid.type() == kNidTypeNormalFolder && n.nid != root->nid && folder_data.is_null()) folder_data = n.data_bid;
  }
  ASSERT_FALSE(message_data.is_null() || folder_data.is_null());
  const Nid loose_message = Nid::make(kNidTypeNormalMessage, 0x7FFFFFF);
  const Nid loose_folder_data = Nid::make(kNidTypeNormalMessage, 0x7FFFFFE);
  o->ctx.nodes->Place(loose_message, message_data, Bid(), kLooseObjectParent, *o->ctx.blocks, o->ctx.file);
  o->ctx.nodes->Place(loose_folder_data, folder_data, Bid(), kLooseObjectParent, *o->ctx.blocks, o->ctx.file);
  o->ctx.nodes->Link();
  const auto orphans = FindOrphans(o->ctx, root);
  ASSERT_EQ(orphans.size(), before + 1);
  EXPECT_TRUE(std::any_of(orphans.begin(), orphans.end(), [&](const NodeRecord* n) { return n->nid == loose_message; }));
}

TEST(RootFolder, EntryIdSelectsTheFolderAndMissingStoreGivesNull) {
  auto o = open_loaded(testing::SourceDir() + "/samples/sample.ost");
  ASSERT_TRUE(o);
  NodeRecord* folder = nullptr;
  for (const auto& n : o->ctx.nodes->nodes()) {
    if (n.nid.type() == kNidTypeNormalFolder && n.nid != kNidRootFolder) folder = const_cast<NodeRecord*>(&n);
  }
  ASSERT_NE(folder, nullptr);
  ItemRecord store;
  store.store = StoreFields{};
  ByteVector eid(24, 0);
  for (int i = 0; i < 4; ++i) eid[20 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(folder->nid.value >> (8 * i));
  store.store->ipm_subtree_entry_id = eid;
  EXPECT_EQ(FindRootFolder(o->ctx, &store), folder);
  EXPECT_EQ(FindRootFolder(o->ctx, nullptr), nullptr);
  ItemRecord no_store;
  EXPECT_EQ(FindRootFolder(o->ctx, &no_store), nullptr);
}

TEST(LoadItem, CjkMessageWithThreeAttachments) {
  const std::string dir = testing::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "sample corpus not found; skipped";
  auto o = open_loaded(dir + "/hht-hello-cjk.pst");
  ASSERT_TRUE(o);
  std::unique_ptr<ItemRecord> mail;
  for (const auto& n : o->ctx.nodes->nodes()) {
    if (n.nid.type() != kNidTypeNormalMessage) continue;
    mail = LoadItem(o->ctx, &n);
    if (mail) break;
  }
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->kind, ItemKind::kMail);
  ASSERT_TRUE(mail->message && mail->message->subject);
  EXPECT_EQ(mail->message->subject->text, "Hello +CJK");
  ASSERT_EQ(mail->attachments.size(), 3u);
  std::map<std::string, std::int32_t> sizes;
  for (const auto& a : mail->attachments) {
    ASSERT_TRUE(a.long_file_name.has_value());
    sizes[*a.long_file_name] = a.data ? static_cast<std::int32_t>(a.data->size()) : -1;
  }
  EXPECT_EQ(sizes["C \xE4\xBD\xA0\xE5\xA5\xBD.png"], 920);
  EXPECT_EQ(sizes["J \xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF.png"], 689);
  EXPECT_EQ(sizes["K \xEC\x95\x88\xEB\x85\x95\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94.png"], 822);

  // The analysis's road: the rows of the attachment table, never the bytes.
  std::unique_ptr<ItemRecord> listed;
  for (const auto& n : o->ctx.nodes->nodes()) {
    if (n.nid.type() != kNidTypeNormalMessage) continue;
    listed = LoadItem(o->ctx, &n, AttachmentLoad::kTableOnly);
    if (listed) break;
  }
  ASSERT_TRUE(listed);
  ASSERT_EQ(listed->attachments.size(), 3u);
  for (const auto& a : listed->attachments) {
    EXPECT_FALSE(a.data.has_value());
    EXPECT_TRUE(a.file_name || a.long_file_name);
    EXPECT_NE(a.subnode_id, 0u);  // enough to read it again by its row
  }
}

}  // namespace
}  // namespace salvora
