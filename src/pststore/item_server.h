#pragma once
// ItemServer: an Outlook item behind the automation boundary (mail, appointment, contact, task,
// journal entry, note). Puts land in the item's state; the item reaches a store only when it
// is placed in a folder: Move writes it into the target folder, Save writes an item that
// already sits in one (a copy of a stored item). Save of an item in no folder keeps it in this
// process only, where GetItemFromID finds it again: a template never reaches the user's store.
//
// Not thread-safe: one thread drives an item.

#include <memory>
#include <string>

#include "automation/dispatch.h"
#include "pststore/item_state.h"

namespace salvora::store {

class ItemServer : public Dispatch {
 public:
  explicit ItemServer(std::shared_ptr<ItemState> state) : state_(std::move(state)) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

  const std::shared_ptr<ItemState>& state() const { return state_; }

 private:
  Variant Put(MemberId member, Arguments arguments);
  Variant Get(MemberId member);
  Variant Call(MemberId member, Arguments arguments);
  void Save(MemberId member);
  Variant Move(Arguments arguments);
  void RequireChangeable(MemberId member) const;

  std::shared_ptr<ItemState> state_;
};

// The entry id of an item: the one of its message once written, else one valid in this process.
std::string entry_id_of(ItemState& item);
// The item with this entry id, when this process still holds it; null otherwise.
std::shared_ptr<ItemState> find_item(const std::string& entry_id);

// Writes the item into folder of store and remembers where it went. Throws AutomationError.
void write_item(ItemState& item, const StoreFilePtr& store, StoreFolder& folder);

// The server's item behind a Dispatch of the boundary, or null when it is none of ours.
std::shared_ptr<ItemState> item_state_of(const DispatchPtr& object);

// A put's value as a property of the given stored type (0: the value's own type), for the
// member named in errors.
pst::Property property_from_variant(MemberId member, std::uint16_t id, std::uint16_t type, const Variant& value);
// A stored value back as a Variant (strings, numbers, flags, times as DATE).
Variant variant_from_property(const pst::Property& p);

}  // namespace salvora::store
