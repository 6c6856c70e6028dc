#include "pststore/item_state.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "format/filetime.h"
#include "format/prop_types.h"

namespace salvora::store {

AttachmentState::~AttachmentState() {
  if (!spool_path.empty()) std::remove(spool_path.c_str());
}

void ItemState::Remove(std::uint16_t id) {
  props.erase(std::remove_if(props.begin(), props.end(), [&](const pst::Property& p) { return p.id() == id; }),
              props.end());
}

const NamedValue* ItemState::FindNamed(const pst::PropertyName& name) const {
  for (const auto& n : named)
    if (n.name == name) return &n;
  return nullptr;
}

void ItemState::SetNamed(const pst::PropertyName& name, pst::Property value) {
  for (auto& n : named) {
    if (n.name == name) {
      n.value = std::move(value);
      return;
    }
  }
  named.push_back(NamedValue{name, std::move(value)});
}

std::shared_ptr<ItemState> ItemState::Clone() const {
  auto copy = std::make_shared<ItemState>();
  copy->kind = kind;
  copy->props = props;
  copy->named = named;
  copy->recipients = recipients;
  copy->attachments = attachments;
  copy->kept = kept;
  copy->kept_named = kept_named;
  copy->deleted_ids = deleted_ids;
  copy->deleted_names = deleted_names;
  copy->associated = associated;
  copy->created = filetime_now();
  copy->unread = unread;
  copy->received = received;
  // A copy of an item in a folder is made in that folder, as Outlook does; it is written when
  // it is saved there or moved elsewhere.
  copy->store = store;
  copy->folder = folder;
  copy->Remove(kPidSearchKey);
  return copy;
}

std::shared_ptr<ItemState> new_item(ItemKind kind) {
  auto item = std::make_shared<ItemState>();
  item->kind = kind;
  item->created = filetime_now();
  item->Set(pst::Property::String(kPidMessageClass, message_class_of(kind)));
  item->Set(pst::Property::Int32(kPidImportance, 1));
  item->Set(pst::Property::Int32(kPidSensitivity, 0));
  return item;
}

std::pair<std::string, std::string> split_subject(const std::string& subject) {
  // A prefix is one to three characters that are neither blanks nor digits, a colon and a
  // blank ("RE: ", "AW: "); anything else is no prefix.
  const std::size_t colon = subject.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= subject.size() || subject[colon + 1] != ' ')
    return {"", subject};
  std::size_t chars = 0;
  for (std::size_t i = 0; i < colon; ++i) {
    const auto c = static_cast<unsigned char>(subject[i]);
    if (c == ' ' || (c >= '0' && c <= '9')) return {"", subject};
    if ((c & 0xC0) != 0x80) ++chars;  // count characters, not UTF-8 bytes
  }
  if (chars > 3) return {"", subject};
  return {subject.substr(0, colon + 2), subject.substr(colon + 2)};
}

namespace {

std::uint64_t time_of(const pst::Property* p) { return p ? static_cast<std::uint64_t>(p->AsInt()) : 0; }

std::vector<std::uint8_t> random_key() {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  std::vector<std::uint8_t> key(16);
  for (auto& b : key) b = static_cast<std::uint8_t>(rng());
  return key;
}

// Named properties are completed on a copy keyed by name, so a value the caller put always
// wins over a default.
struct NamedProps {
  std::vector<NamedValue> values;
  const pst::Property* Find(std::uint32_t lid, const pst::Guid& set) const {
    const pst::PropertyName n = named(set, lid);
    for (const auto& v : values)
      if (v.name == n) return &v.value;
    return nullptr;
  }
  void Set(const pst::Guid& set, std::uint32_t lid, pst::Property p) {
    const pst::PropertyName n = named(set, lid);
    for (auto& v : values) {
      if (v.name == n) {
        v.value = std::move(p);
        return;
      }
    }
    values.push_back(NamedValue{n, std::move(p)});
  }
  void Default(const pst::Guid& set, std::uint32_t lid, pst::Property p) {
    if (!Find(lid, set)) Set(set, lid, std::move(p));
  }
};

void complete_appointment(const ItemState& item, pst::PropertyList& props, NamedProps& n) {
  std::uint64_t start = time_of(n.Find(lid::kAppointmentStartWhole, kPsetidAppointment));
  std::uint64_t end = time_of(n.Find(lid::kAppointmentEndWhole, kPsetidAppointment));
  // An appointment always has both ends: a missing one is the other (no length), and one
  // given neither is placed at its creation.
  if (start == 0 && end == 0) start = end = item.created;
  if (start == 0) start = end;
  if (end == 0 || end < start) end = start;
  n.Set(kPsetidAppointment, lid::kAppointmentStartWhole, pst::Property::Time(0, start));
  n.Set(kPsetidAppointment, lid::kAppointmentEndWhole, pst::Property::Time(0, end));
  n.Set(kPsetidCommon, lid::kCommonStart, pst::Property::Time(0, start));
  n.Set(kPsetidCommon, lid::kCommonEnd, pst::Property::Time(0, end));
  const std::uint64_t minutes = (end - start) / 600000000ull;
  n.Set(kPsetidAppointment, lid::kAppointmentDuration,
        pst::Property::Int32(0, static_cast<std::int32_t>(std::min<std::uint64_t>(minutes, 0x7FFFFFFF))));
  n.Default(kPsetidAppointment, lid::kBusyStatus, pst::Property::Int32(0, 2));
  n.Default(kPsetidAppointment, lid::kAppointmentSubType, pst::Property::Bool(0, false));
  n.Default(kPsetidAppointment, lid::kAppointmentStateFlags, pst::Property::Int32(0, 0));
  n.Default(kPsetidAppointment, lid::kRecurring, pst::Property::Bool(0, false));
  n.Default(kPsetidCommon, lid::kReminderSet, pst::Property::Bool(0, false));
  n.Default(kPsetidCommon, lid::kReminderDelta, pst::Property::Int32(0, 15));
  pst::set_prop(props, pst::Property::Time(pid::kStartDate, start));
  pst::set_prop(props, pst::Property::Time(pid::kEndDate, end));
}

void complete_task(NamedProps& n) {
  n.Default(kPsetidTask, lid::kTaskStatus, pst::Property::Int32(0, 0));
  n.Default(kPsetidTask, lid::kPercentComplete, pst::Property::Double(0, 0.0));
  n.Default(kPsetidTask, lid::kTaskComplete, pst::Property::Bool(0, false));
}

void complete_journal(const ItemState& item, NamedProps& n) {
  n.Default(kPsetidLog, lid::kLogType, pst::Property::String(0, "Phone call"));
  n.Default(kPsetidLog, lid::kLogTypeDesc, pst::Property::String(0, "Phone call"));
  n.Default(kPsetidLog, lid::kLogStart, pst::Property::Time(0, item.created));
  n.Default(kPsetidLog, lid::kLogEnd, pst::Property::Time(0, item.created));
  n.Default(kPsetidLog, lid::kLogDuration, pst::Property::Int32(0, 0));
}

void complete_note(pst::PropertyList& props, NamedProps& n) {
  // A note has no subject of its own: readers show the first line of its text.
  if (!pst::find_prop(props, kPidSubject)) {
    std::string first;
    if (const pst::Property* body = pst::find_prop(props, kPidBody)) {
      first = body->AsString();
      first = first.substr(0, first.find_first_of("\r\n"));
    }
    pst::set_prop(props, pst::Property::String(kPidSubject, first));
  }
  n.Default(kPsetidNote, lid::kNoteColor, pst::Property::Int32(0, 3));  // yellow
  n.Default(kPsetidNote, lid::kNoteWidth, pst::Property::Int32(0, 200));
  n.Default(kPsetidNote, lid::kNoteHeight, pst::Property::Int32(0, 166));
}

void complete_contact(pst::PropertyList& props, NamedProps& n) {
  const pst::Property* file_under = n.Find(lid::kFileUnder, kPsetidAddress);
  if (!pst::find_prop(props, kPidDisplayName)) {
    std::string full;
    for (std::uint16_t id : {std::uint16_t{0x3A06}, std::uint16_t{0x3A44}, std::uint16_t{0x3A11}}) {
      const pst::Property* part = pst::find_prop(props, id);
      if (!part || part->AsString().empty()) continue;
      if (!full.empty()) full += ' ';
      full += part->AsString();
    }
    if (full.empty() && file_under) full = file_under->AsString();
    if (!full.empty()) pst::set_prop(props, pst::Property::String(kPidDisplayName, full));
  }
  if (!file_under) {
    if (const pst::Property* name = pst::find_prop(props, kPidDisplayName))
      n.Set(kPsetidAddress, lid::kFileUnder, pst::Property::String(0, name->AsString()));
  }
  // Outlook titles a contact by its name; one given no subject of its own shows that.
  if (!pst::find_prop(props, kPidSubject)) {
    if (const pst::Property* name = pst::find_prop(props, kPidDisplayName))
      pst::set_prop(props, pst::Property::String(kPidSubject, name->AsString()));
  }
  const pst::Property* email = n.Find(lid::kEmail1EmailAddress, kPsetidAddress);
  if (email && !email->AsString().empty()) {
    const std::string address = email->AsString();
    const pst::Property* name = pst::find_prop(props, kPidDisplayName);
    const std::string shown = name && !name->AsString().empty() ? name->AsString() + " (" + address + ")" : address;
    n.Default(kPsetidAddress, lid::kEmail1AddressType, pst::Property::String(0, "SMTP"));
    n.Default(kPsetidAddress, lid::kEmail1DisplayName, pst::Property::String(0, shown));
    n.Default(kPsetidAddress, lid::kEmail1OriginalDisplayName, pst::Property::String(0, address));
    n.Default(kPsetidAddress, lid::kAddressBookProviderEmailList, pst::Property::MultiInt32(0, {0}));
    n.Default(kPsetidAddress, lid::kAddressBookProviderArrayType, pst::Property::Int32(0, 1));
  }
}

// Named values mapped through the store's name map into tagged ones.
void add_named(pst::PropertyList& props, const std::vector<NamedValue>& named, StoreFile& store) {
  for (const auto& v : named) {
    pst::Property p = v.value;
    p.tag = PropTag(store.RegisterName(v.name), p.type());
    pst::set_prop(props, std::move(p));
  }
}

void apply_kept(const ItemState& item, pst::PropertyList& props, NamedProps& n) {
  // Applied twice a message: the second time over the same values, whose room is reused.
  for (const auto& p : item.kept) pst::copy_prop(props, p);
  for (const auto& v : item.kept_named) {
    auto it = std::find_if(n.values.begin(), n.values.end(), [&](const NamedValue& e) { return e.name == v.name; });
    if (it != n.values.end()) it->value = v.value;
    else n.values.push_back(v);
  }
}

}  // namespace

pst::MessageSpec build_message(const ItemState& item, StoreFile& store, std::uint64_t now) {
  pst::MessageSpec message;
  pst::PropertyList props = item.props;
  NamedProps n{item.named};
  // Kept values go in first, so that what is derived from them (an appointment's length, the
  // subject's parts) is derived from them, and once more at the end, so nothing replaces them.
  apply_kept(item, props, n);

  std::string message_class(message_class_of(item.kind));
  if (const pst::Property* c = pst::find_prop(props, kPidMessageClass)) message_class = c->AsString();
  if (message_class.empty()) message_class = std::string(message_class_of(item.kind));
  pst::set_prop(props, pst::Property::String(kPidMessageClass, message_class));
  const ItemKind kind = item_kind_of_class(message_class);

  std::uint32_t flags = item.unread ? 0 : kMsgFlagRead;
  if (kind == ItemKind::kMail && !item.received) flags |= kMsgFlagUnsent;
  pst::set_prop(props, pst::Property::Int32(kPidMessageFlags, static_cast<std::int32_t>(flags)));

  switch (kind) {
    case ItemKind::kAppointment: complete_appointment(item, props, n); break;
    case ItemKind::kTask: complete_task(n); break;
    case ItemKind::kJournal: complete_journal(item, n); break;
    case ItemKind::kNote: complete_note(props, n); break;
    case ItemKind::kContact: complete_contact(props, n); break;
    case ItemKind::kMail: break;
  }

  if (const pst::Property* s = pst::find_prop(props, kPidSubject)) {
    const auto [prefix, rest] = split_subject(s->AsString());
    pst::set_prop(props, pst::Property::String(pid::kSubjectPrefix, prefix));
    pst::set_prop(props, pst::Property::String(pid::kNormalizedSubject, rest));
    if (!pst::find_prop(props, kPidConversationTopic))
      pst::set_prop(props, pst::Property::String(kPidConversationTopic, rest));
  }
  if (!pst::find_prop(props, pid::kNativeBody)) {
    if (pst::find_prop(props, kPidHtml)) pst::set_prop(props, pst::Property::Int32(pid::kNativeBody, 3));
    else if (pst::find_prop(props, kPidBody)) pst::set_prop(props, pst::Property::Int32(pid::kNativeBody, 1));
  }
  // Every message its own search key, drawn here so that items added to one file in different
  // sessions never share one (a key is how duplicates are recognised).
  if (!pst::find_prop(props, kPidSearchKey)) pst::set_prop(props, pst::Property::Binary(kPidSearchKey, random_key()));
  pst::set_prop(props, pst::Property::Time(kPidCreationTime, item.created));
  pst::set_prop(props, pst::Property::Time(kPidLastModificationTime, now));
  apply_kept(item, props, n);

  for (std::uint16_t id : item.deleted_ids) std::erase_if(props, [&](const pst::Property& p) { return p.id() == id; });
  for (const auto& name : item.deleted_names) std::erase_if(n.values, [&](const NamedValue& v) { return v.name == name; });

  add_named(props, n.values, store);
  message.props = std::move(props);
  message.associated = item.associated;
  for (std::uint16_t id : {kPidCreationTime, kPidLastModificationTime}) {
    if (std::find(item.deleted_ids.begin(), item.deleted_ids.end(), id) != item.deleted_ids.end())
      message.complete_times = false;
  }
  for (const auto& r : item.recipients) {
    pst::RecipientSpec row;
    row.props = r.props;
    add_named(row.props, r.named, store);
    message.recipients.push_back(std::move(row));
  }
  for (const auto& a : item.attachments) {
    pst::AttachmentSpec as;
    as.props = a->props;
    add_named(as.props, a->named, store);
    if (a->embedded) {
      as.embedded = std::make_shared<pst::MessageSpec>(build_message(*a->embedded, store, now));
    } else if (!a->spool_path.empty()) {
      as.data_path = a->spool_path;
    } else {
      as.data = a->data;
    }
    message.attachments.push_back(std::move(as));
  }
  return message;
}

}  // namespace salvora::store
