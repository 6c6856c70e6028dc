#pragma once
// Messages attached to messages (attachment method 5): finding the embedded message inside an
// attachment object and loading it as an ItemRecord of its own, with its attachments, so that
// a message attached to it can be loaded the same way in turn.
//
// An embedded message has no node of the node tree: it is a sub-node of its attachment object,
// which is a sub-node of the message that carries it. Its location is therefore the pair of
// blocks the sub-node entry names.

#include <cstddef>
#include <memory>
#include <optional>

#include "content/item_record.h"
#include "ndb/ost_context.h"

namespace salvora {

struct ObjectLocation {
  Bid data_bid;
  Bid sub_bid;  // null when the object has no sub-nodes
};

inline constexpr std::int32_t kAttachMethodEmbeddedMessage = 5;

// Whether the attachment holds a message rather than bytes.
bool is_embedded_message(const AttachmentNode& attachment);

// The embedded message of the attachment at `index` of the message whose sub-node block is
// message_sub_bid. Empty when the attachment is not an embedded message or its object cannot be
// found.
std::optional<ObjectLocation> FindEmbeddedMessage(const OstContext& context, Bid message_sub_bid,
                                                  std::size_t index, const AttachmentNode& attachment);

// The message at a location, decoded like LoadItem decodes a node: null when its property
// context cannot be read or the stop flag is set. Large attachment data stays in the file, as
// with LoadItem.
std::unique_ptr<ItemRecord> LoadEmbeddedItem(const OstContext& context, const ObjectLocation& location);

}  // namespace salvora
