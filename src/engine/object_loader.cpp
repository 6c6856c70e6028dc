#include "engine/object_loader.h"

#include "content/apply_properties.h"
#include "engine/object_reader.h"

namespace salvora {

namespace {

// Every attachment object is decoded with its own sub-node list, where its large values live;
// a data sub-node is looked for there first and then in the message's list.
const SubnodeEntry* find_data_subnode(const LoadedObject* object, const LoadedObject& message, Nid nid) {
  if (object) {
    if (const SubnodeEntry* e = FindSubnode(object->subnodes, nid)) return e;
  }
  return FindSubnode(message.subnodes, nid);
}

bool load_attachments(const OstContext& ctx, const LoadedObject& message, ItemRecord& record,
                      const ApplyOptions& options, AttachmentLoad load, SourceObject* source) {
  const SubnodeEntry* table_node = FindSubnode(message.subnodes, kNidMessageAttachmentTable);
  if (!table_node) return true;
  record.attachments.clear();
  auto table = ReadObject(ctx, table_node->data_bid, table_node->sub_bid);
  if (!table) return true;  // an unreadable table: the message without attachments
  const auto& rows = table->properties.blocks;
  // The table and the attachment objects are applied to a record of their own that holds
  // only the attachment nodes: their other properties (an attachment's display name, sizes,
  // its own contact or message fields) must not land in the item itself.
  ItemRecord holder;
  holder.codepage = record.codepage;
  holder.attachments.resize(rows.size());
  ApplyOptions attachment_options = options;
  attachment_options.attachment_object = true;
  if (apply_properties(rows, &holder, attachment_options) != 0) return false;
  if (ctx.stopped()) return false;
  if (source) {
    source->attachments.clear();
    for (const auto& row : rows) source->attachments.push_back(row.entries);
  }

  for (std::size_t i = 0; load != AttachmentLoad::kTableOnly && i < holder.attachments.size(); ++i) {
    AttachmentNode& node = holder.attachments[i];
    const SubnodeEntry* sub = FindSubnode(message.subnodes, Nid(node.subnode_id));
    // A listing reads each attachment's object too (never its data): an attachment that every
    // other pass finds unreadable is named by the analysis as well.
    ReadObjectOptions read{true};
    read.listing = load == AttachmentLoad::kListing;
    auto object = sub ? ReadObject(ctx, sub->data_bid, sub->sub_bid, read) : std::nullopt;
    if (ctx.stopped()) return false;
    if (!object || object->properties.blocks.empty()) {
      // The table row's properties are all this attachment keeps: its data is not known.
      node.object_unreadable = true;
      if (source) ++source->unreadable_parts;
      continue;
    }
    if (load == AttachmentLoad::kListing) {
      // Its data is not read, but its blocks are looked at as a save reads them, so that the
      // listing names the same damage: a value that cannot be read whole, or damaged blocks.
      const PropertyEntry* value = object->properties.blocks.front().find(kPidAttachDataBinary);
      const SubnodeEntry* data =
          value && !value->unread_subnode.is_null() ? find_data_subnode(&*object, message, value->unread_subnode) : nullptr;
      if (value && !value->unread_subnode.is_null() && (!data || !data->data_block || !CheckValueBlocks(ctx, *data->data_block))) {
        node.object_unreadable = true;
        if (source) ++source->unreadable_parts;
        // Its names, for the words every pass names it with.
        holder.attachment_cursor = i;
        apply_properties(object->properties.blocks, &holder, attachment_options);
      }
      continue;
    }
    holder.attachment_cursor = i;
    apply_properties(object->properties.blocks, &holder, attachment_options);
    if (source && !object->properties.blocks.empty() && i < source->attachments.size())
      source->attachments[i] = MergeAttachment(object->properties.blocks.front().entries, std::move(source->attachments[i]));
    // The value that stayed in the file (too large, or unreadable) is streamed later from
    // the sub-node named now; a value read into memory needs no block.
    if (const SubnodeEntry* data = find_data_subnode(&*object, message, Nid(node.subnode_id))) {
      node.data_block_id = static_cast<std::uint32_t>(data->data_bid.value);
      node.data_bid = data->data_bid;
    }
  }
  record.attachments = std::move(holder.attachments);
  record.attachment_cursor = 0;
  return true;
}

}  // namespace

std::unique_ptr<ItemRecord> LoadItem(const OstContext& context, const NodeRecord* node, AttachmentLoad attachments,
                                     SourceObject* source, BodyLoad bodies) {
  if (!node || !node->data_block) return nullptr;
  return LoadItemAt(context, node->data_bid, node->sub_bid, attachments, source, bodies);
}

std::unique_ptr<ItemRecord> LoadItemAt(const OstContext& context, Bid data_bid, Bid sub_bid,
                                       AttachmentLoad attachments, SourceObject* source, BodyLoad bodies) {
  if (context.stopped()) return nullptr;
  ReadObjectOptions read;
  read.listing = attachments == AttachmentLoad::kListing;
  auto object = ReadObject(context, data_bid, sub_bid, read);
  if (!object || context.stopped()) return nullptr;
  auto record = std::make_unique<ItemRecord>();
  ApplyOptions options = apply_options_for(context);
  options.body_text = bodies == BodyLoad::kText;
  if (apply_properties(object->properties.blocks, record.get(), options) != 0) return nullptr;
  if (context.stopped()) return nullptr;
  if (source) {
    *source = SourceObject{};
    source->codepage = object_codepage(object->properties.blocks, context.default_codepage);
    if (!object->properties.blocks.empty()) source->properties = std::move(object->properties.blocks.front().entries);
    source->recipients = ReadRecipientRows(context, *object);
  }
  if (!load_attachments(context, *object, *record, options, attachments, source) || context.stopped()) return nullptr;
  return record;
}

}  // namespace salvora
