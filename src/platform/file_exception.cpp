#include "platform/file_exception.h"

#include <cerrno>
#include <cstring>

namespace salvora {

CFileException::CFileException(Cause cause, int os_error, std::string file_name)
    : std::runtime_error(""), cause_(cause), os_error_(os_error), file_name_(std::move(file_name)) {
  std::string reason;
  if (cause == sharingViolation || cause == lockViolation) {
    reason = "the file is in use by another program";
  } else if (cause == diskFull) {
    reason = "the disk is full";
    // The system's own words say which limit it was (space, quota, largest file size).
    if (os_error != 0) reason += std::string(" (") + std::strerror(os_error) + ")";
  } else if (cause == endOfFile) {
    reason = "unexpected end of file";
  } else if (cause == invalidFile && os_error == 0) {
    reason = "not a regular file (a FIFO, device or socket)";
  } else if (os_error != 0) {
    reason = std::strerror(os_error);
  } else {
    reason = "file error";
  }
  message_ = file_name_.empty() ? reason : file_name_ + ": " + reason;
}

CFileException::Cause CFileException::CauseFromErrno(int e) {
  switch (e) {
    case 0: return none;
    case ENOENT: return fileNotFound;
    case ENOTDIR: case ENAMETOOLONG: case ELOOP: return badPath;
    case EMFILE: case ENFILE: return tooManyOpenFiles;
    case EACCES: case EPERM: case EROFS: return accessDenied;
    case EISDIR: case EBADF: return invalidFile;
    case ESPIPE: case EINVAL: return badSeek;
    case EIO: return hardIO;
    case EWOULDBLOCK: return sharingViolation;
    case ENOSPC: case EDQUOT: case EFBIG: return diskFull;
    default: return genericException;
  }
}

CFileException CFileException::FromErrno(int os_error, const std::string& file_name) {
  return CFileException(CauseFromErrno(os_error), os_error, file_name);
}

}  // namespace salvora
