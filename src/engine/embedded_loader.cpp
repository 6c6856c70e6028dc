#include "engine/embedded_loader.h"

#include "engine/object_loader.h"
#include "engine/object_reader.h"
#include "format/prop_types.h"

namespace salvora {

namespace {

// The attachment object's NID from its row of the attachment table. The record's sub-node id
// is not enough: a value too large to read replaces it with the value's own sub-node.
std::optional<Nid> attachment_object_nid(const OstContext& ctx, const std::vector<SubnodeEntry>& subnodes,
                                         std::size_t index) {
  const SubnodeEntry* table_node = FindSubnode(subnodes, kNidMessageAttachmentTable);
  if (!table_node) return std::nullopt;
  auto table = ReadObject(ctx, table_node->data_bid, table_node->sub_bid);
  if (!table || index >= table->properties.blocks.size()) return std::nullopt;
  const PropertyEntry* row_id = table->properties.blocks[index].find(kPidLtpRowId);
  if (!row_id) return std::nullopt;
  auto n = value_i32(*row_id);
  if (!n) return std::nullopt;
  return Nid(static_cast<std::uint32_t>(*n));
}

}  // namespace

bool is_embedded_message(const AttachmentNode& attachment) {
  return attachment.method == kAttachMethodEmbeddedMessage && attachment.object_nid != 0;
}

std::optional<ObjectLocation> FindEmbeddedMessage(const OstContext& context, Bid message_sub_bid,
                                                  std::size_t index, const AttachmentNode& attachment) {
  if (!is_embedded_message(attachment) || message_sub_bid.is_null()) return std::nullopt;
  auto subnodes = ReadSubnodes(context, message_sub_bid);
  if (!subnodes) return std::nullopt;
  std::optional<Nid> object_nid = attachment_object_nid(context, *subnodes, index);
  if (!object_nid) object_nid = Nid(attachment.subnode_id);
  const SubnodeEntry* object = FindSubnode(*subnodes, *object_nid);
  if (!object || object->sub_bid.is_null()) return std::nullopt;
  auto inner = ReadSubnodes(context, object->sub_bid);
  if (!inner) return std::nullopt;
  const SubnodeEntry* message = FindSubnode(*inner, Nid(attachment.object_nid));
  if (!message || message->data_bid.is_null()) return std::nullopt;
  return ObjectLocation{message->data_bid, message->sub_bid};
}

std::unique_ptr<ItemRecord> LoadEmbeddedItem(const OstContext& context, const ObjectLocation& location) {
  return LoadItemAt(context, location.data_bid, location.sub_bid);
}

}  // namespace salvora
