// The property writers: appointments, contacts, tasks, journal entries and notes are made with
// CreateItem, given their fields one put at a time, stored and moved into their folder. A put
// happens only when its source is present, so a later put to the same member replaces an
// earlier one only with a real value. Errors are left to the save pass, which decides per kind.

#include <utility>

#include "automation/member_ids.h"
#include "format/filetime.h"
#include "writer/save_to_pst.h"

namespace salvora {

namespace {

using OptString = std::optional<std::string> ContactFields::*;

struct ContactPut {
  MemberId member;
  OptString field;
};

// The contact fields in the order they are put; the rows that do not come straight from a
// contact field (file-as, body, gender, subject) are put by WriteContact between these runs.
constexpr ContactPut kContactHead[] = {
    {0x3A10, &ContactFields::organizational_id},
    {dispid::kFullName, &ContactFields::file_under},
    {0x3A07, &ContactFields::government_id},
    {0x3A4B, &ContactFields::ttytdd_phone},
    {0x3A1B, &ContactFields::business_phone_2},
    {0x3A1D, &ContactFields::radio_phone},
    {0x3A2C, &ContactFields::telex},
    {0x8534, &ContactFields::mileage},
    {0x3A06, &ContactFields::given_name},
    {0x3A44, &ContactFields::middle_name},
    {0x3A11, &ContactFields::surname},
};
// After the file-as text.
constexpr ContactPut kContactMiddle[] = {
    {0x801B, &ContactFields::business_address},
    {0x3A2F, &ContactFields::home_phone_2},
    {0x3A00, &ContactFields::account},
    {0x3A18, &ContactFields::department},
    {0x3A1E, &ContactFields::car_phone},
    {0x8048, &ContactFields::business_postal_code},
    {0x8045, &ContactFields::business_street},
    {0x8047, &ContactFields::business_state},
    {0x8049, &ContactFields::business_country},
    {0x8046, &ContactFields::business_city},
    {0x3A02, &ContactFields::callback_phone},
    {0x3A61, &ContactFields::other_postal_code},
    {0x801C, &ContactFields::other_address},
    {0x3A1F, &ContactFields::other_phone},
    {0x3A63, &ContactFields::other_street},
    {0x3A62, &ContactFields::other_state},
    {0x3A60, &ContactFields::other_country},
    {0x3A5F, &ContactFields::other_city},
    {0x3A5C, &ContactFields::home_state},
    {0x3A5D, &ContactFields::home_street},
    {0x3A5B, &ContactFields::home_postal_code},
    {0x3A5A, &ContactFields::home_country},
    {0x3A51, &ContactFields::business_home_page},
    {0x3A50, &ContactFields::personal_home_page},
    {0x3A4F, &ContactFields::nickname},
    {0x3A4E, &ContactFields::manager},
    {0x80D8, &ContactFields::text_80d8},
    {0x3A59, &ContactFields::home_city},
    {0x3A57, &ContactFields::company_main_phone},
    {0x3A48, &ContactFields::spouse},
    {0x3A46, &ContactFields::profession},
    {0x3A30, &ContactFields::assistant},
    {0x3A2E, &ContactFields::assistant_phone},
    {0x3A2D, &ContactFields::isdn_number},
    {0x3A21, &ContactFields::pager},
    {0x3A19, &ContactFields::office_location},
    {0x3A25, &ContactFields::home_fax},
    {0x3A0C, &ContactFields::language},
    {0x3A08, &ContactFields::business_phone},
    {0x3A24, &ContactFields::business_fax},
};
// After the body.
constexpr ContactPut kContactAfterBody[] = {
    {0x801B, &ContactFields::postal_address},
    {0x3A43, &ContactFields::hobbies},
};
// After the gender; then the subject.
constexpr ContactPut kContactCustomer[] = {
    {0x3A4A, &ContactFields::customer_id},
};
// After the subject: the generation and the fields put once more at the end.
constexpr ContactPut kContactTail[] = {
    {0x3A05, &ContactFields::generation},
    {dispid::kEmail1Address, &ContactFields::email_address},
    {0x3A16, &ContactFields::company},
    {0x3A17, &ContactFields::job_title},
    {0x3A06, &ContactFields::given_name},
    {0x3A44, &ContactFields::middle_name},
    {0x3A11, &ContactFields::surname},
    {0x3A09, &ContactFields::home_phone},
    {0x3A1C, &ContactFields::mobile_phone},
    {dispid::kFullName, &ContactFields::file_under},
};

// The largest contact body the external store's interface takes (characters).
constexpr std::size_t kExternalContactBodyLimit = 499998;

template <std::size_t N>
void put_all(const DispatchPtr& item, const ContactFields& c, const ContactPut (&rows)[N]) {
  for (const auto& row : rows) {
    if (const auto& v = c.*row.field) put(item, row.member, Variant(*v));
  }
}

void put_text(const DispatchPtr& item, MemberId member, const std::optional<std::string>& value) {
  if (value) put(item, member, Variant(*value));
}

void put_time(const DispatchPtr& item, MemberId member, const std::optional<std::uint64_t>& filetime) {
  if (filetime) put(item, member, Variant::Date(filetime_to_date(*filetime)));
}

// The body of an item other than mail: its text A, where an offline store keeps it; a store
// that has none there (a personal store, say) keeps the body as the plain body.
const std::optional<std::string>& item_body(const MessageFields& m) { return m.text_a ? m.text_a : m.plain_body; }

}  // namespace

void USave_to_PST_Format::set_next_item_attachments(const ItemRecord* record, const OstContext* context,
                                                    Bid message_sub_bid) {
  next_item_attachments_ = PendingAttachments{record, context, message_sub_bid};
}

void USave_to_PST_Format::finish_item(const DispatchPtr& item, const DispatchPtr& target, bool close_instead_of_save) {
  // An appointment's agenda or a contact's picture comes along as with mail. Attachments that
  // cannot be written cost only themselves (each is named): the item is kept.
  const PendingAttachments pending = std::exchange(next_item_attachments_, PendingAttachments{});
  const SourceObject* source = std::exchange(next_item_source_, nullptr);
  if (pending.record && pending.context && !pending.record->attachments.empty()) {
    embedded_seen_.clear();
    attachment_depth_ = 0;
    add_attachments(*pending.record, item, *pending.context, pending.sub_bid, source);
    attachment_collection_.reset();
  }
  // What the writer set is the item as the object model knows it; the source's own values of
  // every property, those fields included, make it the item the mailbox held.
  if (source && pending.context) copy_item(item, *source, *pending.context);
  if (close_instead_of_save) {
    invoke(item, dispid::kClose, InvokeKind::kMethod, {Variant(std::int32_t{1})});
  } else {
    invoke(item, dispid::kSave, InvokeKind::kMethod);
  }
  note_placed(invoke(item, dispid::kMove, InvokeKind::kMethod, {Variant(target)}), item);
}

void USave_to_PST_Format::WriteAppointment(const ItemRecord& record, const DispatchPtr& target) {
  if (!target) return;
  DispatchPtr item =
      invoke(application_, dispid::kCreateItem, InvokeKind::kMethod, {Variant(kItemAppointment)}).dispatch_value();
  if (record.message) {
    const MessageFields& m = *record.message;
    if (!copy_brings(copied_source(), {kPidBody})) put_text(item, dispid::kBody, item_body(m));
    if (m.conversation_topic) {
      put(item, dispid::kSubject, Variant(*m.conversation_topic));
    } else if (m.subject) {
      put(item, dispid::kSubject, Variant(m.subject->text));
    }
  }
  if (record.appointment) {
    const AppointmentFields& a = *record.appointment;
    put_time(item, dispid::kStart, a.start);
    put_time(item, dispid::kEnd, a.end);
    put_text(item, dispid::kLocation, a.location);
  }
  finish_item(item, target);
}

void USave_to_PST_Format::WriteContact(const ItemRecord& record, const DispatchPtr& target) {
  if (!target) return;
  DispatchPtr item =
      invoke(application_, dispid::kCreateItem, InvokeKind::kMethod, {Variant(kItemContact)}).dispatch_value();
  if (!record.contact) return;  // the item made is dropped unsaved
  const ContactFields& c = *record.contact;
  put_all(item, c, kContactHead);
  put_text(item, dispid::kFileAs, record.display_name);
  put_all(item, c, kContactMiddle);
  if (record.message && item_body(*record.message) && !copy_brings(copied_source(), {kPidBody})) {
    const std::string& body = *item_body(*record.message);
    // Only an external store's interface refuses a long contact body; the built-in one keeps it.
    if (!options_.body_limit || utf8_length(body) <= kExternalContactBodyLimit) {
      put(item, dispid::kBody, Variant(body));
    }
  }
  put_all(item, c, kContactAfterBody);
  if (c.gender && *c.gender != 0) put(item, dispid::kGender, Variant(static_cast<std::int32_t>(*c.gender)));
  put_all(item, c, kContactCustomer);
  put_text(item, dispid::kSubject, c.generation);
  put_all(item, c, kContactTail);
  finish_item(item, target);
}

void USave_to_PST_Format::WriteTask(const MessageFields& m, const DispatchPtr& target) {
  if (!target) return;
  DispatchPtr item = invoke(application_, dispid::kCreateItem, InvokeKind::kMethod, {Variant(kItemTask)}).dispatch_value();
  if (!copy_brings(copied_source(), {kPidBody})) put_text(item, dispid::kBody, item_body(m));
  put_text(item, dispid::kTaskContactNames, m.common_name);
  if (m.subject) put(item, dispid::kSubject, Variant(m.subject->text));
  put_time(item, dispid::kTaskDateCompleted, m.delivery_time);
  finish_item(item, target);
}

void USave_to_PST_Format::WriteJournal(const MessageFields& m, const DispatchPtr& target) {
  if (!target) return;
  DispatchPtr item =
      invoke(application_, dispid::kCreateItem, InvokeKind::kMethod, {Variant(kItemJournal)}).dispatch_value();
  if (!copy_brings(copied_source(), {kPidBody})) put_text(item, dispid::kBody, item_body(m));
  put_text(item, dispid::kTo, m.common_name);
  put_text(item, dispid::kSubject, m.conversation_topic);
  if (m.subject) put(item, dispid::kSubject, Variant(m.subject->text));
  finish_item(item, target);
}

void USave_to_PST_Format::WriteNote(const MessageFields& m, const DispatchPtr& target) {
  if (!target) return;
  DispatchPtr item = invoke(application_, dispid::kCreateItem, InvokeKind::kMethod, {Variant(kItemNote)}).dispatch_value();
  if (!copy_brings(copied_source(), {kPidBody})) put_text(item, dispid::kBody, item_body(m));
  finish_item(item, target, true);
}

}  // namespace salvora

namespace salvora {

void USave_to_PST_Format::CopyFolderProperties(const DispatchPtr& folder, const SourceObject& source,
                                               const OstContext& context) {
  if (!folder) return;
  const PropertyCopy copy{context.named_properties.get(), context.is_ansi(), source.codepage, &schema_names_};
  // The links to special folders name folders that may not be made yet: FinishLinks sets them.
  std::vector<PropertyEntry> properties;
  for (const auto& e : source.properties)
    if (!is_folder_link_property(e.raw_id)) properties.push_back(e);
  try {
    note_dropped(copy_properties(folder, properties, copy));
  } catch (const std::exception& e) {
    note_dropped({{"(the folder's properties)", e.what()}});
  }
}

void USave_to_PST_Format::WriteAssociatedItem(const DispatchPtr& folder, const SourceObject& source,
                                              const ItemRecord* record, const OstContext& context, Bid sub_bid) {
  if (!folder) return;
  std::string message_class = "IPM";
  for (const auto& e : source.properties) {
    if (e.raw_id == kPidMessageClass && e.value) {
      const std::string c = value_text(e, source.codepage, context.is_ansi(), true);
      if (!c.empty()) message_class = c;
    }
  }
  try {
    DispatchPtr item = invoke(folder, dispid::kGetStorage, InvokeKind::kMethod,
                              {Variant(message_class), Variant(kIdentifyByMessageClass)})
                           .dispatch_value();
    if (record && !record->attachments.empty()) {
      embedded_seen_.clear();
      attachment_depth_ = 0;
      add_attachments(*record, item, context, sub_bid, &source);
      attachment_collection_.reset();
    }
    copy_item(item, source, context);
    invoke(item, dispid::kSave, InvokeKind::kMethod);
  } catch (const std::exception& e) {
    note_store_error(e);
  }
}

}  // namespace salvora
