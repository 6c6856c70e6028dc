// The private temporary folder: who may enter it, and that it is gone when the process is.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

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

}  // namespace
}  // namespace salvora
