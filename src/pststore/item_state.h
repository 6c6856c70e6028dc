#pragma once
// ItemState: an Outlook item between CreateItem and the moment it is written into a folder of
// a store: its properties (tagged and named), recipients and attachments, and where it stands
// (unplaced, placed in a folder, written as a message).
//
// Several servers may share one state (the item a caller holds and the one GetItemFromID
// returns for its entry id). Not thread-safe: one thread drives an item.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pststore/item_properties.h"
#include "pststore/pst/message_spec.h"
#include "pststore/pst/property.h"
#include "pststore/store_file.h"

namespace salvora::store {

struct ItemState;

// A named property's value; the tag's id is filled in per store when the item is written.
struct NamedValue {
  pst::PropertyName name;
  pst::Property value;
};

// A recipient row: its properties, tagged and named.
struct RecipientState {
  pst::PropertyList props;
  std::vector<NamedValue> named;
};

// An attachment as added: its properties and its data, held in memory or in a spool file of
// the server's own that goes with the last holder; or an embedded item.
struct AttachmentState {
  pst::PropertyList props;
  std::vector<NamedValue> named;
  std::vector<std::uint8_t> data;
  std::string spool_path;
  std::uint64_t size = 0;
  std::shared_ptr<const ItemState> embedded;

  AttachmentState() = default;
  AttachmentState(const AttachmentState&) = delete;
  AttachmentState& operator=(const AttachmentState&) = delete;
  ~AttachmentState();
};

struct ItemState {
  ItemKind kind = ItemKind::kMail;
  pst::PropertyList props;  // tagged properties, by id
  std::vector<NamedValue> named;
  std::vector<RecipientState> recipients;
  // Copies of an item share its attachments: only a property accessor changes one once it is
  // added, right after adding it.
  std::vector<std::shared_ptr<AttachmentState>> attachments;
  // Values put through a property accessor. They are the item's own values as a copy keeps
  // them, so they win over every value the store would derive or default when the item is
  // written (flags, times, subject parts, an appointment's fields).
  pst::PropertyList kept;
  std::vector<NamedValue> kept_named;
  // Tagged properties deleted through a property accessor: the item has none, not even one the
  // store would derive for it.
  std::vector<std::uint16_t> deleted_ids;
  std::vector<pst::PropertyName> deleted_names;
  std::uint64_t created = 0;  // FILETIME
  bool unread = false;
  bool received = false;  // imported from a message file: no longer a draft
  bool deleted = false;
  bool associated = false;  // a folder's hidden item (a view, a rule, a setting)

  StoreFilePtr store;            // the store of the folder it is placed in
  StoreFolder* folder = nullptr;  // placed in this folder (written there on Save or Move)
  std::optional<std::uint32_t> nid;  // written as this message
  std::string transient_id;        // entry id before it is written

  const pst::Property* Find(std::uint16_t id) const { return pst::FindProp(props, id); }
  void Set(pst::Property p) { pst::SetProp(props, std::move(p)); }
  void Remove(std::uint16_t id);
  const NamedValue* FindNamed(const pst::PropertyName& name) const;
  void SetNamed(const pst::PropertyName& name, pst::Property value);

  // A copy for Item.Copy: everything but the place, the entry id and the creation time.
  std::shared_ptr<ItemState> Clone() const;
};

// A new item of this kind with the properties Outlook gives a new item.
std::shared_ptr<ItemState> new_item(ItemKind kind);

// The message the item becomes in store: its properties completed for its kind (class, flags,
// subject parts, times, the fields a reader expects of an appointment, task, journal entry,
// note or contact), its named properties mapped through the store's map, its attachments.
pst::MessageSpec build_message(const ItemState& item, StoreFile& store, std::uint64_t now);

// The subject split into its prefix ("RE: ") and the rest, as MAPI derives them.
std::pair<std::string, std::string> split_subject(const std::string& subject);

}  // namespace salvora::store
