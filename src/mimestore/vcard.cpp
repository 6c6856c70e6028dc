#include "mimestore/vcard.h"

#include <gmime/gmime.h>

#include <vector>

#include "format/filetime.h"
#include "format/multi_value.h"
#include "format/prop_types.h"
#include "format/text.h"
#include "mimestore/item_fields.h"
#include "pststore/item_properties.h"

namespace salvora::mime {

namespace {


// Contact fields that are tagged properties.
constexpr std::uint16_t kGivenName = 0x3A06, kSurname = 0x3A11, kMiddleName = 0x3A44, kPrefix = 0x3A45,
                        kGeneration = 0x3A05, kNickname = 0x3A4F, kCompany = 0x3A16, kDepartment = 0x3A18,
                        kTitle = 0x3A17, kBirthday = 0x3A42, kBusinessPage = 0x3A51, kPersonalPage = 0x3A50;
constexpr std::uint16_t kContactPhoto = 0x7FFF;  // an attachment that is the contact's picture
// Named fields of the address set.
constexpr std::uint32_t kFileUnder = 0x8005, kEmail1 = 0x8083, kEmail2 = 0x8093, kEmail3 = 0x80A3,
                        kWorkStreet = 0x8045, kWorkCity = 0x8046, kWorkState = 0x8047, kWorkPostal = 0x8048,
                        kWorkCountry = 0x8049, kOneOffMembers = 0x8054;

struct Phone {
  std::uint16_t id;
  const char* type;
};
constexpr Phone kPhones[] = {
    {0x3A1A, "voice"},      {0x3A08, "work,voice"}, {0x3A1B, "work,voice"}, {0x3A09, "home,voice"},
    {0x3A2F, "home,voice"}, {0x3A1C, "cell"},       {0x3A24, "work,fax"},   {0x3A25, "home,fax"},
    {0x3A21, "pager"},      {0x3A1E, "voice"},      {0x3A1F, "voice"},      {0x3A2E, "voice"},
};

class Card {
 public:
  void Add(std::string_view name, std::string_view params, std::string_view value) {
    std::string line(name);
    if (!params.empty()) line.append(";").append(params);
    line.append(":").append(value);
    text_ += fold_content_line(line);
  }
  void Text(std::string_view name, std::string_view params, const std::string& value) {
    if (!value.empty()) Add(name, params, vcard_escape(value));
  }
  // A structured value: its parts escaped one by one, joined by ';'; nothing when all are empty.
  void Parts(std::string_view name, std::string_view params, const std::vector<std::string>& parts) {
    std::string value;
    bool any = false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      if (i) value += ';';
      value += vcard_escape(parts[i]);
      any = any || !parts[i].empty();
    }
    if (any) Add(name, params, value);
  }
  std::string text_;
};

std::string base64(const std::vector<std::uint8_t>& data) {
  gchar* encoded = g_base64_encode(data.data(), data.size());
  std::string out = encoded ? encoded : "";
  g_free(encoded);
  return out;
}

// A one-off entry id (a member given by name and address): flags, the one-off provider's id,
// version, its own flags (0x8000: the strings are UTF-16), then display name, address type and
// address, each ended by a NUL.
std::pair<std::string, std::string> one_off_member(Bytes entry) {
  constexpr std::size_t kHead = 4 + 16 + 2 + 2;
  if (entry.size() <= kHead) return {};
  const bool wide = (load_u16(entry, 22) & 0x8000) != 0;
  std::vector<std::string> strings;
  std::size_t at = kHead;
  while (strings.size() < 3 && at < entry.size()) {
    std::size_t end = at;
    if (wide) {
      while (end + 1 < entry.size() && (entry[end] | entry[end + 1])) end += 2;
      strings.push_back(utf16_to_utf8(entry.subspan(at, end - at)));
      at = end + 2;
    } else {
      while (end < entry.size() && entry[end]) ++end;
      strings.push_back(codepage_to_utf8(entry.subspan(at, end - at), 1252));
      at = end + 1;
    }
  }
  if (strings.size() < 3) return {};
  return {strings[0], strings[2]};
}

}  // namespace

std::string vcard_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' || c == ',' || c == ';') {
      out.push_back('\\');
      out.push_back(c);
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\\n";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string fold_content_line(std::string_view line) {
  constexpr std::size_t kOctets = 75;
  std::string out;
  std::size_t room = kOctets;
  while (line.size() > room) {
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    out.append(line.substr(0, cut)).append("\r\n ");
    line.remove_prefix(cut);
    room = kOctets - 1;  // the leading space counts
  }
  out.append(line).append("\r\n");
  return out;
}

std::string contact_vcard(const pst::MessageSpec& message, const pst::NameToIdMap& names) {
  const pst::PropertyList& p = message.props;
  const NamedFields named(p, names);
  const bool group = prop_text(p, kPidMessageClass).starts_with("IPM.DistList");
  Card card;
  card.Add("BEGIN", "", "VCARD");
  card.Add("VERSION", "", "4.0");
  if (group) card.Add("KIND", "", "group");
  std::string shown = prop_text(p, kPidDisplayName);
  for (std::string other : {named.Text(kPsetidAddress, kFileUnder), prop_text(p, kPidSubject), named.Text(kPsetidAddress, kEmail1)})
    if (shown.empty()) shown = other;
  card.Add("FN", "", vcard_escape(shown));
  if (!group) {
    card.Parts("N", "", {prop_text(p, kSurname), prop_text(p, kGivenName), prop_text(p, kMiddleName), prop_text(p, kPrefix),
                         prop_text(p, kGeneration)});
    card.Text("NICKNAME", "", prop_text(p, kNickname));
    card.Parts("ORG", "", {prop_text(p, kCompany), prop_text(p, kDepartment)});
    card.Text("TITLE", "", prop_text(p, kTitle));
    int pref = 1;
    for (std::uint32_t lid : {kEmail1, kEmail2, kEmail3}) {
      const std::string address = named.Text(kPsetidAddress, lid);
      if (!address.empty()) card.Text("EMAIL", "PREF=" + std::to_string(pref++), address);
    }
    for (const Phone& phone : kPhones) card.Text("TEL", std::string("TYPE=\"") + phone.type + "\"", prop_text(p, phone.id));
    card.Parts("ADR", "TYPE=work", {"", "", named.Text(kPsetidAddress, kWorkStreet), named.Text(kPsetidAddress, kWorkCity),
                                    named.Text(kPsetidAddress, kWorkState), named.Text(kPsetidAddress, kWorkPostal),
                                    named.Text(kPsetidAddress, kWorkCountry)});
    card.Parts("ADR", "TYPE=home", {"", "", prop_text(p, 0x3A5D), prop_text(p, 0x3A59), prop_text(p, 0x3A5C),
                                    prop_text(p, 0x3A5B), prop_text(p, 0x3A5A)});
    card.Parts("ADR", "", {"", "", prop_text(p, 0x3A63), prop_text(p, 0x3A5F), prop_text(p, 0x3A62), prop_text(p, 0x3A61),
                           prop_text(p, 0x3A60)});
    if (const auto birthday = prop_time(p, kBirthday)) {
      // Outlook keeps a birthday as the local midnight in UTC: the date is that of noon.
      const auto text = iso8601_text(*birthday + 12ull * 3600 * kFiletimeTicksPerSecond);
      if (text) card.Add("BDAY", "VALUE=date", text->substr(0, 4) + text->substr(5, 2) + text->substr(8, 2));
    }
    card.Text("URL", "TYPE=work", prop_text(p, kBusinessPage));
    card.Text("URL", "TYPE=home", prop_text(p, kPersonalPage));
    for (const auto& a : message.attachments) {
      if (prop_int(a.props, kContactPhoto).value_or(0) == 0 || a.data.empty()) continue;
      std::string type = prop_text(a.props, kPidAttachMimeTag);
      if (type.find('/') == std::string::npos) type = "image/jpeg";
      card.Add("PHOTO", "", "data:" + type + ";base64," + base64(a.data));
      break;
    }
  } else if (const pst::Property* members = named.Find(kPsetidAddress, kOneOffMembers)) {
    for (Bytes entry : parse_variable_multi(members->data).value_or(std::vector<Bytes>{})) {
      const auto [name, address] = one_off_member(entry);
      if (address.empty() || address.find('@') == std::string::npos) continue;
      card.Add("MEMBER", "", "mailto:" + address);
    }
  }
  card.Text("NOTE", "", prop_text(p, kPidBody));
  card.Add("END", "", "VCARD");
  return card.text_;
}

}  // namespace salvora::mime
