#include "file_image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

namespace salvora::fuzz {

FileImage::FileImage() {
  fd_ = ::memfd_create("salvora-fuzz", 0);
  if (fd_ >= 0) {
    path_ = "/proc/self/fd/" + std::to_string(fd_);
    return;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/salvora-fuzz-XXXXXX";
  fd_ = ::mkstemp(templ.data());
  if (fd_ >= 0) {
    path_ = templ;
    remove_ = true;
  }
}

FileImage::~FileImage() {
  if (fd_ >= 0) ::close(fd_);
  if (remove_) ::unlink(path_.c_str());
}

bool FileImage::Write(const std::uint8_t* data, std::size_t size) {
  if (fd_ < 0 || ::ftruncate(fd_, 0) != 0) return false;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t w = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
    if (w <= 0) return false;
    done += static_cast<std::size_t>(w);
  }
  return true;
}

FileImage& SharedImage() {
  static FileImage image;
  return image;
}

}  // namespace salvora::fuzz
