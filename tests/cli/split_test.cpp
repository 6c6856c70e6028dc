// A PST split at a size limit, and save passes that own their stores: every part under the
// limit and clean, the parts together holding what one PST holds; two passes of one process
// writing two PSTs; sizes the option refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

#include "pststore/pst/pst_verifier.h"
#include "pststore/store_servers.h"
#include "support/ndb_builder.h"
#include "support/run_program.h"
#include "support/test_folder.h"
#include "writer/save_pass.h"

namespace salvora {
namespace {

namespace fs = std::filesystem;
using testing::ProgramPath;
using testing::RunProgram;
using testing::TestTempDir;

std::vector<std::string> PstsOf(const std::string& out) {
  std::vector<std::string> paths;
  const std::regex line("(^|\n)pst=([^\n]*)");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it)
    paths.push_back((*it)[2].str());
  return paths;
}

std::vector<std::string> DumpLines(const std::string& pst) {
  const auto r = RunProgram(ProgramPath("salvora-cli"), {"dump", pst});
  EXPECT_EQ(r.exit_code, 0) << pst << ": " << r.err;
  std::vector<std::string> lines;
  std::istringstream in(r.out);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

class Split : public testing::TestFolder {};

// 300 messages of about 4 KB with an attachment each, in several folders, at a limit of 1 MB:
// several parts, each under the limit (an item larger than the limit would be allowed alone in
// a part; none is here), each clean, and their dumps together the dump of the unsplit PST.
TEST_F(Split, PartsStayUnderTheLimitAndTogetherHoldEverything) {
  const std::string source = dir_ + "/source.pst";
  ASSERT_EQ(RunProgram(ProgramPath("salvora-cli"), {"synth", source, "--messages", "300", "--folders", "4"}).exit_code, 0);
  const auto whole = RunProgram(ProgramPath("salvora-cli"), {"convert", source, "--dest", dir_ + "/whole"});
  ASSERT_EQ(whole.exit_code, 0) << whole.err;
  ASSERT_EQ(PstsOf(whole.out).size(), 1u);
  const std::uint64_t limit = 1 << 20;
  const auto split = RunProgram(ProgramPath("salvora-cli"), {"convert", source, "--dest", dir_ + "/split", "--max-pst-size", "1M"});
  ASSERT_EQ(split.exit_code, 0) << split.err;
  const auto parts = PstsOf(split.out);
  ASSERT_GE(parts.size(), 3u) << split.out;
  std::vector<std::string> together;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) EXPECT_EQ(fs::path(parts[i]).stem().string(), fs::path(parts[0]).stem().string() + " (" + std::to_string(i + 1) + ")");
    EXPECT_EQ(fs::path(parts[i]).parent_path(), fs::path(parts[0]).parent_path());
    const auto lines = DumpLines(parts[i]);
    EXPECT_TRUE(fs::file_size(parts[i]) <= limit || lines.size() == 1) << parts[i] << ": " << fs::file_size(parts[i]);
    const auto verify = RunProgram(ProgramPath("salvora-cli"), {"verify", parts[i]});
    EXPECT_EQ(verify.exit_code, 0) << parts[i] << ": " << verify.err;
    together.insert(together.end(), lines.begin(), lines.end());
  }
  auto one = DumpLines(PstsOf(whole.out)[0]);
  std::sort(one.begin(), one.end());
  std::sort(together.begin(), together.end());
  EXPECT_EQ(together.size(), one.size());
  EXPECT_TRUE(together == one) << "the parts hold other items than the whole PST";
}

TEST_F(Split, SizesTheOptionRefuses) {
  const std::string source = testing::SourceDir() + "/samples/sample.ost";
  for (const char* size : {"12X", "0", "-5", "1.5G", "45GBx", "100K"}) {
    const auto r = RunProgram(ProgramPath("salvora-cli"), {"convert", source, "--dest", dir_, "--max-pst-size", size});
    EXPECT_EQ(r.exit_code, 2) << size;
    EXPECT_NE(r.err.find("--max-pst-size: "), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(dir_)) << size << ": nothing is written for a refused size";
  }
}

// Each pass owns the store it writes: a second pass of the same process into the same folder,
// at the same minute, writes a PST of its own, and each pass tells its own counts.
TEST_F(Split, TwoPassesInOneProcessWriteTwoPsts) {
  store::register_store_servers();
  std::vector<std::string> written;
  for (int pass = 0; pass < 2; ++pass) {
    SaveOptions options;
    options.source_path = testing::SourceDir() + "/samples/sample.ost";
    options.select_all = true;
    options.destination = dir_;
    options.write_log = false;
    options.writer.time_stamp = [] { return std::string("6-1-2008 9-5"); };
    PassControl control;
    SaveObserver observer;
    SaveProgress progress;
    const SaveOutcome outcome = RunSavePass(options, control, observer, progress);
    ASSERT_EQ(outcome.status, SaveStatus::kCompleted) << outcome.error;
    EXPECT_EQ(outcome.close_error, "");
    ASSERT_EQ(progress.store_paths().size(), 1u);
    written.push_back(progress.store_path());
    const auto verified = pst::PstVerifier::Verify(written.back());
    EXPECT_TRUE(verified.opened && verified.violations.empty()) << written.back();
    EXPECT_EQ(progress.items_committed.load(), verified.messages) << "pass " << pass;
    EXPECT_EQ(progress.items_lost.load(), 0u);
  }
  EXPECT_EQ(written[1], dir_ + "/Salvora_Tools_Personal_Folder6-1-2008 9-5 (2).pst");
  EXPECT_EQ(pst::PstVerifier::Verify(written[0]).messages, pst::PstVerifier::Verify(written[1]).messages);
}

}  // namespace
}  // namespace salvora
