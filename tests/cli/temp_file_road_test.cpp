// The store takes headers and attachments as streams; a store that takes only paths gets them
// through temporary files. Both roads must give the same PST: the same dump, and no property
// of any object that differs but what a store computes for itself.

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
using testing::TestTempDir;

std::string only_pst(const std::string& dir) {
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().extension() == ".pst") return e.path().string();
  }
  return {};
}

std::string convert(const std::string& source, const std::string& dest, bool temp_files) {
  std::vector<std::string> args{"convert", source, "--dest", dest};
  if (temp_files) args.push_back("--temp-files");
  auto c = RunProgram(ProgramPath("salvora-cli"), args);
  EXPECT_EQ(c.exit_code, 0) << c.err;
  return only_pst(dest);
}

std::string dump(const std::string& file) {
  auto d = RunProgram(ProgramPath("salvora-cli"), {"dump", file});
  EXPECT_EQ(d.exit_code, 0) << d.err;
  return d.out;
}

TEST(TempFileRoad, StreamsAndTemporaryFilesGiveTheSamePst) {
  const std::string dir = TestTempDir() + "/temp-file-road";
  fs::remove_all(dir);
  fs::create_directories(dir);
  // Attachments of every size class the synthetic store makes, and the sample's mail with its
  // embedded messages and real headers.
  const std::string synthetic = dir + "/synthetic.ost";
  auto synth = RunProgram(ProgramPath("salvora-cli"), {"synth", synthetic, "--messages", "60", "--folders", "2",
                                                       "--attachments-per-message", "3", "--client", "ost"});
  ASSERT_EQ(synth.exit_code, 0) << synth.err;
  const std::string tools = testing::SourceDir() + "/../shared/tools";
  const bool peers = fs::exists(tools + "/compare-properties") &&
                     RunProgram("/usr/bin/python3", {"-c", "import pypff"}).exit_code == 0;
  int n = 0;
  for (const std::string& source : {synthetic, testing::SourceDir() + "/samples/sample.ost"}) {
    SCOPED_TRACE(source);
    const std::string tag = std::to_string(++n);
    const std::string streamed = convert(source, dir + "/streamed" + tag, false);
    const std::string filed = convert(source, dir + "/filed" + tag, true);
    ASSERT_FALSE(streamed.empty());
    ASSERT_FALSE(filed.empty());
    const std::string streamed_dump = dump(streamed);
    EXPECT_FALSE(streamed_dump.empty());
    EXPECT_EQ(streamed_dump, dump(filed));
    if (!peers) continue;
    const std::string json = dir + "/run" + tag + ".json";
    auto compare = RunProgram("/usr/bin/timeout", {"300", tools + "/compare-properties", "--json", json, filed, streamed});
    ASSERT_EQ(compare.exit_code, 0) << compare.out << compare.err;
    auto check = RunProgram("/usr/bin/python3", {testing::SourceDir() + "/tests/cli/check_properties.py", json});
    EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
    std::istringstream lines(check.out);
    for (std::string line; std::getline(lines, line);) {
      if (line.find('%') != std::string::npos) {
        EXPECT_NE(line.find("100.00%"), std::string::npos) << line;
      }
    }
  }
  if (!peers) std::printf("compare-properties or pypff not installed; compared dumps only\n");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace salvora
