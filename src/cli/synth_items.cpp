#include "cli/synth_items.h"

#include <cstdio>

#include "format/byte_writer.h"
#include "format/filetime.h"
#include "format/text.h"

namespace salvora::cli {

namespace {

constexpr std::uint64_t kTicksPerMinute = 60ull * kFiletimeTicksPerSecond;
constexpr std::uint16_t kRecurWeekly = 0x200B;
constexpr std::uint16_t kPatternWeek = 0x0001;
constexpr std::uint32_t kEndAfterOccurrences = 0x2022;

std::uint32_t minutes_of(std::uint64_t filetime) { return static_cast<std::uint32_t>(filetime / kTicksPerMinute); }

}  // namespace

std::vector<std::uint8_t> appointment_recurrence(const WeeklySeries& s) {
  const std::uint32_t start_minute = minutes_of(s.start);
  const std::uint32_t day_start = start_minute / 1440 * 1440;
  // The day the last instance falls on, counted in whole weeks of the period; exact enough
  // for a reader, which recomputes instances from the pattern.
  const std::uint32_t weeks = (s.occurrences + 6) / 7 * s.period_weeks;
  const std::uint32_t day_end = day_start + weeks * 7 * 1440;
  ByteWriter w(80);
  w.u16(0x3004);  // ReaderVersion
  w.u16(0x3004);  // WriterVersion
  w.u16(kRecurWeekly);
  w.u16(kPatternWeek);
  w.u16(0);  // CalendarType: Gregorian
  // FirstDateTime: for a weekly pattern, the start of the first period's week, modulo the
  // period in minutes.
  const std::uint32_t week_start = day_start - (day_start / 1440 + 1) % 7 * 1440;
  w.u32(week_start % (s.period_weeks * 7 * 1440));
  w.u32(s.period_weeks);
  w.u32(0);  // SlidingFlag
  w.u32(s.days);
  w.u32(kEndAfterOccurrences);
  w.u32(s.occurrences);
  w.u32(0);  // FirstDOW: Sunday
  w.u32(0);  // DeletedInstanceCount
  w.u32(0);  // ModifiedInstanceCount
  w.u32(day_start);
  w.u32(day_end);
  // The appointment part: versions, the instances' times within their day, no exceptions.
  w.u32(0x3006);
  w.u32(0x3009);
  w.u32(start_minute - day_start);
  w.u32(start_minute - day_start + s.duration_minutes);
  w.u16(0);  // ExceptionCount
  w.u32(0);  // ReservedBlock1Size
  w.u32(0);  // ReservedBlock2Size
  return w.take();
}

std::string internet_headers(std::string_view from, std::string_view to, std::string_view subject,
                             std::uint64_t filetime, std::string_view message_id) {
  const std::string when = iso8601_text(filetime).value_or("");
  std::string h;
  h += "Received: from mail.example.org (mail.example.org [192.0.2.25])\r\n\tby mx.example.net with ESMTPS; " + when + "\r\n";
  h += "From: <" + std::string(from) + ">\r\n";
  h += "To: <" + std::string(to) + ">\r\n";
  h += "Subject: " + std::string(subject) + "\r\n";
  h += "Date: " + when + "\r\n";
  h += "Message-ID: <" + std::string(message_id) + ">\r\n";
  h += "MIME-Version: 1.0\r\n";
  h += "Content-Type: text/plain; charset=\"utf-8\"\r\n\r\n";
  return h;
}

std::string rtf_document(std::string_view text_utf8) {
  std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Calibri;}}\\uc1\\pard\\f0\\fs22 ";
  for (const char16_t unit : utf8_to_utf16(text_utf8)) {
    if (unit == '\r') continue;
    if (unit == '\n') {
      out += "\\par\r\n";
    } else if (unit == '\\' || unit == '{' || unit == '}') {
      out += '\\';
      out += static_cast<char>(unit);
    } else if (unit >= 0x20 && unit < 0x80) {
      out += static_cast<char>(unit);
    } else {
      // \uN takes a signed 16-bit number; a surrogate pair is two escapes.
      char buf[16];
      std::snprintf(buf, sizeof buf, "\\u%d?", static_cast<int>(static_cast<std::int16_t>(unit)));
      out += buf;
    }
  }
  return out + "}";
}

std::vector<std::uint8_t> inline_picture() {
  return {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52,
          0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4,
          0x89, 0x00, 0x00, 0x00, 0x0A, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0x00, 0x01, 0x00, 0x00,
          0x05, 0x00, 0x01, 0x0D, 0x0A, 0x2D, 0xB4, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE,
          0x42, 0x60, 0x82};
}

}  // namespace salvora::cli

namespace salvora::cli {

std::vector<std::uint8_t> one_off_entry_id(std::string_view name, std::string_view address) {
  static constexpr std::uint8_t kOneOffProvider[] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                                     0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
  constexpr std::uint16_t kUnicodeNoRichText = 0x8001;
  ByteWriter w(64);
  w.u32(0);
  w.bytes(kOneOffProvider);
  w.u16(0);  // version
  w.u16(kUnicodeNoRichText);
  for (std::string_view text : {name, std::string_view("SMTP"), address}) {
    w.bytes(utf8_to_utf16le(text));
    w.u16(0);
  }
  return w.take();
}

std::vector<std::uint8_t> wrapped_entry_id(std::span<const std::uint8_t> entry_id) {
  static constexpr std::uint8_t kWrappedProvider[] = {0xC0, 0x91, 0xAD, 0xD3, 0x51, 0x9D, 0xCF, 0x11,
                                                      0xA4, 0xA9, 0x00, 0xAA, 0x00, 0x47, 0xFA, 0xA4};
  constexpr std::uint8_t kContactEmail1 = 0xC3;  // a contact of a store, its first address
  ByteWriter w(45);
  w.u32(0);
  w.bytes(kWrappedProvider);
  w.u8(kContactEmail1);
  w.bytes(entry_id);
  return w.take();
}

}  // namespace salvora::cli
