#include "platform/temp_folder.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace salvora {

namespace {

constexpr std::string_view kFolderPrefix = "salvora-";

// The owner's process id in a name "salvora-<pid>-XXXXXX"; 0 for any other name.
pid_t owner_in_name(const std::string& name) {
  if (name.rfind(kFolderPrefix, 0) != 0) return 0;
  const std::size_t start = kFolderPrefix.size();
  const std::size_t dash = name.find('-', start);
  if (dash == std::string::npos || dash == start || dash - start > 9 || name.size() - dash - 1 != 6) return 0;
  pid_t pid = 0;
  for (std::size_t i = start; i < dash; ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    pid = pid * 10 + (name[i] - '0');
  }
  return pid;
}

}  // namespace

TempFolder::TempFolder(const fs::path& base) {
  // The process id in the name lets a later start tell a folder whose owner died (killed, say,
  // with the mail of its last item still inside) from one in use.
  std::string pattern = (base / (std::string(kFolderPrefix) + std::to_string(::getpid()) + "-XXXXXX")).string();
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

int remove_abandoned_temp_folders(const fs::path& base) {
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const pid_t owner = owner_in_name(name);
    if (owner <= 0 || owner == ::getpid()) continue;
    // Only a real folder of this user: never a link, never another user's, whose owner may be
    // alive without our being allowed to ask.
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) continue;
    // ESRCH is the only answer that says the owner is gone; EPERM means it lives.
    if (::kill(owner, 0) == 0 || errno != ESRCH) continue;
    std::error_code rm;
    fs::remove_all(it->path(), rm);  // does not follow links placed inside
    if (!rm) ++removed;
  }
  return removed;
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
    const fs::path base = temp_base_folder();
    // The first start after a process was killed clears what it left: the folder may hold a
    // mail header or an attachment of someone's mailbox.
    remove_abandoned_temp_folders(base);
    folder.emplace(base);
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

std::string new_temp_file_path(const std::string& prefix) {
  static std::atomic<std::uint64_t> counter{0};
  const std::string& folder = temp_folder();
  if (folder.empty()) return {};
  return folder + prefix + "-" + std::to_string(counter.fetch_add(1)) + ".bin";
}

}  // namespace salvora
