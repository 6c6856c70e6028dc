#pragma once
// A fuzz input presented as a file, for the entries that read a store by path.
//
// The bytes go into an anonymous in-memory file (memfd), reached by its /proc/self/fd path, so
// a run touches no disk and leaves nothing behind. Where memfd is missing, a file in the
// temporary folder takes its place and is removed with the image. One image per process is
// enough: each run rewrites it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace salvora::fuzz {

class FileImage {
 public:
  FileImage();
  ~FileImage();
  FileImage(const FileImage&) = delete;
  FileImage& operator=(const FileImage&) = delete;

  // Replaces the file's contents with these bytes; false when it could not be written.
  bool Write(const std::uint8_t* data, std::size_t size);
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
  bool remove_ = false;
};

// The image shared by the runs of one process.
FileImage& SharedImage();

}  // namespace salvora::fuzz
