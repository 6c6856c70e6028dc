#include "platform/plain_text.h"

namespace salvora {
namespace {

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::size_t utf8_char_count(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) {
    if (!is_continuation(c)) ++count;
  }
  return count;
}

std::string_view utf8_prefix(std::string_view text, std::size_t max_chars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (is_continuation(text[i])) continue;
    if (chars == max_chars) return text.substr(0, i);
    ++chars;
  }
  return text;
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

bool starts_with_ignoring_ascii_case(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equal_ignoring_ascii_case(text.substr(0, prefix.size()), prefix);
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string ascii_lowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

std::string_view trim(std::string_view text, std::string_view blanks) {
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace salvora
