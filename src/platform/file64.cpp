#include "platform/file64.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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
  int flags = O_CLOEXEC;
  switch (access) {
    case Access::kReadOnly: flags |= O_RDONLY; break;
    case Access::kReadWrite: flags |= O_RDWR; break;
    case Access::kCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    case Access::kCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    case Access::kOpenOrCreate: flags |= O_RDWR | O_CREAT; break;
  }
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    if (error) *error = CFileException::FromErrno(errno, path);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    if (error) *error = CFileException(CFileException::invalidFile, EISDIR, path);
    return false;
  }
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

void CFile64::Rename(const std::string& new_path) {
  if (::rename(path_.c_str(), new_path.c_str()) != 0) throw CFileException::FromErrno(errno, new_path);
  path_ = new_path;
  const auto slash = new_path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : new_path.substr(0, slash));
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

void CFile64::Close() {
  if (fd_ < 0) return;
  const int fd = std::exchange(fd_, -1);
  std::string name = std::move(path_);
  path_.clear();
  if (::close(fd) != 0 && errno != EINTR) throw CFileException::FromErrno(errno, name);
}

}  // namespace salvora
