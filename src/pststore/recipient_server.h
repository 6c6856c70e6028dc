#pragma once
// The recipients of an item behind the automation boundary.
//
// RecipientsServer: Count, Item (1-based), Add(name) and Remove(index). A recipient added is a
// To recipient of that display name until its Type or its properties say more.
// RecipientServer: one recipient (Name, Type, PropertyAccessor). It stands for a row by its
// place: removing a row before it moves it.

#include <memory>

#include "automation/dispatch.h"
#include "pststore/item_state.h"

namespace salvora::store {

class RecipientsServer : public Dispatch {
 public:
  explicit RecipientsServer(std::shared_ptr<ItemState> item) : item_(std::move(item)) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

 private:
  std::size_t IndexArgument(MemberId member, Arguments arguments) const;

  std::shared_ptr<ItemState> item_;
};

class RecipientServer : public Dispatch {
 public:
  RecipientServer(std::shared_ptr<ItemState> item, std::size_t index) : item_(std::move(item)), index_(index) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

 private:
  RecipientState& row(MemberId member) const;

  std::shared_ptr<ItemState> item_;
  std::size_t index_;
};

}  // namespace salvora::store
