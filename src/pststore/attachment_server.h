#pragma once
// The attachments of an item behind the automation boundary.
//
// AttachmentsServer: Count, Item (1-based) and Add(source, type, position, display name).
// A file path is taken by value: its bytes are copied at once (small files into memory,
// larger ones into a spool file of the server's own), because the caller deletes the file right
// after adding it. The display name, when given, is the attachment's file name. An item with
// type 5 becomes an embedded message, as it stands at the moment of the call.
// AttachmentServer: one attachment (DisplayName, FileName, PropertyAccessor).

#include <memory>

#include "automation/dispatch.h"
#include "pststore/item_state.h"

namespace salvora::store {

// Attachment types of Add: by value, and an embedded item.
inline constexpr std::int32_t kAttachTypeByValue = 1;
inline constexpr std::int32_t kAttachTypeEmbedded = 5;
// Files up to this size are held in memory until the item is written; larger ones are spooled.
inline constexpr std::uint64_t kAttachMemoryLimit = 1u << 20;

class AttachmentsServer : public Dispatch {
 public:
  explicit AttachmentsServer(std::shared_ptr<ItemState> item) : item_(std::move(item)) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

 private:
  DispatchPtr Add(Arguments arguments);

  std::shared_ptr<ItemState> item_;
};

class AttachmentServer : public Dispatch {
 public:
  AttachmentServer(std::shared_ptr<ItemState> item, std::shared_ptr<AttachmentState> attachment)
      : item_(std::move(item)), attachment_(std::move(attachment)) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

 private:
  std::shared_ptr<ItemState> item_;
  std::shared_ptr<AttachmentState> attachment_;
};

// Member numbers of an attachment, the property ids they read.
inline constexpr MemberId kAttachmentDisplayName = 0x3001;
inline constexpr MemberId kAttachmentFileName = 0x3704;

}  // namespace salvora::store
