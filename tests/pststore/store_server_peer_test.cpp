// What the store server writes, as readers we did not write see it (libpff through the dump
// harness), compared line by line with our own reader's dump; and `salvora-cli verify`.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

#include "pststore/sample_mailbox.h"
#include "pststore/store_file.h"
#include "pststore/store_mailbox.h"
#include "support/run_program.h"

namespace salvora::store {
namespace {

std::string ToolsDir() {
  const char* d = std::getenv("SALVORA_TOOLS_DIR");
  return d ? d : "../shared/tools";
}

bool HavePypff() {
  return std::system("/usr/bin/python3 -c 'import pypff' >/dev/null 2>&1") == 0 &&
         std::filesystem::exists(ToolsDir() + "/peer-dump-pypff");
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    if (!l.empty()) out.push_back(l);
  return out;
}

const std::string* LineWith(const std::vector<std::string>& lines, const std::string& needle) {
  for (const auto& l : lines)
    if (l.find(needle) != std::string::npos) return &l;
  return nullptr;
}

class StoreServerPeers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    path_ = pst::testing::TempPath("peers-standard.pst");
    values_ = testing::WriteStandardMailbox(path_);
    close_store_files();
  }
  static std::string path_;
  static testing::StandardValues values_;
};
std::string StoreServerPeers::path_;
testing::StandardValues StoreServerPeers::values_;

TEST_F(StoreServerPeers, VerifyCommandIsClean) {
  const std::string cli = salvora::testing::ProgramPath("salvora-cli");
  if (!std::filesystem::exists(cli)) GTEST_SKIP() << "salvora-cli not built; skipped";
  const auto r = salvora::testing::RunProgram(cli, {"verify", path_});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(StoreServerPeers, LibpffSeesEveryItemAsItsKindAndAgreesWithOurDump) {
  if (!HavePypff()) GTEST_SKIP() << "pypff or the dump harness is missing (../shared/tools/install-peers); skipped";
  const std::string peer_out = path_ + ".pypff.jsonl";
  const int status = std::system(("timeout 300 " + ToolsDir() + "/peer-dump-pypff '" + path_ + "' > '" + peer_out + "'").c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "peer-dump-pypff failed";
  const auto peer = Lines(ReadFile(peer_out));
  ASSERT_EQ(peer.size(), 7u) << ReadFile(peer_out);

  struct Expect {
    std::string subject_key, folder, message_class;
    std::vector<std::string> fragments;
  };
  const std::vector<Expect> expected = {
      {"\"subject\":\"RE: Quarterly report\"", "Inbox", "IPM.Note",
       {"\"sender_name\":\"Ann Example\"", "\"sender_email\":\"ann@example.com\"", "\"to\":\"Bob Builder; Carl Smith\"",
        "\"cc\":\"Dora Cc\"", "\"submit_time\":\"2024-03-05T10:20:30.000Z\"",
        "\"delivery_time\":\"2024-03-05T10:21:00.000Z\"", "\"html_len\":" + std::to_string(values_.html.size()), "\"filename\":\"report.txt\"",
        "\"size\":8", "\"filename\":\"big.bin\"", "\"size\":1500000", "\"filename\":\"Original message\"",
        "\"method\":5"}},
      {"\"subject\":\"Plain one\"", "Inbox/Projects", "IPM.Note", {"\"sender_name\":\"Eve\"", "\"body_len\":15"}},
      {"\"subject\":\"Planning\"", "Calendar", "IPM.Appointment", {"\"body_len\":6"}},
      {"\"subject\":\"Jr.\"", "Contacts", "IPM.Contact", {"\"body_len\":15"}},
      {"\"subject\":\"Task one\"", "Tasks", "IPM.Task", {"\"body_len\":5"}},
      {"\"subject\":\"Call with Grace\"", "Journal", "IPM.Activity", {"\"to\":\"Grace\"", "\"body_len\":5"}},
      {"\"subject\":\"Buy milk\"", "Notes", "IPM.StickyNote", {"\"body_len\":19"}},
  };
  for (const auto& e : expected) {
    const std::string* line = LineWith(peer, e.subject_key);
    ASSERT_TRUE(line) << "libpff does not list " << e.subject_key;
    EXPECT_NE(line->find("\"ipm_folder\":\"" + e.folder + "\""), std::string::npos) << *line;
    EXPECT_NE(line->find("\"class\":\"" + e.message_class + "\""), std::string::npos) << *line;
    for (const auto& f : e.fragments) EXPECT_NE(line->find(f), std::string::npos) << f << " in " << *line;
  }

  const std::string cli = salvora::testing::ProgramPath("salvora-cli");
  if (!std::filesystem::exists(cli)) GTEST_SKIP() << "salvora-cli not built; our dump not compared";
  const auto ours = salvora::testing::RunProgram(cli, {"dump", path_});
  ASSERT_EQ(ours.exit_code, 0) << ours.err;
  EXPECT_EQ(Lines(ours.out), peer);
}

// readpst reads the named properties too: the appointment's times and place, the contact's
// card, the journal entry. (It exports no tasks or notes.)
TEST_F(StoreServerPeers, ReadpstExportsEachKindWithItsFields) {
  if (std::system("command -v readpst >/dev/null 2>&1") != 0) GTEST_SKIP() << "readpst is missing; skipped";
  const std::string out = path_ + ".readpst";
  std::filesystem::create_directories(out);
  const int status = std::system(("timeout 300 readpst -q -D -o '" + out + "' '" + path_ + "' > /dev/null 2>&1").c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "readpst failed";
  const struct {
    const char* file;
    std::vector<std::string> lines;
  } expected[] = {
      {"Calendar.calendar",
       {"SUMMARY:Planning", "DTSTART;VALUE=DATE-TIME:20240401T090000Z", "DTEND;VALUE=DATE-TIME:20240401T103000Z",
        "LOCATION:Room 4"}},
      {"Contacts.contacts", {"FN:Hunter\\, Holly", "EMAIL:holly@example.org", "ORG:Acme", "NOTE:Met at the fair"}},
      {"Journal.journal", {"SUMMARY:Call with Grace", "DESCRIPTION:Telep"}},
      {"Inbox.mbox", {"From: \"Ann Example\" <ann@example.com>", "Subject: RE: Quarterly report",
                      "Date: Tue, 05 Mar 2024 10:20:30 +0000"}},
      {"Projects.mbox", {"Subject: Plain one", "plain body text"}},
  };
  for (const auto& e : expected) {
    const std::string text = ReadFile(out + "/" + e.file);
    ASSERT_FALSE(text.empty()) << e.file << " not exported";
    for (const auto& l : e.lines) EXPECT_NE(text.find(l), std::string::npos) << l << " not in " << e.file << ":\n" << text;
  }
}

}  // namespace
}  // namespace salvora::store
