#pragma once
// The files through which a decoded mail message reaches the target store: the RFC 822 header
// block "Temp.eml" that the import object reads, and the choice of the body the new item gets
// (HTML, the text of an RTF body, or the longest plain text), with the temporary file a body
// goes through when the store takes no body that large.
//
// Every file lives in a private folder of the process (platform/temp_folder.h), never under a
// fixed name in a shared one. Not thread-safe across writers of the same folder: the save pass
// exports one item at a time.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "content/item_record.h"

namespace salvora {

inline constexpr std::string_view kMailHeaderFile = "Temp.eml";
inline constexpr std::string_view kHtmlBodyFile = "temp.htm";
inline constexpr std::string_view kTextBodyFile = "temp.txt";

// The header lines of a message, each ending in CR LF: From, To, and when a time is present
// Date, Received and Delivery-date, each the stored UTC time in the asctime layout (no time zone
// enters: the reader of the header takes it back as UTC). Texts are UTF-8; a line break inside a name or address is
// turned into a blank so that it cannot start a header line of its own.
std::string mail_header_text(const MessageFields& message);

// Writes the header block to path (created or truncated). The stop flag is looked at before
// each line; a set flag leaves the file as far as it got. False when the flag ended the work;
// a file error throws CFileException.
bool write_mail_header(const MessageFields& message, const std::string& path,
                       const std::atomic<bool>* stop_flag = nullptr);

// How the 8-bit and raw values of a message are read: the file's string form and the
// message's code page.
struct TextDecoding {
  bool ansi_file = false;
  std::uint32_t codepage = 1252;
};

// The body a new mail item gets. An HTML body wins and is passed byte for byte (up to its first
// NUL); otherwise the text of the RTF body when it has any; otherwise the longest of the plain
// candidates (text A, the two named texts, the plain body; ties to the first).
struct MailBody {
  enum class Kind { kNone, kHtml, kText };
  Kind kind = Kind::kNone;
  std::string content;  // HTML bytes, or UTF-8 text

  // Length as a store's limit counts it: bytes of HTML, characters of text.
  std::size_t length() const;
};

MailBody choose_mail_body(const MessageFields& message, const TextDecoding& decoding);

// The plain text of the message's RTF body; empty when it has none or none with text.
std::string rtf_body_text(const MessageFields& message);

// The number of characters (code points) of UTF-8 text.
std::size_t utf8_length(std::string_view text);

// Writes content to folder + name (created or truncated) and returns the path. A file error
// throws CFileException.
std::string write_export_file(const std::string& folder, std::string_view name, std::string_view content);

}  // namespace salvora
