#include "platform/activity_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <system_error>

#include "platform/plain_text.h"

namespace fs = std::filesystem;

namespace salvora {
namespace {

// One writer at a time in this process: the size check, the restart and the append must not
// interleave with another thread's, or a line is lost in a file that was just deleted.
std::mutex& log_mutex() {
  static std::mutex m;
  return m;
}

int open_for_append(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool write_all(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// A read-only log is made writable again, as the log has always done with its file's
// attributes; only the owner's write bit is touched.
void make_owner_writable(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
    ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
  }
}

}  // namespace

fs::path ActivityLog::ResolvePath(LogSelector log) const {
  const bool recovery = log == LogSelector::kRecovery;
  std::string folder = settings_.Read(recovery ? kRecoveryLogValue : kLogPathValue);
  std::error_code ec;
  if (folder.empty() || !fs::is_directory(folder, ec)) folder = settings_.Read(kFilePathValue);
  // With no folder at all the line is lost rather than written to the file system's root.
  if (folder.empty()) return {};
  if (folder.back() != '/') folder += '/';
  folder += recovery ? kRecoveryLogFile : kActivityLogFile;
  return fs::path(folder);
}

bool ActivityLog::WriteLine(LogSelector log, std::string_view text) const {
  const fs::path file = ResolvePath(log);
  if (file.empty()) return false;
  const std::string path = file.string();

  std::string line = "\r\n";
  text = text.substr(0, text.find('\0'));
  line += utf8_prefix(text, kMaxLogLineChars);

  std::lock_guard lock(log_mutex());
  make_owner_writable(path);
  int fd = open_for_append(path);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return false;
  }
  if (static_cast<std::uint64_t>(st.st_size) > kLogSizeCap) {
    ::close(fd);
    ::unlink(path.c_str());
    fd = open_for_append(path);
    if (fd < 0) return false;
  }
  // One write for the line break and the text: with O_APPEND it lands whole even when another
  // process appends to the same log.
  const bool written = write_all(fd, line);
  const bool closed = ::close(fd) == 0;
  return written && closed;
}

bool write_log_line(LogSelector log, std::string_view text) {
  return ActivityLog(SettingsStore(SettingsStore::DefaultFile())).WriteLine(log, text);
}

}  // namespace salvora
