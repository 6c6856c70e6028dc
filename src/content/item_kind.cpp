#include "content/item_kind.h"

#include <algorithm>
#include <cstring>

#include "platform/plain_text.h"

namespace salvora {

namespace {

// Equal ignoring case over the first k characters, k being the shortest of the two lengths and
// limit + 1.
bool agrees(std::string_view cls, std::string_view literal, std::size_t limit) {
  const std::size_t k = std::min({cls.size(), literal.size(), limit + 1});
  for (std::size_t i = 0; i < k; ++i) {
    if (ascii_lower(cls[i]) != ascii_lower(literal[i])) return false;
  }
  return true;
}

// strncmp semantics: the class ends where it ends, so a shorter class never matches a longer
// literal over the limit.
bool same_prefix(std::string_view cls, std::string_view literal, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const char a = i < cls.size() ? cls[i] : '\0';
    const char b = i < literal.size() ? literal[i] : '\0';
    if (a != b) return false;
    if (a == '\0') return true;
  }
  return true;
}

}  // namespace

ItemKind kind_for_message_class(std::string_view c) {
  if (agrees(c, "IPM.Note", 8)) return ItemKind::kMail;
  if (agrees(c, "IPM.x-", 8)) return ItemKind::kMail;
  if (equal_ignoring_ascii_case(c, "IPM")) return ItemKind::kMail;
  if (agrees(c, "IPM.Contact", 11)) return ItemKind::kContact;
  if (agrees(c, "IPF.Contact", 11)) return ItemKind::kContact;
  if (agrees(c, "IPM.Contact", 9)) return ItemKind::kContact;
  if (agrees(c, "REPORT.IPM.Note", 15)) return ItemKind::kReport;
  if (agrees(c, "IPM.Activity", 12)) return ItemKind::kJournal;
  if (agrees(c, "IPM.Appointment", 15)) return ItemKind::kAppointment;
  return ItemKind::kOther;
}

ItemKind kind_for_container_class(std::string_view c) {
  if (same_prefix(c, "IPF.Note", 8)) return ItemKind::kMail;
  if (same_prefix(c, "IPF.Contact", 11)) return ItemKind::kContact;
  if (same_prefix(c, "IPF.Contact", 9)) return ItemKind::kContact;
  if (same_prefix(c, "IPM.Contact", 9)) return ItemKind::kContact;
  if (same_prefix(c, "IPF.Journal", 11)) return ItemKind::kJournal;
  if (same_prefix(c, "IPF.Appointment", 15)) return ItemKind::kAppointment;
  if (same_prefix(c, "IPF.StickyNote", 14)) return ItemKind::kStickyNote;
  if (same_prefix(c, "IPF.Task", 8)) return ItemKind::kTask;
  return ItemKind::kOther;
}

}  // namespace salvora
