#pragma once
// Contacts and distribution lists as vCard 4.0 (RFC 6350). No maintained C library writes it,
// so its text rules live here, once: values escaped (backslash, comma, semicolon, line ends),
// content lines folded at 75 octets without splitting a character, CRLF line ends.

#include <string>
#include <string_view>

#include "pststore/pst/message_spec.h"
#include "pststore/pst/name_map.h"

namespace salvora::mime {

// A text value with \\ \, \; and \n in place of what they stand for (CR LF and CR count as
// one line end).
std::string vcard_escape(std::string_view text);
// One content line ("NAME;PARAMS:value") folded at 75 octets and ended by CRLF.
std::string fold_content_line(std::string_view line);

// The card of a contact (IPM.Contact) or a distribution list (IPM.DistList, KIND:group with
// its members as mailto: addresses). names: the store's map, for the named fields.
std::string contact_vcard(const pst::MessageSpec& message, const pst::NameToIdMap& names);

}  // namespace salvora::mime
