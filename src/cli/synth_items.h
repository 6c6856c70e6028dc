#pragma once
// The parts of the synthetic mailbox's richer items that are format knowledge rather than
// chance: an appointment's recurrence blob, a message's Internet headers, an RTF rendering of
// a plain body, and the picture an HTML body shows inline. The synth command draws what goes
// into them; these build the bytes.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace salvora::cli {

// A weekly series: days is the mask of weekdays (bit 0 Sunday .. bit 6 Saturday), every
// period_weeks weeks, ending after occurrences instances. start is the first instance's
// FILETIME; the instances last duration_minutes.
struct WeeklySeries {
  std::uint64_t start = 0;
  std::uint32_t duration_minutes = 60;
  std::uint32_t days = 0x02;
  std::uint32_t period_weeks = 1;
  std::uint32_t occurrences = 10;
};
// The series as an appointment recurrence pattern (PidLidAppointmentRecur): no exceptions and
// no deleted instances.
std::vector<std::uint8_t> appointment_recurrence(const WeeklySeries& series);

// RFC 822 header lines of a received message, each ended by CR LF, then an empty line.
std::string internet_headers(std::string_view from, std::string_view to, std::string_view subject,
                             std::uint64_t filetime, std::string_view message_id);

// A plain body as an RTF document: characters outside ASCII as \uN escapes, lines as \par.
std::string rtf_document(std::string_view text_utf8);

// An address of its own, as a distribution list keeps a member that is no contact.
std::vector<std::uint8_t> one_off_entry_id(std::string_view name, std::string_view address);
// A contact's entry id as a distribution list's member names it.
std::vector<std::uint8_t> wrapped_entry_id(std::span<const std::uint8_t> entry_id);

// A 1x1 PNG, the inline picture of HTML bodies.
std::vector<std::uint8_t> inline_picture();

}  // namespace salvora::cli
