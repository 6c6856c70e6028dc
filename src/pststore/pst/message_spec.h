#pragma once
// What the caller hands the writer for one message: its properties, recipients and
// attachments. Attachment data comes from memory, from a file streamed in blocks, or from a
// ByteSource of the caller's; an attachment may instead hold an embedded message.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "pststore/pst/property.h"

namespace salvora::pst {

// A stream of bytes read front to back once. Read returns 0 at the end.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::size_t Read(std::span<std::uint8_t> buffer) = 0;
};

struct RecipientSpec {
  // Recipient type (0x0C15), display name, address type, e-mail address, ...: one table row.
  PropertyList props;
};

struct MessageSpec;

struct AttachmentSpec {
  // File names, MIME tag, content id, flags, times...; method, size and rendering position are
  // filled in when absent.
  PropertyList props;
  std::vector<std::uint8_t> data;      // by value, from memory
  std::string data_path;               // by value, streamed from this file
  ByteSource* source = nullptr;        // by value, streamed from the caller (not owned)
  std::shared_ptr<MessageSpec> embedded;  // an embedded message instead of data
};

struct MessageSpec {
  // Message class, subject, sender, times, bodies, ...; flags, size, times and search key are
  // completed when absent. A subject is stored exactly as given.
  PropertyList props;
  std::vector<RecipientSpec> recipients;
  std::vector<AttachmentSpec> attachments;
  bool associated = false;  // a folder-associated (hidden) message
  // Creation and modification times of the moment of writing for a message given none; a
  // copy of a message that had none stays without.
  bool complete_times = true;
};

}  // namespace salvora::pst
