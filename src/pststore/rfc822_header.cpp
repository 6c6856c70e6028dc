#include "pststore/rfc822_header.h"

#include "format/filetime.h"
#include "platform/plain_text.h"

namespace salvora::store {

namespace {

// Splits a list of mailboxes at ';' (how Outlook writes display lists, where a name may hold a
// comma) outside quotes and angle brackets; at ',' only when every piece is an address.
std::vector<std::string_view> split_list(std::string_view s, char separator) {
  std::vector<std::string_view> out;
  bool quoted = false;
  int angle = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') quoted = !quoted;
    else if (!quoted && c == '<') ++angle;
    else if (!quoted && c == '>' && angle > 0) --angle;
    else if (!quoted && angle == 0 && c == separator) {
      out.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  out.push_back(s.substr(start));
  return out;
}

}  // namespace

std::optional<MailAddress> parse_mailbox(std::string_view text) {
  text = trim(text);
  if (text.empty() || text == "UnKnown") return std::nullopt;
  MailAddress a;
  const std::size_t open = text.rfind('<');
  if (open != std::string_view::npos && text.back() == '>') {
    std::string_view name = trim(text.substr(0, open));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    const std::string_view inside = trim(text.substr(open + 1, text.size() - open - 2));
    a.name = std::string(name);
    if (inside.find('@') != std::string_view::npos) {
      a.address = std::string(inside);
      a.address_type = "SMTP";
    } else if (!inside.empty() && inside.front() == '/') {
      a.address = std::string(inside);
      a.address_type = "EX";
    } else if (a.name.empty()) {
      a.name = std::string(inside);  // "<Name>": a name the writer had no address for
    } else if (!inside.empty()) {
      a.address = std::string(inside);
      a.address_type = "SMTP";
    }
    if (a.name.empty()) a.name = a.address;
  } else if (text.find('@') != std::string_view::npos && text.find(' ') == std::string_view::npos) {
    a.name = a.address = std::string(text);
    a.address_type = "SMTP";
  } else {
    a.name = std::string(text);
  }
  if (a.name.empty() && a.address.empty()) return std::nullopt;
  return a;
}

MailHeader parse_mail_header(std::string_view text) {
  // Unfold the header into (name, value) fields first.
  std::vector<std::pair<std::string, std::string>> fields;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    if ((line.front() == ' ' || line.front() == '\t') && !fields.empty()) {
      fields.back().second += ' ';
      fields.back().second += std::string(trim(line));
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    fields.emplace_back(std::string(trim(line.substr(0, colon))), std::string(trim(line.substr(colon + 1))));
  }

  MailHeader h;
  for (const auto& [name, value] : fields) {
    if (equal_ignoring_ascii_case(name, "From")) {
      h.from = parse_mailbox(value);
    } else if (equal_ignoring_ascii_case(name, "To")) {
      h.to_text = value;
      h.to.clear();
      auto parts = split_list(value, ';');
      if (parts.size() == 1) {
        auto by_comma = split_list(value, ',');
        bool all_addresses = by_comma.size() > 1;
        for (auto p : by_comma)
          if (p.find('@') == std::string_view::npos) all_addresses = false;
        if (all_addresses) parts = by_comma;
      }
      for (auto p : parts)
        if (auto a = parse_mailbox(p)) h.to.push_back(*a);
    } else if (equal_ignoring_ascii_case(name, "Date")) {
      h.date = parse_mail_date(value);
    } else if (equal_ignoring_ascii_case(name, "Received")) {
      const std::size_t semi = value.rfind(';');
      h.received = parse_mail_date(semi == std::string::npos ? std::string_view(value)
                                                             : std::string_view(value).substr(semi + 1));
    } else if (equal_ignoring_ascii_case(name, "Delivery-date")) {
      h.delivered = parse_mail_date(value);
    }
  }
  return h;
}

}  // namespace salvora::store
