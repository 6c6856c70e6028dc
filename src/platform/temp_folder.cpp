#include "platform/temp_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace salvora {

TempFolder::TempFolder(const fs::path& base) {
  std::string pattern = (base / "salvora-XXXXXX").string();
  // mkdtemp creates the folder with mode 0700 and a name no other process can have taken.
  if (::mkdtemp(pattern.data()) == nullptr) return;
  path_ = pattern + "/";
  owner_ = ::getpid();
}

TempFolder::~TempFolder() { Remove(); }

void TempFolder::Remove() {
  if (path_.empty() || removed_ || ::getpid() != owner_) return;
  removed_ = true;
  std::error_code ec;
  fs::remove_all(path_, ec);  // does not follow links placed inside
}

fs::path temp_base_folder() {
  const char* tmpdir = std::getenv("TMPDIR");
  std::error_code ec;
  if (tmpdir != nullptr && tmpdir[0] == '/' && fs::is_directory(tmpdir, ec)) return fs::path(tmpdir);
  return fs::path("/tmp");
}

namespace {

std::mutex& folder_mutex() {
  static std::mutex m;
  return m;
}

std::optional<TempFolder>& process_folder() {
  static std::optional<TempFolder> folder;
  return folder;
}

}  // namespace

const std::string& temp_folder() {
  static const std::string& path = [&]() -> const std::string& {
    std::lock_guard lock(folder_mutex());
    auto& folder = process_folder();
    folder.emplace(temp_base_folder());
    // Registered after the folder object exists, so the handler runs before its destructor.
    std::atexit(remove_temp_folder);
    return folder->path();
  }();
  return path;
}

void remove_temp_folder() {
  std::lock_guard lock(folder_mutex());
  if (auto& folder = process_folder()) folder->Remove();
}

}  // namespace salvora
