#include "ui/ost_file_finder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/plain_text.h"

namespace fs = std::filesystem;

namespace salvora::ui {

namespace {

using FolderId = std::pair<dev_t, ino_t>;

bool folder_id(const fs::path& folder, FolderId& id) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return false;
  id = {st.st_dev, st.st_ino};
  return true;
}

// The entries of one folder, by name, so that the rows come out in the same order on every run.
std::vector<fs::directory_entry> list_folder(const fs::path& folder) {
  std::vector<fs::directory_entry> entries;
  std::error_code ec;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) entries.push_back(*it);
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
  return entries;
}

FoundEntry describe(const fs::directory_entry& entry, const fs::path& folder) {
  FoundEntry found;
  found.name = entry.path().filename().string();
  found.folder = folder.string();
  std::error_code ec;
  found.is_folder = entry.is_directory(ec);
  found.full_path = entry.path().string() + (found.is_folder ? "/" : "");
  struct stat st {};
  // A dangling link still gets a row: it matched, and the user may know where it pointed.
  if (::stat(entry.path().c_str(), &st) == 0 || ::lstat(entry.path().c_str(), &st) == 0) {
    found.modified = st.st_mtime;
    if (!found.is_folder) found.size = static_cast<std::uintmax_t>(st.st_size);
  }
  return found;
}

}  // namespace

struct OstFileFinder::Walk {
  bool include_subfolders = false;
  int found = 0;
  std::set<FolderId> visited;
};

int OstFileFinder::Search(const fs::path& folder, bool include_subfolders) {
  Walk walk;
  walk.include_subfolders = include_subfolders;
  SearchFolder(walk, folder);
  return walk.found;
}

void OstFileFinder::SearchFolder(Walk& walk, const fs::path& folder) {
  FolderId id{};
  if (!folder_id(folder, id) || !walk.visited.insert(id).second) return;
  const std::vector<fs::directory_entry> entries = list_folder(folder);
  if (walk.include_subfolders) {
    for (const auto& entry : entries) {
      if (stop_requested()) return;
      std::error_code ec;
      // symlink_status: a link to a folder is not a folder here, so it is never entered.
      if (entry.symlink_status(ec).type() == fs::file_type::directory) SearchFolder(walk, entry.path());
    }
  }
  if (stop_requested()) return;
  if (callbacks_.folder_entered) callbacks_.folder_entered(folder.string(), walk.found);
  for (const auto& entry : entries) {
    if (stop_requested()) return;
    if (!matches_ost_pattern(entry.path().filename().string())) continue;
    ++walk.found;
    if (callbacks_.entry_found) callbacks_.entry_found(describe(entry, folder), walk.found);
  }
}

bool matches_ost_pattern(std::string_view name) {
  constexpr std::string_view kPattern = ".ost";
  if (name.size() < kPattern.size()) return false;
  for (std::size_t at = 0; at + kPattern.size() <= name.size(); ++at) {
    bool same = true;
    for (std::size_t i = 0; i < kPattern.size() && same; ++i) {
      const char c = name[at + i];
      same = ascii_lower(c) == kPattern[i];
    }
    if (same) return true;
  }
  return false;
}

std::string format_found_size(std::uintmax_t bytes) {
  const std::uintmax_t kilobytes = bytes / 1024;
  if (kilobytes > 9) return std::to_string(kilobytes) + " KB";
  return std::to_string(bytes) + " B";
}

std::string format_found_time(std::time_t when) {
  std::tm local{};
  if (::localtime_r(&when, &local) == nullptr) return {};
  // Built by hand: strftime's %p follows the user's locale and is empty in some of them.
  const int hour12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
  char text[64];
  std::snprintf(text, sizeof text, "%02d-%02d-%04d %02d:%02d %s", local.tm_mday, local.tm_mon + 1,
                local.tm_year + 1900, hour12, local.tm_min, local.tm_hour < 12 ? "AM" : "PM");
  return text;
}

}  // namespace salvora::ui
