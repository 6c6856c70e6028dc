#pragma once
// PropertyAccessorServer: the PropertyAccessor of an item, a recipient, an attachment or a
// folder behind the automation boundary. GetProperty, SetProperty, SetProperties, GetProperties
// and DeleteProperty take the schema names of automation/schema_name.h; values travel as
// pststore/property_values.h says.
//
// SetProperties sets what it can and answers with one entry per name: empty where the value was
// set, an error code where it was refused (the names of its message say why). A property the
// store computes itself (an entry id, a size, a record key...) is refused rather than written
// over the store's own.

#include <memory>
#include <optional>

#include "automation/dispatch.h"
#include "automation/schema_name.h"
#include "pststore/item_state.h"
#include "pststore/store_file.h"

namespace salvora::store {

// What an accessor reads and writes. Tagged properties by id, named ones by name; a value set
// here wins over any the store would give the object itself.
// The kinds of object an accessor stands for: what the store computes differs between them.
enum class AccessorObject { kItem, kRecipient, kAttachment, kFolder, kStore };

class PropertyBag {
 public:
  virtual ~PropertyBag() = default;
  virtual AccessorObject kind() const = 0;
  virtual std::optional<pst::Property> Find(std::uint16_t id) const = 0;
  virtual std::optional<pst::Property> FindNamed(const pst::PropertyName& name) const = 0;
  virtual void Set(pst::Property property) = 0;
  virtual void SetNamed(const pst::PropertyName& name, pst::Property property) = 0;
  virtual void Remove(std::uint16_t id) = 0;
  virtual void RemoveNamed(const pst::PropertyName& name) = 0;
  // Throws AutomationError when the object can no longer change (stored, deleted).
  virtual void RequireChangeable(MemberId member) const = 0;
};

std::unique_ptr<PropertyBag> item_bag(std::shared_ptr<ItemState> item);
std::unique_ptr<PropertyBag> recipient_bag(std::shared_ptr<ItemState> item, std::size_t index);
std::unique_ptr<PropertyBag> attachment_bag(std::shared_ptr<ItemState> item, std::shared_ptr<AttachmentState> attachment);
std::unique_ptr<PropertyBag> folder_bag(StoreFilePtr store, StoreFolder& folder);
// The message store object itself (its name, its links to its special folders).
std::unique_ptr<PropertyBag> store_bag(StoreFilePtr store);

class PropertyAccessorServer : public Dispatch {
 public:
  explicit PropertyAccessorServer(std::unique_ptr<PropertyBag> bag) : bag_(std::move(bag)) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

 private:
  Variant Call(MemberId member, Arguments arguments);
  Variant GetOne(MemberId member, const std::string& schema_name) const;
  void SetOne(MemberId member, const std::string& schema_name, const Variant& value);
  void SetParsed(MemberId member, const std::string& schema_name, const PropertySchema& schema, const Variant& value);

  std::unique_ptr<PropertyBag> bag_;
};

// Whether the store computes this tagged property itself for every object of the kind it
// writes, so that a value given for it is refused rather than written over the store's own.
bool store_computed_property(AccessorObject kind, std::uint16_t id);

}  // namespace salvora::store
