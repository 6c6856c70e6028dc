// salvora-cli dump against the independent readers: for every sample file the peers can read,
// our dump and theirs must compare equal, folder for folder and field for field.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/ndb_builder.h"
#include "support/run_program.h"
#include "support/source_damage.h"

namespace salvora {
namespace {

using testing::ProgramPath;
using testing::RunProgram;

std::string tools_dir() {
  const char* env = std::getenv("SALVORA_TOOLS_DIR");
  std::string dir = (env && *env) ? env : testing::SourceDir() + "/../shared/tools";
  return std::filesystem::is_directory(dir) ? dir : "";
}

bool pypff_available() {
  return RunProgram("/usr/bin/python3", {"-c", "import pypff"}).exit_code == 0;
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST(CliDump, BundledSampleListsEveryMessage) {
  auto r = RunProgram(ProgramPath("salvora-cli"), {"dump", testing::SourceDir() + "/samples/sample.ost"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 183);
  EXPECT_NE(r.out.find(R"({"folder":"Root - Mailbox/IPM_SUBTREE/Calendar","ipm_folder":"Calendar","class":"IPM.Appointment")"),
            std::string::npos);
  // Lines come sorted by their bytes, so two runs and two readers can be compared with cmp.
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = r.out.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(r.out.substr(start, nl - start));
  }
  EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));
}

// Two threads read the messages of a folder at once: what dump and analyze print, damage and
// losses included, must be what one thread prints.
TEST(CliDump, OneThreadOrTwoPrintTheSame) {
  const std::string sample = testing::SourceDir() + "/samples/sample.ost";
  std::vector<std::string> sources = testing::DamagedCopies(sample, testing::TestTempDir(), "threads", 11, 16);
  sources.push_back(sample);
  for (const auto& source : sources) {
    SCOPED_TRACE(source);
    for (const auto& command : std::vector<std::vector<std::string>>{{"dump"}, {"analyze", "--json"}}) {
      auto args = command;
      args.push_back(source);
      const auto two = RunProgram(ProgramPath("salvora-cli"), args);
      args.insert(args.begin() + 1, {"--threads", "1"});
      const auto one = RunProgram(ProgramPath("salvora-cli"), args);
      EXPECT_EQ(one.exit_code, two.exit_code) << command[0];
      EXPECT_EQ(one.out, two.out) << command[0];
      EXPECT_EQ(one.err, two.err) << command[0];
    }
  }
}

TEST(CliDump, MatchesLibpffOnEveryCorpusFile) {
  const std::string corpus = testing::CorpusDir();
  const std::string tools = tools_dir();
  if (corpus.empty() || tools.empty()) GTEST_SKIP() << "sample corpus or peer tools not found; skipped";
  if (!pypff_available()) GTEST_SKIP() << "pypff not installed (../shared/tools/install-peers); skipped";
  std::size_t checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    const auto ext = entry.path().extension();
    if (ext != ".pst" && ext != ".ost") continue;
    const std::string file = entry.path().string();
    SCOPED_TRACE(file);
    auto peer = RunProgram("/usr/bin/timeout", {"300", tools + "/peer-dump-pypff", file});
    if (peer.exit_code == 2) continue;  // the peer cannot open it
    // libpff reads an old file's 8-bit text as Windows-1252: so does our side, like for like.
    auto ours = RunProgram(ProgramPath("salvora-cli"), {"dump", file, "--codepage", "1252"});
    EXPECT_EQ(ours.exit_code, 0) << ours.err;
    const std::string base = testing::TestTempDir() + "/" + entry.path().filename().string();
    write_file(base + ".peer.jsonl", peer.out);
    write_file(base + ".ours.jsonl", ours.out);
    auto cmp = RunProgram("/usr/bin/python3", {tools + "/compare-dumps", "--folder-key", "folder",
                                               base + ".peer.jsonl", base + ".ours.jsonl"});
    EXPECT_EQ(cmp.exit_code, 0) << cmp.out;
    ++checked;
  }
  std::printf("[ peers ] %zu corpus files compared with libpff\n", checked);
  EXPECT_GT(checked, 40u);
}

}  // namespace
}  // namespace salvora
