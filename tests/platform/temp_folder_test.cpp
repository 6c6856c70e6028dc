// The private temporary folder: who may enter it, and that it is gone when the process is.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/temp_folder.h"
#include "platform/test_home.h"

namespace salvora {
namespace {

namespace fs = std::filesystem;
using test::slurp;
using test::spit;
using test::TestHome;

TEST(TempFolder, PrivateFolderRemovedWithItsContents) {
  TestHome home;
  EXPECT_EQ(temp_base_folder(), home.root() / "tmp");
  home.Set("TMPDIR", "relative");
  EXPECT_EQ(temp_base_folder(), fs::path("/tmp")) << "a relative TMPDIR is ignored";

  const fs::path outside = home.root() / "outside.txt";
  spit(outside, "keep");
  std::string path;
  {
    TempFolder folder(home.root() / "tmp");
    path = folder.path();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.back(), '/');
    EXPECT_EQ(fs::path(path).parent_path().parent_path(), home.root() / "tmp");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    spit(path + "Temp.eml", "From: x");
    fs::create_directory(path + "sub");
    fs::create_symlink(outside, path + "link");
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(slurp(outside), "keep") << "a link inside is removed, not followed";

  TempFolder failed(home.root() / "no" / "such" / "base");
  EXPECT_TRUE(failed.path().empty());
}

TEST(TempFolder, ForkedChildLeavesItsParentsFolder) {
  TestHome home;
  TempFolder folder(home.root() / "tmp");
  ASSERT_FALSE(folder.path().empty());
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    folder.Remove();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(fs::is_directory(folder.path()));
}

TEST(TempFolder, ProcessFolderGoesAtExit) {
  TestHome home;
  const fs::path report = home.root() / "path.txt";
  // The child starts with no process folder of its own (nothing in this program makes one before
  // this test), makes it, and leaves through exit() as the program does.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string& p = temp_folder();
    spit(report, p);
    spit(p + "temp.rtf", "{\\rtf1}");
    std::exit(!p.empty() && temp_folder() == p && fs::is_regular_file(p + "temp.rtf") ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const std::string path = slurp(report);
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(fs::path(path).parent_path().parent_path(), home.root() / "tmp");
  EXPECT_FALSE(fs::exists(path));
}

// A process id that no process has now: a child that has been waited for.
pid_t DeadProcessId() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

// The folder of a process killed mid-save goes at the next start; a live process's, a link,
// and folders that are not of this program's naming stay.
TEST(TempFolder, AbandonedFoldersOfDeadProcessesAreRemoved) {
  TestHome home;
  const fs::path base = home.root() / "tmp";
  {
    TempFolder mine(base);
    const std::string name = fs::path(mine.path()).parent_path().filename().string();
    EXPECT_EQ(name.rfind("salvora-" + std::to_string(::getpid()) + "-", 0), 0u) << name;
  }
  const pid_t dead = DeadProcessId();
  const fs::path abandoned = base / ("salvora-" + std::to_string(dead) + "-a1B2c3");
  fs::create_directories(abandoned / "sub");
  spit(abandoned / "Temp.eml", "From: someone");
  const fs::path outside = home.root() / "outside.txt";
  spit(outside, "keep");
  fs::create_symlink(outside, abandoned / "link");
  const std::vector<fs::path> kept = {
      base / ("salvora-" + std::to_string(::getpid()) + "-Xy12Zz"),   // this process's
      base / ("salvora-" + std::to_string(::getppid()) + "-Xy12Zz"),  // a live parent's
      base / "salvora-XyZ123",                                         // the older naming
      base / ("salvora-" + std::to_string(dead) + "-toolongname"),     // not a name of ours
      base / ("other-" + std::to_string(dead) + "-a1B2c3"),
  };
  for (const auto& k : kept) fs::create_directories(k);
  const fs::path elsewhere = home.root() / "elsewhere";
  fs::create_directories(elsewhere);
  const fs::path linked = base / ("salvora-" + std::to_string(dead) + "-LiNk00");
  fs::create_directory_symlink(elsewhere, linked);

  // Another user's folder: only root can make one here to see that it stays.
  const fs::path others = base / ("salvora-" + std::to_string(dead) + "-0ther5");
  if (::geteuid() == 0) {
    fs::create_directories(others);
    ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
  }

  EXPECT_EQ(remove_abandoned_temp_folders(base), 1);
  if (::geteuid() == 0) {
    EXPECT_TRUE(fs::is_directory(others)) << "another user's folder is left alone";
  }
  EXPECT_FALSE(fs::exists(abandoned));
  EXPECT_EQ(slurp(outside), "keep");
  for (const auto& k : kept) EXPECT_TRUE(fs::is_directory(k)) << k;
  EXPECT_TRUE(fs::is_symlink(linked)) << "a link is never taken for a folder of ours";
  EXPECT_TRUE(fs::is_directory(elsewhere));
  EXPECT_EQ(remove_abandoned_temp_folders(base / "missing"), 0);
}

}  // namespace
}  // namespace salvora
