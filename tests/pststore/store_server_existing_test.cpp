// Adding to a PST that is already on disk: one of ours written in an earlier session, and the
// Outlook-written Unicode samples of the corpus. Everything that was there stays; the peer
// dump after differs from the one before only by what was added.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

#include "automation/member_ids.h"
#include "format/prop_types.h"
#include "pststore/pst/pst_file_reader.h"
#include "pststore/pst/pst_verifier.h"
#include "pststore/pst/pst_writer.h"
#include "pststore/sample_mailbox.h"
#include "pststore/store_driver.h"
#include "pststore/store_file.h"
#include "pststore/store_mailbox.h"
#include "pststore/store_readback.h"

namespace salvora::store {
namespace {

using K = InvokeKind;

std::string ToolsDir() {
  const char* d = std::getenv("SALVORA_TOOLS_DIR");
  return d ? d : "../shared/tools";
}

std::string CorpusDir() {
  const char* d = std::getenv("SALVORA_CORPUS_DIR");
  return d ? d : "../shared/corpus";
}

bool HavePypff() {
  return std::system("/usr/bin/python3 -c 'import pypff' >/dev/null 2>&1") == 0 &&
         std::filesystem::exists(ToolsDir() + "/peer-dump-pypff");
}

std::vector<std::string> PeerDump(const std::string& path) {
  const std::string out = path + ".jsonl";
  const int status = std::system(("timeout 300 " + ToolsDir() + "/peer-dump-pypff '" + path + "' > '" + out + "' 2>/dev/null").c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "peer-dump-pypff on " << path;
  std::ifstream f(out);
  std::vector<std::string> lines;
  for (std::string l; std::getline(f, l);)
    if (!l.empty()) lines.push_back(l);
  return lines;
}

std::vector<std::string> Violations(const std::string& path) {
  auto v = pst::PstVerifier::Verify(path).violations;
  std::sort(v.begin(), v.end());
  return v;
}

// The folder the store delivers mail of the default class to, as its receive-folder table says.
std::optional<std::int64_t> ReceiveFolder(const std::string& path) {
  pst::PstFileReader reader([](const std::string&) {});
  if (!reader.Open(path)) return std::nullopt;
  reader.LoadTrees();
  const auto node = reader.Node(kNidReceiveFolderTable);
  if (!node) return std::nullopt;
  const auto tc = reader.ReadTc(*node);
  if (!tc) return std::nullopt;
  for (const auto& row : tc->rows) {
    const pst::Property* cls = pst::find_prop(row.cells, kPidMessageClass);
    const pst::Property* folder = pst::find_prop(row.cells, 0x6605);
    if (cls && folder && cls->AsString().empty()) return folder->AsInt();
  }
  return std::nullopt;
}

// Adds a folder with one mail, and one note into the first folder below the root, through a
// second session's servers; returns the subjects added.
void AddThroughTheServer(const std::string& path) {
  testing::SaveDriver d(path, "Reopened store");
  const DispatchPtr added = d.Folder({{"Added by Salvora", "IPF.Post"}});
  testing::MailInput m;
  m.sender_name = "New Sender";
  m.sender_address = "new@example.com";
  m.subject = "added mail";
  m.body = "added body";
  m.files = {{"added.txt", {'a', 'b', 'c'}}};
  d.WriteMail(m, added);
  // The first existing folder of the subtree gets an item too, so its tables are rewritten.
  const DispatchPtr first = invoke(d.root_folders, dispid::kItem, K::kMethod, {std::int32_t{1}}).dispatch_value();
  const DispatchPtr note = d.CreateItem(kItemNote);
  put(note, dispid::kBody, "added note");
  invoke(note, dispid::kMove, K::kMethod, {first});
}

// The lines after, less the lines before, must be exactly the added items.
void ExpectOnlyAdditions(const std::vector<std::string>& before, const std::vector<std::string>& after,
                         const std::string& what) {
  std::vector<std::string> gone, added;
  std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(gone));
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
  EXPECT_TRUE(gone.empty()) << what << ": lost or changed:\n" << (gone.empty() ? "" : gone.front());
  ASSERT_EQ(added.size(), 2u) << what;
  const bool mail_first = added[0].find("\"subject\":\"added mail\"") != std::string::npos;
  const std::string& mail = mail_first ? added[0] : added[1];
  const std::string& note = mail_first ? added[1] : added[0];
  EXPECT_NE(mail.find("\"ipm_folder\":\"Added by Salvora\""), std::string::npos) << mail;
  EXPECT_NE(mail.find("\"filename\":\"added.txt\""), std::string::npos) << mail;
  EXPECT_NE(note.find("\"subject\":\"added note\""), std::string::npos) << note;
}

class ExistingStore : public ::testing::Test {
 protected:
  void TearDown() override { close_store_files(); }
};

TEST_F(ExistingStore, OursFromAnEarlierSessionKeepsEverything) {
  const std::string path = pst::testing::TempPath("earlier.pst");
  testing::WriteStandardMailbox(path);
  close_store_files();  // the earlier session ends: the store is no longer open here
  const auto before = testing::ReadBack(path);
  std::vector<std::string> dump_before;
  if (HavePypff()) dump_before = PeerDump(path);

  AddThroughTheServer(path);
  close_store_files();
  EXPECT_TRUE(Violations(path).empty()) << Violations(path).front();
  const auto after = testing::ReadBack(path);
  EXPECT_TRUE(after.problems.empty());
  EXPECT_EQ(after.message_nodes, before.message_nodes + 2);
  EXPECT_EQ(pst::find_prop(after.store_props, kPidDisplayName)->AsString(), "Reopened store");
  // Old items are read back exactly as they were.
  const auto* mail_before = before.subtree.Child("Inbox")->Message("RE: Quarterly report");
  const auto* mail_after = after.subtree.Child("Inbox")->Message("RE: Quarterly report");
  ASSERT_TRUE(mail_before && mail_after);
  EXPECT_EQ(mail_after->props, mail_before->props);
  ASSERT_EQ(mail_after->attachments.size(), 3u);
  EXPECT_EQ(mail_after->attachments[1].data, mail_before->attachments[1].data);
  ASSERT_TRUE(after.subtree.Child("Added by Salvora"));
  EXPECT_TRUE(after.subtree.Child("Added by Salvora")->Message("added mail"));
  if (!HavePypff()) GTEST_SKIP() << "pypff or the dump harness is missing; the dumps were not compared";
  ExpectOnlyAdditions(dump_before, PeerDump(path), "earlier.pst");
}

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Files the server will not add to are left byte for byte as they were: a damaged tree, an
// ANSI store, an offline store, something that is no store at all.
TEST_F(ExistingStore, FilesItCannotTakeAreLeftAlone) {
  const std::string ours = pst::testing::TempPath("damaged.pst");
  {
    testing::SaveDriver d(ours, "Damaged");
    d.Folder({{"Inbox", "IPF.Post"}});
  }
  close_store_files();
  std::vector<std::string> paths;
  {
    // The node tree's root page: one byte of its entries changed, so its CRC no longer holds.
    std::string bytes = Slurp(ours);
    const auto load64 = [&](std::size_t at) {
      std::uint64_t v = 0;
      for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
      return v;
    };
    const std::uint64_t nbt_ib = load64(180 + 36 + 8);  // ROOT's BREFNBT.ib
    ASSERT_LT(nbt_ib + 10, bytes.size());
    bytes[nbt_ib + 10] = static_cast<char>(bytes[nbt_ib + 10] ^ 0x5A);
    std::ofstream(ours, std::ios::binary | std::ios::trunc) << bytes;
    paths.push_back(ours);
  }
  const std::string ansi = CorpusDir() + "/gopst-32bit.pst";
  if (std::filesystem::exists(ansi)) {
    paths.push_back(pst::testing::TempPath("ansi.pst"));
    std::filesystem::copy_file(ansi, paths.back(), std::filesystem::copy_options::overwrite_existing);
  }
  {
    // A valid store of the offline kind: a mailbox cache is never written to.
    paths.push_back(pst::testing::TempPath("offline.ost"));
    pst::PstOptions options;
    options.offline_client = true;
    pst::PstWriter::Create(paths.back(), options)->Close();
  }
  paths.push_back(pst::testing::TempPath("text.pst"));
  std::ofstream(paths.back(), std::ios::binary) << "not a store";
  for (const auto& path : paths) {
    const std::string before = Slurp(path);
    EXPECT_THROW(testing::SaveDriver(path, "Never"), AutomationError) << path;
    close_store_files();
    EXPECT_TRUE(Slurp(path) == before) << path << " changed";
  }
}

TEST_F(ExistingStore, OutlookWrittenSamplesKeepEverything) {
  if (!std::filesystem::is_directory(CorpusDir())) GTEST_SKIP() << "no sample corpus at " << CorpusDir() << "; skipped";
  if (!HavePypff()) GTEST_SKIP() << "pypff or the dump harness is missing; skipped";
  std::size_t opened = 0, refused = 0;
  std::string refusals;
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(CorpusDir()))
    if (e.path().extension() == ".pst") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto& source : files) {
    // Unicode stores only (wVer 23 at offset 10); the others are refused by design.
    std::ifstream in(source, std::ios::binary);
    char head[12] = {};
    in.read(head, sizeof head);
    if (static_cast<unsigned char>(head[10]) != 23) continue;
    const std::string path = pst::testing::TempPath("corpus-" + source.filename().string());
    std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
    const auto dump_before = PeerDump(path);
    const auto violations_before = Violations(path);
    const auto receive_before = ReceiveFolder(path);
    try {
      AddThroughTheServer(path);
    } catch (const AutomationError& e) {
      ++refused;
      refusals += source.filename().string() + ": " + e.what() + "\n";
      // A refused file is left exactly as it was.
      std::ifstream a(source, std::ios::binary), b(path, std::ios::binary);
      EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {}))
          << source.filename() << " changed although it was refused";
      close_store_files();
      continue;
    }
    close_store_files();
    ++opened;
    ExpectOnlyAdditions(dump_before, PeerDump(path), source.filename().string());
    if (receive_before) EXPECT_EQ(ReceiveFolder(path), receive_before) << source.filename() << ": the Inbox stays the receive folder";
    // Whatever the verifier says of Outlook's own file, adding to it makes nothing worse.
    const auto violations_after = Violations(path);
    std::vector<std::string> fresh;
    std::set_difference(violations_after.begin(), violations_after.end(), violations_before.begin(),
                        violations_before.end(), std::back_inserter(fresh));
    EXPECT_TRUE(fresh.empty()) << source.filename() << ": " << fresh.size() << " new violations, first: "
                               << (fresh.empty() ? "" : fresh.front());
  }
  std::cout << "[ info ] added to " << opened << " Outlook-written samples; refused " << refused << "\n" << refusals;
  EXPECT_GE(opened, 10u) << refusals;
}

}  // namespace
}  // namespace salvora::store
