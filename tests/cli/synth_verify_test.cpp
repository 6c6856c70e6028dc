// salvora-cli synth and verify together: a synthetic mailbox is the same file for the same
// seed, verifies clean, and the peers' dumps of it, and ours, equal what synth says it wrote.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/run_program.h"
#include "support/test_folder.h"

namespace salvora {
namespace {

using testing::ProgramPath;
using testing::RunProgram;

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

class SynthVerify : public testing::TestFolder {
 protected:
  std::string Scratch(const std::string& name) const { return dir_ + "/" + name; }
};

TEST_F(SynthVerify, SameSeedSameFileAndCleanVerify) {
  const std::string a = Scratch("a.pst"), b = Scratch("b.pst");
  const std::vector<std::string> opts = {"--messages", "60", "--folders", "4", "--attachments-per-message", "1", "--seed", "3"};
  auto args = [&](const std::string& out) {
    std::vector<std::string> v = {"synth", out};
    v.insert(v.end(), opts.begin(), opts.end());
    return v;
  };
  ASSERT_EQ(RunProgram(ProgramPath("salvora-cli"), args(a)).exit_code, 0);
  ASSERT_EQ(RunProgram(ProgramPath("salvora-cli"), args(b)).exit_code, 0);
  EXPECT_EQ(ReadBytes(a), ReadBytes(b));
  auto v = RunProgram(ProgramPath("salvora-cli"), {"verify", a});
  EXPECT_EQ(v.exit_code, 0) << v.out;
  EXPECT_TRUE(v.out.empty()) << v.out;
  auto ost = RunProgram(ProgramPath("salvora-cli"), {"synth", b, "--messages", "5", "--client", "ost"});
  ASSERT_EQ(ost.exit_code, 0);
  EXPECT_EQ(ReadBytes(b).substr(8, 2), "SO");
}

TEST_F(SynthVerify, VerifyReportsDamageAndRefusesNonPst) {
  const std::string a = Scratch("d.pst");
  ASSERT_EQ(RunProgram(ProgramPath("salvora-cli"), {"synth", a, "--messages", "10"}).exit_code, 0);
  {
    std::fstream f(a, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(40);
    f.put('\x7F');  // dwUnique, under both header CRCs
  }
  // Findings go to standard error under the program's name; 1 says there are some.
  auto v = RunProgram(ProgramPath("salvora-cli"), {"verify", a});
  EXPECT_EQ(v.exit_code, 1);
  EXPECT_NE(v.err.find("salvora-cli verify: " + a + ": header: dwCRCPartial does not match\n"), std::string::npos) << v.err;
  EXPECT_TRUE(v.out.empty()) << v.out;
  // 2: the file could not be read as a PST at all, which is not the same as a PST with faults.
  WriteText(a, "not a store");
  EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"verify", a}).exit_code, 2);
  EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"verify"}).exit_code, 2);
  const std::string ost = Scratch("offline.ost");
  ASSERT_EQ(RunProgram(ProgramPath("salvora-cli"), {"synth", ost, "--messages", "3", "--client", "ost"}).exit_code, 0);
  auto o = RunProgram(ProgramPath("salvora-cli"), {"verify", ost});
  EXPECT_EQ(o.exit_code, 2);
  EXPECT_EQ(o.err, "salvora-cli verify: " + ost + ": not a PST: this is an offline store (OST); convert makes a PST of it\n");
  // Today's offline stores (4 KB pages) are told apart the same way.
  const std::string sample = testing::SourceDir() + "/samples/sample.ost";
  auto real = RunProgram(ProgramPath("salvora-cli"), {"verify", sample});
  EXPECT_EQ(real.exit_code, 2);
  EXPECT_NE(real.err.find("not a PST: this is an offline store (OST)"), std::string::npos) << real.err;
}

TEST_F(SynthVerify, DumpsOfEveryReaderEqualWhatSynthWrote) {
  const char* env = std::getenv("SALVORA_TOOLS_DIR");
  const std::string tools = (env && *env) ? env : testing::SourceDir() + "/../shared/tools";
  if (!std::filesystem::exists(tools + "/compare-dumps") ||
      RunProgram("/usr/bin/python3", {"-c", "import pypff"}).exit_code != 0)
    GTEST_SKIP() << "peer readers not installed (../shared/tools/install-peers); skipped";
  const std::string pst = Scratch("s.pst");
  auto synth = RunProgram(ProgramPath("salvora-cli"),
                          {"synth", pst, "--messages", "120", "--folders", "5", "--attachments-per-message", "2", "--seed", "11", "--dump"});
  ASSERT_EQ(synth.exit_code, 0) << synth.err;
  WriteText(pst + ".synth", synth.out);
  auto ours = RunProgram(ProgramPath("salvora-cli"), {"dump", pst});
  ASSERT_EQ(ours.exit_code, 0) << ours.err;
  WriteText(pst + ".ours", ours.out);
  auto pypff = RunProgram("/usr/bin/timeout", {"300", tools + "/peer-dump-pypff", pst});
  ASSERT_EQ(pypff.exit_code, 0) << pypff.err;
  WriteText(pst + ".pypff", pypff.out);
  for (const char* other : {".ours", ".pypff"}) {
    auto cmp = RunProgram(tools + "/compare-dumps", {pst + ".synth", pst + other});
    EXPECT_EQ(cmp.exit_code, 0) << other << "\n" << cmp.out;
  }
  const std::string peers = std::getenv("PEERS_DIR") ? std::getenv("PEERS_DIR") : std::string(std::getenv("HOME") ? std::getenv("HOME") : "") + "/.cache/salvora-peers";
  if (std::filesystem::exists(peers + "/node_modules/pst-extractor")) {
    auto node = RunProgram("/usr/bin/timeout", {"300", tools + "/peer-dump-node", pst});
    ASSERT_EQ(node.exit_code, 0) << node.err;
    WriteText(pst + ".node", node.out);
    EXPECT_EQ(RunProgram(tools + "/compare-dumps", {pst + ".synth", pst + ".node"}).exit_code, 0);
  }
}

}  // namespace
}  // namespace salvora
