#pragma once
// The error of a file operation: the OS error, what kind of failure it was, and the file name.

#include <stdexcept>
#include <string>

namespace salvora {

class CFileException : public std::runtime_error {
 public:
  // The kinds of failure, numbered as the file class's callers have always known them.
  enum Cause {
    none = 0,
    genericException = 1,
    fileNotFound = 2,
    badPath = 3,
    tooManyOpenFiles = 4,
    accessDenied = 5,
    invalidFile = 6,
    removeCurrentDir = 7,
    directoryFull = 8,
    badSeek = 9,
    hardIO = 10,
    sharingViolation = 11,
    lockViolation = 12,
    diskFull = 13,
    endOfFile = 14,
  };

  CFileException() : std::runtime_error("") {}
  CFileException(Cause cause, int os_error, std::string file_name);

  static CFileException FromErrno(int os_error, const std::string& file_name);
  static Cause CauseFromErrno(int os_error);

  Cause cause() const { return cause_; }
  int os_error() const { return os_error_; }
  const std::string& file_name() const { return file_name_; }
  const char* what() const noexcept override { return message_.c_str(); }
  // A line for the user: "<file>: <reason>".
  const std::string& message() const { return message_; }

 private:
  Cause cause_ = none;
  int os_error_ = 0;
  std::string file_name_;
  std::string message_;
};

}  // namespace salvora
