// salvora-cli analyze: the pass over the bundled sample, and against libpff on the corpus.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/ndb_builder.h"
#include "support/run_program.h"

namespace salvora {
namespace {

using testing::ProgramPath;
using testing::RunProgram;

TEST(CliAnalyze, BundledSampleJson) {
  auto r = RunProgram(ProgramPath("salvora-cli"), {"analyze", "--json", testing::SourceDir() + "/samples/sample.ost"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\"folders\":[{\"path\":\"Personal Folders\\\\\",\"items\":0},", 0), 0u) << r.out.substr(0, 200);
  EXPECT_NE(r.out.find(R"({"path":"Personal Folders\\Inbox\\","items":10})"), std::string::npos);
  EXPECT_NE(r.out.find(R"("counters":{"inbox":10,"drafts":0,"outbox":0,"sent_items":2,"sync_issues":1,)"
                       R"("deleted_items":1,"junk_email":0,"contacts":0,"tasks":0,"notes":0,"journal":0,"calendar":169})"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(R"("nodes":241})"), std::string::npos);
  // Folders of other kinds keep their class; mail folders have none to show.
  EXPECT_NE(r.out.find(R"({"path":"Personal Folders\\Calendar\\","items":0,"class":"IPF.Appointment"})"),
            std::string::npos);
  EXPECT_NE(r.out.find(R"({"path":"Personal Folders\\Tasks\\","items":0,"class":"IPF.Task"})"), std::string::npos);
}

// A PST this program wrote keeps mail in post folders, which the wizard's lists do not count
// as mail folders: analyze still counts each mail in the folder that holds it, as dump does,
// not in the last mail folder listed.
TEST(CliAnalyze, CountsMailInTheFolderThatHoldsIt) {
  const std::string dest = testing::TestTempDir() + "/analyze-own-pst";
  std::filesystem::remove_all(dest);
  auto c = RunProgram(ProgramPath("salvora-cli"), {"convert", testing::SourceDir() + "/samples/sample.ost", "--dest", dest});
  ASSERT_EQ(c.exit_code, 0) << c.err;
  const std::string pst = c.out.substr(4, c.out.find('\n') - 4);
  auto r = RunProgram(ProgramPath("salvora-cli"), {"analyze", "--json", pst});
  std::filesystem::remove_all(dest);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  struct Folder {
    const char* name;
    int items;
  } folders[] = {{"Inbox", 10}, {"Sent Items", 2}, {"Deleted Items", 1}, {"Sync Issues", 1}, {"Drafts", 0}};
  for (const auto& f : folders) {
    const std::string entry = std::string(R"({"path":"Personal Folders\\)") + f.name + R"(\\","items":)" +
                              std::to_string(f.items) + ",";
    const std::string last = entry.substr(0, entry.size() - 1) + "}";
    EXPECT_TRUE(r.out.find(entry) != std::string::npos || r.out.find(last) != std::string::npos) << f.name << "\n" << r.out;
  }
}

TEST(CliAnalyze, NotAStoreIsOneLine) {
  const std::string path = testing::TestTempDir() + "/empty.ost";
  std::ofstream(path) << "";
  auto r = RunProgram(ProgramPath("salvora-cli"), {"analyze", path});
  EXPECT_NE(r.exit_code, 0);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST(CliAnalyze, ListsAtLeastWhatLibpffSeesBelowTheSubtree) {
  const std::string corpus = testing::CorpusDir();
  const std::string tools = testing::SourceDir() + "/../shared/tools";
  if (corpus.empty() || !std::filesystem::exists(tools + "/peer-dump-pypff")) GTEST_SKIP() << "corpus or peer tools absent; skipped";
  if (RunProgram("/usr/bin/python3", {"-c", "import pypff"}).exit_code != 0) GTEST_SKIP() << "pypff not installed; skipped";
  const std::string checker = testing::SourceDir() + "/tests/cli/check_analyze_against_peer.py";
  std::size_t checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    const auto ext = entry.path().extension();
    if (ext != ".pst" && ext != ".ost") continue;
    const std::string file = entry.path().string();
    auto peer = RunProgram("/usr/bin/timeout", {"300", tools + "/peer-dump-pypff", file});
    if (peer.exit_code == 2) continue;
    const std::string dump = testing::TestTempDir() + "/" + entry.path().filename().string() + ".peer";
    std::ofstream(dump, std::ios::binary) << peer.out;
    auto check = RunProgram("/usr/bin/python3", {checker, ProgramPath("salvora-cli"), dump, file});
    EXPECT_EQ(check.exit_code, 0) << file << ": " << check.out << check.err;
    ++checked;
  }
  std::printf("[ peers ] %zu corpus files analysed against libpff\n", checked);
}

}  // namespace
}  // namespace salvora
