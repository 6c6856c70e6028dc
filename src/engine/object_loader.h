#pragma once
// LoadItem: one node of the store turned into a complete ItemRecord, attachments included.

#include <memory>

#include "content/item_record.h"
#include "engine/source_object.h"
#include "ndb/ost_context.h"

namespace salvora {

// How much of a message's attachments to read.
enum class AttachmentLoad {
  kObjects,     // every attachment object with its properties and (up to a few MB) its data
  kTableOnly,   // only the attachment table's rows: name, size and method, never the data
  // For the item lists: the table's rows as kTableOnly, and the bodies and transport headers
  // left unread. Their blocks, and each attachment's object (not its data), are still read and
  // checked, so that damage in them is counted and named as a full load does; only inflating
  // and converting them is saved.
  kListing,
};

// Whether a message's plain body and compressed RTF become text in the record.
enum class BodyLoad {
  kText,
  // Left as stored (plain_body, rtf_body and rtf_available unset; the record is still a
  // message): for a caller that copies the source's stored bodies as they are and never shows
  // or converts them.
  kAsStored,
};

// A new record for the node, or null when the node has no readable property context or the
// stop flag is set. Attachment data larger than a few megabytes is not read into memory: the
// attachment's data_block_id names the block to stream it from.
// With `source`, every property the object has is kept there as well, as ReadSourceObject
// gives it, from the same reading (its recipient table is read for it).
std::unique_ptr<ItemRecord> LoadItem(const OstContext& context, const NodeRecord* node,
                                     AttachmentLoad attachments = AttachmentLoad::kObjects,
                                     SourceObject* source = nullptr, BodyLoad bodies = BodyLoad::kText);

// The same for an object that has no node of its own (a message embedded in an attachment):
// its data block and sub-node block.
std::unique_ptr<ItemRecord> LoadItemAt(const OstContext& context, Bid data_bid, Bid sub_bid,
                                       AttachmentLoad attachments = AttachmentLoad::kObjects,
                                       SourceObject* source = nullptr, BodyLoad bodies = BodyLoad::kText);

}  // namespace salvora
