#include "mimestore/mbox_format.h"

#include "format/filetime.h"

namespace salvora::mime {

std::string mbox_from_line(std::string_view sender, std::uint64_t filetime) {
  std::string who(sender);
  if (who.empty() || who.find_first_of(" \t\r\n") != std::string::npos) who = "MAILER-DAEMON";
  return "From " + who + " " + asctime_text(filetime) + "\n";
}

void append_mboxrd(std::string_view message, std::string& out) {
  std::size_t at = 0;
  while (at < message.size()) {
    std::size_t end = message.find('\n', at);
    end = end == std::string_view::npos ? message.size() : end + 1;
    const std::string_view line = message.substr(at, end - at);
    const std::size_t quotes = line.find_first_not_of('>');
    if (quotes != std::string_view::npos && line.substr(quotes).starts_with("From ")) out.push_back('>');
    out.append(line);
    at = end;
  }
  if (!out.empty() && out.back() != '\n') out.push_back('\n');
  out.push_back('\n');
}

std::string mbox_status_lines(const MailFlags& flags) {
  std::string out;
  if (flags.read) out += "Status: RO\n";
  std::string x;
  if (flags.answered) x += 'A';
  if (flags.flagged) x += 'F';
  if (flags.draft) x += 'T';
  if (!x.empty()) out += "X-Status: " + x + "\n";
  return out;
}

std::string maildir_info(const MailFlags& flags) {
  std::string info = "2,";
  if (flags.draft) info += 'D';
  if (flags.flagged) info += 'F';
  if (flags.answered) info += 'R';
  if (flags.read) info += 'S';
  return info;
}

}  // namespace salvora::mime
