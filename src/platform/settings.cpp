#include "platform/settings.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/plain_text.h"

namespace fs = std::filesystem;

namespace salvora {
namespace {

// Serialises read-modify-write cycles of this process; across processes the atomic rename keeps
// the file whole (the last writer wins).
std::mutex& write_mutex() {
  static std::mutex m;
  return m;
}



// An absolute folder from an environment variable; relative values are ignored, as the XDG
// rules require.
std::optional<fs::path> env_folder(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr || v[0] != '/') return std::nullopt;
  return fs::path(v);
}

std::optional<fs::path> home_folder() {
  if (auto home = env_folder("HOME")) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/') {
    return fs::path(pw->pw_dir);
  }
  return std::nullopt;
}

// The file's lines without their line ends; nullopt when it exists but cannot be read, so that a
// write never replaces a file it could not see.
std::optional<std::vector<std::string>> read_lines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::error_code ec;
    if (fs::exists(file, ec) || ec) return std::nullopt;
    return lines;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  if (in.bad()) return std::nullopt;
  return lines;
}

bool is_section_header(std::string_view line) {
  line = trim(line);
  return line.size() >= 2 && line.front() == '[' && line.back() == ']';
}

bool is_our_section(std::string_view line) {
  line = trim(line);
  return is_section_header(line) && equal_ignoring_ascii_case(trim(line.substr(1, line.size() - 2)), kSettingsKey);
}

// The value of a "name=value" line, when the line sets that name.
std::optional<std::string_view> value_of(std::string_view line, std::string_view name) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  if (!equal_ignoring_ascii_case(trim(line.substr(0, eq)), name)) return std::nullopt;
  return trim(line.substr(eq + 1));
}

bool storable(std::string_view text) {
  if (utf8_char_count(text) > kMaxSettingChars) return false;
  if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) return false;
  return trim(text) == text;
}

bool storable_name(std::string_view name) {
  return !name.empty() && trim(name) == name && name.find_first_of(std::string_view("=\r\n\0[]", 6)) == std::string_view::npos;
}

// Writes the lines beside the target, syncs, then publishes. With exclusive set, publishing
// fails when the target already exists (another process's first start won the race).
bool publish(const fs::path& link_or_file, const std::vector<std::string>& lines, bool exclusive) {
  std::error_code ec;
  // A settings file kept elsewhere behind a link stays there; the link is not replaced.
  fs::path file = link_or_file;
  if (fs::is_symlink(file, ec)) {
    file = fs::weakly_canonical(file, ec);
    if (ec) return false;
  }
  const fs::path folder = file.parent_path();
  if (!folder.empty()) {
    fs::create_directories(folder, ec);
    if (ec) return false;
  }
  std::string tmp = file.string() + ".XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  ::fchmod(fd, 0600);
  std::string text;
  for (const auto& l : lines) {
    text += l;
    text += '\n';
  }
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<std::size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && exclusive) {
    ok = ::link(tmp.c_str(), file.c_str()) == 0;
    // A file system without hard links: publish by rename when the file is still absent.
    if (!ok && errno != EEXIST && ::access(file.c_str(), F_OK) != 0) ok = ::rename(tmp.c_str(), file.c_str()) == 0;
  } else if (ok) {
    ok = ::rename(tmp.c_str(), file.c_str()) == 0;
  }
  if (exclusive || !ok) ::unlink(tmp.c_str());
  return ok;
}

}  // namespace

fs::path SettingsStore::DefaultFile() {
  if (auto config = env_folder("XDG_CONFIG_HOME")) return *config / "salvora" / "settings.ini";
  if (auto home = home_folder()) return *home / ".config" / "salvora" / "settings.ini";
  return {};
}

fs::path SettingsStore::DefaultLogFolder() {
  if (auto state = env_folder("XDG_STATE_HOME")) return *state / "salvora";
  if (auto home = home_folder()) return *home / ".local" / "state" / "salvora";
  return {};
}

std::string SettingsStore::Read(std::string_view name) const {
  if (file_.empty()) return {};
  const auto lines = read_lines(file_);
  if (!lines) return {};
  bool inside = false;
  for (const auto& line : *lines) {
    if (is_section_header(line)) {
      inside = is_our_section(line);
      continue;
    }
    if (!inside) continue;
    if (auto v = value_of(line, name)) {
      // An over-long value reads as empty, as a query into a too-small buffer fails.
      if (utf8_char_count(*v) > kMaxSettingChars) return {};
      return std::string(*v);
    }
  }
  return {};
}

bool SettingsStore::Write(std::string_view name, std::string_view text) {
  if (file_.empty() || !storable_name(name) || !storable(text)) return false;
  std::lock_guard lock(write_mutex());
  auto lines = read_lines(file_);
  if (!lines) return false;
  const std::string entry = std::string(name) + "=" + std::string(text);

  std::optional<std::size_t> section;
  std::optional<std::size_t> insert_at;  // behind the section's last non-blank line
  bool replaced = false;
  for (std::size_t i = 0; i < lines->size();) {
    const std::string& line = (*lines)[i];
    if (is_section_header(line)) {
      if (section && !insert_at) insert_at = i;
      if (!section && is_our_section(line)) section = i;
      ++i;
      continue;
    }
    const bool in_ours = section && !insert_at;
    if (in_ours && value_of(line, name)) {
      if (replaced) {
        lines->erase(lines->begin() + static_cast<std::ptrdiff_t>(i));  // a stale duplicate misleads a reader of the file
        continue;
      }
      (*lines)[i] = entry;
      replaced = true;
    }
    ++i;
  }
  if (!replaced) {
    if (!section) {
      if (!lines->empty() && !trim(lines->back()).empty()) lines->emplace_back();
      lines->push_back("[" + std::string(kSettingsKey) + "]");
      lines->push_back(entry);
    } else {
      std::size_t at = insert_at.value_or(lines->size());
      while (at > *section + 1 && trim((*lines)[at - 1]).empty()) --at;
      lines->insert(lines->begin() + static_cast<std::ptrdiff_t>(at), entry);
    }
  }
  return publish(file_, *lines, false);
}

bool SettingsStore::InstallDefaults(const InstalledSettings& installed) {
  if (file_.empty()) return false;
  std::lock_guard lock(write_mutex());
  std::error_code ec;
  if (fs::exists(file_, ec) || ec) return false;
  if (!installed.log_folder.empty()) {
    // Logs name the user's files: a folder we create is the user's alone.
    if (fs::create_directories(installed.log_folder, ec)) {
      fs::permissions(installed.log_folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    }
  }
  // A folder the file could not hold is left empty: it would read back as empty anyway.
  const auto value = [](const std::string& v) { return storable(v) ? v : std::string(); };
  const std::vector<std::string> lines = {
      "[" + std::string(kSettingsKey) + "]",
      std::string(kFilePathValue) + "=" + value(installed.install_folder),
      std::string(kLogPathValue) + "=" + value(installed.log_folder),
      std::string(kRecoveryLogValue) + "=" + value(installed.log_folder),
      std::string(kReportFileValue) + "=",
      std::string(kLanguageFileValue) + "=",
  };
  return publish(file_, lines, true);
}

}  // namespace salvora
