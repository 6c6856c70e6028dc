// Fuzz target: the header block of an RFC 822 message file, as the mail import reads it (the
// text made valid UTF-8 first), and the mailbox and date readers on their own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "format/filetime.h"
#include "format/text.h"
#include "fuzz_checks.h"
#include "pststore/rfc822_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvora;
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const std::string text = sanitize_utf8(raw);
  const store::MailHeader h = store::parse_mail_header(text);
  // From valid UTF-8 in, valid UTF-8 out: names and addresses go into the store as text.
  if (h.from) fuzz::require(fuzz::valid_utf8(h.from->name) && fuzz::valid_utf8(h.from->address));
  for (const store::MailAddress& a : h.to) fuzz::require(fuzz::valid_utf8(a.name) && fuzz::valid_utf8(a.address));
  fuzz::require(fuzz::valid_utf8(h.to_text));
  (void)store::parse_mailbox(raw);
  // A date read back from the text the header writer would print is the same date.
  if (const auto t = parse_mail_date(raw)) fuzz::require(parse_mail_date(asctime_text(*t)) == t);
  return 0;
}
