#include "mimestore/file_names.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_exception.h"

namespace salvora::mime {

namespace {

bool refused_char(unsigned char c) {
  return c < 0x20 || c == 0x7F || std::string_view("/\\:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos;
}

// The longest prefix of text of at most bytes that does not split a UTF-8 character.
std::string_view whole_chars(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t cut = bytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(". ");
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(". ");
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

std::string safe_name(std::string_view text, std::string_view fallback) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) out.push_back(refused_char(static_cast<unsigned char>(ch)) ? '_' : ch);
  out = trimmed(whole_chars(trimmed(out), kMaxNameBytes));
  return out.empty() ? std::string(fallback) : out;
}

std::string create_unique_file(const std::string& folder, const std::string& stem, const std::string& ext) {
  for (int n = 1;; ++n) {
    const std::string path = folder + "/" + stem + (n == 1 ? std::string() : " (" + std::to_string(n) + ")") + ext;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST || n == 100000) throw CFileException::FromErrno(errno, path);
  }
}

}  // namespace salvora::mime
