#include "platform/file64.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdio.h>
#include <utility>

namespace salvora {

CFile64::~CFile64() {
  if (fd_ >= 0) ::close(fd_);
}

CFile64::CFile64(CFile64&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

CFile64& CFile64::operator=(CFile64&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

bool CFile64::Open(const std::string& path, Access access, Lock lock, CFileException* error) {
  if (fd_ >= 0) Close();
  // O_NONBLOCK only for the open itself: opening a FIFO for reading would otherwise wait for a
  // writer that never comes. It is cleared again below for the regular file that remains.
  int flags = O_CLOEXEC | O_NONBLOCK;
  switch (access) {
    case Access::kReadOnly: flags |= O_RDONLY; break;
    case Access::kReadWrite: flags |= O_RDWR; break;
    case Access::kCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    // A new file is never reached through a link planted at its name.
    case Access::kCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; break;
    case Access::kOpenOrCreate: flags |= O_RDWR | O_CREAT; break;
  }
  // What this program writes is mail: readable by its owner only.
  const int fd = ::open(path.c_str(), flags, 0600);
  if (fd < 0) {
    if (error) *error = CFileException::FromErrno(errno, path);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    // A folder, a FIFO, a socket or a device is no store and no file of ours: reading one would
    // hang or never end.
    const int e = S_ISDIR(st.st_mode) ? EISDIR : 0;
    ::close(fd);
    if (error) *error = CFileException(CFileException::invalidFile, e, path);
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (lock != Lock::kNone) {
    const int op = (lock == Lock::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    if (::flock(fd, op) != 0) {
      const int e = errno;
      ::close(fd);
      if (error) {
        *error = (e == EWOULDBLOCK) ? CFileException(CFileException::sharingViolation, e, path)
                                    : CFileException::FromErrno(e, path);
      }
      return false;
    }
  }
  fd_ = fd;
  path_ = path;
  return true;
}

void CFile64::ThrowErrno(int e) const { throw CFileException::FromErrno(e, path_); }

std::size_t CFile64::Read(void* buf, std::size_t n) {
  auto* p = static_cast<char*>(buf);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::read(fd_, p + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  return done;
}

std::size_t CFile64::ReadAt(std::uint64_t offset, void* buf, std::size_t n) const {
  auto* p = static_cast<char*>(buf);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  return done;
}

void CFile64::Write(const void* buf, std::size_t n) {
  const auto* p = static_cast<const char*>(buf);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::write(fd_, p + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    if (r == 0) throw CFileException(CFileException::diskFull, ENOSPC, path_);
    done += static_cast<std::size_t>(r);
  }
}

void CFile64::WriteAt(std::uint64_t offset, const void* buf, std::size_t n) {
  const auto* p = static_cast<const char*>(buf);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    if (r == 0) throw CFileException(CFileException::diskFull, ENOSPC, path_);
    done += static_cast<std::size_t>(r);
  }
}

std::uint64_t CFile64::Seek(std::int64_t distance, Origin origin) {
  const int whence = origin == begin ? SEEK_SET : origin == current ? SEEK_CUR : SEEK_END;
  const off_t r = ::lseek(fd_, static_cast<off_t>(distance), whence);
  if (r < 0) ThrowErrno(errno);
  return static_cast<std::uint64_t>(r);
}

std::uint64_t CFile64::GetLength() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) ThrowErrno(errno);
  return static_cast<std::uint64_t>(st.st_size);
}

std::uint64_t CFile64::GetPosition() const {
  const off_t r = ::lseek(fd_, 0, SEEK_CUR);
  if (r < 0) ThrowErrno(errno);
  return static_cast<std::uint64_t>(r);
}

void CFile64::SetLength(std::uint64_t length) {
  if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) ThrowErrno(errno);
}

void CFile64::Flush() {
  if (::fdatasync(fd_) != 0) ThrowErrno(errno);
}

namespace {

// Makes a change of name in dir durable.
void sync_folder_of(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

}  // namespace

void CFile64::Rename(const std::string& new_path) {
  if (::rename(path_.c_str(), new_path.c_str()) != 0) throw CFileException::FromErrno(errno, new_path);
  path_ = new_path;
  sync_folder_of(new_path);
}

void CFile64::RenameNew(const std::string& new_path) {
  if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, new_path.c_str(), RENAME_NOREPLACE) != 0) {
    const int e = errno;
    if (e != EINVAL && e != ENOSYS) throw CFileException::FromErrno(e, new_path);
    // A file system without the no-replace rename: a hard link fails just the same when the
    // name is taken. One without hard links either (FAT, some FUSE mounts) gets a check and a
    // plain rename, the best it allows.
    if (::link(path_.c_str(), new_path.c_str()) == 0) {
      ::unlink(path_.c_str());
    } else {
      const int link_error = errno;
      struct stat st {};
      if (link_error == EEXIST || ::lstat(new_path.c_str(), &st) == 0) throw CFileException::FromErrno(EEXIST, new_path);
      if (link_error != EPERM && link_error != EOPNOTSUPP) throw CFileException::FromErrno(link_error, new_path);
      if (::rename(path_.c_str(), new_path.c_str()) != 0) throw CFileException::FromErrno(errno, new_path);
    }
  }
  path_ = new_path;
  sync_folder_of(new_path);
}

void CFile64::Close() {
  if (fd_ < 0) return;
  const int fd = std::exchange(fd_, -1);
  std::string name = std::move(path_);
  path_.clear();
  if (::close(fd) != 0 && errno != EINTR) throw CFileException::FromErrno(errno, name);
}

}  // namespace salvora
