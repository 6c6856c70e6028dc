#pragma once
// Times as the file keeps them and as they are written out, in one place. A FILETIME counts
// 100 ns ticks since 1601-01-01 00:00 UTC in an unsigned 64-bit value; an OLE DATE, how the
// automation boundary carries a time, counts days since 1899-12-30 as a double. Every calendar
// here is proleptic Gregorian in UTC; only the wall-clock asctime text knows a time zone, and
// only through the offset its caller gives. Pure functions, safe from any thread.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace salvora {

// One FILETIME tick.
using FiletimeTicks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
using FiletimePoint = std::chrono::sys_time<FiletimeTicks>;

inline constexpr std::uint64_t kFiletimeTicksPerSecond = 10'000'000;
// 1970-01-01 00:00 UTC.
inline constexpr std::uint64_t kFiletimeUnixEpoch = 116'444'736'000'000'000;
// The last FILETIME a calendar conversion of the system accepts (in September 30828); a value
// with the top bit set is refused there, and would not fit a signed tick count here.
inline constexpr std::uint64_t kMaxFiletime = 0x7FFF'FFFF'FFFF'FFFF;

// The time point of a FILETIME, to the tick. A value past kMaxFiletime reads as kMaxFiletime.
FiletimePoint filetime_to_time_point(std::uint64_t filetime);
// The FILETIME of ticks since 1970-01-01; empty before 1601-01-01 or past kMaxFiletime.
std::optional<std::uint64_t> filetime_from_unix_ticks(std::int64_t ticks);
// The FILETIME of a time point of any precision, what is below 100 ns dropped; empty before
// 1601-01-01 or past kMaxFiletime.
template <class Duration>
std::optional<std::uint64_t> filetime_from(std::chrono::sys_time<Duration> t) {
  // Checked in whole seconds first: a far year does not fit a tick count.
  constexpr auto kTicks = static_cast<std::int64_t>(kFiletimeTicksPerSecond);
  constexpr auto kFirst = -static_cast<std::int64_t>(kFiletimeUnixEpoch) / kTicks;
  constexpr auto kLast = static_cast<std::int64_t>(kMaxFiletime - kFiletimeUnixEpoch) / kTicks;
  const auto seconds = std::chrono::floor<std::chrono::seconds>(t).time_since_epoch().count();
  if (seconds < kFirst || seconds > kLast) return std::nullopt;
  return filetime_from_unix_ticks(std::chrono::floor<FiletimeTicks>(t).time_since_epoch().count());
}
// The system clock now as a FILETIME.
std::uint64_t filetime_now();

// A FILETIME to a DATE; exact to the millisecond. Before 1899-12-30 the fraction still counts
// forward from midnight (-1.25 is 1899-12-29 06:00), so a DATE is no plain linear count there.
double filetime_to_date(std::uint64_t filetime);
// A DATE to a FILETIME, rounded to the millisecond; 0 for a value before 1601 or not finite,
// and the largest FILETIME for a value beyond it.
std::uint64_t date_to_filetime(double date);

// "2008-01-06T09:05:07.123Z": ISO 8601 in UTC with milliseconds, the ticks below them dropped
// (never rounded, which could carry into the next second, and as the peer readers print it);
// empty past 9999-12-31, which four year digits cannot show.
std::optional<std::string> iso8601_text(std::uint64_t filetime);

// "Sun Jan  6 09:05:07 2008": the asctime layout without its newline, always in English, the
// ticks below a second dropped. The first is the stored UTC time; the second the wall-clock time
// at utc_offset east of UTC (the offset in force at that moment, which the caller looks up).
std::string asctime_text(std::uint64_t filetime);
std::string asctime_text(std::uint64_t filetime, std::chrono::seconds utc_offset);

// A FILETIME from a mail date in either layout a mail header carries: asctime
// ("Wed Jan  2 03:04:05 2008", read as UTC) or RFC 822/2822 ("Wed, 2 Jan 2008 03:04:05 +0100",
// two-digit years read as 1950 to 2049, a missing or unknown zone as UTC). Empty when the text
// is no date or the date is not in the FILETIME range.
std::optional<std::uint64_t> parse_mail_date(std::string_view text);

}  // namespace salvora
