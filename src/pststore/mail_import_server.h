#pragma once
// MailImportServer ("Redemption.SafeMailItem"): imports a message file into an item of the
// store server.
//
// Members: Item (put, get: the item to work on), Import(path, 1024) reads the file's RFC 822
// header into the item's sender, recipients (one row per mailbox of To, the display To listing
// their names until a To put replaces that text), submit and delivery times, and marks it a
// received message;
// Fields(tag) put sets a property of the item by its full tag, an empty value removing it.
//
// Holds only the item it was given. Not thread-safe; it may be created on one thread and used
// on another, one at a time.

#include <memory>

#include "automation/dispatch.h"
#include "pststore/item_state.h"
#include "pststore/rfc822_header.h"

namespace salvora::store {

// The largest message file read: the header the mail writer produces is a few hundred bytes.
inline constexpr std::uint64_t kImportFileLimit = 4u << 20;

class MailImportServer : public Dispatch {
 public:
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

 private:
  std::shared_ptr<ItemState> RequireItem(MemberId member) const;
  DispatchPtr item_object_;
};

// Applies a parsed header to an item (what Import does after reading the file).
void apply_mail_header(const MailHeader& header, ItemState& item);

// A recipient row for a mailbox, with the one-off entry id and search key MAPI gives it.
pst::RecipientSpec recipient_row(const MailAddress& address, std::int32_t type);

}  // namespace salvora::store
