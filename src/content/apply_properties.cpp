#include "content/apply_properties.h"

#include <algorithm>

#include "content/compressed_rtf.h"
#include "content/item_kind.h"
#include "format/text.h"

namespace salvora {

namespace {

using OptString = std::optional<std::string>;

struct MessageText {
  std::uint32_t id;
  OptString MessageFields::*field;
};
constexpr MessageText kMessageText[] = {
    {0x6619, &MessageFields::text_a},
    {0x0E03, &MessageFields::display_cc},
    {0x3A0F, &MessageFields::common_name},
    {0x0042, &MessageFields::sender_name},
    {0x0064, &MessageFields::sender_address},
    {0x0065, &MessageFields::sender_address},
    {0x0070, &MessageFields::conversation_topic},
    {0x0050, &MessageFields::reply_recipient_names},
    {0x1042, &MessageFields::in_reply_to_id},
    {0x0075, &MessageFields::received_by_address},
    {0x0076, &MessageFields::received_by_address},
    {0x1000, &MessageFields::plain_body},
    {0x0E04, &MessageFields::display_to},
};

struct ContactText {
  std::uint32_t id;
  OptString ContactFields::*field;
};
constexpr ContactText kContactText[] = {
    {0x3A16, &ContactFields::company},
    {0x3A05, &ContactFields::generation},
    {0x3A15, &ContactFields::postal_address},
    {0x3A17, &ContactFields::job_title},
    {0x8005, &ContactFields::file_under},
    {0x3A4A, &ContactFields::customer_id},
    {0x3A1C, &ContactFields::mobile_phone},
    {0x3A43, &ContactFields::hobbies},
    {0x3A11, &ContactFields::surname},
    {0x3A06, &ContactFields::given_name},
    {0x3A44, &ContactFields::middle_name},
    {0x3A09, &ContactFields::home_phone},
    {0x3A08, &ContactFields::business_phone},
    {0x3A24, &ContactFields::business_fax},
    {0x3A25, &ContactFields::home_fax},
    {0x3A0C, &ContactFields::language},
    {0x3A19, &ContactFields::office_location},
    {0x3A21, &ContactFields::pager},
    {0x3A2D, &ContactFields::isdn_number},
    {0x3A2E, &ContactFields::assistant_phone},
    {0x3A30, &ContactFields::assistant},
    {0x3A46, &ContactFields::profession},
    {0x3A48, &ContactFields::spouse},
    {0x3A57, &ContactFields::company_main_phone},
    {0x3A59, &ContactFields::home_city},
    {0x3A4E, &ContactFields::manager},
    {0x3A4F, &ContactFields::nickname},
    {0x3A50, &ContactFields::personal_home_page},
    {0x3A51, &ContactFields::business_home_page},
    {0x3A5A, &ContactFields::home_country},
    {0x3A5B, &ContactFields::home_postal_code},
    {0x3A5C, &ContactFields::home_state},
    {0x3A5D, &ContactFields::home_street},
    {0x3A5F, &ContactFields::other_city},
    {0x3A60, &ContactFields::other_country},
    {0x3A62, &ContactFields::other_state},
    {0x3A63, &ContactFields::other_street},
    {0x3A1F, &ContactFields::other_phone},
    {0x801C, &ContactFields::other_address},
    {0x3A61, &ContactFields::other_postal_code},
    {0x3A02, &ContactFields::callback_phone},
    {0x3A27, &ContactFields::business_city},
    {0x3A26, &ContactFields::business_country},
    {0x3A28, &ContactFields::business_state},
    {0x3A29, &ContactFields::business_street},
    {0x3A2A, &ContactFields::business_postal_code},
    {0x801B, &ContactFields::business_address},
    {0x3A1E, &ContactFields::car_phone},
    {0x3A18, &ContactFields::department},
    {0x3A00, &ContactFields::account},
    {0x3A2F, &ContactFields::home_phone_2},
    {0x8534, &ContactFields::mileage},
    {0x3A2C, &ContactFields::telex},
    {0x3A1D, &ContactFields::radio_phone},
    {0x3A1B, &ContactFields::business_phone_2},
    {0x3A4B, &ContactFields::ttytdd_phone},
    {0x3A07, &ContactFields::government_id},
    {0x3A10, &ContactFields::organizational_id},
    {0x80D8, &ContactFields::text_80d8},
    {0x3A45, &ContactFields::display_name_prefix},
};

bool is_attachment_property(std::uint32_t id, bool attachment_object) {
  return id == kPidAttachDataBinary || id == kPidAttachFilename || id == kPidAttachLongFilename ||
         id == kPidLtpRowId || id == kPidAttachMethod ||
         (attachment_object && (id == kPidDisplayName || id == kPidAttachMimeTag || id == kPidAttachContentId));
}

template <class T>
T& ensure(std::optional<T>& slot) {
  if (!slot) slot.emplace();
  return *slot;
}

// Text ends at its first NUL, as every consumer of these fields treats it.
std::string cut_at_nul(std::string s) {
  if (auto nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
  return s;
}

bool is_string_type(std::uint16_t type) { return type == kPtypString || type == kPtypString8; }

class Applier {
 public:
  Applier(ItemRecord& record, const ApplyOptions& options, std::uint32_t codepage)
      : record_(record), options_(options), codepage_(codepage) {}

  void Apply(const std::vector<PropertyBlock>& blocks) {
    cursor_ = record_.attachment_cursor;
    for (const auto& block : blocks) {
      for (const auto& e : block.entries) ApplyEntry(e);
      new_block_ = true;
    }
  }

 private:
  std::string Text(const PropertyEntry& e) const {
    return cut_at_nul(value_text(e, codepage_, options_.ansi_file));
  }

  void ApplyEntry(const PropertyEntry& e) {
    if (is_attachment_property(e.id, options_.attachment_object)) {
      ApplyAttachment(e);
      return;
    }
    if (e.value_skipped) {
      ApplySkipped(e);
      return;
    }
    if (!e.value) return;
    // Bodies left as stored still make the object a message, as unread ones do.
    if (!options_.body_text && (e.id == kPidBody || e.id == kPidRtfCompressed)) {
      ApplySkipped(e);
      return;
    }
    // The first group that knows the property takes it; the text tables come first.
    for (const auto apply : {&Applier::ApplyTextTables, &Applier::ApplyIdentity, &Applier::ApplyMessageField,
                             &Applier::ApplyContactField, &Applier::ApplyContainerField, &Applier::ApplyCalendarField}) {
      if ((this->*apply)(e)) return;
    }
  }

  // A value left unread still says what a read one would: a body, in any form, makes the
  // object a message (a record with a body and nothing else is not an empty one).
  void ApplySkipped(const PropertyEntry& e) {
    if (e.id == kPidBody || e.id == kPidRtfCompressed || e.id == kPidHtml) ensure(record_.message);
  }

  bool ApplyTextTables(const PropertyEntry& e) {
    if (e.id == kStringNamedId) {
      auto& m = ensure(record_.message);
      if (named_count_ == 0) m.named_text_1 = *e.value;
      if (named_count_ == 1) m.named_text_2 = *e.value;
      ++named_count_;
      return true;
    }
    for (const auto& t : kMessageText) {
      if (t.id == e.id) {
        ensure(record_.message).*t.field = Text(e);
        return true;
      }
    }
    for (const auto& t : kContactText) {
      if (t.id == e.id) {
        auto& c = ensure(record_.contact);
        c.*t.field = Text(e);
        // Unicode stores often lack PidLidFileUnder; the given name stands in until one comes.
        if (e.id == 0x3A06 && !options_.ansi_file) c.file_under = c.given_name;
        return true;
      }
    }
    return false;
  }

  // What every object has: its class, which decides its kind, its name and its record key.
  bool ApplyIdentity(const PropertyEntry& e) {
    switch (e.id) {
      case kPidMessageClass:
        record_.item_class = Text(e);
        record_.kind = kind_for_message_class(*record_.item_class);
        return true;
      case kPidContainerClass:
        record_.item_class = Text(e);
        record_.kind = kind_for_container_class(*record_.item_class);
        return true;
      case kPidDisplayName:
        record_.display_name = Text(e);
        return true;
      case kPidRecordKey:
        record_.record_key = *e.value;
        return true;
      default:
        return false;
    }
  }

  bool ApplyMessageField(const PropertyEntry& e) {
    const ByteVector& v = *e.value;
    switch (e.id) {
      case kPidSubject: {
        auto& m = ensure(record_.message);
        if (v.empty()) {
          m.subject.reset();
        } else {
          m.subject = parse_subject(e, codepage_, options_.ansi_file);
        }
        return true;
      }
      case kPidMessageDeliveryTime:
        ensure(record_.message).delivery_time = value_u64(e);
        return true;
      case kPidClientSubmitTime:
        ensure(record_.message).submit_time = value_u64(e);
        return true;
      case kPidMessageFlags:
        ensure(record_.message).message_flags = value_i32(e);
        return true;
      case kPidHtml: {
        auto& m = ensure(record_.message);
        if (is_string_type(e.type)) {
          const std::string text = value_text(e, codepage_, options_.ansi_file, true);
          m.html_body = ByteVector(text.begin(), text.end());
        } else {
          m.html_body = v;
        }
        return true;
      }
      case kPidRtfCompressed:
        ApplyRtf(v);
        return true;
      default:
        return false;
    }
  }

  bool ApplyContactField(const PropertyEntry& e) {
    const ByteVector& v = *e.value;
    switch (e.id) {
      case 0x3003:
      case 0x8048:
      case 0x8084: {
        std::string text = Text(e);
        if (text.find('@') != std::string::npos) ensure(record_.contact).email_address = std::move(text);
        return true;
      }
      case 0x3A4D:
        if (v.size() >= 2) ensure(record_.contact).gender = static_cast<std::int16_t>(load_u16(v, 0));
        return true;
      case 0x3A41:
        ensure(record_.contact).wedding_anniversary = value_u64(e);
        return true;
      case 0x3A42:
        ensure(record_.contact).birthday = value_u64(e);
        return true;
      default:
        return false;
    }
  }

  // A folder's counts and the message store's entry ids.
  bool ApplyContainerField(const PropertyEntry& e) {
    const ByteVector& v = *e.value;
    switch (e.id) {
      case kPidContentCount:
        if (auto n = value_i32(e)) ensure(record_.folder_counts).content_count = *n;
        return true;
      case kPidContentUnreadCount:
        if (auto n = value_i32(e)) ensure(record_.folder_counts).unread_count = *n;
        return true;
      case kPidSubfolders:
        if (auto n = value_i32(e)) ensure(record_.folder_counts).has_subfolders = *n != 0 ? 1 : 0;
        return true;
      case kPidIpmWastebasketEntryId:
        ensure(record_.store).wastebasket_entry_id = v;
        return true;
      case kPidFinderEntryId:
        ensure(record_.store).finder_entry_id = v;
        return true;
      case kPidIpmSubTreeEntryId:
        ensure(record_.store).ipm_subtree_entry_id = v;
        return true;
      case kPidValidFolderMask:
        if (auto n = value_i32(e)) ensure(record_.store).valid_folder_mask = static_cast<std::uint32_t>(*n);
        return true;
      case 0x7C07: {
        auto& s = ensure(record_.store);
        s.value_7c07.fill(0);
        std::copy_n(v.begin(), std::min<std::size_t>(v.size(), 24), s.value_7c07.begin());
        return true;
      }
      default:
        return false;
    }
  }

  // Journal entries and appointments.
  bool ApplyCalendarField(const PropertyEntry& e) {
    switch (e.id) {
      case 0x8700:
      case 0x8712:
        ensure(record_.journal).entry_type = Text(e);
        return true;
      case 0x8236:
        ensure(record_.appointment).end = value_u64(e);
        return true;
      case 0x8235:
        ensure(record_.appointment).start = value_u64(e);
        return true;
      case 0x8208:
        ensure(record_.appointment).location = Text(e);
        return true;
      default:
        return false;
    }
  }

  void ApplyRtf(const ByteVector& v) {
    auto& m = ensure(record_.message);
    RtfResult rtf = decompress_rtf(v);
    if (!rtf.usable()) return;
    bool ok = true;
    if (options_.rtf_path) ok = decompress_rtf(v, *options_.rtf_path) == 0;
    m.rtf_body = std::move(rtf.rtf);
    if (ok) m.rtf_available = 1;
  }

  void ApplyAttachment(const PropertyEntry& e) {
    if (new_block_) {
      new_block_ = false;
      if (cursor_ < record_.attachments.size()) ++cursor_;
    }
    if (cursor_ >= record_.attachments.size()) return;
    AttachmentNode& node = record_.attachments[cursor_];
    if (e.id == kPidAttachDataBinary) {
      if (!e.object_nid.is_null()) node.object_nid = e.object_nid.value;
      if (e.value) {
        node.data = *e.value;
        node.data_size = static_cast<std::int32_t>(e.value->size());
      } else if (!e.unread_subnode.is_null()) {
        node.subnode_id = e.unread_subnode.value;
      }
      return;
    }
    if (!e.value) return;
    switch (e.id) {
      case kPidAttachFilename:
        node.file_name = Text(e);
        return;
      case kPidAttachLongFilename:
        node.long_file_name = Text(e);
        return;
      case kPidLtpRowId:
        if (auto n = value_i32(e)) node.subnode_id = static_cast<std::uint32_t>(*n);
        return;
      case kPidAttachMethod:
        node.method = value_i32(e);
        return;
      case kPidDisplayName:
        node.display_name = Text(e);
        return;
      case kPidAttachMimeTag:
        node.mime_tag = Text(e);
        return;
      case kPidAttachContentId:
        node.content_id = Text(e);
        return;
      default:
        return;
    }
  }

  ItemRecord& record_;
  const ApplyOptions& options_;
  std::uint32_t codepage_;
  std::size_t cursor_ = 0;
  bool new_block_ = false;
  int named_count_ = 0;
};

}  // namespace

ApplyOptions apply_options_for(const OstContext& context) {
  ApplyOptions o;
  o.ansi_file = context.is_ansi();
  o.default_codepage = context.default_codepage;
  return o;
}

SubjectFields parse_subject(const PropertyEntry& entry, std::uint32_t codepage, bool ansi_file) {
  SubjectFields s;
  if (!entry.value) return s;
  const ByteVector& v = *entry.value;
  const auto base = static_cast<std::uint16_t>(entry.type & ~kPtypMultipleFlag);
  const bool wide = base == kPtypString || (base != kPtypString8 && !ansi_file);
  const std::size_t unit = wide ? 2 : 1;
  auto unit_at = [&](std::size_t i) -> std::uint32_t {
    return wide ? load_u16(v, i * 2) : (i < v.size() ? v[i] : 0u);
  };
  if (v.size() < unit || unit_at(0) != 0x01) {
    s.text = cut_at_nul(value_text(entry, codepage, ansi_file));
    return s;
  }
  s.prefix_marker = 1;
  const std::size_t units = v.size() / unit;
  s.prefix_length = units >= 2 ? static_cast<std::int32_t>(unit_at(1)) : 0;
  const std::size_t skip = std::min(units, std::size_t{2}) * unit;
  PropertyEntry rest;
  rest.type = entry.type;
  rest.value = ByteVector(v.begin() + static_cast<std::ptrdiff_t>(skip), v.end());
  s.text = cut_at_nul(value_text(rest, codepage, ansi_file));
  return s;
}

int apply_properties(const std::vector<PropertyBlock>& blocks, ItemRecord* record,
                     const ApplyOptions& options) {
  if (record == nullptr) return -1;
  // An object's own PR_MESSAGE_CODEPAGE decides; the attachment table and attachment objects
  // carry none and read with the code page of the message they belong to.
  std::uint32_t fallback = record->codepage != 0 ? record->codepage : options.default_codepage;
  const std::uint32_t codepage = object_codepage(blocks, fallback);
  record->codepage = codepage;
  Applier(*record, options, codepage).Apply(blocks);
  return 0;
}

}  // namespace salvora
