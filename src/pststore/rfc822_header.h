#pragma once
// Reading the header block of an RFC 822 message file, as the mail writer produces it for each
// mail ("From:", "To:", "Date:", "Received:", "Delivery-date:", UTF-8 text): the sender, the
// recipients and the two times. Other fields are ignored; a blank line ends the header.
//
// Times are read as UTC: the writer prints the stored UTC fields. Both the asctime layout
// ("Wed Jan  2 03:04:05 2008") and the RFC 2822 one ("Wed, 2 Jan 2008 03:04:05 +0100") are read.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace salvora::store {

struct MailAddress {
  std::string name;
  std::string address;       // empty when only a name was given
  std::string address_type;  // "SMTP", or "EX" for an Exchange distinguished name
};

struct MailHeader {
  std::optional<MailAddress> from;
  std::vector<MailAddress> to;
  std::string to_text;  // the To field as written
  std::optional<std::uint64_t> date;       // FILETIME of Date
  std::optional<std::uint64_t> received;   // FILETIME of Received (after its last ';')
  std::optional<std::uint64_t> delivered;  // FILETIME of Delivery-date
};

MailHeader parse_mail_header(std::string_view text);

// One mailbox ("Name<addr>", "<Name>", "addr", "Name"); empty for an empty text or the
// writer's stand-in for an unknown party ("UnKnown").
std::optional<MailAddress> parse_mailbox(std::string_view text);

}  // namespace salvora::store
