#pragma once
// Every property of one object of the source as it is stored, for a copy that keeps them all:
// a message (or a folder) with its recipient rows and its attachments, each attachment being
// its table row completed by its own object.
//
// Values stay in their stored form (see content/property_block.h); named properties keep their
// store-assigned ids, which the store's named-property map turns into names.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "content/property_block.h"
#include "ndb/ost_context.h"

namespace salvora {

// An attachment's data read ahead, on the thread that loaded its message, exactly as the thread
// that writes it would have met it: the bytes up to any damage, the size the index promised,
// and whether the reading failed before the end.
struct ValueReadAhead {
  ByteVector bytes;
  std::optional<std::uint64_t> size;
  bool failed = false;
};

struct SourceObject {
  std::vector<PropertyEntry> properties;
  std::vector<std::vector<PropertyEntry>> recipients;   // in the table's order
  std::vector<std::vector<PropertyEntry>> attachments;  // in the table's order, as LoadItem lists them
  std::uint32_t codepage = 1252;                        // of the object's 8-bit strings
  // Recipient or attachment objects that could not be read: their rows are all they keep.
  int unreadable_parts = 0;
  // Attachment data read ahead, in the table's order; null where it was left in the file.
  std::vector<std::shared_ptr<const ValueReadAhead>> attachment_data;

  // The bytes of attachment data this object holds in memory.
  std::size_t held_bytes() const {
    std::size_t n = 0;
    for (const auto& d : attachment_data) n += d ? d->bytes.size() : 0;
    return n;
  }
};

// The object whose data and sub-node blocks are given. Empty when its property context cannot
// be read. Attachment data is never read into memory: it travels on its own road.
std::optional<SourceObject> ReadSourceObject(const OstContext& context, Bid data_bid, Bid sub_bid);

// The pieces of the same, for a reader that has the object in hand already: the object's rows
// of its recipient table, and an attachment's table row completed by its own object's entries.
struct LoadedObject;
std::vector<std::vector<PropertyEntry>> ReadRecipientRows(const OstContext& context, const LoadedObject& message);
std::vector<PropertyEntry> MergeAttachment(std::vector<PropertyEntry> object, std::vector<PropertyEntry> row);

}  // namespace salvora
