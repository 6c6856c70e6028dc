#pragma once
// Small text rules shared by the settings and the log: limits in characters for UTF-8 text, and
// the case-blind comparison of ASCII names. The settings and log limits were byte counts in an
// 8-bit code page, where a byte was a character; counting code points keeps that meaning for
// every script, and cutting only between code points never leaves half a character behind.

#include <cstddef>
#include <string_view>

namespace salvora {

// Code points in a UTF-8 string (continuation bytes are not counted).
std::size_t utf8_char_count(std::string_view text);

// The longest prefix of at most max_chars code points; never splits a multi-byte sequence.
std::string_view utf8_prefix(std::string_view text, std::size_t max_chars);

// Equality of two names with ASCII letters compared without regard to case (value names, file
// names of the installation); other bytes must match exactly.
bool equal_ignoring_ascii_case(std::string_view a, std::string_view b);

}  // namespace salvora
