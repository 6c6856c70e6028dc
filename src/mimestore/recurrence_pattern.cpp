#include "mimestore/recurrence_pattern.h"

#include "format/text.h"

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

// The flags of an exception: which of the series' fields it overrides.
constexpr std::uint16_t kOverrideSubject = 0x0001, kOverrideMeetingType = 0x0002, kOverrideReminderDelta = 0x0004,
                        kOverrideReminder = 0x0008, kOverrideLocation = 0x0010, kOverrideBusyStatus = 0x0020,
                        kOverrideAttachment = 0x0040, kOverrideSubType = 0x0080, kOverrideColor = 0x0100;
// Writers from this version on add a change-highlight block to each extended exception.
constexpr std::uint32_t kChangeHighlightVersion = 0x3009;

// An 8-bit string after its two lengths (the second one counts the bytes).
std::optional<std::string> narrow_text(ByteReader& r, std::uint32_t codepage) {
  r.skip(2);
  const std::uint16_t length = r.u16();
  const Bytes bytes = r.bytes(length);
  if (!r.ok()) return std::nullopt;
  return codepage_to_utf8(bytes, codepage);
}

// A UTF-16 string after its length in characters.
std::optional<std::string> wide_text(ByteReader& r) {
  const std::uint16_t length = r.u16();
  const Bytes bytes = r.bytes(std::size_t{length} * 2);
  if (!r.ok()) return std::nullopt;
  return utf16_to_utf8(bytes);
}

bool read_exception(ByteReader& r, std::uint32_t codepage, RecurrenceException& e, std::uint16_t& flags) {
  e.start = r.u32();
  e.end = r.u32();
  e.original_start = r.u32();
  flags = r.u16();
  if (flags & kOverrideSubject) e.subject = narrow_text(r, codepage);
  if (flags & kOverrideMeetingType) r.skip(4);
  if (flags & kOverrideReminderDelta) e.reminder_delta = r.u32();
  if (flags & kOverrideReminder) e.reminder_set = r.u32() != 0;
  if (flags & kOverrideLocation) e.location = narrow_text(r, codepage);
  if (flags & kOverrideBusyStatus) r.skip(4);
  if (flags & kOverrideAttachment) r.skip(4);
  if (flags & kOverrideSubType) e.all_day = r.u32() != 0;
  if (flags & kOverrideColor) r.skip(4);
  return r.ok();
}

// A reserved block: its size, then as many bytes.
void skip_block(ByteReader& r) {
  const std::uint32_t size = r.u32();
  if (size > r.remaining()) r.skip(r.remaining() + 1);  // latches the failure
  else r.skip(size);
}

// The Unicode subject and location of an exception, where the writer added them.
bool read_extended(ByteReader& r, std::uint32_t writer_version, std::uint16_t flags, RecurrenceException& e) {
  if (writer_version >= kChangeHighlightVersion) skip_block(r);
  skip_block(r);
  if (flags & (kOverrideSubject | kOverrideLocation)) {
    r.skip(12);  // the times again
    if (flags & kOverrideSubject) {
      if (auto text = wide_text(r)) e.subject = std::move(text);
    }
    if (flags & kOverrideLocation) {
      if (auto text = wide_text(r)) e.location = std::move(text);
    }
    skip_block(r);
  }
  return r.ok();
}

void read_exceptions(ByteReader& r, std::uint32_t writer_version, std::uint32_t codepage, RecurrencePattern& p) {
  const std::uint16_t count = r.u16();
  // Each one takes at least 14 bytes: a count past that is no count.
  if (!r.ok() || count > r.remaining() / 14) return;
  std::vector<std::uint16_t> flags(count);
  for (std::uint16_t i = 0; i < count; ++i) {
    RecurrenceException e;
    if (!read_exception(r, codepage, e, flags[i])) return;
    p.exceptions.push_back(std::move(e));
  }
  skip_block(r);
  for (std::uint16_t i = 0; i < count; ++i)
    if (!read_extended(r, writer_version, flags[i], p.exceptions[i])) return;
  p.exceptions_complete = r.ok();
}

}  // namespace

std::optional<RecurrencePattern> parse_recurrence_pattern(Bytes blob, std::uint32_t codepage) {
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
  r.skip(4);  // the appointment part's reader version
  const std::uint32_t writer_version = r.u32();
  p.start_offset = r.u32();
  p.end_offset = r.u32();
  if (!r.ok()) return std::nullopt;
  read_exceptions(r, writer_version, codepage, p);
  return p;
}

}  // namespace salvora::mime
