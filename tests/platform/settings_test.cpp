// The settings file stands in for the registry: its limits, its first start, and that a write
// never destroys what was there.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "platform/product_globals.h"
#include "platform/settings.h"
#include "platform/test_home.h"

namespace salvora {
namespace {

namespace fs = std::filesystem;
using test::slurp;
using test::spit;
using test::TestHome;

std::string repeat(const std::string& unit, std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += unit;
  return s;
}

TEST(Settings, ReadLimitsAndMissingPieces) {
  TestHome home;
  const fs::path file = home.root() / "settings.ini";
  SettingsStore store(file);
  EXPECT_EQ(store.Read("FilePath"), "") << "no file";

  const std::string ascii259 = repeat("a", 259);
  const std::string greek259 = repeat("\xCE\xB1", 259);  // 259 characters, 518 bytes
  spit(file,
       "; written by hand\r\n"
       "[Other]\r\nLogPath=/not/ours\r\n"
       "[svost_pst]\r\n"
       "filepath = /opt/salvora \r\n"
       "LogPath=" + ascii259 + "\r\n"
       "Recovery Log=" + repeat("b", 260) + "\r\n"
       "RPTFile=" + greek259 + "\r\n"
       "LngFile=" + repeat("\xCE\xB1", 260) + "\r\n");
  EXPECT_EQ(store.Read("FilePath"), "/opt/salvora") << "names and section without regard to case";
  EXPECT_EQ(store.Read("LogPath"), ascii259) << "a value of 259 characters is read whole";
  EXPECT_EQ(store.Read("Recovery Log"), "") << "260 characters read as empty";
  EXPECT_EQ(store.Read("RPTFile"), greek259) << "the limit counts characters, not bytes";
  EXPECT_EQ(store.Read("LngFile"), "");

  spit(file, "[Other]\nFilePath=/elsewhere\n");
  EXPECT_EQ(store.Read("FilePath"), "") << "a missing section makes every value empty";
}

TEST(Settings, WriteKeepsTheRestAndRefusesWhatWouldNotReadBack) {
  TestHome home;
  const fs::path file = home.root() / "deep" / "folder" / "settings.ini";
  SettingsStore store(file);
  ASSERT_TRUE(store.Write("LogPath", "/var/log/x")) << "creates folder, file and section";
  EXPECT_EQ(store.Read("LogPath"), "/var/log/x");

  spit(file, "# keep me\n[Other]\nA=1\n[SVOST_PST]\nLogPath=/old\nLOGPATH=/stale\n\n[Later]\nB=2\n");
  ASSERT_TRUE(store.Write("logpath", "/new"));
  ASSERT_TRUE(store.Write("RPTFile", "/r/report.txt"));
  EXPECT_EQ(store.Read("LogPath"), "/new");
  EXPECT_EQ(store.Read("RPTFile"), "/r/report.txt");
  const std::string text = slurp(file);
  EXPECT_NE(text.find("# keep me\n[Other]\nA=1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[Later]\nB=2\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("/stale"), std::string::npos) << "a duplicate would mislead a reader of the file";
  EXPECT_LT(text.find("RPTFile"), text.find("[Later]")) << "a new value goes into our section";

  EXPECT_TRUE(store.Write("FilePath", repeat("\xE6\x97\xA5", 259)));
  EXPECT_FALSE(store.Write("FilePath", repeat("x", 260)));
  EXPECT_FALSE(store.Write("FilePath", "/a\nLogPath=/evil"));
  EXPECT_FALSE(store.Write("FilePath", " /leading"));
  EXPECT_FALSE(store.Write("File=Path", "/x"));
  EXPECT_EQ(store.Read("FilePath"), repeat("\xE6\x97\xA5", 259)) << "refused writes change nothing";
  EXPECT_EQ(store.Read("LogPath"), "/new");

  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  for (const auto& entry : fs::directory_iterator(file.parent_path())) {
    EXPECT_EQ(entry.path().filename(), "settings.ini") << "no temporary file is left behind";
  }

  // A settings file reached through a link is updated where it lives.
  const fs::path linked = home.root() / "linked.ini";
  fs::create_symlink(file, linked);
  SettingsStore through_link(linked);
  ASSERT_TRUE(through_link.Write("LngFile", "DutchA.dat"));
  EXPECT_TRUE(fs::is_symlink(linked));
  EXPECT_EQ(store.Read("LngFile"), "DutchA.dat");
}

TEST(Settings, FirstStartWritesTheInstallationsValuesOnce) {
  TestHome home;
  EXPECT_EQ(SettingsStore::DefaultFile(), home.root() / "config" / "salvora" / "settings.ini");
  EXPECT_EQ(SettingsStore::DefaultLogFolder(), home.root() / "state" / "salvora");
  home.Set("XDG_CONFIG_HOME", "relative/dir");
  home.Unset("XDG_STATE_HOME");
  EXPECT_EQ(SettingsStore::DefaultFile(), home.root() / "home" / ".config" / "salvora" / "settings.ini")
      << "a relative XDG folder is ignored";
  EXPECT_EQ(SettingsStore::DefaultLogFolder(), home.root() / "home" / ".local" / "state" / "salvora");

  SettingsStore store(SettingsStore::DefaultFile());
  const fs::path logs = SettingsStore::DefaultLogFolder();
  ASSERT_TRUE(store.InstallDefaults({"/opt/salvora/resources", logs.string()}));
  EXPECT_EQ(store.Read("FilePath"), "/opt/salvora/resources");
  EXPECT_EQ(store.Read("LogPath"), logs.string());
  EXPECT_EQ(store.Read("Recovery Log"), logs.string());
  EXPECT_EQ(store.Read("RPTFile"), "");
  EXPECT_EQ(store.Read("LngFile"), "");
  EXPECT_NE(slurp(store.file()).find("RPTFile=\n"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(::stat(logs.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  ASSERT_TRUE(store.Write("LogPath", "/chosen"));
  EXPECT_FALSE(store.InstallDefaults({"/other", "/other/logs"})) << "only the first start";
  EXPECT_EQ(store.Read("LogPath"), "/chosen");
}

fs::path make_resources(const fs::path& at) {
  fs::create_directories(at / "data");
  spit(at / "progress.html", "<p>");
  return at;
}

TEST(ProductGlobals, FindsResourcesBesideOrAboveTheProgram) {
  TestHome home;
  const fs::path build = home.root() / "build";
  fs::create_directories(build / "bin" / "resources");  // no pages: not ours
  fs::create_directories(build / "tests" / "deep");
  const fs::path in_tree = make_resources(build / "resources");
  EXPECT_EQ(find_resources_folder(build / "bin"), in_tree) << "a folder without the pages is skipped";
  EXPECT_EQ(find_resources_folder(build / "tests" / "deep"), in_tree);
  const fs::path beside = make_resources(build / "bin" / "resources");
  EXPECT_EQ(find_resources_folder(build / "bin"), beside);

  const fs::path prefix = home.root() / "usr";
  fs::create_directories(prefix / "bin");
  const fs::path installed = make_resources(prefix / "share" / "salvora" / "resources");
  EXPECT_EQ(find_resources_folder(prefix / "bin"), installed);
  EXPECT_FALSE(find_resources_folder(home.root() / "home").has_value());
}

TEST(ProductGlobals, StartUpWritesDefaultsAndFollowsAMovedInstallation) {
  TestHome home;
  SettingsStore store(SettingsStore::DefaultFile());
  const fs::path res = make_resources(home.root() / "app" / "resources");
  ProductGlobals g = load_product_globals(store, res, SettingsStore::DefaultLogFolder());
  EXPECT_EQ(g.install_folder, res.string());
  EXPECT_EQ(g.data_folder, (res / "data").string());
  EXPECT_EQ(g.log_folder, SettingsStore::DefaultLogFolder().string());

  // A FilePath that still names a folder is the installation's choice and stays.
  const fs::path other = make_resources(home.root() / "other");
  ASSERT_TRUE(store.Write("FilePath", other.string()));
  EXPECT_EQ(load_product_globals(store, res, "/unused").install_folder, other.string());

  // One that no longer exists is given the folder the program runs from.
  fs::remove_all(other);
  EXPECT_EQ(load_product_globals(store, res, "/unused").install_folder, res.string());
  EXPECT_EQ(store.Read("FilePath"), res.string());
}

TEST(ProductGlobals, LanguageFileSelection) {
  EXPECT_EQ(select_language_file("FrenchA.dat"), "FrenchA.dat");
  EXPECT_EQ(select_language_file("frencha.DAT"), "FrenchA.dat");
  EXPECT_EQ(select_language_file("GERMANA.dat"), "GermanA.dat");
  EXPECT_EQ(select_language_file("DutchA.dat"), "DutchA.dat");
  EXPECT_EQ(select_language_file("ItalianA.dat"), "EnglishA.dat");
  EXPECT_EQ(select_language_file("FrenchA.dat "), "EnglishA.dat");
  EXPECT_EQ(select_language_file(""), "EnglishA.dat");
  EXPECT_EQ(kProductTitle, "Salvora for OST to PST");
}

}  // namespace
}  // namespace salvora
