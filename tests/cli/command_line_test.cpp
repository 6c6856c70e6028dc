// The command line as a user meets it: help and version for every command, both option forms,
// "--" before a file name with a dash, numbers checked, unknown options named, every error
// one line under the command's name, and the exit statuses the help promises.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/ndb_builder.h"
#include "support/run_program.h"
#include "support/test_folder.h"

namespace salvora {
namespace {

namespace fs = std::filesystem;
using testing::ProgramPath;
using testing::RunProgram;

const std::vector<std::string> kCommands = {"info", "analyze", "dump", "convert", "verify", "synth"};

std::string Sample() { return testing::SourceDir() + "/samples/sample.ost"; }

class CliCommandLine : public testing::TestFolder {};

TEST_F(CliCommandLine, EveryCommandAnswersHelpAndVersion) {
  for (const auto& command : kCommands) {
    SCOPED_TRACE(command);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{command, "--help"}, {command, "-h"}, {"help", command}}) {
      auto r = RunProgram(ProgramPath("salvora-cli"), args);
      EXPECT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(r.out.rfind("usage: salvora-cli " + command + " [options] ", 0), 0u) << r.out;
      EXPECT_NE(r.out.find("exit status:\n  0  "), std::string::npos) << r.out;
      EXPECT_TRUE(r.err.empty()) << r.err;
    }
    auto v = RunProgram(ProgramPath("salvora-cli"), {command, "--version"});
    EXPECT_EQ(v.exit_code, 0);
    EXPECT_EQ(v.out.rfind("salvora-cli ", 0), 0u) << v.out;
  }
  auto top = RunProgram(ProgramPath("salvora-cli"), {"--version"});
  EXPECT_EQ(top.exit_code, 0);
  EXPECT_EQ(top.out.rfind("salvora-cli ", 0), 0u);
  auto overview = RunProgram(ProgramPath("salvora-cli"), {"--help"});
  EXPECT_EQ(overview.exit_code, 0);
  for (const auto& command : kCommands) EXPECT_NE(overview.out.find("\n  " + command + " "), std::string::npos);
}

// What each command's help promises about its exit status, as the README does.
TEST_F(CliCommandLine, HelpListsTheExitStatuses) {
  struct Case {
    std::string command;
    std::vector<std::string> lines;
  } cases[] = {
      {"convert", {"  0  done", "  1  failed", "  2  the command line is wrong", "  3  done, but part", "  130  stopped"}},
      {"dump", {"  0  done", "  1  failed", "  2  the command line is wrong", "  3  done, but part"}},
      {"verify", {"  0  the PST is clean", "  1  violations found", "  2  the file could not be read as a PST"}},
  };
  for (const auto& c : cases) {
    auto r = RunProgram(ProgramPath("salvora-cli"), {c.command, "--help"});
    for (const auto& line : c.lines) EXPECT_NE(r.out.find(line), std::string::npos) << c.command << ": " << line;
  }
  auto overview = RunProgram(ProgramPath("salvora-cli"), {"--help"});
  for (const char* line : {"\n  0    done", "\n  1    failed", "\n  2    the command line is wrong", "\n  3    analyze, convert, dump, info: done",
                           "\n  130  convert: stopped"})
    EXPECT_NE(overview.out.find(line), std::string::npos) << line << "\n" << overview.out;
}

TEST_F(CliCommandLine, WrongCommandLinesAreOneNamedLineAndStatusTwo) {
  const std::string out = dir_ + "/synthetic.pst";
  struct Case {
    std::vector<std::string> args;
    std::string line;  // the whole of standard error
  } cases[] = {
      {{"synth", out, "--messages", "abc"}, "salvora-cli synth: --messages: 'abc' is not a number\n"},
      {{"synth", out, "--messages=12x"}, "salvora-cli synth: --messages: '12x' is not a number\n"},
      {{"synth", out, "--messages", "-5"}, "salvora-cli synth: --messages: -5 is out of range (0 to 100000000)\n"},
      {{"synth", out, "--client", "exchange"}, "salvora-cli synth: --client: 'exchange' is neither pst nor ost\n"},
      {{"info", Sample(), "--codepage", "abc"}, "salvora-cli info: --codepage: 'abc' is not a number\n"},
      {{"info", Sample(), "--codepage=0"}, "salvora-cli info: --codepage: 0 is out of range (1 to 65535)\n"},
      {{"analyze", "--bogus", Sample()}, "salvora-cli analyze: unknown option '--bogus'\n"},
      {{"analyze", "--bogus=1", Sample()}, "salvora-cli analyze: unknown option '--bogus'\n"},
      {{"analyze", "-x", Sample()}, "salvora-cli analyze: unknown option '-x'\n"},
      {{"analyze", "--json=yes", Sample()}, "salvora-cli analyze: --json takes no value\n"},
      {{"convert", Sample(), "--dest"}, "salvora-cli convert: --dest needs a value\n"},
      {{"convert", Sample(), "--dest="}, "salvora-cli convert: --dest needs a value\n"},
      {{"dump"}, "salvora-cli dump: no file given (see salvora-cli dump --help)\n"},
      {{"info", Sample(), Sample()}, "salvora-cli info: only one file can be given, not '" + Sample() + "' as well\n"},
      {{"frobnicate", Sample()}, "salvora-cli: unknown command 'frobnicate' (see salvora-cli --help)\n"},
      {{"help", "frobnicate"}, "salvora-cli: no command 'frobnicate' (see salvora-cli --help)\n"},
  };
  for (const auto& c : cases) {
    auto r = RunProgram(ProgramPath("salvora-cli"), c.args);
    SCOPED_TRACE(c.line);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, c.line);
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_FALSE(fs::exists(out)) << "synth wrote a file from a bad command line";
}

TEST_F(CliCommandLine, BothOptionFormsAndDashedFileNames) {
  auto joined = RunProgram(ProgramPath("salvora-cli"), {"info", "--codepage=932", Sample()});
  auto apart = RunProgram(ProgramPath("salvora-cli"), {"info", "--codepage", "932", Sample()});
  EXPECT_EQ(joined.exit_code, 0) << joined.err;
  EXPECT_EQ(joined.out, apart.out);
  EXPECT_NE(joined.out.find("version=36\n"), std::string::npos);

  // A file whose name starts with a dash, named relative to the current folder.
  fs::copy_file(Sample(), dir_ + "/-mail.ost");
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  auto with_end = RunProgram(ProgramPath("salvora-cli"), {"info", "--", "-mail.ost"});
  auto without = RunProgram(ProgramPath("salvora-cli"), {"info", "-mail.ost"});
  auto synth = RunProgram(ProgramPath("salvora-cli"), {"synth", "--messages=3", "--", "-out.pst"});
  fs::current_path(before);
  EXPECT_EQ(with_end.exit_code, 0) << with_end.err;
  EXPECT_EQ(with_end.out, joined.out);
  EXPECT_EQ(without.exit_code, 2);
  EXPECT_EQ(without.err, "salvora-cli info: unknown option '-m'\n");
  EXPECT_EQ(synth.exit_code, 0) << synth.err;
  EXPECT_TRUE(fs::exists(dir_ + "/-out.pst"));
}

// An error of the work itself (not of the command line) is named by its command too.
TEST_F(CliCommandLine, FileErrorsCarryTheCommandName) {
  for (const auto& command : {"info", "analyze", "dump", "convert"}) {
    auto r = RunProgram(ProgramPath("salvora-cli"), {command, dir_ + "/nowhere.ost"});
    EXPECT_EQ(r.exit_code, 1) << command;
    EXPECT_EQ(r.err.rfind(std::string("salvora-cli ") + command + ": ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
}

}  // namespace
}  // namespace salvora
