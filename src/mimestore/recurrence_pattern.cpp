#include "mimestore/recurrence_pattern.h"

namespace salvora::mime {

namespace {

// A list of dates: its count checked against the bytes left before anything is reserved.
bool read_dates(ByteReader& r, std::vector<std::uint32_t>& out) {
  const std::uint32_t count = r.u32();
  if (!r.ok() || count > r.remaining() / 4) return false;
  out.resize(count);
  for (auto& d : out) d = r.u32();
  return r.ok();
}

}  // namespace

std::optional<RecurrencePattern> parse_recurrence_pattern(Bytes blob) {
  ByteReader r(blob);
  RecurrencePattern p;
  r.skip(4);  // reader and writer versions
  p.frequency = r.u16();
  p.pattern_type = r.u16();
  r.skip(2 + 4);  // calendar type, first date-time
  p.period = r.u32();
  r.skip(4);  // sliding flag
  switch (p.pattern_type) {
    case 0x0: break;
    case 0x1: p.days_mask = r.u32(); break;
    case 0x2: case 0x4: case 0xA: case 0xC: p.day_of_month = r.u32(); break;
    case 0x3: case 0xB: p.days_mask = r.u32(); p.nth = r.u32(); break;
    default: return std::nullopt;
  }
  p.end_type = r.u32();
  p.occurrences = r.u32();
  p.first_day_of_week = r.u32();
  if (!read_dates(r, p.deleted) || !read_dates(r, p.modified)) return std::nullopt;
  p.start_date = r.u32();
  p.end_date = r.u32();
  r.skip(8);  // the appointment part's reader and writer versions
  p.start_offset = r.u32();
  p.end_offset = r.u32();
  if (!r.ok()) return std::nullopt;
  return p;
}

}  // namespace salvora::mime
