#pragma once
// Text conversion. Inside the program every string is UTF-8; the file holds UTF-16LE strings
// (Unicode stores) and 8-bit strings in a Windows code page (ANSI stores).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace salvora {

// UTF-16LE bytes to UTF-8. Surrogate pairs are joined; a lone surrogate becomes U+FFFD; an odd
// trailing byte is dropped. When drop_nul is set, U+0000 characters are left out.
std::string utf16_to_utf8(std::span<const std::uint8_t> utf16le, bool drop_nul = false);
std::string utf16_to_utf8(std::u16string_view text, bool drop_nul = false);

// UTF-8 to UTF-16LE bytes (no terminator). Invalid UTF-8 bytes become U+FFFD.
std::u16string utf8_to_utf16(std::string_view utf8);
void append_utf16le(std::string_view utf8, std::basic_string<std::uint8_t>& out);
std::vector<std::uint8_t> utf8_to_utf16le(std::string_view utf8);

// 8-bit text in a Windows code page (1252, 932, 1251, ...) to UTF-8 through iconv. A code page
// iconv does not know is read as 1252. Bytes invalid in the code page become U+FFFD.
std::string codepage_to_utf8(std::span<const std::uint8_t> bytes, std::uint32_t codepage);
std::string codepage_to_utf8(std::string_view bytes, std::uint32_t codepage);


// Makes any byte string valid UTF-8 (invalid sequences become U+FFFD).
std::string sanitize_utf8(std::string_view text);

}  // namespace salvora
