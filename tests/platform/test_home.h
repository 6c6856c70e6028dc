#pragma once
// A private home for one test: HOME, XDG_CONFIG_HOME, XDG_STATE_HOME and TMPDIR point into a
// fresh folder, and everything is put back (and the folder removed) when the test ends.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace salvora::test {

class TestHome {
 public:
  TestHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "salvora-test-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    Set("HOME", root_ / "home");
    Set("XDG_CONFIG_HOME", root_ / "config");
    Set("XDG_STATE_HOME", root_ / "state");
    Set("TMPDIR", root_ / "tmp");
    for (const char* d : {"home", "config", "state", "tmp"}) std::filesystem::create_directories(root_ / d);
  }
  ~TestHome() {
    for (auto& [name, old] : saved_) {
      if (old) ::setenv(name.c_str(), old->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
    std::error_code ec;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(root_, ec);
  }
  TestHome(const TestHome&) = delete;
  TestHome& operator=(const TestHome&) = delete;

  const std::filesystem::path& root() const { return root_; }

  void Set(const std::string& name, const std::filesystem::path& value) {
    Save(name);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  void Unset(const std::string& name) {
    Save(name);
    ::unsetenv(name.c_str());
  }

 private:
  void Save(const std::string& name) {
    for (const auto& s : saved_) {
      if (s.first == name) return;
    }
    const char* old = ::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  }

  std::filesystem::path root_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

inline std::string slurp(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void spit(const std::filesystem::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

}  // namespace salvora::test
