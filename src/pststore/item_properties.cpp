#include "pststore/item_properties.h"

#include "format/prop_types.h"
#include "platform/plain_text.h"

namespace salvora::store {

std::optional<ItemKind> item_kind_of_type(std::int32_t type) {
  switch (type) {
    case 0: return ItemKind::kMail;
    case 1: return ItemKind::kAppointment;
    case 2: return ItemKind::kContact;
    case 3: return ItemKind::kTask;
    case 4: return ItemKind::kJournal;
    case 5: return ItemKind::kNote;
    default: return std::nullopt;
  }
}

std::string_view message_class_of(ItemKind kind) {
  switch (kind) {
    case ItemKind::kMail: return "IPM.Note";
    case ItemKind::kAppointment: return "IPM.Appointment";
    case ItemKind::kContact: return "IPM.Contact";
    case ItemKind::kTask: return "IPM.Task";
    case ItemKind::kJournal: return "IPM.Activity";
    case ItemKind::kNote: return "IPM.StickyNote";
  }
  return "IPM.Note";
}

namespace {

bool class_is(std::string_view message_class, std::string_view base) {
  if (!starts_with_ignoring_ascii_case(message_class, base)) return false;
  // A derived class ("IPM.Contact.Custom") is still of its base kind.
  return message_class.size() == base.size() || message_class[base.size()] == '.';
}

}  // namespace

ItemKind item_kind_of_class(std::string_view message_class) {
  if (class_is(message_class, "IPM.Appointment")) return ItemKind::kAppointment;
  if (class_is(message_class, "IPM.Contact")) return ItemKind::kContact;
  if (class_is(message_class, "IPM.Task")) return ItemKind::kTask;
  if (class_is(message_class, "IPM.Activity")) return ItemKind::kJournal;
  if (class_is(message_class, "IPM.StickyNote")) return ItemKind::kNote;
  return ItemKind::kMail;
}

pst::PropertyName named(const pst::Guid& set, std::uint32_t lid) {
  pst::PropertyName n;
  n.guid = set;
  n.lid = lid;
  return n;
}

std::optional<PropertyTarget> field_target(ItemKind kind, MemberId member) {
  if (member < 0 || member > 0xFFFF) return std::nullopt;
  const auto id = static_cast<std::uint16_t>(member);
  PropertyTarget t;
  if (id >= 0x8000) {
    const std::uint16_t range = id & 0xFF00;
    if (range == 0x8000 && kind == ItemKind::kContact) {
      t.name = named(kPsetidAddress, id);
      t.type = kPtypString;  // every contact field of this set that the save pass puts is text
    } else if (range == 0x8100 && kind == ItemKind::kTask) {
      t.name = named(kPsetidTask, id);
      if (id == lid::kTaskDateCompleted) t.type = kPtypTime;
    } else if (range == 0x8200 && kind == ItemKind::kAppointment) {
      t.name = named(kPsetidAppointment, id);
      if (id == lid::kAppointmentStartWhole || id == lid::kAppointmentEndWhole) t.type = kPtypTime;
      if (id == lid::kLocation) t.type = kPtypString;
    } else if (range == 0x8500) {
      t.name = named(kPsetidCommon, id);
      // The contacts of a task or journal entry are a list of names, given here as one text.
      if (id == lid::kContacts) t.type = kPtypMultipleString;
      if (id == lid::kReminderSet) t.type = kPtypBoolean;
    } else {
      return std::nullopt;
    }
    return t;
  }
  if (kind != ItemKind::kContact) return std::nullopt;
  if (id == kPidDisplayName) {  // FullName
    t.id = id;
    t.type = kPtypString;
    return t;
  }
  if (id >= 0x3A00 && id <= 0x3A63) {
    t.id = id;
    // Every contact field of this range is text but the gender, a 16-bit number, and the
    // birthday, anniversary and rich-info flag, which the value given decides.
    if (id == pid::kGender) t.type = kPtypInteger16;
    else if (id < 0x3A40 || id > 0x3A42) t.type = kPtypString;
    return t;
  }
  return std::nullopt;
}

}  // namespace salvora::store
