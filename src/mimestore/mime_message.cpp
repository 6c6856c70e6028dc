#include "mimestore/mime_message.h"

#include <fcntl.h>
#include <gmime/gmime.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "content/compressed_rtf.h"
#include "content/rtf_to_text.h"
#include "format/filetime.h"
#include "format/prop_types.h"
#include "format/text.h"
#include "mimestore/item_fields.h"

namespace salvora::mime {

namespace {

// Property ids read here that the shared list does not name.
constexpr std::uint16_t kPidInternetMessageId = 0x1035;
constexpr std::uint16_t kPidInReplyTo = 0x1042;
constexpr std::uint16_t kPidReferences = 0x1039;
constexpr std::uint16_t kPidSenderAddrType = 0x0C1E;
constexpr std::uint16_t kPidSentRepresentingAddrType = 0x0064;
constexpr std::uint16_t kPidSenderSmtp = 0x5D01;
constexpr std::uint16_t kPidSentRepresentingSmtp = 0x5D02;
constexpr std::uint16_t kPidInternetCodepage = 0x3FDE;
constexpr std::uint16_t kPidIconIndex = 0x1080;
constexpr std::uint16_t kPidLastVerbExecuted = 0x1081;
constexpr std::uint16_t kPidFlagStatus = 0x1090;
constexpr std::uint16_t kPidAttachmentHidden = 0x7FFE;
constexpr std::uint32_t kMsgFlagUnsentBit = 0x0008;
constexpr int kMaxEmbeddingDepth = 32;

template <class T>
struct Unref {
  void operator()(T* p) const {
    if (p) g_object_unref(p);
  }
};
template <class T>
using GPtr = std::unique_ptr<T, Unref<T>>;

// The address a reader can write back to: the SMTP one, else one given as SMTP.
std::string smtp_address(const pst::PropertyList& props, std::uint16_t smtp, std::uint16_t email, std::uint16_t type) {
  std::string address = prop_text(props, smtp);
  if (!address.empty()) return address;
  address = prop_text(props, email);
  const std::string kind = prop_text(props, type);
  return kind == "SMTP" || (kind.empty() && address.find('@') != std::string::npos) ? address : std::string();
}

// Header texts carry no line ends of their own.
std::string one_line(std::string text) {
  std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
  return text;
}

// The subject as shown: a stored prefix marker (U+0001 and its length) is no part of it.
std::string subject_of(const pst::PropertyList& props) {
  std::string s = prop_text(props, kPidSubject);
  if (!s.empty() && s[0] == '\x01') s.erase(0, std::min<std::size_t>(2, s.size()));
  return one_line(s);
}

GDateTime* date_of(std::uint64_t filetime) {
  const auto seconds = static_cast<gint64>(filetime / kFiletimeTicksPerSecond) -
                       static_cast<gint64>(kFiletimeUnixEpoch / kFiletimeTicksPerSecond);
  return g_date_time_new_from_unix_utc(seconds);
}

// The charset an HTML body's bytes are in, by the code page the message names.
const char* charset_of_codepage(std::int64_t cpid) {
  switch (cpid) {
    case 65001: return "utf-8";
    case 20127: return "us-ascii";
    case 1250: return "windows-1250";
    case 1251: return "windows-1251";
    case 1252: return "windows-1252";
    case 1253: return "windows-1253";
    case 1254: return "windows-1254";
    case 28591: return "iso-8859-1";
    case 28592: return "iso-8859-2";
    case 28605: return "iso-8859-15";
    case 932: return "shift_jis";
    case 936: return "gb2312";
    case 949: return "ks_c_5601-1987";
    case 950: return "big5";
    case 50220: return "iso-2022-jp";
    case 51932: return "euc-jp";
    case 20866: return "koi8-r";
    default: return nullptr;
  }
}

GMimePart* leaf_part(const char* type, const char* subtype, GMimeStream* stream) {
  GMimePart* part = g_mime_part_new_with_type(type, subtype);
  GPtr<GMimeDataWrapper> wrapper(g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT));
  g_mime_part_set_content(part, wrapper.get());
  return part;
}

GMimePart* memory_part(const char* type, const char* subtype, std::string_view bytes) {
  GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  return leaf_part(type, subtype, stream.get());
}

// Text keeps its bytes exactly: base64 where line ends are CR LF (a quoted-printable text is
// read back with the reader's own line ends) or where the last line has none (an mbox ends
// every message with one), else what suits it best.
GMimePart* text_part(const char* subtype, std::string_view bytes, const char* charset) {
  GMimePart* part = memory_part("text", subtype, bytes);
  if (charset) g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", charset);
  const bool keep_bytes = bytes.find('\r') != std::string_view::npos || bytes.find('\0') != std::string_view::npos ||
                          (!bytes.empty() && bytes.back() != '\n');
  g_mime_part_set_content_encoding(part, keep_bytes ? GMIME_CONTENT_ENCODING_BASE64
                                                    : g_mime_part_get_best_content_encoding(part, GMIME_ENCODING_CONSTRAINT_7BIT));
  return part;
}

struct Builder {
  int depth = 0;

  GMimeMessage* Build(const pst::MessageSpec& item, MailFacts* facts);

  GMimeObject* Attachment(const pst::AttachmentSpec& a) {
    const std::string name = one_line(!prop_text(a.props, kPidAttachLongFilename).empty()
                                          ? prop_text(a.props, kPidAttachLongFilename)
                                          : !prop_text(a.props, kPidAttachFilename).empty() ? prop_text(a.props, kPidAttachFilename)
                                                                                             : prop_text(a.props, kPidDisplayName));
    if (a.embedded) {
      if (depth >= kMaxEmbeddingDepth) return nullptr;
      ++depth;
      GPtr<GMimeMessage> inner(Build(*a.embedded, nullptr));
      --depth;
      GMimeMessagePart* part = g_mime_message_part_new_with_message("rfc822", inner.get());
      if (!name.empty()) {
        g_mime_object_set_content_disposition_parameter(GMIME_OBJECT(part), "filename", name.c_str());
      }
      return GMIME_OBJECT(part);
    }
    std::string type = one_line(prop_text(a.props, kPidAttachMimeTag));
    const std::size_t slash = type.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == type.size()) type = "application/octet-stream";
    const std::string major = type.substr(0, slash == std::string::npos ? 24 : slash);
    const std::string minor = type.substr(type.find('/') + 1);
    GMimePart* part = nullptr;
    if (!a.data_path.empty()) {
      GError* error = nullptr;
      GMimeStream* stream = g_mime_stream_fs_open(a.data_path.c_str(), O_RDONLY, 0, &error);
      if (!stream) {
        std::string why = error ? error->message : "cannot be opened";
        if (error) g_error_free(error);
        throw std::runtime_error(a.data_path + ": " + why);
      }
      GPtr<GMimeStream> owned(stream);
      part = leaf_part(major.c_str(), minor.c_str(), stream);
    } else {
      part = memory_part(major.c_str(), minor.c_str(),
                         std::string_view(reinterpret_cast<const char*>(a.data.data()), a.data.size()));
    }
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    if (!name.empty()) g_mime_part_set_filename(part, name.c_str());
    const std::string cid = one_line(prop_text(a.props, kPidAttachContentId));
    if (!cid.empty()) g_mime_part_set_content_id(part, cid.c_str());
    return GMIME_OBJECT(part);
  }
};

void add_addresses(GMimeMessage* message, GMimeAddressType type, const std::vector<const pst::RecipientSpec*>& rows) {
  InternetAddressList* list = g_mime_message_get_addresses(message, type);
  for (const auto* r : rows) {
    const std::string name = one_line(prop_text(r->props, kPidDisplayName));
    const std::string address = one_line(smtp_address(r->props, kPidSmtpAddress, kPidEmailAddress, kPidAddressType));
    if (name.empty() && address.empty()) continue;
    GPtr<InternetAddress> mailbox(internet_address_mailbox_new(name.empty() ? nullptr : name.c_str(), address.c_str()));
    internet_address_list_add(list, mailbox.get());
  }
}

// The message with the source's own header block, its MIME fields left out (the body is made
// anew); empty when it has none or it cannot be read.
GMimeMessage* message_with_source_headers(const pst::PropertyList& props) {
  std::string text = prop_text(props, kPidTransportMessageHeaders);
  if (text.find(':') == std::string::npos) return nullptr;
  std::replace(text.begin(), text.end(), '\0', ' ');
  // A header block ends at its first blank line: anything after it is no header.
  text += "\n\n";
  GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  GMimeMessage* message = g_mime_parser_construct_message(parser.get(), nullptr);
  if (!message) return nullptr;
  GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message));
  for (int i = g_mime_header_list_get_count(headers) - 1; i >= 0; --i) {
    const std::string name = g_mime_header_get_name(g_mime_header_list_get_header_at(headers, i));
    if (g_ascii_strncasecmp(name.c_str(), "Content-", 8) == 0 || g_ascii_strcasecmp(name.c_str(), "MIME-Version") == 0)
      g_mime_header_list_remove_at(headers, i);
  }
  return message;
}

// A new message lists its usual headers empty, for their order: only one with a value counts.
bool has_header(GMimeMessage* message, const char* name) {
  const char* value = g_mime_object_get_header(GMIME_OBJECT(message), name);
  return value && value[strspn(value, " \t\r\n")] != '\0';
}

MailFlags flags_of(const pst::PropertyList& props) {
  MailFlags flags;
  const auto message_flags = static_cast<std::uint32_t>(prop_int(props, kPidMessageFlags).value_or(0));
  flags.read = (message_flags & kMsgFlagRead) != 0;
  flags.draft = (message_flags & kMsgFlagUnsentBit) != 0;
  const auto verb = prop_int(props, kPidLastVerbExecuted).value_or(0);
  const auto icon = prop_int(props, kPidIconIndex).value_or(0);
  flags.answered = verb == 102 || verb == 103 || icon == 261;
  flags.flagged = prop_int(props, kPidFlagStatus).value_or(0) == 2;
  return flags;
}

std::uint64_t time_of(const pst::PropertyList& props) {
  for (std::uint16_t id : {kPidMessageDeliveryTime, kPidClientSubmitTime, kPidCreationTime}) {
    if (auto t = prop_int(props, id); t && *t > 0) return static_cast<std::uint64_t>(*t);
  }
  return 0;
}

GMimeObject* bodies(const pst::MessageSpec& item, Builder& builder, std::vector<bool>& used) {
  const pst::PropertyList& props = item.props;
  std::string plain = prop_text(props, kPidBody);
  std::string html;
  const char* html_charset = nullptr;
  if (const pst::Property* h = pst::find_prop(props, kPidHtml)) {
    if (h->type() == kPtypString) {
      html = h->AsString();
      html_charset = "utf-8";
    } else {
      html.assign(h->data.begin(), h->data.end());
      html_charset = charset_of_codepage(prop_int(props, kPidInternetCodepage).value_or(0));
    }
  }
  // A message kept only as RTF: the HTML it was sent as, when its RTF carries that, and its
  // text as the plain part.
  if (plain.empty() || html.empty()) {
    if (const pst::Property* rtf = pst::find_prop(props, kPidRtfCompressed)) {
      const RtfResult decoded = decompress_rtf(rtf->data);
      if (decoded.usable() && plain.empty()) rtf_to_text(decoded.rtf, plain);
      if (decoded.usable() && html.empty() && rtf_carried_html(decoded.rtf, html)) html_charset = "utf-8";
    }
  }
  GPtr<GMimeObject> text(plain.empty() && !html.empty() ? nullptr : GMIME_OBJECT(text_part("plain", plain, "utf-8")));
  if (html.empty()) return text.release();
  GPtr<GMimeObject> html_part(GMIME_OBJECT(text_part("html", html, html_charset)));
  // Pictures the HTML shows by content id go beside it, not among the attachments.
  GPtr<GMimeMultipart> related;
  for (std::size_t i = 0; i < item.attachments.size(); ++i) {
    const std::string cid = prop_text(item.attachments[i].props, kPidAttachContentId);
    if (cid.empty() || item.attachments[i].embedded || html.find("cid:" + cid) == std::string::npos) continue;
    GPtr<GMimeObject> picture(builder.Attachment(item.attachments[i]));
    if (!picture) continue;
    if (!related) {
      related.reset(g_mime_multipart_new_with_subtype("related"));
      g_mime_multipart_add(related.get(), html_part.get());
    }
    g_mime_object_set_disposition(picture.get(), "inline");
    g_mime_multipart_add(related.get(), picture.get());
    used[i] = true;
  }
  GMimeObject* rich = related ? GMIME_OBJECT(related.release()) : html_part.release();
  if (!text) return rich;
  GMimeMultipart* alternative = g_mime_multipart_new_with_subtype("alternative");
  g_mime_multipart_add(alternative, text.get());
  g_mime_multipart_add(alternative, rich);
  g_object_unref(rich);
  return GMIME_OBJECT(alternative);
}

GMimeMessage* Builder::Build(const pst::MessageSpec& item, MailFacts* facts) {
  const pst::PropertyList& props = item.props;
  GMimeMessage* message = message_with_source_headers(props);
  if (!message) message = g_mime_message_new(TRUE);
  GPtr<GMimeMessage> owned(message);
  const std::string subject = subject_of(props);
  if (pst::find_prop(props, kPidSubject) || !has_header(message, "Subject"))
    g_mime_message_set_subject(message, subject.c_str(), "utf-8");
  if (!has_header(message, "From")) {
    std::string name = one_line(prop_text(props, kPidSentRepresentingName));
    std::string address = smtp_address(props, kPidSentRepresentingSmtp, kPidSentRepresentingEmail, kPidSentRepresentingAddrType);
    if (name.empty() && address.empty()) {
      name = one_line(prop_text(props, kPidSenderName));
      address = smtp_address(props, kPidSenderSmtp, kPidSenderEmailAddress, kPidSenderAddrType);
    }
    if (!name.empty() || !address.empty())
      g_mime_message_add_mailbox(message, GMIME_ADDRESS_TYPE_FROM, name.empty() ? nullptr : name.c_str(), one_line(address).c_str());
  }
  std::vector<const pst::RecipientSpec*> by_type[3];
  for (const auto& r : item.recipients) {
    const auto type = prop_int(r.props, kPidRecipientType).value_or(1) & 0x0F;
    if (type >= 1 && type <= 3) by_type[type - 1].push_back(&r);
  }
  const GMimeAddressType types[] = {GMIME_ADDRESS_TYPE_TO, GMIME_ADDRESS_TYPE_CC, GMIME_ADDRESS_TYPE_BCC};
  const char* names[] = {"To", "Cc", "Bcc"};
  for (int i = 0; i < 3; ++i)
    if (!has_header(message, names[i])) add_addresses(message, types[i], by_type[i]);
  const std::uint64_t sent = static_cast<std::uint64_t>(std::max<std::int64_t>(
      0, prop_int(props, kPidClientSubmitTime).value_or(prop_int(props, kPidMessageDeliveryTime).value_or(0))));
  if (!has_header(message, "Date") && sent > 0) {
    GDateTime* date = date_of(sent);
    if (date) {
      g_mime_message_set_date(message, date);
      g_date_time_unref(date);
    }
  }
  if (!has_header(message, "Message-Id")) {
    std::string id = one_line(prop_text(props, kPidInternetMessageId));
    if (id.size() > 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
    if (!id.empty()) g_mime_message_set_message_id(message, id.c_str());
  }
  for (auto [id, name] : {std::pair{kPidInReplyTo, "In-Reply-To"}, std::pair{kPidReferences, "References"}}) {
    const std::string value = one_line(prop_text(props, id));
    if (!value.empty() && !has_header(message, name)) g_mime_object_set_header(GMIME_OBJECT(message), name, value.c_str(), nullptr);
  }
  if (!has_header(message, "MIME-Version")) g_mime_object_set_header(GMIME_OBJECT(message), "MIME-Version", "1.0", nullptr);

  std::vector<bool> used(item.attachments.size(), false);
  GPtr<GMimeObject> body(bodies(item, *this, used));
  std::vector<GPtr<GMimeObject>> attached;
  for (std::size_t i = 0; i < item.attachments.size(); ++i) {
    if (used[i]) continue;
    if (GMimeObject* part = Attachment(item.attachments[i])) {
      const auto hidden = prop_int(item.attachments[i].props, kPidAttachmentHidden).value_or(0);
      g_mime_object_set_disposition(part, hidden ? "inline" : "attachment");
      attached.emplace_back(part);
    }
  }
  if (attached.empty() && body) {
    g_mime_message_set_mime_part(message, body.get());
  } else {
    GPtr<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
    if (body) g_mime_multipart_add(mixed.get(), body.get());
    for (auto& part : attached) g_mime_multipart_add(mixed.get(), part.get());
    g_mime_message_set_mime_part(message, GMIME_OBJECT(mixed.get()));
  }
  if (facts) {
    facts->subject = subject;
    facts->flags = flags_of(props);
    facts->time = time_of(props);
    InternetAddressList* from = g_mime_message_get_from(message);
    if (from && internet_address_list_length(from) > 0) {
      InternetAddress* first = internet_address_list_get_address(from, 0);
      if (INTERNET_ADDRESS_IS_MAILBOX(first)) facts->sender_address = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(first));
    }
  }
  return owned.release();
}

}  // namespace

void init_mime_library() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

BuiltMessage build_mime_message(const pst::MessageSpec& item) {
  init_mime_library();
  BuiltMessage built;
  Builder builder;
  GPtr<GMimeMessage> message(builder.Build(item, &built.facts));
  GPtr<GMimeStream> out(g_mime_stream_mem_new());
  GMimeFormatOptions* options = g_mime_format_options_new();
  g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_UNIX);
  g_mime_format_options_set_param_encoding_method(options, GMIME_PARAM_ENCODING_METHOD_RFC2231);
  const ssize_t written = g_mime_object_write_to_stream(GMIME_OBJECT(message.get()), options, out.get());
  g_mime_format_options_free(options);
  if (written < 0) throw std::runtime_error("the message could not be put in MIME form");
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  built.text.assign(reinterpret_cast<const char*>(bytes->data), bytes->len);
  return built;
}

}  // namespace salvora::mime
