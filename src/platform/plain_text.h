#pragma once
// Small text rules shared across the program: limits in characters for UTF-8 text, the case-blind
// comparison of ASCII names (message classes, header field names, folder names, settings), and
// trimming. The settings and log limits were byte counts in an
// 8-bit code page, where a byte was a character; counting code points keeps that meaning for
// every script, and cutting only between code points never leaves half a character behind.

#include <cstddef>
#include <string>
#include <string_view>

namespace salvora {

// Code points in a UTF-8 string (continuation bytes are not counted).
std::size_t utf8_char_count(std::string_view text);

// The longest prefix of at most max_chars code points; never splits a multi-byte sequence.
std::string_view utf8_prefix(std::string_view text, std::size_t max_chars);

// Equality of two names with ASCII letters compared without regard to case (value names, file
// names of the installation); other bytes must match exactly.
bool equal_ignoring_ascii_case(std::string_view a, std::string_view b);
// Whether text begins with prefix under the same rule.
bool starts_with_ignoring_ascii_case(std::string_view text, std::string_view prefix);
// An ASCII capital as its small letter; every other byte as it is. A UTF-8 sequence is left
// whole, since none of its bytes is ASCII.
char ascii_lower(char c);
std::string ascii_lowercase(std::string_view text);

// Spaces, tabs and line ends: what a header field or a typed name may carry around its value.
inline constexpr std::string_view kBlankChars = " \t\r\n";
// The text without the given characters at either end; a view into text.
std::string_view trim(std::string_view text, std::string_view blanks = kBlankChars);

}  // namespace salvora
