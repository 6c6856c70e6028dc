#include "pststore/mail_import_server.h"

#include "automation/byte_stream.h"
#include "automation/member_ids.h"
#include "format/byte_writer.h"
#include "format/prop_types.h"
#include "format/text.h"
#include "platform/file64.h"
#include "pststore/call_guard.h"
#include "pststore/item_server.h"

namespace salvora::store {

namespace {

// The provider of one-off entry ids ([MS-OXCDATA] 2.2.5.1).
constexpr std::uint8_t kOneOffProvider[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                              0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
// Unicode strings, no rich text.
constexpr std::uint16_t kOneOffFlags = 0x9001;

void append_utf16z(ByteWriter& w, const std::string& utf8) {
  std::basic_string<std::uint8_t> s;
  append_utf16le(utf8, s);
  w.bytes(std::span<const std::uint8_t>(s.data(), s.size()));
  w.u16(0);
}

std::vector<std::uint8_t> one_off_entry_id(const MailAddress& a) {
  ByteWriter w;
  w.u32(0);
  w.bytes(kOneOffProvider);
  w.u16(0);
  w.u16(kOneOffFlags);
  append_utf16z(w, a.name);
  append_utf16z(w, a.address_type);
  append_utf16z(w, a.address);
  return w.take();
}

// "TYPE:ADDRESS" in upper case with its terminating NUL, as MAPI keys an address.
std::vector<std::uint8_t> search_key(const MailAddress& a) {
  std::string key = a.address_type + ":" + a.address;
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  std::vector<std::uint8_t> out(key.begin(), key.end());
  out.push_back(0);
  return out;
}

// Everything read_some delivers (0 at its end); more than an import takes is refused.
template <class ReadSome>
std::string read_limited(MemberId member, ReadSome read_some, const std::string& too_large) {
  std::string text;
  char buf[1u << 14];
  for (std::size_t n; (n = read_some(buf, sizeof buf)) > 0;) {
    text.append(buf, n);
    if (text.size() > kImportFileLimit) fail(member, too_large);
  }
  return text;
}

std::string read_file(MemberId member, const std::string& path) {
  CFile64 file;
  CFileException error;
  if (!file.Open(path, CFile64::Access::kReadOnly, CFile64::Lock::kNone, &error)) throw error;
  const std::string too_large = path + ": the message file is too large to import";
  if (file.GetLength() > kImportFileLimit) fail(member, too_large);
  return read_limited(member, [&](char* p, std::size_t n) { return file.Read(p, n); }, too_large);
}

std::string read_stream(MemberId member, ByteStream& stream) {
  return read_limited(
      member, [&](char* p, std::size_t n) { return stream.read({reinterpret_cast<std::uint8_t*>(p), n}); },
      "the message is too large to import");
}

}  // namespace

pst::RecipientSpec recipient_row(const MailAddress& a, std::int32_t type) {
  pst::RecipientSpec r;
  r.props.push_back(pst::Property::Int32(kPidRecipientType, type));
  r.props.push_back(pst::Property::String(kPidDisplayName, a.name));
  r.props.push_back(pst::Property::Int32(kPidObjectType, 6));  // a mail user
  r.props.push_back(pst::Property::Int32(kPidDisplayType, 0));
  r.props.push_back(pst::Property::Bool(kPidResponsibility, false));
  r.props.push_back(pst::Property::Bool(kPidSendRichInfo, false));
  if (!a.address.empty()) {
    r.props.push_back(pst::Property::String(kPidAddressType, a.address_type));
    r.props.push_back(pst::Property::String(kPidEmailAddress, a.address));
    if (a.address_type == "SMTP") r.props.push_back(pst::Property::String(kPidSmtpAddress, a.address));
    r.props.push_back(pst::Property::Binary(kPidSearchKey, search_key(a)));
    r.props.push_back(pst::Property::Binary(kPidEntryId, one_off_entry_id(a)));
  }
  return r;
}

void apply_mail_header(const MailHeader& h, ItemState& item) {
  static constexpr std::uint16_t kSenderIds[] = {kPidSenderName, kPidSenderEmailAddress, pid::kSenderAddressType,
                                                 pid::kSenderSearchKey, pid::kSenderEntryId,
                                                 kPidSentRepresentingName, kPidSentRepresentingEmail,
                                                 pid::kSentRepresentingAddressType, pid::kSentRepresentingSearchKey,
                                                 pid::kSentRepresentingEntryId};
  // An import replaces what an earlier import into the same item brought.
  for (std::uint16_t id : kSenderIds) item.Remove(id);
  if (h.from) {
    const MailAddress& a = *h.from;
    item.Set(pst::Property::String(kPidSenderName, a.name));
    item.Set(pst::Property::String(kPidSentRepresentingName, a.name));
    if (!a.address.empty()) {
      item.Set(pst::Property::String(kPidSenderEmailAddress, a.address));
      item.Set(pst::Property::String(pid::kSenderAddressType, a.address_type));
      item.Set(pst::Property::Binary(pid::kSenderSearchKey, search_key(a)));
      item.Set(pst::Property::Binary(pid::kSenderEntryId, one_off_entry_id(a)));
      item.Set(pst::Property::String(kPidSentRepresentingEmail, a.address));
      item.Set(pst::Property::String(pid::kSentRepresentingAddressType, a.address_type));
      item.Set(pst::Property::Binary(pid::kSentRepresentingSearchKey, search_key(a)));
      item.Set(pst::Property::Binary(pid::kSentRepresentingEntryId, one_off_entry_id(a)));
    }
  }
  item.recipients.clear();
  std::string display_to;
  for (const auto& a : h.to) {
    item.recipients.push_back(RecipientState{recipient_row(a, 1).props, {}});
    if (!display_to.empty()) display_to += "; ";
    display_to += a.name;
  }
  if (display_to.empty()) item.Remove(kPidDisplayTo);
  else item.Set(pst::Property::String(kPidDisplayTo, display_to));
  item.Remove(kPidClientSubmitTime);
  item.Remove(kPidMessageDeliveryTime);
  const auto submit = h.date ? h.date : (h.delivered ? h.delivered : h.received);
  const auto delivery = h.delivered ? h.delivered : (h.received ? h.received : h.date);
  if (submit) item.Set(pst::Property::Time(kPidClientSubmitTime, *submit));
  if (delivery) item.Set(pst::Property::Time(kPidMessageDeliveryTime, *delivery));
  item.received = true;
}

std::shared_ptr<ItemState> MailImportServer::RequireItem(MemberId member) const {
  auto item = item_state_of(item_object_);
  if (!item) fail(member, "no item to work on has been set");
  if (item->deleted) fail(member, "the item was deleted");
  if (item->nid) fail(member, "the item is already stored in a folder");
  return item;
}

Variant MailImportServer::invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  try {
    switch (member) {
      case dispid::kSafeItem:
        if (kind == InvokeKind::kGet) return item_object_ ? Variant(item_object_) : Variant();
        if (kind == InvokeKind::kPut) {
          require_argument_count(member, arguments, 1, 1);
          if (arguments[0].is_empty()) {
            item_object_.reset();
            return {};
          }
          DispatchPtr object = dispatch_argument(member, arguments, 0);
          if (!item_state_of(object)) {
            throw AutomationError(AutomationError::Code::kBadArgument, member, "argument 1 is not an item of the store server");
          }
          item_object_ = std::move(object);
          return {};
        }
        break;
      case dispid::kImport:
        if (kind == InvokeKind::kMethod) {
          require_argument_count(member, arguments, 2, 2);
          const auto stream = byte_stream_of(arguments[0]);
          const std::string* path = stream ? nullptr : &string_argument(member, arguments, 0);
          const std::int32_t format = int32_argument(member, arguments, 1);
          if (format != kImportRfc822) {
            throw AutomationError(AutomationError::Code::kBadArgument, member,
                                  "only RFC 822 files (format 1024) are imported");
          }
          auto item = RequireItem(member);
          const std::string text = stream ? read_stream(member, *stream) : read_file(member, *path);
          apply_mail_header(parse_mail_header(sanitize_utf8(text)), *item);
          return {};
        }
        break;
      case dispid::kSafeFields:
        if (kind == InvokeKind::kPut) {
          require_argument_count(member, arguments, 2, 2);
          const auto tag = static_cast<std::uint32_t>(int32_argument(member, arguments, 0));
          auto item = RequireItem(member);
          const Variant& value = arguments[1];
          if (value.is_empty()) {
            item->Remove(PropIdOf(tag));
            return {};
          }
          if (PropIdOf(tag) >= 0x8000) {
            throw AutomationError(AutomationError::Code::kBadArgument, member,
                                  "named properties are set through the item's own members");
          }
          item->Set(property_from_variant(member, PropIdOf(tag), PropTypeOf(tag), value));
          return {};
        }
        break;
      default: break;
    }
  } catch (const AutomationError&) {
    throw;
  } catch (const std::exception& e) {
    fail(member, e.what());
  }
  throw_unknown_member(member, kind);
}

}  // namespace salvora::store
