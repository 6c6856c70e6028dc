#include "content/item_export.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "content/rtf_to_text.h"
#include "format/filetime.h"
#include "format/text.h"
#include "platform/file64.h"

namespace salvora {

namespace {

// Truncating a file that holds data makes ext4 force its blocks to disk when it is closed
// (its guard for programs that rewrite files in place); the header file is rewritten for every
// mail, so the old one is removed and a new one made instead.
void create_fresh(CFile64& file, const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  CFileException error;
  if (!file.Open(path, CFile64::Access::kCreate, CFile64::Lock::kNone, &error)) throw error;
}

bool stopped(const std::atomic<bool>* flag) { return flag != nullptr && flag->load(std::memory_order_relaxed); }

// A name with a line break in it would end its header line early and start another.
std::string one_line(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

std::string from_value(const MessageFields& m) {
  std::string value = m.sender_name.value_or("");
  if (m.sender_address) {
    if (m.sender_address->find('@') != std::string::npos) {
      value += "<" + *m.sender_address + ">";
    } else if (m.sender_name) {
      value = "<" + *m.sender_name + ">";
    }
  }
  return one_line(value);
}

std::string to_value(const MessageFields& m) {
  std::string value = m.display_to.value_or("");
  if (m.received_by_address) value += "<" + *m.received_by_address + ">";
  return one_line(value);
}

std::string named_text(const std::optional<ByteVector>& raw, const TextDecoding& d) {
  if (!raw) return {};
  std::string text = d.ansi_file ? codepage_to_utf8(std::span<const std::uint8_t>(*raw), d.codepage)
                                 : utf16_to_utf8(std::span<const std::uint8_t>(*raw));
  if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return text;
}

}  // namespace

std::string mail_header_text(const MessageFields& m) {
  std::string out;
  const std::string from = from_value(m);
  out += "From:" + (from.empty() ? std::string("UnKnown") : from) + "\r\n";
  const std::string to = to_value(m);
  out += "To:" + (to.empty() ? std::string("UnKnown") : to) + "\r\n";
  if (m.submit_time || m.delivery_time) {
    const std::string submit = asctime_text(m.submit_time ? *m.submit_time : *m.delivery_time);
    const std::string delivery = asctime_text(m.delivery_time ? *m.delivery_time : *m.submit_time);
    out += "Date: " + submit + "\r\n";
    out += "Received: " + delivery + "\r\n";
    out += "Delivery-date: " + delivery + "\r\n";
  }
  return out;
}

bool write_mail_header(const MessageFields& message, const std::string& path, const std::atomic<bool>* stop_flag) {
  if (stopped(stop_flag)) return false;
  const std::string text = mail_header_text(message);
  CFile64 file;
  create_fresh(file, path);
  // One line at a time, so that a stop leaves the lines written so far and no more.
  std::size_t start = 0;
  while (start < text.size()) {
    if (stopped(stop_flag)) return false;
    std::size_t end = text.find("\r\n", start);
    end = end == std::string::npos ? text.size() : end + 2;
    file.Write(text.data() + start, end - start);
    start = end;
  }
  file.Close();
  return true;
}

std::size_t utf8_length(std::string_view text) {
  std::size_t n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

std::size_t MailBody::length() const { return kind == Kind::kHtml ? content.size() : utf8_length(content); }

std::string rtf_body_text(const MessageFields& m) {
  if (!m.rtf_available || !m.rtf_body) return {};
  std::string text;
  // A conversion that ends early still leaves the text read so far, which is the user's.
  rtf_to_text(Bytes(*m.rtf_body), text);
  return text;
}

MailBody choose_mail_body(const MessageFields& m, const TextDecoding& decoding) {
  MailBody body;
  if (m.html_body) {
    body.kind = MailBody::Kind::kHtml;
    const ByteVector& h = *m.html_body;
    std::size_t n = 0;
    while (n < h.size() && h[n] != 0) ++n;
    body.content.assign(reinterpret_cast<const char*>(h.data()), n);
    return body;
  }
  if (!m.text_a && !m.named_text_1 && !m.named_text_2 && !m.plain_body && !m.rtf_available) return body;
  if (std::string rtf = rtf_body_text(m); !rtf.empty()) {
    body.kind = MailBody::Kind::kText;
    body.content = std::move(rtf);
    return body;
  }
  const std::string candidates[] = {m.text_a.value_or(""), named_text(m.named_text_1, decoding),
                                    named_text(m.named_text_2, decoding), m.plain_body.value_or("")};
  const std::string* longest = nullptr;
  std::size_t best = 0;
  for (const auto& c : candidates) {
    const std::size_t len = utf8_length(c);
    if (!longest || len > best) {
      longest = &c;
      best = len;
    }
  }
  body.kind = MailBody::Kind::kText;
  body.content = *longest;
  return body;
}

std::string write_export_file(const std::string& folder, std::string_view name, std::string_view content) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  CFile64 file;
  create_fresh(file, path);
  file.Write(content.data(), content.size());
  file.Close();
  return path;
}

}  // namespace salvora
