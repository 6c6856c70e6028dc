// convert --recover-deleted: the deleted messages still in a file come back into
// "Recovered Items/Deleted", at least as many as libpff's recovery finds, each a message that
// libpff reads, and nothing of the kind without the option.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/ndb_builder.h"
#include "support/run_program.h"

namespace salvora {
namespace {

namespace fs = std::filesystem;
using testing::ProgramPath;
using testing::RunProgram;

std::string value_of(const std::string& out, const std::string& key) {
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return {};
}

// The deleted messages pffexport -m recovered finds in these files, once each (it exports one
// old state of fairport-sample1's message twice, from two copies of the same index page).
struct Expected {
  const char* file;
  int at_least;
};
constexpr Expected kExpected[] = {
    {"aranetic-four-nesting-levels.pst", 6}, {"fairport-sample1.pst", 1}, {"fairport-submessage.pst", 1},
    {"p2j-2003-compressable-quickquick.pst", 2}, {"p2j-2007-a1sellers.pst", 1},
};

TEST(CliRecoverDeleted, FindsWhatLibpffRecoversAndOnlyMessages) {
  const std::string corpus = testing::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus folder: the recovery of deleted messages is not tried";
  const std::string dir = testing::TestTempDir() + "/recover-deleted";
  for (const auto& e : kExpected) {
    fs::remove_all(dir);
    const std::string source = corpus + "/" + e.file;
    auto plain = RunProgram(ProgramPath("salvora-cli"), {"convert", source, "--dest", dir + "/plain"});
    EXPECT_EQ(value_of(plain.out, "deleted_recovered"), "0") << e.file;
    auto c = RunProgram(ProgramPath("salvora-cli"), {"convert", source, "--dest", dir + "/out", "--recover-deleted"});
    ASSERT_TRUE(c.exit_code == 0 || c.exit_code == 3) << e.file << ": " << c.err;
    EXPECT_GE(std::stoi("0" + value_of(c.out, "deleted_recovered")), e.at_least) << e.file;
    const std::string pst = value_of(c.out, "pst");
    EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"verify", pst}).exit_code, 0) << e.file;
    // Every item in the folder is a message, with its class, as our reader and libpff see it.
    auto dump = RunProgram(ProgramPath("salvora-cli"), {"dump", pst});
    int in_deleted = 0;
    std::istringstream lines(dump.out);
    for (std::string line; std::getline(lines, line);) {
      if (line.find("\"folder\":\"Top of Personal Folders/Recovered Items/Deleted\"") == std::string::npos &&
          line.find("Recovered Items/Deleted\"") == std::string::npos)
        continue;
      ++in_deleted;
      EXPECT_NE(line.find("\"class\":\"IPM"), std::string::npos) << e.file << ": " << line;
    }
    EXPECT_GE(in_deleted, e.at_least) << e.file << "\n" << dump.out;
    if (testing::HavePypff()) {
      auto peer = RunProgram("/usr/bin/timeout", {"120", testing::ToolsDir() + "/peer-dump-pypff", pst});
      EXPECT_EQ(peer.exit_code, 0) << e.file << ": " << peer.err;
      EXPECT_NE(peer.out.find("Recovered Items/Deleted"), std::string::npos) << e.file;
    }
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace salvora
