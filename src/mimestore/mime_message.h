#pragma once
// One message of the store as an Internet message (RFC 5322 and MIME), built with GMime: the
// source's own Internet headers where it kept them (Message-ID, References, Received...), else
// headers made from its properties (From, To, Cc, Bcc, Date, a Subject encoded as RFC 2047
// asks); the plain and HTML bodies as multipart/alternative (the text of an RTF body when it has
// no other), pictures the HTML names by "cid:" beside it in multipart/related, attachments by
// name (RFC 2231 for names beyond ASCII), and attached messages as message/rfc822.

#include <cstdint>
#include <string>

#include "mimestore/mbox_format.h"
#include "pststore/pst/message_spec.h"

namespace salvora::mime {

// What a store needs to file a message, beside its text.
struct MailFacts {
  std::string subject;
  std::string sender_address;  // for the mbox "From " line; may be empty
  std::uint64_t time = 0;      // received, else sent, else created (FILETIME); 0 when none
  MailFlags flags;
};

struct BuiltMessage {
  std::string text;  // LF line ends
  MailFacts facts;
};

// Must be called once before the first message is built (the store registration does).
void init_mime_library();

// Throws std::runtime_error when GMime fails to write it.
BuiltMessage build_mime_message(const pst::MessageSpec& message);

}  // namespace salvora::mime
