// A recurring appointment's changed and deleted instances, from its recurrence blob and its
// exception attachments, as iCalendar says them: RECURRENCE-ID components and EXDATEs.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/prop_types.h"
#include "format/text.h"
#include "mimestore/icalendar.h"
#include "mimestore/recurrence_pattern.h"
#include "pststore/item_properties.h"

namespace salvora::mime {
namespace {

using pst::Property;

// Minutes since 1601 of 2024-01-01, a Monday, at midnight.
constexpr std::uint32_t kJan1 = 222475680;
constexpr std::uint32_t kDay = 1440, kWeek = 7 * kDay;

struct Blob {
  std::vector<std::uint8_t> bytes;
  void u16(std::uint16_t v) { bytes.insert(bytes.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}); }
  void u32(std::uint32_t v) { u16(static_cast<std::uint16_t>(v)); u16(static_cast<std::uint16_t>(v >> 16)); }
  void narrow(const std::string& s) { u16(static_cast<std::uint16_t>(s.size() + 1)); u16(static_cast<std::uint16_t>(s.size())); bytes.insert(bytes.end(), s.begin(), s.end()); }
  void wide(const std::string& s) {
    const auto w = utf8_to_utf16le(s);
    u16(static_cast<std::uint16_t>(w.size() / 2));
    bytes.insert(bytes.end(), w.begin(), w.end());
  }
};

// Every Monday at 9:00 for an hour, five times from 2024-01-01: the second one deleted, the third
// moved to Tuesday 10:00 with its own subject and location (8-bit and Unicode).
std::vector<std::uint8_t> weekly_blob() {
  const std::uint32_t moved_start = kJan1 + 2 * kWeek + kDay + 600, original = kJan1 + 2 * kWeek + 540;
  Blob b;
  b.u16(0x3004); b.u16(0x3004); b.u16(0x200B); b.u16(1); b.u16(0); b.u32(0); b.u32(1); b.u32(0);
  b.u32(0x02);                                          // Monday
  b.u32(0x2022); b.u32(5); b.u32(1);                    // five times, weeks from Monday
  b.u32(2); b.u32(kJan1 + kWeek); b.u32(kJan1 + 2 * kWeek);  // deleted: both original dates
  b.u32(1); b.u32(kJan1 + 2 * kWeek + kDay);                 // changed: the new date
  b.u32(kJan1); b.u32(kJan1 + 4 * kWeek); b.u32(0x3006); b.u32(0x3009); b.u32(540); b.u32(600);
  b.u16(1);
  b.u32(moved_start); b.u32(moved_start + 60); b.u32(original); b.u16(0x0011);
  b.narrow("Moved - once"); b.narrow("Room B");
  b.u32(0);                                             // reserved block
  b.u32(4); b.u32(0); b.u32(0);                         // change highlight, reserved block
  b.u32(moved_start); b.u32(moved_start + 60); b.u32(original);
  b.wide("Moved \xE2\x80\x93 once"); b.wide("Room B"); b.u32(0);
  b.u32(0);
  return b.bytes;
}

TEST(RecurrenceExceptions, BlobGivesEachChangedInstanceItsTimesAndTexts) {
  const auto blob = weekly_blob();
  const auto p = parse_recurrence_pattern(blob);
  ASSERT_TRUE(p);
  ASSERT_TRUE(p->exceptions_complete);
  ASSERT_EQ(p->exceptions.size(), 1u);
  EXPECT_EQ(p->exceptions[0].original_start, kJan1 + 2 * kWeek + 540);
  EXPECT_EQ(p->exceptions[0].subject, "Moved \xE2\x80\x93 once");  // the Unicode one wins
  EXPECT_EQ(p->exceptions[0].location, "Room B");
  // Cut inside the extended part: the 8-bit texts stay, the list is marked incomplete.
  const auto cut = parse_recurrence_pattern(Bytes(blob).first(blob.size() - 30));
  ASSERT_TRUE(cut);
  EXPECT_FALSE(cut->exceptions_complete);
  EXPECT_EQ(cut->exceptions.at(0).subject, "Moved - once");
}

TEST(RecurrenceExceptions, SeriesHasExdatesAndAComponentPerChangedInstance) {
  pst::NameToIdMap names;
  auto named = [&](std::uint32_t lid) { return names.Register(store::named(kPsetidAppointment, lid)); };
  pst::MessageSpec series;
  series.props = {Property::String(kPidMessageClass, "IPM.Appointment"), Property::String(kPidSubject, "Weekly"),
                  Property::String(named(store::lid::kLocation), "Room A"), Property::Binary(named(0x8216), weekly_blob())};
  pst::AttachmentSpec exception;
  exception.embedded = std::make_shared<pst::MessageSpec>();
  exception.embedded->props = {
      Property::String(kPidMessageClass, "IPM.OLE.CLASS.{00061055-0000-0000-C000-000000000046}"),
      Property::String(kPidBody, "Agenda for the moved one"),
      Property::Time(named(0x8228), 133497828000000000ull)};  // 2024-01-15 09:00 UTC, the original start
  series.attachments = {exception};
  CalendarText calendar;
  calendar.Add(series, names);
  const std::string text = calendar.Text();
  EXPECT_NE(text.find("EXDATE:20240108T090000\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("EXDATE:20240115"), std::string::npos) << text;
  const auto instance = text.find("RECURRENCE-ID:20240115T090000\r\n");
  ASSERT_NE(instance, std::string::npos) << text;
  const std::string changed = text.substr(text.rfind("BEGIN:VEVENT", instance));
  for (const char* line : {"DTSTART:20240116T100000\r\n", "DTEND:20240116T110000\r\n", "SUMMARY:Moved \xE2\x80\x93 once\r\n",
                           "LOCATION:Room B\r\n", "DESCRIPTION:Agenda for the moved one\r\n"})
    EXPECT_NE(changed.find(line), std::string::npos) << line << " in " << changed;
  // Same UID as its series, which comes first.
  const auto uid = text.substr(text.find("UID:"), text.find("\r\n", text.find("UID:")) - text.find("UID:"));
  EXPECT_NE(changed.find(uid), std::string::npos);
}

}  // namespace
}  // namespace salvora::mime
