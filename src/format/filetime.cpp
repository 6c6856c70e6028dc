#include "format/filetime.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "platform/plain_text.h"

namespace salvora {

namespace {

using namespace std::chrono;

constexpr auto kEpochTicks = static_cast<std::int64_t>(kFiletimeUnixEpoch);
constexpr auto kMaxTicksSinceUnix = static_cast<std::int64_t>(kMaxFiletime) - kEpochTicks;

constexpr std::array<const char*, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// ---- OLE DATE ----

constexpr std::int64_t kMillisPerDay = 86'400'000;
constexpr std::int64_t kTicksPerMilli = 10'000;
// Days from 1601-01-01 to 1899-12-30.
constexpr std::int64_t kDateEpochDays = 109'205;

// ---- mail dates ----

std::vector<std::string_view> date_tokens(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  const auto separator = [](char c) { return c == ' ' || c == '\t' || c == ','; };
  while (i < s.size()) {
    while (i < s.size() && separator(s[i])) ++i;
    const std::size_t start = i;
    while (i < s.size() && !separator(s[i])) ++i;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

// Up to nine digits, so the value always fits.
std::optional<int> number(std::string_view s) {
  if (s.empty() || s.size() > 9) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

// "Jan", "january", "JAN." all name January: only the first three letters count.
std::optional<unsigned> month_of(std::string_view s) {
  for (std::size_t m = 0; m < kMonths.size(); ++m)
    if (starts_with_ignoring_ascii_case(s, kMonths[m])) return static_cast<unsigned>(m) + 1;
  return std::nullopt;
}

bool is_weekday(std::string_view s) {
  for (const char* d : kWeekdays)
    if (starts_with_ignoring_ascii_case(s, d)) return true;
  return false;
}

// hh:mm[:ss] into seconds of the day; a leap second (:60) is taken as the next minute's first.
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

// "+0100" / "-0530" / "GMT" / "UT" / "UTC" / "Z" into seconds east of UTC.
std::optional<int> zone_of(std::string_view s) {
  for (std::string_view utc : {"GMT", "UT", "UTC", "Z"})
    if (equal_ignoring_ascii_case(s, utc)) return 0;
  if (s.size() == 5 && (s[0] == '+' || s[0] == '-')) {
    const auto hhmm = number(s.substr(1));
    if (!hhmm || *hhmm % 100 > 59) return std::nullopt;
    const int secs = (*hhmm / 100) * 3600 + (*hhmm % 100) * 60;
    return s[0] == '-' ? -secs : secs;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> mail_filetime(int y, unsigned m, int d, int seconds_of_day, int zone) {
  // chrono keeps a year in 16 bits and a day in 8: check before they are made, or a large
  // number would wrap into a valid date.
  if (y > 32767 || d < 1 || d > 31) return std::nullopt;
  const year_month_day date{year{y}, month{m}, day{static_cast<unsigned>(d)}};
  if (!date.ok()) return std::nullopt;
  return filetime_from(sys_days{date} + seconds{seconds_of_day - zone});
}

}  // namespace

FiletimePoint filetime_to_time_point(std::uint64_t filetime) {
  const auto ticks = static_cast<std::int64_t>(std::min(filetime, kMaxFiletime)) - kEpochTicks;
  return FiletimePoint{FiletimeTicks{ticks}};
}

std::optional<std::uint64_t> filetime_from_unix_ticks(std::int64_t ticks) {
  if (ticks < -kEpochTicks || ticks > kMaxTicksSinceUnix) return std::nullopt;
  return static_cast<std::uint64_t>(ticks + kEpochTicks);
}

std::uint64_t filetime_now() { return filetime_from(system_clock::now()).value_or(0); }

double filetime_to_date(std::uint64_t filetime) {
  // Rounded to the millisecond first, so a time of day never lands a hair before midnight.
  const auto millis = static_cast<std::int64_t>((filetime + kTicksPerMilli / 2) / kTicksPerMilli) -
                      kDateEpochDays * kMillisPerDay;
  const std::int64_t day = millis >= 0 ? millis / kMillisPerDay : -((-millis + kMillisPerDay - 1) / kMillisPerDay);
  const std::int64_t time = millis - day * kMillisPerDay;
  const double fraction = static_cast<double>(time) / static_cast<double>(kMillisPerDay);
  return static_cast<double>(day) + (day < 0 ? -fraction : fraction);
}

std::uint64_t date_to_filetime(double date) {
  if (!std::isfinite(date)) return 0;
  const double whole = std::trunc(date);
  const double fraction = std::fabs(date - whole);
  const double millis = (whole + static_cast<double>(kDateEpochDays)) * static_cast<double>(kMillisPerDay) +
                        std::round(fraction * static_cast<double>(kMillisPerDay));
  if (millis < 0) return 0;
  constexpr double kMaxMillis = static_cast<double>(std::numeric_limits<std::uint64_t>::max() / kTicksPerMilli);
  if (millis >= kMaxMillis) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(millis) * kTicksPerMilli;
}

std::optional<std::string> iso8601_text(std::uint64_t filetime) {
  const auto t = floor<milliseconds>(filetime_to_time_point(filetime));
  if (t >= sys_days{year{10000} / January / 1}) return std::nullopt;
  const sys_days day = floor<days>(t);
  const year_month_day date{day};
  const hh_mm_ss clock{t - day};
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return std::string(buf);
}

std::string asctime_text(std::uint64_t filetime) { return asctime_text(filetime, seconds{0}); }

std::string asctime_text(std::uint64_t filetime, seconds utc_offset) {
  const sys_seconds t = floor<seconds>(filetime_to_time_point(filetime)) + utc_offset;
  const sys_days day = floor<days>(t);
  const year_month_day date{day};
  const hh_mm_ss clock{t - day};
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s %s%3u %02d:%02d:%02d %d", kWeekdays[weekday{day}.c_encoding()],
                kMonths[static_cast<unsigned>(date.month()) - 1], static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()), static_cast<int>(date.year()));
  return buf;
}

std::optional<std::uint64_t> parse_mail_date(std::string_view text) {
  auto t = date_tokens(trim(text));
  if (!t.empty() && is_weekday(t[0])) t.erase(t.begin());
  if (t.size() < 4) return std::nullopt;
  // asctime: Mmm d hh:mm:ss yyyy
  if (const auto m = month_of(t[0])) {
    const auto d = number(t[1]);
    const auto secs = time_of_day(t[2]);
    const auto y = number(t[3]);
    if (!d || !secs || !y) return std::nullopt;
    return mail_filetime(*y, *m, *d, *secs, 0);
  }
  // RFC 822: d Mmm yy[yy] hh:mm[:ss] [zone]
  const auto d = number(t[0]);
  const auto m = month_of(t[1]);
  auto y = number(t[2]);
  const auto secs = time_of_day(t[3]);
  if (!d || !m || !y || !secs) return std::nullopt;
  if (t[2].size() == 2) *y += *y < 50 ? 2000 : 1900;
  const std::optional<int> zone = t.size() > 4 ? zone_of(t[4]) : std::nullopt;
  return mail_filetime(*y, *m, *d, *secs, zone.value_or(0));
}

}  // namespace salvora
