// salvora-cli synth --format 36: an offline store with 4 KB pages and compressed blocks that
// our reader, the peers and convert all read as synth says it wrote it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/run_program.h"
#include "support/test_folder.h"

namespace salvora {
namespace {

using testing::ProgramPath;
using testing::RunProgram;

class SynthFormat36 : public testing::TestFolder {
 protected:
  void SetUp() override {
    TestFolder::SetUp();
    ost_ = (folder() / "mailbox.ost").string();
    auto synth = RunProgram(ProgramPath("salvora-cli"), {"synth", ost_, "--format", "36", "--client", "ost", "--messages", "50",
                                                         "--folders", "3", "--attachments-per-message", "2", "--seed", "5", "--dump"});
    ASSERT_EQ(synth.exit_code, 0) << synth.err;
    written_ = synth.out;
  }
  std::string Write(const std::string& name, const std::string& text) const {
    const std::string path = (folder() / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  static std::string ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
  }

  std::filesystem::path folder() const { return dir_; }
  std::string ost_;
  std::string written_;  // synth's own dump
};

// Dump lines without the full folder path, sorted: a PST made from an OST has its own top
// folder, and the path below the IPM subtree is what must stay.
std::vector<std::string> BelowIpmSubtree(const std::string& dump) {
  std::vector<std::string> out;
  std::istringstream in(dump);
  for (std::string line; std::getline(in, line);) {
    const auto at = line.find(",\"ipm_folder\"");
    out.push_back(at == std::string::npos ? line : "{" + line.substr(at + 1));
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST_F(SynthFormat36, OurReaderSeesWhatSynthWrote) {
  auto info = RunProgram(ProgramPath("salvora-cli"), {"info", ost_});
  ASSERT_EQ(info.exit_code, 0) << info.err;
  for (const char* line : {"format=unicode-4k\n", "version=36\n", "client=OST\n", "crypt=none\n"})
    EXPECT_NE(info.out.find(line), std::string::npos) << info.out;
  auto dump = RunProgram(ProgramPath("salvora-cli"), {"dump", ost_});
  ASSERT_EQ(dump.exit_code, 0) << dump.err;
  EXPECT_EQ(dump.out, written_);
  // The mix is all there: RTF, HTML with its inline picture, embedded messages, appointments.
  for (const char* part : {"\"html_len\":0", "image001.png", "\"method\":5", "IPM.Appointment"})
    EXPECT_NE(written_.find(part), std::string::npos) << part;

  const std::string again = (folder() / "again.ost").string();
  ASSERT_EQ(RunProgram(ProgramPath("salvora-cli"), {"synth", again, "--format", "36", "--client", "ost", "--messages", "50",
                                                    "--folders", "3", "--attachments-per-message", "2", "--seed", "5"})
                .exit_code,
            0);
  EXPECT_EQ(ReadBytes(again), ReadBytes(ost_));
  // The strict verifier checks the 512-byte layout only, and refuses offline stores.
  EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"verify", ost_}).exit_code, 2);
}

TEST_F(SynthFormat36, OtherFormatsAreRefusedByName) {
  auto bad = RunProgram(ProgramPath("salvora-cli"), {"synth", (folder() / "x.pst").string(), "--format", "14"});
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_NE(bad.err.find("--format: 14 is not a format synth writes; use 23 (512-byte pages) or 36 (4 KB pages)"),
            std::string::npos)
      << bad.err;
  EXPECT_FALSE(std::filesystem::exists(folder() / "x.pst"));
}

TEST_F(SynthFormat36, ConvertGivesAPstWithTheSameItems) {
  const std::string dest = (folder() / "out").string();
  auto convert = RunProgram(ProgramPath("salvora-cli"), {"convert", ost_, "--dest", dest});
  ASSERT_EQ(convert.exit_code, 0) << convert.err;
  const std::string pst = convert.out.substr(4, convert.out.find('\n') - 4);
  ASSERT_EQ(convert.out.rfind("pst=", 0), 0u) << convert.out;
  auto dump = RunProgram(ProgramPath("salvora-cli"), {"dump", pst});
  ASSERT_EQ(dump.exit_code, 0) << dump.err;
  EXPECT_EQ(BelowIpmSubtree(dump.out), BelowIpmSubtree(written_));
  EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"verify", pst}).exit_code, 0);
}

TEST_F(SynthFormat36, PeerReadersReadIt) {
  const char* env = std::getenv("SALVORA_TOOLS_DIR");
  const std::string tools = (env && *env) ? env : testing::SourceDir() + "/../shared/tools";
  int peers = 0;
  if (std::filesystem::exists(tools + "/compare-dumps") && RunProgram("/usr/bin/python3", {"-c", "import pypff"}).exit_code == 0) {
    ++peers;
    auto pypff = RunProgram("/usr/bin/timeout", {"300", tools + "/peer-dump-pypff", ost_});
    ASSERT_EQ(pypff.exit_code, 0) << pypff.err;
    auto cmp = RunProgram(tools + "/compare-dumps", {Write("synth.jsonl", written_), Write("pypff.jsonl", pypff.out)});
    EXPECT_EQ(cmp.exit_code, 0) << cmp.out;
  }
  if (std::filesystem::exists("/usr/bin/pffinfo")) {
    ++peers;
    auto info = RunProgram("/usr/bin/pffinfo", {ost_});
    EXPECT_EQ(info.exit_code, 0) << info.err;
    EXPECT_NE(info.out.find("64-bit with 4k page"), std::string::npos) << info.out;
  }
  if (std::filesystem::exists("/usr/bin/readpst")) {
    ++peers;
    const std::string out = (folder() / "readpst").string();
    std::filesystem::create_directories(out);
    auto r = RunProgram("/usr/bin/readpst", {"-q", "-D", "-o", out, ost_});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // Every mail becomes one mbox message.
    std::size_t mails = 0, written_mails = 0;
    for (const auto& f : std::filesystem::directory_iterator(out)) {
      if (f.path().extension() != ".mbox") continue;
      std::istringstream in(ReadBytes(f.path().string()));
      for (std::string line; std::getline(in, line);) mails += line.rfind("From ", 0) == 0;
    }
    for (std::size_t at = 0; (at = written_.find("\"class\":\"IPM.Note\"", at)) != std::string::npos; ++at) ++written_mails;
    EXPECT_EQ(mails, written_mails);
  }
  if (peers == 0) GTEST_SKIP() << "no peer reader installed (pypff, pffinfo, readpst); skipped";
}

}  // namespace
}  // namespace salvora
