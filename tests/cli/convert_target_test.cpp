// Where convert's PST goes and the faults around it: a new PST per run, never through a planted
// link, private to its owner, nothing left behind by a run that wrote nothing; sources that are
// no regular file; readers side by side; and a full disk counted item for item.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/ndb_builder.h"
#include "support/run_program.h"
#include "support/test_folder.h"

namespace salvora {
namespace {

namespace fs = std::filesystem;
using testing::ProgramPath;
using testing::RunProgram;
using testing::TestTempDir;

std::string Sample() { return testing::SourceDir() + "/samples/sample.ost"; }

std::string PstOf(const testing::ProgramResult& r) {
  std::smatch m;
  return std::regex_search(r.out, m, std::regex("(^|\n)pst=([^\n]*)")) ? m[2].str() : std::string();
}

// The messages of a PST as our own dump lists them (one line each).
// Every message of the PST, a folder's hidden items included, as the verifier counts them (its
// summary goes to standard error).
std::size_t MessagesIn(const std::string& pst) {
  const auto r = RunProgram(ProgramPath("salvora-cli"), {"verify", pst});
  std::smatch m;
  if (!std::regex_search(r.err, m, std::regex(", (\\d+) messages"))) return 0;
  return std::stoul(m[1].str());
}

// The time-stamped name a convert started at `when` gives its PST.
std::string StampedName(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char buf[96];
  std::snprintf(buf, sizeof buf, "Salvora_Tools_Personal_Folder%d-%d-%d %d-%d.pst", local.tm_mday, local.tm_mon + 1,
                local.tm_year + 1900, local.tm_hour, local.tm_min);
  return buf;
}

class ConvertTarget : public testing::TestFolder {};

// Two converts into one folder in the same minute, with a link planted at the scratch name the
// first would use: two whole PSTs, each the whole sample and nothing more, each 0600, and the
// link's target untouched.
TEST_F(ConvertTarget, EachRunMakesItsOwnPrivatePstAndNoLinkIsFollowed) {
  const std::string dest = dir_ + "/out";
  fs::create_directories(dest);
  const std::string victim = dir_ + "/victim.txt";
  std::ofstream(victim) << "keep";
  const std::time_t now = std::time(nullptr);
  for (std::time_t when : {now, now + 60}) fs::create_symlink(victim, dest + "/" + StampedName(when) + ".partial");

  const auto first = RunProgram(ProgramPath("salvora-cli"), {"convert", Sample(), "--dest", dest});
  const auto second = RunProgram(ProgramPath("salvora-cli"), {"convert", Sample(), "--dest", dest});
  ASSERT_EQ(first.exit_code, 0) << first.err;
  ASSERT_EQ(second.exit_code, 0) << second.err;
  const std::string a = PstOf(first), b = PstOf(second);
  EXPECT_NE(a, b);
  EXPECT_NE(a.find(" (2).pst"), std::string::npos) << a << ": the planted name is passed over";
  const std::size_t whole = MessagesIn(a);
  EXPECT_GT(whole, 0u);
  EXPECT_EQ(MessagesIn(b), whole);
  for (const auto& pst : {a, b}) {
    struct stat st {};
    ASSERT_EQ(::stat(pst.c_str(), &st), 0) << pst;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << pst;
    EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"verify", pst}).exit_code, 0) << pst;
    EXPECT_FALSE(fs::exists(pst + ".partial"));
  }
  std::ifstream in(victim);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "keep");
}

// A convert that fails before it writes anything leaves no folder: not the default Repair
// folder beside the source, not a --dest that did not exist.
TEST_F(ConvertTarget, ARunThatWritesNothingLeavesNothing) {
  std::ifstream in(Sample(), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The header stays (the source opens and is an OST); every index it points at is zeros.
  std::fill(bytes.begin() + 4096, bytes.end(), '\0');
  const std::string source = dir_ + "/blank.ost";
  std::ofstream(source, std::ios::binary) << bytes;
  const auto to_default = RunProgram(ProgramPath("salvora-cli"), {"convert", source});
  EXPECT_EQ(to_default.exit_code, 1) << to_default.err;
  EXPECT_FALSE(fs::exists(dir_ + "/Repair"));
  const auto to_dest = RunProgram(ProgramPath("salvora-cli"), {"convert", source, "--dest", dir_ + "/new/nested"});
  EXPECT_EQ(to_dest.exit_code, 1) << to_dest.err;
  EXPECT_FALSE(fs::exists(dir_ + "/new"));
}

// A destination longer than the system's path limit is told as such at once, not taken for a
// folder where every name is in use.
TEST_F(ConvertTarget, ADestinationPastThePathLimitIsToldAsSuch) {
  std::string dest = dir_;
  while (dest.size() < 5000) dest += "/" + std::string(200, 'd');
  const auto r = RunProgram("/usr/bin/timeout", {"60", ProgramPath("salvora-cli"), "convert", Sample(), "--dest", dest});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find("longer than the system allows"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("is taken"), std::string::npos) << r.err;
}

// Under a 3 GB limit on address space, as batch schedulers set it, a convert runs to its end:
// the arrays sized for the largest store take only a share of what the limit leaves.
TEST_F(ConvertTarget, ConvertRunsUnderAThreeGigabyteAddressSpaceLimit) {
#ifdef SALVORA_SANITIZED
  GTEST_SKIP() << "a sanitizer's shadow memory does not fit under a limit on address space";
#endif
  const auto r = RunProgram("/bin/sh", {"-c", "ulimit -v 3000000 && exec \"$0\" convert \"$1\" --dest \"$2\"",
                                        ProgramPath("salvora-cli"), Sample(), dir_ + "/limited"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"verify", PstOf(r)}).exit_code, 0);
}

// A FIFO would make every command wait for a writer; it and the other files that are no store
// are refused at once with the reason.
TEST_F(ConvertTarget, SourcesThatAreNoRegularFileAreRefusedAtOnce) {
  const std::string fifo = dir_ + "/mail.ost";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& source : {fifo, std::string("/dev/zero"), dir_}) {
    for (const char* command : {"info", "analyze", "dump", "convert", "verify"}) {
      // The timeout only keeps a regression from hanging the suite.
      const auto r = RunProgram("/usr/bin/timeout", {"60", ProgramPath("salvora-cli"), command, source});
      EXPECT_EQ(r.exit_code, std::string(command) == "verify" ? 2 : 1) << command << " " << source << ": " << r.err;
      const bool named = r.err.find("not a regular file") != std::string::npos ||
                         r.err.find("Is a directory") != std::string::npos;
      EXPECT_TRUE(named) << command << " " << source << ": " << r.err;
    }
  }
  EXPECT_FALSE(fs::exists(dir_ + "/Repair"));
}

// Readers of one file run side by side; a program that holds it locked for writing keeps
// them out with "in use".
TEST_F(ConvertTarget, ReadersShareTheSourceAndAWriterKeepsThemOut) {
  const std::string source = dir_ + "/mail.ost";
  fs::copy_file(Sample(), source);
  const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_SH), 0);
  EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"info", source}).exit_code, 0);
  const auto convert = RunProgram(ProgramPath("salvora-cli"), {"convert", source, "--dest", dir_ + "/out"});
  EXPECT_EQ(convert.exit_code, 0) << convert.err;
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  for (const char* command : {"info", "analyze", "convert"}) {
    const auto r = RunProgram(ProgramPath("salvora-cli"), {command, source});
    EXPECT_EQ(r.exit_code, 1) << command;
    EXPECT_NE(r.err.find("in use"), std::string::npos) << command << ": " << r.err;
  }
  ::close(fd);
  // A PST another program is still writing is not verified half-written.
  const std::string pst = [&] {
    for (const auto& e : fs::directory_iterator(dir_ + "/out")) {
      if (e.path().extension() == ".pst") return e.path().string();
    }
    return std::string();
  }();
  const int pst_fd = ::open(pst.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(pst_fd, 0) << pst;
  ASSERT_EQ(::flock(pst_fd, LOCK_SH), 0);
  EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"verify", pst}).exit_code, 0);
  ASSERT_EQ(::flock(pst_fd, LOCK_EX), 0);
  const auto busy = RunProgram(ProgramPath("salvora-cli"), {"verify", pst});
  EXPECT_EQ(busy.exit_code, 2);
  EXPECT_NE(busy.err.find("in use"), std::string::npos) << busy.err;
  ::close(pst_fd);
}

// What a killed convert left in its private temporary folder (a mail header, say) goes with the
// next convert; the folder of a live process stays.
TEST_F(ConvertTarget, NextConvertRemovesTheFolderAKilledOneLeft) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);  // its process id now names no process
  const std::string tmp = dir_ + "/tmp";
  const std::string dead = tmp + "/salvora-" + std::to_string(child) + "-kIlLed";
  const std::string live = tmp + "/salvora-" + std::to_string(::getpid()) + "-aLiVe0";
  fs::create_directories(dead);
  fs::create_directories(live);
  std::ofstream(dead + "/Temp.eml") << "From: someone\r\nSubject: private\r\n";
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  ::setenv("TMPDIR", tmp.c_str(), 1);
  const auto r = RunProgram(ProgramPath("salvora-cli"), {"convert", Sample(), "--dest", dir_ + "/out"});
  if (old) ::setenv("TMPDIR", saved.c_str(), 1); else ::unsetenv("TMPDIR");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_TRUE(fs::is_directory(live));
  // The convert's own folder went with it at its end.
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp), fs::directory_iterator()), 1);
}

// Runs convert in a child whose files cannot grow past limit bytes (the error a full disk
// gives); returns its exit status and what it printed on standard error.
std::pair<int, std::string> ConvertWithFileLimit(const std::string& dest, rlim_t limit, const std::string& err_file) {
  const std::string program = ProgramPath("salvora-cli");
  const std::string source = Sample();
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of killing the process
    const int out = ::open("/dev/null", O_WRONLY);
    const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    const rlimit r{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &r);
    ::execl(program.c_str(), program.c_str(), "convert", source.c_str(), "--dest", dest.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  std::ifstream in(err_file);
  std::stringstream text;
  text << in.rdbuf();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

// The disk fills at several points of the sample: the run fails naming the full disk, and the
// count of items not written is exactly what the PST lacks.
TEST_F(ConvertTarget, FullDiskCountsEveryItemThePstLacks) {
  const auto whole_run = RunProgram(ProgramPath("salvora-cli"), {"convert", Sample(), "--dest", dir_ + "/whole"});
  ASSERT_EQ(whole_run.exit_code, 0) << whole_run.err;
  const std::size_t whole = MessagesIn(PstOf(whole_run));
  for (rlim_t limit : {rlim_t{500000}, rlim_t{700000}, rlim_t{900000}}) {
    const std::string dest = dir_ + "/limit-" + std::to_string(limit);
    const auto [status, err] = ConvertWithFileLimit(dest, limit, dir_ + "/err.txt");
    EXPECT_NE(err.find("the disk is full"), std::string::npos) << err;
    EXPECT_EQ(err.find("member 0x"), std::string::npos) << err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(err, m, std::regex("(\\d+) items (of the mailbox )?could not be written"))) << err;
    const std::size_t reported = std::stoul(m[1].str());
    std::size_t kept = 0;
    std::size_t psts = 0;
    for (const auto& e : fs::directory_iterator(dest)) {
      if (e.path().extension() != ".pst") continue;
      ++psts;
      EXPECT_EQ(RunProgram(ProgramPath("salvora-cli"), {"verify", e.path().string()}).exit_code, 0);
      kept += MessagesIn(e.path().string());
    }
    EXPECT_EQ(reported + kept, whole) << "limit " << limit << ": " << err;
    // A PST with a part of the mailbox is a partial result that says what it holds; one that
    // would hold nothing is not left on the full disk.
    if (kept > 0) {
      EXPECT_EQ(status, 3) << err;
      EXPECT_NE(err.find("holds " + std::to_string(kept) + " items"), std::string::npos) << err;
    } else {
      EXPECT_EQ(status, 1) << err;
      EXPECT_EQ(psts, 0u) << err;
    }
  }
}

}  // namespace
}  // namespace salvora
