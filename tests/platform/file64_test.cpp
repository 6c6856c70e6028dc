// CFile64's refusals: files that are not regular files, and names that are taken.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "platform/file64.h"
#include "platform/test_home.h"

namespace salvora {
namespace {

namespace fs = std::filesystem;
using test::slurp;
using test::spit;
using test::TestHome;

// A FIFO without a writer would block a plain open for ever; a folder, a device and a socket
// are no store either. Each is refused by Open itself, with the name and the reason.
TEST(File64, OnlyRegularFilesOpen) {
  TestHome home;
  const std::string fifo = (home.root() / "pipe.ost").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string socket_path = (home.root() / "sock.ost").string();
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  socket_path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  struct Case {
    std::string path;
    CFile64::Access access;
    const char* reason;
  } cases[] = {
      {fifo, CFile64::Access::kReadOnly, "not a regular file"},
      {fifo, CFile64::Access::kReadWrite, "not a regular file"},
      {"/dev/null", CFile64::Access::kReadOnly, "not a regular file"},
      {home.root().string(), CFile64::Access::kReadOnly, "directory"},
  };
  for (const auto& c : cases) {
    CFile64 file;
    CFileException error;
    EXPECT_FALSE(file.Open(c.path, c.access, CFile64::Lock::kShared, &error)) << c.path;
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(error.cause(), CFileException::invalidFile) << c.path;
    EXPECT_NE(error.message().find(c.path + ": "), std::string::npos) << error.message();
    EXPECT_NE(error.message().find(c.reason), std::string::npos) << error.message();
  }
  CFile64 file;
  EXPECT_FALSE(file.Open(socket_path, CFile64::Access::kReadOnly));
  ::close(sock);
}

// RenameNew gives a file its name only when no file has it; Rename replaces, as rename(2).
TEST(File64, RenameNewNeverReplaces) {
  TestHome home;
  const std::string taken = (home.root() / "taken.pst").string();
  spit(taken, "another run's store");
  const std::string scratch = (home.root() / "mine.partial").string();
  CFile64 file;
  ASSERT_TRUE(file.Open(scratch, CFile64::Access::kCreateNew));
  file.Write("mine", 4);
  try {
    file.RenameNew(taken);
    ADD_FAILURE() << "the taken name was replaced";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.os_error(), EEXIST);
  }
  EXPECT_EQ(slurp(taken), "another run's store");
  EXPECT_EQ(file.GetFilePath(), scratch);
  const std::string free_name = (home.root() / "free.pst").string();
  file.RenameNew(free_name);
  EXPECT_EQ(file.GetFilePath(), free_name);
  EXPECT_FALSE(fs::exists(scratch));
  EXPECT_EQ(slurp(free_name), "mine");
}

}  // namespace
}  // namespace salvora
