#pragma once
// A calendar or tasks folder as one iCalendar file (RFC 5545), built with libical: events with
// their organizer, attendees and responses, location, all-day dates, recurrence (RRULE, the
// deleted instances as EXDATE, the changed ones as components of their own with the original
// start as RECURRENCE-ID, in the time zone of the item's own definition as VTIMEZONE) and
// reminder (VALARM); tasks as VTODO with due date, status and percent complete; journal
// entries and notes as VJOURNAL.
//
// Not thread-safe; one folder's file is built by one writer.

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "pststore/pst/message_spec.h"
#include "pststore/pst/name_map.h"

struct icalcomponent_impl;

namespace salvora::mime {

struct RecurrencePattern;

class CalendarText {
 public:
  CalendarText();
  ~CalendarText();
  CalendarText(const CalendarText&) = delete;
  CalendarText& operator=(const CalendarText&) = delete;

  // Adds the item; names: the store's map, for the named fields.
  void Add(const pst::MessageSpec& message, const pst::NameToIdMap& names);
  bool empty() const { return items_ == 0; }
  // The whole VCALENDAR, CRLF line ends.
  std::string Text() const;

 private:
  // The TZID of the item's time zone, its VTIMEZONE added once; empty when it has none.
  std::string Zone(const pst::MessageSpec& message, const pst::NameToIdMap& names);
  // The series' EXDATEs for its deleted instances, and a component for each changed one (its
  // RECURRENCE-ID the original start), to follow the series in the file.
  std::vector<icalcomponent_impl*> AddDeletedAndChanged(icalcomponent_impl* series, const pst::MessageSpec& message,
                                                        const pst::NameToIdMap& names, const RecurrencePattern& pattern,
                                                        bool all_day);

  icalcomponent_impl* calendar_;
  std::set<std::string> zones_;
  int items_ = 0;
};

}  // namespace salvora::mime
