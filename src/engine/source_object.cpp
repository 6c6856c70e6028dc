#include "engine/source_object.h"

#include <algorithm>

#include "engine/object_reader.h"
#include "format/prop_types.h"

namespace salvora {

namespace {

std::vector<std::vector<PropertyEntry>> table_rows(const OstContext& context, const LoadedObject& owner, Nid table) {
  std::vector<std::vector<PropertyEntry>> rows;
  const SubnodeEntry* node = FindSubnode(owner.subnodes, table);
  if (!node) return rows;
  auto loaded = ReadObject(context, node->data_bid, node->sub_bid);
  if (!loaded) return rows;
  for (auto& block : loaded->properties.blocks) rows.push_back(std::move(block.entries));
  return rows;
}

// The attachment's own object over its table row: the object has every property, the row a few
// of them, and where both have one the object's is the attachment's.
void complete_attachment(const OstContext& context, const LoadedObject& message, std::vector<PropertyEntry>& row,
                         int& unreadable) {
  std::optional<std::uint32_t> object_nid;
  for (const auto& e : row)
    if (e.raw_id == kPidLtpRowId) object_nid = static_cast<std::uint32_t>(value_i32(e).value_or(0));
  if (!object_nid) return;
  const SubnodeEntry* sub = FindSubnode(message.subnodes, Nid(*object_nid));
  if (!sub) {
    ++unreadable;
    return;
  }
  auto object = ReadObject(context, sub->data_bid, sub->sub_bid, ReadObjectOptions{true});
  if (!object || object->properties.blocks.empty()) {
    ++unreadable;
    return;
  }
  row = MergeAttachment(std::move(object->properties.blocks.front().entries), std::move(row));
}

}  // namespace

std::vector<PropertyEntry> MergeAttachment(std::vector<PropertyEntry> object, std::vector<PropertyEntry> row) {
  for (auto& e : row) {
    const bool in_object = std::any_of(object.begin(), object.end(),
                                       [&](const PropertyEntry& m) { return m.raw_id == e.raw_id; });
    if (!in_object) object.push_back(std::move(e));
  }
  return object;
}

std::vector<std::vector<PropertyEntry>> ReadRecipientRows(const OstContext& context, const LoadedObject& message) {
  return table_rows(context, message, kNidMessageRecipientTable);
}

std::optional<SourceObject> ReadSourceObject(const OstContext& context, Bid data_bid, Bid sub_bid) {
  auto object = ReadObject(context, data_bid, sub_bid);
  if (!object || object->properties.blocks.empty()) return std::nullopt;
  SourceObject out;
  out.codepage = object_codepage(object->properties.blocks, context.default_codepage);
  out.properties = std::move(object->properties.blocks.front().entries);
  out.recipients = table_rows(context, *object, kNidMessageRecipientTable);
  out.attachments = table_rows(context, *object, kNidMessageAttachmentTable);
  for (auto& row : out.attachments) complete_attachment(context, *object, row, out.unreadable_parts);
  return out;
}

}  // namespace salvora
