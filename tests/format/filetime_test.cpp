// Time conversions: the epochs, the days around them, leap years, the millisecond the dump keeps,
// and values past what a calendar can show. Expected values are written out, not computed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "format/filetime.h"

namespace salvora {
namespace {

using namespace std::chrono;

constexpr std::uint64_t kSecond = 10'000'000;
constexpr std::uint64_t kJan6 = 128'440'839'070'000'000;     // 2008-01-06 09:05:07 UTC, a Sunday
constexpr std::uint64_t kLeapDay = 133'536'384'000'000'000;  // 2024-02-29 00:00:00 UTC
constexpr std::uint64_t kYear10000 = 2'650'467'744'000'000'000;

TEST(Filetime, EpochsAndTheEdgesOfTheRange) {
  EXPECT_EQ(filetime_to_time_point(kFiletimeUnixEpoch), FiletimePoint{});
  EXPECT_EQ(filetime_to_time_point(0), FiletimePoint{sys_days{1601y / January / 1}});
  EXPECT_EQ(filetime_to_time_point(kFiletimeUnixEpoch - 1), FiletimePoint{} - FiletimeTicks{1});
  // The top bit set: read as the last value there is, never as a negative count.
  EXPECT_EQ(filetime_to_time_point(UINT64_MAX), filetime_to_time_point(kMaxFiletime));
  EXPECT_GT(filetime_to_time_point(UINT64_MAX), filetime_to_time_point(kYear10000));

  EXPECT_EQ(filetime_from(sys_days{1601y / January / 1}), 0u);
  EXPECT_EQ(filetime_from(sys_days{1601y / January / 1} - seconds{1}), std::nullopt);
  EXPECT_EQ(filetime_from(FiletimePoint{sys_days{1601y / January / 1}} - FiletimeTicks{1}), std::nullopt);
  EXPECT_EQ(filetime_from(sys_days{1970y / January / 1}), kFiletimeUnixEpoch);
  EXPECT_EQ(filetime_from(sys_days{1969y / December / 31} + hours{23} + minutes{59} + seconds{59}),
            kFiletimeUnixEpoch - kSecond);
  EXPECT_EQ(filetime_from(filetime_to_time_point(kMaxFiletime)), kMaxFiletime);
  EXPECT_EQ(filetime_from(filetime_to_time_point(kMaxFiletime) + FiletimeTicks{1}), std::nullopt);
  // Far years are refused before they could overflow a tick count.
  EXPECT_EQ(filetime_from(sys_days{32767y / December / 31}), std::nullopt);
  EXPECT_EQ(filetime_from(sys_days{-32767y / January / 1}), std::nullopt);

  for (std::uint64_t ft : {std::uint64_t{0}, kFiletimeUnixEpoch - 1, kJan6 + 1234567, kMaxFiletime})
    EXPECT_EQ(filetime_from(filetime_to_time_point(ft)), ft) << ft;
  const std::uint64_t now = filetime_now();
  EXPECT_GT(now, kLeapDay);
  EXPECT_LT(now, kYear10000);
}

TEST(Filetime, Iso8601KeepsTheMillisecondTruncated) {
  const struct {
    std::uint64_t filetime;
    std::optional<std::string> text;
  } cases[] = {
      {0, "1601-01-01T00:00:00.000Z"},
      {kFiletimeUnixEpoch, "1970-01-01T00:00:00.000Z"},
      {kFiletimeUnixEpoch - 1, "1969-12-31T23:59:59.999Z"},  // before 1970 the division floors
      {kFiletimeUnixEpoch - kSecond - 10'000, "1969-12-31T23:59:58.999Z"},
      {kJan6, "2008-01-06T09:05:07.000Z"},
      {kJan6 + 9'999, "2008-01-06T09:05:07.000Z"},  // below a millisecond: dropped
      {kJan6 + 1'230'000, "2008-01-06T09:05:07.123Z"},
      {kJan6 + kSecond - 1, "2008-01-06T09:05:07.999Z"},  // never rounded into the next second
      {kLeapDay, "2024-02-29T00:00:00.000Z"},
      {kLeapDay - 1, "2024-02-28T23:59:59.999Z"},
      {125'962'992'000'000'000, "2000-02-29T12:00:00.000Z"},  // a leap year by the 400 rule
      {94'405'824'000'000'000, "1900-03-01T00:00:00.000Z"},   // 1900 has no February 29
      {94'405'824'000'000'000 - 1, "1900-02-28T23:59:59.999Z"},
      {kYear10000 - 1, "9999-12-31T23:59:59.999Z"},
      {kYear10000, std::nullopt},
      {kMaxFiletime, std::nullopt},
      {UINT64_MAX, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(iso8601_text(c.filetime), c.text) << c.filetime;
}

// The header's time is the stored UTC time whatever the local zone and its daylight saving.
TEST(Filetime, AsctimeIsUtcUnlessGivenAnOffset) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  for (const char* zone : {"UTC", "America/New_York", "Australia/Sydney"}) {
    ::setenv("TZ", zone, 1);
    ::tzset();
    EXPECT_EQ(asctime_text(kJan6), "Sun Jan  6 09:05:07 2008") << zone;
  }
  if (old) ::setenv("TZ", saved.c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
  EXPECT_EQ(asctime_text(0), "Mon Jan  1 00:00:00 1601");
  EXPECT_EQ(asctime_text(kJan6 + kSecond - 1), "Sun Jan  6 09:05:07 2008");  // ticks below a second
  EXPECT_EQ(asctime_text(kFiletimeUnixEpoch - 1), "Wed Dec 31 23:59:59 1969");
  EXPECT_EQ(asctime_text(kLeapDay), "Thu Feb 29 00:00:00 2024");
  EXPECT_EQ(asctime_text(kJan6, hours{15}), "Mon Jan  7 00:05:07 2008");
  EXPECT_EQ(asctime_text(kLeapDay, -hours{5}), "Wed Feb 28 19:00:00 2024");
  EXPECT_EQ(asctime_text(kMaxFiletime), "Thu Sep 14 02:48:05 30828");
}

TEST(Filetime, MailDatesInBothLayouts) {
  const struct {
    const char* text;
    std::optional<std::uint64_t> expected;
  } cases[] = {
      {"Sun Jan  6 09:05:07 2008", kJan6},
      {"Sun Jan 06 09:05:07 2008", kJan6},
      {"  Sun Jan  6 09:05:07 2008\r\n", kJan6},
      {"Sun, 6 Jan 2008 09:05:07 +0000", kJan6},
      {"sun, 6 JAN 2008 09:05:07 gmt", kJan6},
      {"6 Jan 2008 10:05:07 +0100", kJan6},
      {"Sun, 06 Jan 2008 04:05:07 -0500", kJan6},
      {"Sat, 5 Jan 2008 23:35:07 -0930", kJan6},  // the zone carries it into the next day
      {"Sun, 6 Jan 08 09:05:07 GMT", kJan6},
      {"Sun, 6 Jan 2008 09:05 +0000", kJan6 - 7 * kSecond},
      {"Thu, 1 Jan 70 00:00:00 Z", kFiletimeUnixEpoch},  // two digits from 50 on: 19xx
      {"Fri, 1 Jan 49 00:00:00 Z", 141'375'456'000'000'000},  // below 50: 20xx
      {"Thu Feb 29 00:00:00 2024", kLeapDay},
      {"Tue Feb 29 12:00:00 2000", 125'962'992'000'000'000},
      {"Thu Feb 29 00:00:00 1900", std::nullopt},
      {"Fri Feb 30 00:00:00 2024", std::nullopt},
      {"Thu Jan  1 00:00:00 1601", 0},
      {"Mon, 1 Jan 1601 00:30:00 +0100", std::nullopt},  // before 1601 once the zone is taken off
      {"Sun Jan  6 25:05:07 2008", std::nullopt},
      {"Sun Jan  6 09:61:07 2008", std::nullopt},
      {"Sun Foo  6 09:05:07 2008", std::nullopt},
      // Numbers that would wrap into a valid date in chrono's narrow day and year fields.
      {"Sun Jan 262 09:05:07 2008", std::nullopt},
      {"Sun Jan  6 09:05:07 67544", std::nullopt},
      {"Sun Jan  6 09:05:07 2008 extra", kJan6},
      {"", std::nullopt},
      {"yesterday", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_mail_date(c.text), c.expected) << c.text;
  // What the header writer prints is what the reader takes back.
  for (std::uint64_t ft : {std::uint64_t{0}, kFiletimeUnixEpoch - kSecond, kJan6, kLeapDay})
    EXPECT_EQ(parse_mail_date(asctime_text(ft)), ft) << ft;
}

TEST(Filetime, OleDatesKnownDaysAndTheOddEncodingBeforeItsEpoch) {
  constexpr std::uint64_t kTicksPerDay = 864'000'000'000ull;
  const std::uint64_t epoch = 109'205ull * kTicksPerDay;  // 1899-12-30
  const struct {
    std::uint64_t filetime;
    double date;
  } cases[] = {
      {epoch, 0.0},
      {epoch + 2 * kTicksPerDay, 2.0},                             // 1900-01-01
      {epoch + 36526 * kTicksPerDay + kTicksPerDay / 2, 36526.5},  // 2000-01-01 12:00
      {epoch - kTicksPerDay + kTicksPerDay / 4, -1.25},            // 1899-12-29 06:00
      {epoch - kTicksPerDay / 4, -1.75},                           // 1899-12-29 18:00
      {0, -109'205.0},                                             // 1601-01-01
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(filetime_to_date(c.filetime), c.date) << c.filetime;
    EXPECT_EQ(date_to_filetime(c.date), c.filetime) << c.date;
  }
  // Round trip at millisecond steps across both sides of the epoch.
  for (std::uint64_t ft : {epoch - 1234567890000ull, epoch + 9876543210000ull, 133'000'000'000'000'000ull}) {
    EXPECT_EQ(date_to_filetime(filetime_to_date(ft)), ft);
  }
  EXPECT_EQ(date_to_filetime(filetime_to_date(epoch + 5001)), epoch + 10000) << "to the nearest millisecond";
  EXPECT_EQ(date_to_filetime(-200000.0), 0u) << "before 1601";
  EXPECT_EQ(date_to_filetime(std::nan("")), 0u);
  EXPECT_EQ(date_to_filetime(1e300), UINT64_MAX);
}

}  // namespace
}  // namespace salvora
