// convert over many files: a file that cannot be read does not stop the others, each PST has a
// folder of its own, the JSON lines tell each file's outcome, and the README's recipe for GNU
// parallel works as written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "support/run_program.h"
#include "support/test_folder.h"

namespace salvora {
namespace {

namespace fs = std::filesystem;
using testing::ProgramPath;
using testing::RunProgram;

class BatchConvert : public testing::TestFolder {
 protected:
  void SetUp() override {
    TestFolder::SetUp();
    fs::create_directories(folder() / "in");
    // Two copies of the sample with the same name in different folders, and one file of
    // random-looking bytes that is no Outlook data file.
    fs::create_directories(folder() / "in" / "other");
    fs::copy_file(testing::SourceDir() + "/samples/sample.ost", folder() / "in" / "mail.ost");
    fs::copy_file(testing::SourceDir() + "/samples/sample.ost", folder() / "in" / "other" / "mail.ost");
    std::ofstream bad(folder() / "in" / "broken.ost", std::ios::binary);
    for (int i = 0; i < 100000; ++i) bad.put(static_cast<char>((i * 7919) >> 3));
  }
  std::string In(const std::string& name) const { return (folder() / "in" / name).string(); }
  fs::path folder() const { return dir_; }
};

std::vector<std::string> Lines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST_F(BatchConvert, OneBadFileLeavesTheOthersConvertedAndReported) {
  const fs::path dest = folder() / "out";
  const fs::path list = folder() / "list.txt";
  std::ofstream(list) << "# the second copy\n\n" << In("other/mail.ost") << "\n";
  const auto r = RunProgram(ProgramPath("salvora-cli"),
                            {"convert", In("mail.ost"), In("broken.ost"), "--from-list", list.string(), "--dest",
                             dest.string(), "--batch-report", (folder() / "report.jsonl").string()});
  EXPECT_EQ(r.exit_code, 4) << r.out << r.err;
  // Each file its own folder, the second "mail" numbered, with its PST and its report.
  for (const char* folder : {"mail", "mail (2)"}) {
    std::multiset<std::string> kinds;
    for (const auto& e : fs::directory_iterator(dest / folder)) kinds.insert(e.path().extension().string());
    EXPECT_EQ(kinds, (std::multiset<std::string>{".html", ".json", ".pst"})) << folder;
  }
  EXPECT_FALSE(fs::exists(dest / "broken"));
  // The bad file's error is told with its name; the summary counts all three.
  EXPECT_NE(r.err.find(In("broken.ost") + ": salvora-cli convert: "), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("files=3 converted=2 partial=0 failed=1"), std::string::npos) << r.out;

  const auto lines = Lines(folder() / "report.jsonl");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("\"status\":0"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("\"pst\":\"" + (dest / "mail").string()), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("\"mails\":"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("\"status\":1"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"error\":\"salvora-cli convert: "), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("\"source\":\"" + In("other/mail.ost") + "\""), std::string::npos) << lines[2];
}

TEST_F(BatchConvert, EveryFileFailingOrAMissingListIsAFailure) {
  EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"convert", In("broken.ost"), In("nothing.ost"), "--dest",
                                                    (folder() / "out").string()})
                .exit_code,
            1);
  const auto r = RunProgram(ProgramPath("salvora-cli"), {"convert", "--from-list", In("no-list.txt")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("the list of files cannot be read"), std::string::npos) << r.err;
}

// The README's recipe: one convert per file under GNU parallel, the JSON reports gathered.
TEST_F(BatchConvert, GnuParallelRecipe) {
  if (std::system("command -v parallel >/dev/null 2>&1") != 0) GTEST_SKIP() << "GNU parallel not installed; skipped";
  fs::copy_file(In("mail.ost"), In("third.ost"));
  const fs::path dest = folder() / "out";
  std::ostringstream cmd;
  cmd << "cd '" << (folder() / "in").string() << "' && find . -name '*.ost' ! -name broken.ost | "
      << "parallel -j 2 '" << ProgramPath("salvora-cli") << "' convert {} --dest " << dest.string()
      << "/{#} --batch-report " << dest.string() << "/{#}.jsonl >/dev/null 2>&1 && "
      << "cat " << dest.string() << "/*.jsonl > '" << (folder() / "all.jsonl").string() << "'";
  ASSERT_EQ(std::system(cmd.str().c_str()), 0);
  const auto lines = Lines(folder() / "all.jsonl");
  ASSERT_EQ(lines.size(), 3u);
  for (const auto& line : lines) EXPECT_NE(line.find("\"status\":0"), std::string::npos) << line;
}

}  // namespace
}  // namespace salvora
