// The log writer: where a line goes, the size cap, the fallbacks, and lines that stay whole when
// threads write at once.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/activity_log.h"
#include "platform/test_home.h"

namespace salvora {
namespace {

namespace fs = std::filesystem;
using test::slurp;
using test::spit;
using test::TestHome;

struct LogFixture {
  TestHome home;
  fs::path install = home.root() / "install";
  fs::path logs = home.root() / "logs";
  SettingsStore settings{home.root() / "settings.ini"};
  ActivityLog log{settings};

  LogFixture() {
    fs::create_directories(install);
    fs::create_directories(logs);
    settings.Write("FilePath", install.string());
    settings.Write("LogPath", logs.string());
  }
};

TEST(ActivityLog, LinesFormatAndSelectors) {
  LogFixture f;
  ASSERT_TRUE(f.log.WriteLine(LogSelector::kActivity, "Step1:"));
  ASSERT_TRUE(f.log.WriteLine(LogSelector::kActivity, "\r\n"));
  ASSERT_TRUE(f.log.WriteLine(LogSelector::kActivity, "Select Source Path:"));
  EXPECT_EQ(slurp(f.logs / "Activity Log.txt"), "\r\nStep1:\r\n\r\n\r\nSelect Source Path:");

  // Text is cut at a NUL and after 299 characters, never inside a character.
  ASSERT_TRUE(f.log.WriteLine(LogSelector::kActivity, std::string("before\0after", 12)));
  std::string greek;
  for (int i = 0; i < 400; ++i) greek += "\xCE\xB1";
  ASSERT_TRUE(f.log.WriteLine(LogSelector::kActivity, "x" + greek));
  const std::string text = slurp(f.logs / "Activity Log.txt");
  EXPECT_NE(text.find("\r\nbefore"), std::string::npos);
  EXPECT_EQ(text.find("after"), std::string::npos);
  const std::string expected_tail = "\r\nx" + greek.substr(0, 298 * 2);
  EXPECT_EQ(text.substr(text.size() - expected_tail.size()), expected_tail);

  // The recovery log has its own setting; empty, it falls back to the install folder.
  ASSERT_TRUE(f.log.WriteLine(LogSelector::kRecovery, "recovered"));
  EXPECT_EQ(slurp(f.install / "Recovery Log.txt"), "\r\nrecovered");
  ASSERT_TRUE(f.settings.Write("Recovery Log", f.logs.string()));
  ASSERT_TRUE(f.log.WriteLine(LogSelector::kRecovery, "again"));
  EXPECT_EQ(slurp(f.logs / "Recovery Log.txt"), "\r\nagain");
}

TEST(ActivityLog, FolderFallbacks) {
  LogFixture f;
  // With and without a trailing separator the folder names the same file.
  ASSERT_TRUE(f.settings.Write("LogPath", f.logs.string() + "/"));
  ASSERT_TRUE(f.log.WriteLine(LogSelector::kActivity, "one"));
  ASSERT_TRUE(f.settings.Write("LogPath", f.logs.string()));
  ASSERT_TRUE(f.log.WriteLine(LogSelector::kActivity, "two"));
  EXPECT_EQ(slurp(f.logs / "Activity Log.txt"), "\r\none\r\ntwo");

  // A LogPath that is gone, or names a file, sends lines to the install folder.
  ASSERT_TRUE(f.settings.Write("LogPath", (f.home.root() / "missing").string()));
  ASSERT_TRUE(f.log.WriteLine(LogSelector::kActivity, "three"));
  spit(f.home.root() / "plainfile", "");
  ASSERT_TRUE(f.settings.Write("LogPath", (f.home.root() / "plainfile").string()));
  ASSERT_TRUE(f.log.WriteLine(LogSelector::kActivity, "four"));
  EXPECT_EQ(slurp(f.install / "Activity Log.txt"), "\r\nthree\r\nfour");

  // With no folder at all the line is lost, and the root of the file system is left alone.
  ASSERT_TRUE(f.settings.Write("LogPath", ""));
  ASSERT_TRUE(f.settings.Write("FilePath", ""));
  EXPECT_TRUE(f.log.ResolvePath(LogSelector::kActivity).empty());
  EXPECT_FALSE(f.log.WriteLine(LogSelector::kActivity, "lost"));

  // An install folder that does not exist either: the open fails and is reported.
  ASSERT_TRUE(f.settings.Write("FilePath", (f.home.root() / "nowhere").string()));
  EXPECT_FALSE(f.log.WriteLine(LogSelector::kActivity, "lost"));
}

TEST(ActivityLog, SizeCapRestartsTheLog) {
  LogFixture f;
  const fs::path file = f.logs / "Activity Log.txt";
  spit(file, std::string(4096, 'a'));
  ASSERT_TRUE(f.log.WriteLine(LogSelector::kActivity, "kept"));
  EXPECT_EQ(fs::file_size(file), 4096u + 6u) << "4096 bytes is not above the cap";

  ASSERT_TRUE(f.log.WriteLine(LogSelector::kActivity, "fresh"));
  EXPECT_EQ(slurp(file), "\r\nfresh") << "a log above 4096 bytes starts again with the new line";

  // A read-only log is made writable again rather than losing every line.
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  ASSERT_TRUE(f.log.WriteLine(LogSelector::kActivity, "after"));
  EXPECT_EQ(slurp(file), "\r\nfresh\r\nafter");
}

TEST(ActivityLog, ThreadsNeitherLoseNorMixLines) {
  LogFixture f;
  ASSERT_TRUE(f.settings.Write("LogPath", f.logs.string()));
  constexpr int kThreads = 6;
  constexpr int kLines = 40;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each record is long enough that a mixed line would be seen.
      const std::string text = "thread " + std::to_string(t) + " " + std::string(50, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i) {
        if (!f.log.WriteLine(LogSelector::kActivity, text)) ++failures[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;

  const std::string text = slurp(f.logs / "Activity Log.txt");
  ASSERT_LE(text.size(), 4096u + 60u);
  ASSERT_EQ(text.substr(0, 2), "\r\n");
  std::size_t pos = 0;
  while (pos < text.size()) {
    ASSERT_EQ(text.compare(pos, 2, "\r\n"), 0);
    const std::size_t next = std::min(text.find("\r\n", pos + 2), text.size());
    const std::string record = text.substr(pos + 2, next - pos - 2);
    ASSERT_EQ(record.size(), 59u) << record;
    EXPECT_EQ(record.substr(9), std::string(50, record[9])) << record;
    pos = next;
  }
}

}  // namespace
}  // namespace salvora
