#pragma once
// An appointment's recurrence blob (PidLidAppointmentRecur): the pattern, its end, the instances
// deleted or changed, and the times of day of each occurrence. Dates are minutes since
// 1601-01-01 in the appointment's own time zone, at midnight.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/byte_reader.h"

namespace salvora::mime {

// One changed instance: its times and what it changes of the series (the fields its flags name).
struct RecurrenceException {
  std::uint32_t start = 0;           // local minutes since 1601, as the instance now is
  std::uint32_t end = 0;
  std::uint32_t original_start = 0;  // the start the series gave it
  std::optional<std::string> subject;   // UTF-8
  std::optional<std::string> location;  // UTF-8
  std::optional<std::uint32_t> reminder_delta;  // minutes before the start
  std::optional<bool> reminder_set;
  std::optional<bool> all_day;
};

struct RecurrencePattern {
  std::uint16_t frequency = 0;     // 0x200A daily, 0x200B weekly, 0x200C monthly, 0x200D yearly
  std::uint16_t pattern_type = 0;  // 0 day, 1 week, 2 month, 3 month nth, 4 month end, 0xA-0xC Hijri
  std::uint32_t period = 0;        // minutes (daily), weeks, or months
  std::uint32_t days_mask = 0;     // bit 0 Sunday .. bit 6 Saturday (week, month nth)
  std::uint32_t day_of_month = 0;  // month
  std::uint32_t nth = 0;           // month nth: 1-4, 5 the last
  std::uint32_t end_type = 0;      // 0x2021 by date, 0x2022 after a count, 0x2023 / ~0 never
  std::uint32_t occurrences = 0;
  std::uint32_t first_day_of_week = 0;
  std::vector<std::uint32_t> deleted;   // original dates of instances deleted or changed
  std::vector<std::uint32_t> modified;  // of those, the changed ones
  std::uint32_t start_date = 0;
  std::uint32_t end_date = 0;
  std::uint32_t start_offset = 0;  // minutes after midnight
  std::uint32_t end_offset = 0;
  // The changed instances the blob describes. A blob cut short after its times keeps the
  // exceptions read whole and sets exceptions_complete false.
  std::vector<RecurrenceException> exceptions;
  bool exceptions_complete = false;
};

// Empty for a blob that is cut short before its times or names counts it does not hold.
// codepage: that of the 8-bit subjects and locations, when the blob has no Unicode ones.
std::optional<RecurrencePattern> parse_recurrence_pattern(Bytes blob, std::uint32_t codepage = 1252);

}  // namespace salvora::mime
