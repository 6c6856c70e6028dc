#pragma once
// The mbox form of one message as mail programs read it (Thunderbird, Evolution, mutt): a
// "From " line, the message with every line that begins with "From ", after any number of
// '>', given one more '>' (the mboxrd rule, which a reader undoes exactly), and a blank line.

#include <cstdint>
#include <string>
#include <string_view>

namespace salvora::mime {

// "From sender Sun Jan  6 09:05:07 2008\n": the envelope line, its time in UTC. An empty or
// spaced sender (which would end the field) becomes "MAILER-DAEMON".
std::string mbox_from_line(std::string_view sender, std::uint64_t filetime);

// Appends the message (LF line ends) escaped to out, ending in a line end and the blank line
// that parts it from the next message.
void append_mboxrd(std::string_view message, std::string& out);

// The read, answered, flagged and draft states as "Status:" and "X-Status:" lines ("Status: RO",
// "X-Status: AF"); empty when nothing is set.
struct MailFlags {
  bool read = false;
  bool answered = false;
  bool flagged = false;
  bool draft = false;
};
std::string mbox_status_lines(const MailFlags& flags);
// The same as the info of a maildir name ("2,FRS"): letters in ASCII order.
std::string maildir_info(const MailFlags& flags);

}  // namespace salvora::mime
