// salvora-cli convert --format mbox|eml: the mailbox as mail files, read back by Python's own
// email and mailbox modules and compared message by message with the dump of the source.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/temp_folder.h"
#include "support/ndb_builder.h"
#include "support/run_program.h"

namespace salvora {
namespace {

namespace fs = std::filesystem;
using testing::ProgramPath;
using testing::RunProgram;
using testing::TestTempDir;

// The path a convert printed for kind ("mbox=..."); empty when it printed none.
std::string PrintedPath(const std::string& out, const std::string& kind) {
  const std::string tag = kind + "=";
  const auto at = out.find(tag);
  if (at == std::string::npos || (at > 0 && out[at - 1] != '\n')) return {};
  return out.substr(at + tag.size(), out.find('\n', at) - at - tag.size());
}

// Empty when dir, an export as format, holds every mail of the source as its dump has it;
// else what differs.
std::string CheckExportDir(const std::string& source, const std::string& format, const std::string& dir,
                           const std::string& work) {
  if (!fs::is_directory(dir)) return dir + " is no folder";
  auto dump = RunProgram(ProgramPath("salvora-cli"), {"dump", source});
  std::ofstream(work + "/source.jsonl", std::ios::binary) << dump.out;
  auto check = RunProgram("/usr/bin/python3", {testing::SourceDir() + "/tests/cli/check_mime_export.py",
                                               work + "/source.jsonl", format, dir});
  return check.exit_code != 0 ? check.out + check.err : std::string();
}

std::string CheckExport(const std::string& source, const std::string& format, const std::string& work) {
  fs::remove_all(work);
  auto c = RunProgram(ProgramPath("salvora-cli"), {"convert", source, "--dest", work, "--format", format});
  if (c.exit_code != 0) return "convert failed: " + c.err;
  if (c.out.rfind(format + "=", 0) != 0) return "no " + format + "= line first: " + c.out;
  const std::string problems = CheckExportDir(source, format, PrintedPath(c.out, format), work);
  if (problems.empty()) fs::remove_all(work);
  return problems;
}

TEST(CliMimeConvert, SampleAndSyntheticStoreReadBackAsTheirSource) {
  const std::string synth = TestTempDir() + "/mime-synth.pst";
  fs::remove(synth);
  auto s = RunProgram(ProgramPath("salvora-cli"),
                      {"synth", synth, "--messages", "60", "--folders", "3", "--attachments-per-message", "2"});
  ASSERT_EQ(s.exit_code, 0) << s.err;
  for (const std::string& source : {testing::SourceDir() + "/samples/sample.ost", synth}) {
    for (const char* format : {"mbox", "eml"}) {
      EXPECT_EQ(CheckExport(source, format, TestTempDir() + "/mime-" + format), "") << source << " as " << format;
    }
  }
}

TEST(CliMimeConvert, AllFormsComeFromOnePassWithOneReportNamingEach) {
  const std::string source = testing::SourceDir() + "/samples/sample.ost";
  const std::string work = TestTempDir() + "/mime-all";
  fs::remove_all(work);
  auto c = RunProgram(ProgramPath("salvora-cli"), {"convert", source, "--dest", work, "--format", "all"});
  ASSERT_EQ(c.exit_code, 0) << c.err;
  const std::string pst = PrintedPath(c.out, "pst");
  ASSERT_FALSE(pst.empty()) << c.out;
  const std::string stem = pst.substr(0, pst.size() - 4);
  EXPECT_EQ(PrintedPath(c.out, "mbox"), stem + ".mbox");
  EXPECT_EQ(PrintedPath(c.out, "eml"), stem + ".eml");
  EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"verify", pst}).exit_code, 0);
  for (const char* format : {"mbox", "eml"})
    EXPECT_EQ(CheckExportDir(source, format, stem + "." + format, work), "") << format;
  // One report, naming the three: a pass of its own for each would have left three, each
  // over the one before.
  std::vector<std::string> reports;
  for (const auto& entry : fs::directory_iterator(work))
    if (entry.path().string().find(".report.") != std::string::npos) reports.push_back(entry.path().filename());
  EXPECT_EQ(reports.size(), 2u) << ::testing::PrintToString(reports);
  std::ifstream json(PrintedPath(c.out, "report_json"));
  const std::string text((std::istreambuf_iterator<char>(json)), std::istreambuf_iterator<char>());
  for (const char* ext : {".pst", ".mbox", ".eml"})
    EXPECT_NE(text.find(fs::path(stem).filename().string() + ext), std::string::npos) << ext << " in " << text;
  fs::remove_all(work);
}

TEST(CliMimeConvert, AnUnknownFormatIsRefusedBeforeAnythingIsMade) {
  const std::string dest = TestTempDir() + "/mime-refused";
  fs::remove_all(dest);
  auto c = RunProgram(ProgramPath("salvora-cli"),
                      {"convert", testing::SourceDir() + "/samples/sample.ost", "--dest", dest, "--format", "maildir"});
  EXPECT_EQ(c.exit_code, 2);
  EXPECT_NE(c.err.find("choose pst, mbox, eml or all"), std::string::npos) << c.err;
  EXPECT_FALSE(fs::exists(dest));
}

TEST(CliMimeConvert, EveryCorpusFileReadsBackAsItsSource) {
  const std::string corpus = testing::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus absent; skipped";
  std::size_t checked = 0;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    const auto ext = entry.path().extension();
    if (ext != ".pst" && ext != ".ost") continue;
    for (const char* format : {"mbox", "eml"}) {
      EXPECT_EQ(CheckExport(entry.path().string(), format, TestTempDir() + "/mime-corpus-" + format), "")
          << entry.path().filename() << " as " << format;
    }
    ++checked;
  }
  std::printf("%zu corpus files checked as mbox and eml\n", checked);
}

// The recurring appointments of the corpus expand, in their .ics files, to the occurrences
// their recurrence blobs (read through libpff) say, deleted and changed instances included.
TEST(CliMimeConvert, CorpusSeriesExpandToTheOccurrencesOfTheirBlobs) {
  const std::string corpus = testing::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "corpus absent; skipped";
  const std::string work = TestTempDir() + "/mime-recurrence";
  std::size_t checked = 0;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    const auto ext = entry.path().extension();
    if (ext != ".pst" && ext != ".ost") continue;
    fs::remove_all(work);
    auto c = RunProgram(ProgramPath("salvora-cli"), {"convert", entry.path().string(), "--dest", work, "--format", "eml"});
    ASSERT_EQ(c.exit_code == 0 || c.exit_code == 3, true) << entry.path() << c.err;
    auto check = RunProgram("/usr/bin/python3", {testing::SourceDir() + "/tests/cli/check_recurrence.py",
                                                 entry.path().string(), PrintedPath(c.out, "eml")});
    EXPECT_EQ(check.exit_code, 0) << entry.path().filename() << ": " << check.out << check.err;
    ++checked;
  }
  fs::remove_all(work);
  std::printf("%zu corpus files' recurring appointments checked\n", checked);
}

}  // namespace
}  // namespace salvora
