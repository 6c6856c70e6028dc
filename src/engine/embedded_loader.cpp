#include "engine/embedded_loader.h"

#include "content/apply_properties.h"
#include "engine/object_reader.h"
#include "format/prop_types.h"

namespace salvora {

namespace {

constexpr Nid kAttachmentTableNid{0x671};

// The attachment object's NID from its row of the attachment table. The record's sub-node id
// is not enough: a value too large to read replaces it with the value's own sub-node.
std::optional<Nid> attachment_object_nid(const OstContext& ctx, const std::vector<SubnodeEntry>& subnodes,
                                         std::size_t index) {
  const SubnodeEntry* table_node = FindSubnode(subnodes, kAttachmentTableNid);
  if (!table_node) return std::nullopt;
  auto table = ReadObject(ctx, table_node->data_bid, table_node->sub_bid);
  if (!table || index >= table->properties.blocks.size()) return std::nullopt;
  const PropertyEntry* row_id = table->properties.blocks[index].find(kPidLtpRowId);
  if (!row_id) return std::nullopt;
  auto n = value_i32(*row_id);
  if (!n) return std::nullopt;
  return Nid(static_cast<std::uint32_t>(*n));
}

// The attachments of a message read from its attachment table and objects, in table order.
void load_attachments(const OstContext& ctx, const LoadedObject& message, ItemRecord& record,
                      const ApplyOptions& options) {
  const SubnodeEntry* table_node = FindSubnode(message.subnodes, kAttachmentTableNid);
  if (!table_node) return;
  auto table = ReadObject(ctx, table_node->data_bid, table_node->sub_bid);
  if (!table) return;
  const auto& rows = table->properties.blocks;
  record.attachments.assign(rows.size(), AttachmentNode{});
  record.attachment_cursor = 0;
  apply_properties(rows, &record, options);
  for (std::size_t i = 0; i < record.attachments.size() && !ctx.stopped(); ++i) {
    AttachmentNode& node = record.attachments[i];
    const SubnodeEntry* sub = FindSubnode(message.subnodes, Nid(node.subnode_id));
    if (!sub) continue;
    auto object = ReadObject(ctx, sub->data_bid, sub->sub_bid, ReadObjectOptions{true});
    if (!object) continue;
    record.attachment_cursor = i;
    ApplyOptions attachment = options;
    attachment.attachment_object = true;
    apply_properties(object->properties.blocks, &record, attachment);
    const SubnodeEntry* data = FindSubnode(object->subnodes, Nid(node.subnode_id));
    if (!data) data = FindSubnode(message.subnodes, Nid(node.subnode_id));
    if (data) {
      node.data_block_id = static_cast<std::uint32_t>(data->data_bid.value);
      node.data_bid = data->data_bid;
    }
  }
  record.attachment_cursor = 0;
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
  if (context.stopped()) return nullptr;
  auto object = ReadObject(context, location.data_bid, location.sub_bid);
  if (!object || context.stopped()) return nullptr;
  auto record = std::make_unique<ItemRecord>();
  const ApplyOptions options = apply_options_for(context);
  if (apply_properties(object->properties.blocks, record.get(), options) != 0) return nullptr;
  load_attachments(context, *object, *record, options);
  if (context.stopped()) return nullptr;
  return record;
}

}  // namespace salvora
