#include "mimestore/icalendar.h"

#include <libical/ical.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "format/filetime.h"
#include "format/prop_types.h"
#include "mimestore/recurrence_pattern.h"
#include "mimestore/item_fields.h"
#include "pststore/item_properties.h"

namespace salvora::mime {

namespace {


constexpr pst::Guid kPsetidMeeting = {0x90, 0xDA, 0xD8, 0x6E, 0x0B, 0x45, 0x1B, 0x10,
                                      0x98, 0xDA, 0x00, 0xAA, 0x00, 0x3F, 0x13, 0x05};
constexpr std::uint32_t kGlobalObjectId = 0x0003;
constexpr std::uint32_t kAppointmentRecur = 0x8216, kTimeZoneStruct = 0x8233, kTimeZoneDescription = 0x8234;
constexpr std::uint32_t kExceptionReplaceTime = 0x8228;
constexpr std::uint16_t kPidMessageCodepage = 0x3FFD;
constexpr std::string_view kExceptionClass = "IPM.OLE.CLASS.{00061055-0000-0000-C000-000000000046}";
constexpr std::uint32_t kTaskStartDate = 0x8104, kTaskDueDate = 0x8105;
constexpr std::uint16_t kRecipientFlags = 0x5FFD, kRecipientTrackStatus = 0x5FFF;
constexpr std::uint32_t kRecipOrganizer = 0x0002;
constexpr std::int64_t kHalfDay = 12ll * 3600;

time_t unix_of(std::uint64_t filetime) {
  return static_cast<time_t>(filetime / kFiletimeTicksPerSecond) -
         static_cast<time_t>(kFiletimeUnixEpoch / kFiletimeTicksPerSecond);
}

icaltimetype utc_time(std::uint64_t filetime) {
  return icaltime_from_timet_with_zone(unix_of(filetime), 0, icaltimezone_get_utc_timezone());
}

// Outlook keeps a date as the local midnight in UTC: the date is that of its noon.
icaltimetype date_of(std::uint64_t filetime) { return icaltime_from_timet_with_zone(unix_of(filetime) + kHalfDay, 1, nullptr); }

// A local time of the recurrence blob (minutes since 1601), floating until a TZID names its zone.
icaltimetype local_time(std::uint64_t minutes) {
  const time_t t = static_cast<time_t>(minutes * 60) - static_cast<time_t>(kFiletimeUnixEpoch / kFiletimeTicksPerSecond);
  return icaltime_from_timet_with_zone(t, 0, nullptr);
}

// A local time of the blob as a date (an all-day series) or a time of day.
icaltimetype blob_time(std::uint64_t minutes, bool date) {
  if (!date) return local_time(minutes);
  const time_t t = static_cast<time_t>(minutes * 60) - static_cast<time_t>(kFiletimeUnixEpoch / kFiletimeTicksPerSecond);
  return icaltime_from_timet_with_zone(t, 1, nullptr);
}

icalproperty* in_zone(icalproperty* property, const std::string& tzid) {
  if (!tzid.empty()) icalproperty_add_parameter(property, icalparameter_new_tzid(tzid.c_str()));
  return property;
}

// Upper-case hex, as Outlook writes a meeting's global id for a UID.
std::string hex(const std::vector<std::uint8_t>& data) {
  std::string out(data.size() * 2 + 1, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) std::snprintf(&out[2 * i], 3, "%02X", data[i]);
  out.pop_back();
  return out;
}

std::string uid_of(const pst::MessageSpec& m, const NamedFields& named, int counter) {
  if (const pst::Property* g = named.Find(kPsetidMeeting, kGlobalObjectId); g && !g->data.empty()) return hex(g->data);
  if (const pst::Property* k = pst::find_prop(m.props, kPidSearchKey); k && !k->data.empty()) return hex(k->data);
  return "salvora-" + std::to_string(std::time(nullptr)) + "-" + std::to_string(counter);
}

std::string address_of(const pst::PropertyList& props, std::uint16_t smtp, std::uint16_t email) {
  std::string a = prop_text(props, smtp);
  if (a.empty()) a = prop_text(props, email);
  return a.find('@') != std::string::npos ? a : std::string();
}

const char* weekday(int day) {
  static constexpr const char* kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
  return kDays[day % 7];
}

std::string days_of(std::uint32_t mask) {
  std::string out;
  for (int d = 0; d < 7; ++d) {
    if (!(mask & (1u << d))) continue;
    if (!out.empty()) out += ',';
    out += weekday(d);
  }
  return out;
}

// The rule of a pattern; empty for one iCalendar cannot say (the Hijri calendar's).
std::string rrule_of(const RecurrencePattern& p, const icaltimetype& start) {
  std::string rule;
  const std::string setpos = p.nth == 5 ? "-1" : std::to_string(p.nth);
  switch (p.frequency) {
    case 0x200A:
      rule = p.pattern_type == 1 ? "FREQ=WEEKLY;BYDAY=" + days_of(p.days_mask)
                                 : "FREQ=DAILY;INTERVAL=" + std::to_string(std::max<std::uint32_t>(1, p.period / 1440));
      break;
    case 0x200B:
      rule = "FREQ=WEEKLY;INTERVAL=" + std::to_string(std::max<std::uint32_t>(1, p.period)) + ";BYDAY=" + days_of(p.days_mask) +
             ";WKST=" + weekday(static_cast<int>(p.first_day_of_week));
      break;
    case 0x200C:
    case 0x200D: {
      const bool yearly = p.frequency == 0x200D;
      const std::uint32_t interval = std::max<std::uint32_t>(1, yearly ? p.period / 12 : p.period);
      rule = std::string(yearly ? "FREQ=YEARLY" : "FREQ=MONTHLY") + ";INTERVAL=" + std::to_string(interval);
      if (yearly) rule += ";BYMONTH=" + std::to_string(start.month);
      if (p.pattern_type == 2) rule += ";BYMONTHDAY=" + std::to_string(p.day_of_month);
      else if (p.pattern_type == 3) rule += ";BYDAY=" + days_of(p.days_mask) + ";BYSETPOS=" + setpos;
      else if (p.pattern_type == 4) rule += ";BYMONTHDAY=-1";
      else return {};
      break;
    }
    default: return {};
  }
  if (p.end_type == 0x2022) rule += ";COUNT=" + std::to_string(p.occurrences);
  return rule;
}

void add_text(icalcomponent* c, icalproperty* (*make)(const char*), const std::string& value) {
  if (!value.empty()) icalcomponent_add_property(c, make(value.c_str()));
}

void add_alarm(icalcomponent* c, const NamedFields& named, const RecurrenceException* change = nullptr) {
  const bool set = change && change->reminder_set ? *change->reminder_set
                                                  : named.Int(kPsetidCommon, store::lid::kReminderSet).value_or(0) != 0;
  if (!set) return;
  icalcomponent* alarm = icalcomponent_new_valarm();
  icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
  icalcomponent_add_property(alarm, icalproperty_new_description("Reminder"));
  struct icaltriggertype trigger = icaltriggertype_from_int(
      -60 * static_cast<int>(change && change->reminder_delta
                                 ? *change->reminder_delta
                                 : named.Int(kPsetidCommon, store::lid::kReminderDelta).value_or(15)));
  icalcomponent_add_property(alarm, icalproperty_new_trigger(trigger));
  icalcomponent_add_component(c, alarm);
}

void add_people(icalcomponent* c, const pst::MessageSpec& m) {
  const pst::PropertyList& p = m.props;
  std::string organizer = address_of(p, 0x5D02, kPidSentRepresentingEmail);
  std::string organizer_name = prop_text(p, kPidSentRepresentingName);
  if (organizer.empty()) {
    organizer = address_of(p, 0x5D01, kPidSenderEmailAddress);
    organizer_name = prop_text(p, kPidSenderName);
  }
  if (!organizer.empty() && !m.recipients.empty()) {
    icalproperty* o = icalproperty_new_organizer(("mailto:" + organizer).c_str());
    if (!organizer_name.empty()) icalproperty_add_parameter(o, icalparameter_new_cn(organizer_name.c_str()));
    icalcomponent_add_property(c, o);
  }
  for (const auto& r : m.recipients) {
    if (prop_int(r.props, kRecipientFlags).value_or(0) & kRecipOrganizer) continue;
    const std::string address = address_of(r.props, kPidSmtpAddress, kPidEmailAddress);
    const std::string name = prop_text(r.props, kPidDisplayName);
    if (address.empty() && name.empty()) continue;
    icalproperty* a = icalproperty_new_attendee(("mailto:" + address).c_str());
    if (!name.empty()) icalproperty_add_parameter(a, icalparameter_new_cn(name.c_str()));
    const auto type = prop_int(r.props, kPidRecipientType).value_or(1) & 0x0F;
    icalproperty_add_parameter(a, icalparameter_new_role(type == 2 ? ICAL_ROLE_OPTPARTICIPANT
                                                         : type == 3 ? ICAL_ROLE_NONPARTICIPANT
                                                                     : ICAL_ROLE_REQPARTICIPANT));
    icalparameter_partstat state = ICAL_PARTSTAT_NEEDSACTION;
    switch (prop_int(r.props, kRecipientTrackStatus).value_or(0)) {
      case 2: state = ICAL_PARTSTAT_TENTATIVE; break;
      case 3: state = ICAL_PARTSTAT_ACCEPTED; break;
      case 4: state = ICAL_PARTSTAT_DECLINED; break;
      default: break;
    }
    icalproperty_add_parameter(a, icalparameter_new_partstat(state));
    icalcomponent_add_property(c, a);
  }
}

// The zone's offset east of UTC in seconds, from a bias in minutes west of it.
int offset_of(std::int32_t bias) { return -bias * 60; }

// A zone's yearly change from a SYSTEMTIME of the struct (month, day of week, week 1-5).
icalcomponent* zone_part(bool daylight, Bytes when, int from, int to) {
  icalcomponent* part = daylight ? icalcomponent_new_xdaylight() : icalcomponent_new_xstandard();
  const int month = load_u16(when, 2), day_of_week = load_u16(when, 4), week = load_u16(when, 6);
  icaltimetype start = icaltime_null_time();
  start.year = 1601;
  start.month = month ? month : 1;
  start.day = 1;
  start.hour = load_u16(when, 8);
  start.minute = load_u16(when, 10);
  icalcomponent_add_property(part, icalproperty_new_dtstart(start));
  icalcomponent_add_property(part, icalproperty_new_tzoffsetfrom(from));
  icalcomponent_add_property(part, icalproperty_new_tzoffsetto(to));
  if (month) {
    const std::string rule = "FREQ=YEARLY;BYMONTH=" + std::to_string(month) + ";BYDAY=" +
                             (week >= 5 ? std::string("-1") : std::to_string(week)) + weekday(day_of_week);
    icalcomponent_add_property(part, icalproperty_new_rrule(icalrecurrencetype_from_string(rule.c_str())));
  }
  return part;
}

// The message an exception attachment holds for a changed instance (its body, its attendees):
// the one whose replace time is nearest the instance's original start, within an hour (the
// zone's rules are read from the item and may be off by a summer hour). Null when none is.
const pst::MessageSpec* exception_message(const pst::MessageSpec& series, const pst::NameToIdMap& names, time_t original) {
  const pst::MessageSpec* best = nullptr;
  time_t best_distance = 3600;
  for (const auto& a : series.attachments) {
    if (!a.embedded || prop_text(a.embedded->props, kPidMessageClass) != kExceptionClass) continue;
    const auto replaced = NamedFields(a.embedded->props, names).Time(kPsetidAppointment, kExceptionReplaceTime);
    if (!replaced) continue;
    const time_t distance = std::abs(unix_of(*replaced) - original);
    if (distance <= best_distance) {
      best = a.embedded.get();
      best_distance = distance;
    }
  }
  return best;
}

}  // namespace

CalendarText::CalendarText() : calendar_(icalcomponent_new_vcalendar()) {
  icalcomponent_add_property(calendar_, icalproperty_new_version("2.0"));
  icalcomponent_add_property(calendar_, icalproperty_new_prodid("-//Salvora//Recovered mailbox//EN"));
}

CalendarText::~CalendarText() { icalcomponent_free(calendar_); }

std::string CalendarText::Text() const {
  char* text = icalcomponent_as_ical_string_r(calendar_);
  std::string out = text ? text : "";
  free(text);
  return out;
}

std::string CalendarText::Zone(const pst::MessageSpec& m, const pst::NameToIdMap& names) {
  const NamedFields named(m.props, names);
  const pst::Property* tz = named.Find(kPsetidAppointment, kTimeZoneStruct);
  if (!tz || tz->data.size() < 48) return {};
  const Bytes data(tz->data);
  const auto bias = static_cast<std::int32_t>(load_u32(data, 0));
  const auto standard_bias = static_cast<std::int32_t>(load_u32(data, 4));
  const auto daylight_bias = static_cast<std::int32_t>(load_u32(data, 8));
  const Bytes standard = data.subspan(14, 16), daylight = data.subspan(32, 16);
  const int standard_offset = offset_of(bias + standard_bias), daylight_offset = offset_of(bias + daylight_bias);
  const bool has_daylight = load_u16(daylight, 2) != 0 && load_u16(standard, 2) != 0;
  std::string tzid = named.Text(kPsetidAppointment, kTimeZoneDescription);
  // Two items may name one zone with different rules: the name carries the rules' figures.
  tzid = (tzid.empty() ? std::string("Zone") : tzid) + " [" + std::to_string(standard_offset / 60) +
         (has_daylight ? "/" + std::to_string(daylight_offset / 60) + "/" + std::to_string(load_u16(daylight, 2)) + "-" +
                             std::to_string(load_u16(standard, 2))
                       : std::string()) +
         "]";
  if (zones_.insert(tzid).second) {
    icalcomponent* zone = icalcomponent_new_vtimezone();
    icalcomponent_add_property(zone, icalproperty_new_tzid(tzid.c_str()));
    icalcomponent_add_component(zone, zone_part(false, standard, has_daylight ? daylight_offset : standard_offset, standard_offset));
    if (has_daylight) icalcomponent_add_component(zone, zone_part(true, daylight, standard_offset, daylight_offset));
    icalcomponent_add_component(calendar_, zone);
  }
  return tzid;
}

std::vector<icalcomponent*> CalendarText::AddDeletedAndChanged(icalcomponent* series, const pst::MessageSpec& m,
                                                               const pst::NameToIdMap& names, const RecurrencePattern& p,
                                                               bool all_day) {
  const std::string tzid = all_day ? std::string() : Zone(m, names);
  // An instance the blob describes as changed is no deleted one, whichever list has its date:
  // its original date is in the deleted list, its new one in the changed list.
  std::vector<std::uint32_t> changed_days;
  for (const auto& e : p.exceptions) changed_days.push_back(e.original_start - e.original_start % 1440);
  const std::vector<std::uint32_t>& kept = p.exceptions_complete ? changed_days : p.modified;
  for (std::uint32_t day : p.deleted) {
    if (std::find(kept.begin(), kept.end(), day) != kept.end()) continue;
    icalcomponent_add_property(
        series, in_zone(icalproperty_new_exdate(blob_time(std::uint64_t{day} + (all_day ? 0 : p.start_offset), all_day)), tzid));
  }
  std::vector<icalcomponent*> instances;
  if (!p.exceptions_complete) return instances;  // their original dates are not all known
  icaltimezone* zone = tzid.empty() ? nullptr : icalcomponent_get_timezone(calendar_, tzid.c_str());
  const NamedFields named(m.props, names);
  for (const auto& e : p.exceptions) {
    icalcomponent* c = icalcomponent_new_vevent();
    instances.push_back(c);
    icalcomponent_add_property(c, icalproperty_new_uid(icalcomponent_get_uid(series)));
    icalcomponent_add_property(c, icalproperty_new_dtstamp(icalcomponent_get_dtstamp(series)));
    icalcomponent_add_property(c, in_zone(icalproperty_new_recurrenceid(blob_time(e.original_start, all_day)), tzid));
    const bool day_only = e.all_day.value_or(all_day);
    const std::string& instance_zone = day_only ? std::string() : tzid;
    icalcomponent_add_property(c, in_zone(icalproperty_new_dtstart(blob_time(e.start, day_only)), instance_zone));
    icalcomponent_add_property(c, in_zone(icalproperty_new_dtend(blob_time(std::max(e.end, e.start), day_only)), instance_zone));
    icaltimetype original = local_time(e.original_start);
    const time_t original_utc = zone ? icaltime_as_timet_with_zone(original, zone) : icaltime_as_timet(original);
    const pst::MessageSpec* own = exception_message(m, names, original_utc);
    add_text(c, icalproperty_new_summary, e.subject.value_or(icalcomponent_get_summary(series) ? icalcomponent_get_summary(series) : ""));
    const std::string body = own ? prop_text(own->props, kPidBody) : std::string();
    add_text(c, icalproperty_new_description,
             !body.empty() ? body : (icalcomponent_get_description(series) ? icalcomponent_get_description(series) : ""));
    add_text(c, icalproperty_new_location, e.location.value_or(named.Text(kPsetidAppointment, store::lid::kLocation)));
    add_people(c, own && !own->recipients.empty() ? *own : m);
    add_alarm(c, named, &e);
  }
  return instances;
}

void CalendarText::Add(const pst::MessageSpec& m, const pst::NameToIdMap& names) {
  const pst::PropertyList& p = m.props;
  const NamedFields named(p, names);
  const std::string cls = prop_text(p, kPidMessageClass);
  const bool task = cls.starts_with("IPM.Task");
  const bool event = cls.starts_with("IPM.Appointment") || cls.starts_with("IPM.Schedule.Meeting.Request");
  icalcomponent* c = task ? icalcomponent_new_vtodo() : event ? icalcomponent_new_vevent() : icalcomponent_new_vjournal();
  ++items_;
  icalcomponent_add_property(c, icalproperty_new_uid(uid_of(m, named, items_).c_str()));
  icalcomponent_add_property(
      c, icalproperty_new_dtstamp(utc_time(prop_time(p, kPidLastModificationTime).value_or(filetime_now()))));
  std::string subject = prop_text(p, kPidSubject);
  if (!subject.empty() && subject[0] == '\x01') subject.erase(0, std::min<std::size_t>(2, subject.size()));
  add_text(c, icalproperty_new_summary, subject);
  add_text(c, icalproperty_new_description, prop_text(p, kPidBody));
  if (event) {
    std::vector<icalcomponent*> changed;
    add_text(c, icalproperty_new_location, named.Text(kPsetidAppointment, store::lid::kLocation));
    const auto start = named.Time(kPsetidAppointment, store::lid::kAppointmentStartWhole);
    const auto end = named.Time(kPsetidAppointment, store::lid::kAppointmentEndWhole);
    const bool all_day = named.Int(kPsetidAppointment, store::lid::kAppointmentSubType).value_or(0) != 0;
    const pst::Property* blob = named.Find(kPsetidAppointment, kAppointmentRecur);
    const auto pattern = blob ? parse_recurrence_pattern(blob->data, static_cast<std::uint32_t>(prop_int(p, kPidMessageCodepage).value_or(1252))) : std::nullopt;
    if (pattern && !all_day) {
      // A series is told in the time of its own zone, so that its occurrences keep their hour
      // across the changes to and from summer time.
      const std::string tzid = Zone(m, names);
      const std::uint64_t first = std::uint64_t{pattern->start_date} + pattern->start_offset;
      const std::uint64_t last = std::uint64_t{pattern->start_date} + std::max(pattern->end_offset, pattern->start_offset);
      icalcomponent_add_property(c, in_zone(icalproperty_new_dtstart(local_time(first)), tzid));
      icalcomponent_add_property(c, in_zone(icalproperty_new_dtend(local_time(last)), tzid));
    } else if (start) {
      icalcomponent_add_property(c, icalproperty_new_dtstart(all_day ? date_of(*start) : utc_time(*start)));
      if (end && *end >= *start) icalcomponent_add_property(c, icalproperty_new_dtend(all_day ? date_of(*end) : utc_time(*end)));
    }
    if (pattern) {
      const time_t first_day = static_cast<time_t>(pattern->start_date) * 60 -
                               static_cast<time_t>(kFiletimeUnixEpoch / kFiletimeTicksPerSecond);
      std::string rule = rrule_of(*pattern, icaltime_from_timet_with_zone(first_day, 1, nullptr));
      if (!rule.empty() && pattern->end_type == 0x2021) {
        // The last day's end in its zone, as UTC; the zone's standard bias is close enough for
        // a bound that falls between two occurrences.
        const pst::Property* tz = named.Find(kPsetidAppointment, kTimeZoneStruct);
        const std::int64_t bias = tz && tz->data.size() >= 48 ? static_cast<std::int32_t>(load_u32(tz->data, 0)) : 0;
        const time_t until = static_cast<time_t>(pattern->end_date + 1439 + bias) * 60 -
                             static_cast<time_t>(kFiletimeUnixEpoch / kFiletimeTicksPerSecond);
        const icaltimetype u = all_day ? icaltime_from_timet_with_zone(until, 1, nullptr)
                                       : icaltime_from_timet_with_zone(until, 0, icaltimezone_get_utc_timezone());
        rule += std::string(";UNTIL=") + icaltime_as_ical_string(u);
      }
      if (!rule.empty()) {
        icalcomponent_add_property(c, icalproperty_new_rrule(icalrecurrencetype_from_string(rule.c_str())));
        changed = AddDeletedAndChanged(c, m, names, *pattern, all_day);
      }
    }
    add_people(c, m);
    add_alarm(c, named);
    // The changed instances follow their series, each a component of its own.
    icalcomponent_add_component(calendar_, c);
    for (icalcomponent* instance : changed) icalcomponent_add_component(calendar_, instance);
    return;
  } else if (task) {
    if (const auto s = named.Time(kPsetidTask, kTaskStartDate)) icalcomponent_add_property(c, icalproperty_new_dtstart(date_of(*s)));
    if (const auto d = named.Time(kPsetidTask, kTaskDueDate)) icalcomponent_add_property(c, icalproperty_new_due(date_of(*d)));
    const auto status = named.Int(kPsetidTask, store::lid::kTaskStatus).value_or(0);
    icalcomponent_add_property(c, icalproperty_new_status(status == 2   ? ICAL_STATUS_COMPLETED
                                                          : status == 1 ? ICAL_STATUS_INPROCESS
                                                                        : ICAL_STATUS_NEEDSACTION));
    const double done = named.Double(kPsetidTask, store::lid::kPercentComplete).value_or(status == 2 ? 1.0 : 0.0);
    icalcomponent_add_property(c, icalproperty_new_percentcomplete(static_cast<int>(std::clamp(done, 0.0, 1.0) * 100 + 0.5)));
    if (const auto completed = named.Time(kPsetidTask, store::lid::kTaskDateCompleted))
      icalcomponent_add_property(c, icalproperty_new_completed(utc_time(*completed)));
    add_alarm(c, named);
  } else {
    const auto when = prop_time(p, kPidCreationTime);
    if (when) icalcomponent_add_property(c, icalproperty_new_dtstart(utc_time(*when)));
  }
  icalcomponent_add_component(calendar_, c);
}

}  // namespace salvora::mime
