#include "pststore/rfc822_header.h"

#include <array>
#include <cctype>

namespace salvora::store {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::vector<std::string_view> tokens(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == ',')) ++i;
    const std::size_t start = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != ',') ++i;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

std::optional<int> number(std::string_view s) {
  if (s.empty() || s.size() > 9) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

std::optional<int> month_of(std::string_view s) {
  static constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                               "jul", "aug", "sep", "oct", "nov", "dec"};
  if (s.size() < 3) return std::nullopt;
  for (std::size_t m = 0; m < kMonths.size(); ++m)
    if (equals_ignoring_case(s.substr(0, 3), kMonths[m])) return static_cast<int>(m) + 1;
  return std::nullopt;
}

bool is_weekday(std::string_view s) {
  static constexpr std::array<std::string_view, 7> kDays = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
  if (s.size() < 3) return false;
  for (auto d : kDays)
    if (equals_ignoring_case(s.substr(0, 3), d)) return true;
  return false;
}

// hh:mm[:ss] into seconds of the day.
std::optional<int> time_of_day(std::string_view s) {
  int parts[3] = {0, 0, 0};
  int n = 0;
  std::size_t start = 0;
  while (n < 3) {
    const std::size_t colon = s.find(':', start);
    const auto v = number(s.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start));
    if (!v) return std::nullopt;
    parts[n++] = *v;
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  if (n < 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 60) return std::nullopt;
  return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

// "+0100" / "-0530" / "GMT" / "UT" / "Z" into seconds east of UTC.
std::optional<int> zone_of(std::string_view s) {
  if (equals_ignoring_case(s, "GMT") || equals_ignoring_case(s, "UT") || equals_ignoring_case(s, "UTC") ||
      equals_ignoring_case(s, "Z"))
    return 0;
  if (s.size() == 5 && (s[0] == '+' || s[0] == '-')) {
    const auto hhmm = number(s.substr(1));
    if (!hhmm) return std::nullopt;
    const int secs = (*hhmm / 100) * 3600 + (*hhmm % 100) * 60;
    return s[0] == '-' ? -secs : secs;
  }
  return std::nullopt;
}

// Days since 1601-01-01 of a proleptic Gregorian date.
std::int64_t days_since_1601(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days_since_1970 = era * 146097 + doe - 719468;
  return days_since_1970 + 134774;
}

bool valid_day(int y, int m, int d) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12 || d < 1) return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

std::optional<std::uint64_t> to_filetime(int y, int m, int d, int seconds, int zone) {
  if (y < 1601 || y > 30827 || !valid_day(y, m, d)) return std::nullopt;
  const std::int64_t secs = days_since_1601(y, m, d) * 86400 + seconds - zone;
  if (secs < 0) return std::nullopt;
  return static_cast<std::uint64_t>(secs) * 10000000ull;
}

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

std::optional<std::uint64_t> parse_mail_date(std::string_view text) {
  auto t = tokens(trim(text));
  if (!t.empty() && is_weekday(t[0])) t.erase(t.begin());
  if (t.size() < 4) return std::nullopt;
  // asctime: Mmm d hh:mm:ss yyyy
  if (auto m = month_of(t[0])) {
    const auto d = number(t[1]);
    const auto secs = time_of_day(t[2]);
    const auto y = number(t[3]);
    if (!d || !secs || !y) return std::nullopt;
    return to_filetime(*y, *m, *d, *secs, 0);
  }
  // RFC 2822: d Mmm yyyy hh:mm[:ss] [zone]
  const auto d = number(t[0]);
  const auto m = month_of(t[1]);
  auto y = number(t[2]);
  const auto secs = time_of_day(t[3]);
  if (!d || !m || !y || !secs) return std::nullopt;
  if (t[2].size() == 2) *y += *y < 50 ? 2000 : 1900;
  int zone = 0;
  if (t.size() > 4) {
    const auto z = zone_of(t[4]);
    if (z) zone = *z;
  }
  return to_filetime(*y, *m, *d, *secs, zone);
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
    if (equals_ignoring_case(name, "From")) {
      h.from = parse_mailbox(value);
    } else if (equals_ignoring_case(name, "To")) {
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
    } else if (equals_ignoring_case(name, "Date")) {
      h.date = parse_mail_date(value);
    } else if (equals_ignoring_case(name, "Received")) {
      const std::size_t semi = value.rfind(';');
      h.received = parse_mail_date(semi == std::string::npos ? std::string_view(value)
                                                             : std::string_view(value).substr(semi + 1));
    } else if (equals_ignoring_case(name, "Delivery-date")) {
      h.delivered = parse_mail_date(value);
    }
  }
  return h;
}

}  // namespace salvora::store
