#pragma once
// Every property of one object of the source as it is stored, for a copy that keeps them all:
// a message (or a folder) with its recipient rows and its attachments, each attachment being
// its table row completed by its own object.
//
// Values stay in their stored form (see content/property_block.h); named properties keep their
// store-assigned ids, which the store's named-property map turns into names.

#include <cstdint>
#include <optional>
#include <vector>

#include "content/property_block.h"
#include "ndb/ost_context.h"

namespace salvora {

struct SourceObject {
  std::vector<PropertyEntry> properties;
  std::vector<std::vector<PropertyEntry>> recipients;   // in the table's order
  std::vector<std::vector<PropertyEntry>> attachments;  // in the table's order, as LoadItem lists them
  std::uint32_t codepage = 1252;                        // of the object's 8-bit strings
  // Recipient or attachment objects that could not be read: their rows are all they keep.
  int unreadable_parts = 0;
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
