// salvora-cli info: what a user sees for the bundled sample and for files it cannot use.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <fstream>

#include "support/ndb_builder.h"
#include "support/run_program.h"

namespace salvora {
namespace {

using testing::ProgramPath;
using testing::RunProgram;

std::size_t count_lines(const std::string& s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')); }

TEST(CliInfo, BundledSample) {
  auto r = RunProgram(ProgramPath("salvora-cli"), {"info", testing::SourceDir() + "/samples/sample.ost"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("format=unicode-4k\n"), std::string::npos);
  EXPECT_NE(r.out.find("version=36\n"), std::string::npos);
  EXPECT_NE(r.out.find("client=OST\n"), std::string::npos);
  EXPECT_NE(r.out.find("crypt=none\n"), std::string::npos);
  EXPECT_NE(r.out.find("blocks=1469\n"), std::string::npos);
  EXPECT_NE(r.out.find("nodes=571\n"), std::string::npos);
  EXPECT_NE(r.out.find("orphans=0\n"), std::string::npos);
}

TEST(CliInfo, UnusableFilesGiveOneLineAndFailure) {
  const std::string dir = testing::TestTempDir();
  std::ofstream(dir + "/letter.txt") << "Dear all,\n" << std::string(1000, 'x');
  const std::string locked = testing::TestTempDir() + "/held.ost";
  std::ofstream(locked, std::ios::binary) << std::string(600, '\0');
  const int fd = ::open(locked.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);

  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"info", dir + "/nowhere.ost"}, "No such file"},
      {{"info", dir + "/letter.txt"}, "not an Outlook data file"},
      {{"info", locked}, "in use"},
      {{"info", dir}, "directory"},
      {{"info"}, "no file given"},
      {{"info", "a.ost", "--codepage", "abc"}, "not a number"},
  };
  for (const auto& c : cases) {
    auto r = RunProgram(ProgramPath("salvora-cli"), c.args);
    SCOPED_TRACE(c.args.back());
    EXPECT_NE(r.exit_code, 0);
    EXPECT_EQ(count_lines(r.err), 1u) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
  ::close(fd);
}

}  // namespace
}  // namespace salvora
