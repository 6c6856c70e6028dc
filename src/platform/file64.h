#pragma once
// A file with 64-bit offsets over a POSIX descriptor.
//
// Open never throws: it returns false and, when given a sink, fills it with the OS error, the
// cause and the name. Every other operation throws CFileException on failure. ReadAt and
// WriteAt use positioned I/O and do not move the file position, so one open file can serve
// readers on several threads. A CFile64 owns its descriptor and closes it when destroyed.
//
// Only regular files are opened: a folder, FIFO, socket or device is refused at once (a FIFO
// is never waited on). Files created here get mode 0600.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/file_exception.h"

namespace salvora {

class CFile64 {
 public:
  enum class Access {
    kReadOnly,     // existing file, read only
    kReadWrite,    // existing file, read and write
    kCreate,       // create or truncate, read and write
    kCreateNew,    // create; fails when the name exists, a link at it included
    kOpenOrCreate  // existing file or a new empty one, read and write
  };
  enum class Lock {
    kNone,
    kShared,    // advisory shared lock: others may read alongside
    kExclusive  // advisory exclusive lock: a second holder fails as "in use"
  };
  enum Origin { begin = 0, current = 1, end = 2 };

  CFile64() = default;
  ~CFile64();
  CFile64(const CFile64&) = delete;
  CFile64& operator=(const CFile64&) = delete;
  CFile64(CFile64&& other) noexcept;
  CFile64& operator=(CFile64&& other) noexcept;

  bool Open(const std::string& path, Access access, Lock lock = Lock::kNone, CFileException* error = nullptr);
  bool IsOpen() const { return fd_ >= 0; }

  // Reads up to n bytes at the current position; returns the count read (short at end of file).
  std::size_t Read(void* buf, std::size_t n);
  // Reads up to n bytes at an absolute offset without moving the position.
  std::size_t ReadAt(std::uint64_t offset, void* buf, std::size_t n) const;
  // Writes all n bytes; a short write is reported as a full disk.
  void Write(const void* buf, std::size_t n);
  void WriteAt(std::uint64_t offset, const void* buf, std::size_t n);
  std::uint64_t Seek(std::int64_t distance, Origin origin);
  std::uint64_t GetLength() const;
  std::uint64_t GetPosition() const;
  void SetLength(std::uint64_t length);
  // Makes everything written so far durable (fdatasync).
  void Flush();
  // Gives the open file another name (replacing a file of that name, as rename(2) does) and
  // makes the new name durable. Later errors name the new path.
  void Rename(const std::string& new_path);
  // The same, but fails (EEXIST) instead of replacing a file that has the new name.
  void RenameNew(const std::string& new_path);
  void Close();
  const std::string& GetFilePath() const { return path_; }

 private:
  [[noreturn]] void ThrowErrno(int e) const;

  int fd_ = -1;
  std::string path_;
};

}  // namespace salvora
