#include "automation/ole_date.h"

#include <cmath>
#include <limits>

namespace salvora {
namespace {

constexpr std::int64_t kMillisPerDay = 86'400'000;
constexpr std::int64_t kTicksPerMilli = 10'000;
// Days from 1601-01-01 to 1899-12-30.
constexpr std::int64_t kEpochDays = 109'205;

}  // namespace

double filetime_to_date(std::uint64_t filetime) {
  // Rounded to the millisecond first, so a time of day never lands a hair before midnight.
  const auto millis = static_cast<std::int64_t>((filetime + kTicksPerMilli / 2) / kTicksPerMilli) -
                      kEpochDays * kMillisPerDay;
  const std::int64_t day = millis >= 0 ? millis / kMillisPerDay : -((-millis + kMillisPerDay - 1) / kMillisPerDay);
  const std::int64_t time = millis - day * kMillisPerDay;
  const double fraction = static_cast<double>(time) / static_cast<double>(kMillisPerDay);
  return static_cast<double>(day) + (day < 0 ? -fraction : fraction);
}

std::uint64_t date_to_filetime(double date) {
  if (!std::isfinite(date)) return 0;
  const double whole = std::trunc(date);
  const double fraction = std::fabs(date - whole);
  const double millis = (whole + static_cast<double>(kEpochDays)) * static_cast<double>(kMillisPerDay) +
                        std::round(fraction * static_cast<double>(kMillisPerDay));
  if (millis < 0) return 0;
  constexpr double kMaxMillis = static_cast<double>(std::numeric_limits<std::uint64_t>::max() / kTicksPerMilli);
  if (millis >= kMaxMillis) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(millis) * kTicksPerMilli;
}

}  // namespace salvora
