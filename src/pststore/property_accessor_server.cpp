#include "pststore/property_accessor_server.h"

#include <algorithm>
#include <unordered_map>

#include "automation/member_ids.h"
#include "automation/schema_name.h"
#include "format/prop_types.h"
#include "pststore/call_guard.h"
#include "pststore/property_values.h"

namespace salvora::store {

namespace {

void require_item_changeable(const ItemState& item, MemberId member) {
  if (item.deleted) fail(member, "the item was deleted");
  if (item.nid) fail(member, "the item is already stored in a folder");
}

std::optional<pst::Property> find_in(const pst::PropertyList& list, std::uint16_t id) {
  if (const pst::Property* p = pst::find_prop(list, id)) return *p;
  return std::nullopt;
}

std::optional<pst::Property> find_named_in(const std::vector<NamedValue>& list, const pst::PropertyName& name) {
  for (const auto& v : list)
    if (v.name == name) return v.value;
  return std::nullopt;
}

void set_named_in(std::vector<NamedValue>& list, const pst::PropertyName& name, pst::Property p) {
  for (auto& v : list) {
    if (v.name == name) {
      v.value = std::move(p);
      return;
    }
  }
  list.push_back(NamedValue{name, std::move(p)});
}

void remove_in(pst::PropertyList& list, std::uint16_t id) {
  std::erase_if(list, [&](const pst::Property& p) { return p.id() == id; });
}

void remove_named_in(std::vector<NamedValue>& list, const pst::PropertyName& name) {
  std::erase_if(list, [&](const NamedValue& v) { return v.name == name; });
}

// An item: the values put through the accessor are kept apart from the ones the item's own
// members set, and win over them when the item is written.
class ItemBag : public PropertyBag {
 public:
  explicit ItemBag(std::shared_ptr<ItemState> item) : item_(std::move(item)) {}
  AccessorObject kind() const override { return AccessorObject::kItem; }
  std::optional<pst::Property> Find(std::uint16_t id) const override {
    if (auto p = find_in(item_->kept, id)) return p;
    return find_in(item_->props, id);
  }
  std::optional<pst::Property> FindNamed(const pst::PropertyName& name) const override {
    if (auto p = find_named_in(item_->kept_named, name)) return p;
    return find_named_in(item_->named, name);
  }
  void Set(pst::Property p) override {
    if (p.id() == kPidMessageClass) item_->kind = item_kind_of_class(p.AsString());
    std::erase(item_->deleted_ids, p.id());
    pst::set_prop(item_->kept, std::move(p));
  }
  void SetNamed(const pst::PropertyName& name, pst::Property p) override {
    std::erase(item_->deleted_names, name);
    set_named_in(item_->kept_named, name, std::move(p));
  }
  void Remove(std::uint16_t id) override {
    remove_in(item_->kept, id);
    item_->Remove(id);
    if (std::find(item_->deleted_ids.begin(), item_->deleted_ids.end(), id) == item_->deleted_ids.end())
      item_->deleted_ids.push_back(id);
  }
  void RemoveNamed(const pst::PropertyName& name) override {
    remove_named_in(item_->kept_named, name);
    remove_named_in(item_->named, name);
    if (std::find(item_->deleted_names.begin(), item_->deleted_names.end(), name) == item_->deleted_names.end())
      item_->deleted_names.push_back(name);
  }
  void RequireChangeable(MemberId member) const override { require_item_changeable(*item_, member); }

 private:
  std::shared_ptr<ItemState> item_;
};

class RecipientBag : public PropertyBag {
 public:
  RecipientBag(std::shared_ptr<ItemState> item, std::size_t index) : item_(std::move(item)), index_(index) {}
  AccessorObject kind() const override { return AccessorObject::kRecipient; }
  std::optional<pst::Property> Find(std::uint16_t id) const override { return find_in(row().props, id); }
  std::optional<pst::Property> FindNamed(const pst::PropertyName& name) const override {
    return find_named_in(row().named, name);
  }
  void Set(pst::Property p) override { pst::set_prop(row().props, std::move(p)); }
  void SetNamed(const pst::PropertyName& name, pst::Property p) override { set_named_in(row().named, name, std::move(p)); }
  void Remove(std::uint16_t id) override { remove_in(row().props, id); }
  void RemoveNamed(const pst::PropertyName& name) override { remove_named_in(row().named, name); }
  void RequireChangeable(MemberId member) const override {
    require_item_changeable(*item_, member);
    if (index_ >= item_->recipients.size()) fail(member, "the recipient was removed");
  }

 private:
  RecipientState& row() const { return item_->recipients.at(index_); }

  std::shared_ptr<ItemState> item_;
  std::size_t index_;
};

class AttachmentBag : public PropertyBag {
 public:
  AttachmentBag(std::shared_ptr<ItemState> item, std::shared_ptr<AttachmentState> attachment)
      : item_(std::move(item)), attachment_(std::move(attachment)) {}
  AccessorObject kind() const override { return AccessorObject::kAttachment; }
  std::optional<pst::Property> Find(std::uint16_t id) const override { return find_in(attachment_->props, id); }
  std::optional<pst::Property> FindNamed(const pst::PropertyName& name) const override {
    return find_named_in(attachment_->named, name);
  }
  void Set(pst::Property p) override { pst::set_prop(attachment_->props, std::move(p)); }
  void SetNamed(const pst::PropertyName& name, pst::Property p) override {
    set_named_in(attachment_->named, name, std::move(p));
  }
  void Remove(std::uint16_t id) override { remove_in(attachment_->props, id); }
  void RemoveNamed(const pst::PropertyName& name) override { remove_named_in(attachment_->named, name); }
  void RequireChangeable(MemberId member) const override {
    if (item_) require_item_changeable(*item_, member);
  }

 private:
  std::shared_ptr<ItemState> item_;  // may be null: an attachment reached on its own
  std::shared_ptr<AttachmentState> attachment_;
};

// A folder: its values go to the store at once, named ones through the store's name map.
class FolderBag : public PropertyBag {
 public:
  FolderBag(StoreFilePtr store, StoreFolder& folder) : store_(std::move(store)), folder_(&folder) {}
  AccessorObject kind() const override { return AccessorObject::kFolder; }
  std::optional<pst::Property> Find(std::uint16_t id) const override {
    if (id == kPidDisplayName) return pst::Property::String(id, folder_->name);
    if (id == kPidContainerClass) return pst::Property::String(id, folder_->container_class);
    if (id == kPidComment) return pst::Property::String(id, folder_->description);
    return find_in(folder_->props, id);
  }
  std::optional<pst::Property> FindNamed(const pst::PropertyName& name) const override {
    return find_in(folder_->props, store_->RegisterName(name));
  }
  void Set(pst::Property p) override { store_->SetFolderProperty(*folder_, std::move(p)); }
  void SetNamed(const pst::PropertyName& name, pst::Property p) override {
    p.tag = PropTag(store_->RegisterName(name), p.type());
    store_->SetFolderProperty(*folder_, std::move(p));
  }
  // A folder's values are in the file as soon as they are set; none is taken back.
  void Remove(std::uint16_t) override { fail(dispid::kDeleteProperty, "a folder's property cannot be deleted"); }
  void RemoveNamed(const pst::PropertyName&) override {
    fail(dispid::kDeleteProperty, "a folder's property cannot be deleted");
  }
  void RequireChangeable(MemberId member) const override {
    if (!store_->is_open()) fail(member, "the store is closed");
  }

 private:
  StoreFilePtr store_;
  StoreFolder* folder_;
};

class StoreBag : public PropertyBag {
 public:
  explicit StoreBag(StoreFilePtr store) : store_(std::move(store)) {}
  AccessorObject kind() const override { return AccessorObject::kStore; }
  std::optional<pst::Property> Find(std::uint16_t id) const override { return store_->StoreProperty(id); }
  std::optional<pst::Property> FindNamed(const pst::PropertyName&) const override { return std::nullopt; }
  void Set(pst::Property p) override { store_->SetStoreProperty(std::move(p)); }
  void SetNamed(const pst::PropertyName&, pst::Property) override {
    fail(dispid::kSetProperty, "the store object takes no named properties");
  }
  void Remove(std::uint16_t) override { fail(dispid::kDeleteProperty, "a store's property cannot be deleted"); }
  void RemoveNamed(const pst::PropertyName&) override {
    fail(dispid::kDeleteProperty, "a store's property cannot be deleted");
  }
  void RequireChangeable(MemberId member) const override {
    if (!store_->is_open()) fail(member, "the store is closed");
  }

 private:
  StoreFilePtr store_;
};

pst::PropertyName name_of(const PropertySchema& s) {
  pst::PropertyName n;
  n.guid = *s.set;
  if (s.name) n.name = *s.name;
  else n.lid = s.lid;
  return n;
}

// A copy names the same few hundred properties item after item, each by a long string: each
// name is parsed once a thread and looked up after that. Null for a name that does not parse.
// The pointer is good until the next call on the same thread.
const PropertySchema* parsed_schema(const std::string& text) {
  // Bounded: a caller inventing names cannot grow it without end.
  constexpr std::size_t kMaxNames = 4096;
  thread_local std::unordered_map<std::string, std::optional<PropertySchema>> known;
  auto it = known.find(text);
  if (it == known.end()) {
    if (known.size() >= kMaxNames) known.clear();
    it = known.emplace(text, parse_schema_name(text)).first;
  }
  return it->second ? &*it->second : nullptr;
}

const PropertySchema& schema_of(MemberId member, const std::string& text) {
  const PropertySchema* s = parsed_schema(text);
  if (!s) bad(member, "\"" + text + "\" is not a property's schema name");
  return *s;
}

const std::string& text_of(MemberId member, const Variant& v) {
  const std::string* s = v.string_value();
  if (!s) bad(member, "a schema name must be a string");
  return *s;
}

}  // namespace

// What the store gives each object itself, and so keeps from a caller. Everything else a
// source object has is the object's own and is kept.
bool store_computed_property(AccessorObject kind, std::uint16_t id) {
  // The store's own bookkeeping in every object: node and row ids, row versions, the key of a
  // row in this store's tables.
  if (id >= 0x67F0 && id <= 0x67FF) return true;
  if (id == 0x0FF6) return true;  // PR_INSTANCE_KEY
  switch (kind) {
    case AccessorObject::kItem:
      return id == kPidEntryId         // made from this store's record key and the message's node
             || id == kPidMessageSize;  // the bytes this store takes for it
    case AccessorObject::kRecipient:
      return false;  // a recipient's entry id is its address book entry: the recipient's own
    case AccessorObject::kAttachment:
      return id == kPidAttachSize         // the bytes this store takes for it
             || id == 0x0E21              // PR_ATTACH_NUM: its row in this message's table
             || id == kPidAttachDataBinary;  // the data travels by Add, not as a value
    case AccessorObject::kFolder:
      return id == kPidEntryId || id == kPidContentCount || id == kPidContentUnreadCount ||
             id == kPidSubfolders    // what the folder holds in this store
             || id == kPidPstHiddenCount || id == kPidPstHiddenUnread;
    case AccessorObject::kStore:
      // Its identity and the folders that make it a store (its subtree, its search root) are
      // the store's from its making; the links to the folders a mailbox fills are not.
      return id == kPidRecordKey || id == kPidIpmSubTreeEntryId || id == kPidFinderEntryId ||
             id == kPidValidFolderMask || id == kPidPstPassword;
  }
  return false;
}

std::unique_ptr<PropertyBag> item_bag(std::shared_ptr<ItemState> item) { return std::make_unique<ItemBag>(std::move(item)); }
std::unique_ptr<PropertyBag> recipient_bag(std::shared_ptr<ItemState> item, std::size_t index) {
  return std::make_unique<RecipientBag>(std::move(item), index);
}
std::unique_ptr<PropertyBag> attachment_bag(std::shared_ptr<ItemState> item, std::shared_ptr<AttachmentState> attachment) {
  return std::make_unique<AttachmentBag>(std::move(item), std::move(attachment));
}
std::unique_ptr<PropertyBag> folder_bag(StoreFilePtr store, StoreFolder& folder) {
  return std::make_unique<FolderBag>(std::move(store), folder);
}
std::unique_ptr<PropertyBag> store_bag(StoreFilePtr store) { return std::make_unique<StoreBag>(std::move(store)); }

Variant PropertyAccessorServer::GetOne(MemberId member, const std::string& schema_name) const {
  const PropertySchema& s = schema_of(member, schema_name);
  std::optional<pst::Property> p = s.named() ? bag_->FindNamed(name_of(s)) : bag_->Find(s.id);
  // Outlook answers a property the object lacks with an error, not with an empty value.
  if (!p) fail(member, "the object has no property " + schema_name);
  return value_from_property(*p);
}

void PropertyAccessorServer::SetOne(MemberId member, const std::string& schema_name, const Variant& value) {
  SetParsed(member, schema_name, schema_of(member, schema_name), value);
}

void PropertyAccessorServer::SetParsed(MemberId member, const std::string& schema_name, const PropertySchema& s,
                                       const Variant& value) {
  if (!s.named() && store_computed_property(bag_->kind(), s.id)) fail(member, "the store computes " + schema_name + " itself");
  if (s.type == kPtypObject || s.type == kPtypUnspecified || s.type == kPtypNull)
    bad(member, "a value of type " + std::to_string(s.type) + " cannot be set");
  bag_->RequireChangeable(member);
  if (s.named()) {
    if (s.type == 0) bad(member, "the schema name gives no type");
    bag_->SetNamed(name_of(s), property_from_value(member, 0, s.type, value));
  } else {
    bag_->Set(property_from_value(member, s.id, s.type, value));
  }
}

Variant PropertyAccessorServer::invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  if (kind != InvokeKind::kMethod) throw_unknown_member(member, kind);
  return guarded_call(member, [&]() -> Variant { return Call(member, arguments); });
}

Variant PropertyAccessorServer::Call(MemberId member, Arguments arguments) {
  switch (member) {
    case dispid::kGetProperty:
      require_argument_count(member, arguments, 1, 1);
      return GetOne(member, string_argument(member, arguments, 0));
    case dispid::kSetProperty:
      require_argument_count(member, arguments, 2, 2);
      SetOne(member, string_argument(member, arguments, 0), arguments[1]);
      return {};
    case dispid::kDeleteProperty: {
      require_argument_count(member, arguments, 1, 1);
      const PropertySchema& s = schema_of(member, string_argument(member, arguments, 0));
      bag_->RequireChangeable(member);
      if (s.named()) bag_->RemoveNamed(name_of(s));
      else bag_->Remove(s.id);
      return {};
    }
    case dispid::kDeleteProperties: {
      require_argument_count(member, arguments, 1, 1);
      const std::vector<Variant>* names = arguments[0].array_value();
      if (!names) bad(member, "argument 1 must be an array of schema names");
      bag_->RequireChangeable(member);
      std::vector<Variant> errors;
      for (const Variant& n : *names) {
        const PropertySchema* s = parsed_schema(text_of(member, n));
        if (!s) {
          errors.push_back(Variant::Error(kAccessorInvalid));
          continue;
        }
        if (s->named()) bag_->RemoveNamed(name_of(*s));
        else bag_->Remove(s->id);
        errors.emplace_back();
      }
      return Variant::Array(std::move(errors));
    }
    case dispid::kGetProperties: {
      require_argument_count(member, arguments, 1, 1);
      const std::vector<Variant>* names = arguments[0].array_value();
      if (!names) bad(member, "argument 1 must be an array of schema names");
      std::vector<Variant> values;
      for (const Variant& n : *names) {
        try {
          values.push_back(GetOne(member, text_of(member, n)));
        } catch (const AutomationError&) {
          values.push_back(Variant::Error(kAccessorInvalid));
        }
      }
      return Variant::Array(std::move(values));
    }
    case dispid::kSetProperties: {
      require_argument_count(member, arguments, 2, 2);
      const std::vector<Variant>* names = arguments[0].array_value();
      const std::vector<Variant>* values = arguments[1].array_value();
      if (!names || !values) bad(member, "SetProperties takes an array of names and an array of values");
      if (names->size() != values->size()) bad(member, "the arrays of names and values differ in length");
      bag_->RequireChangeable(member);
      std::vector<Variant> errors;
      errors.reserve(names->size());
      for (std::size_t i = 0; i < names->size(); ++i) {
        const std::string& name = text_of(member, (*names)[i]);
        const PropertySchema* s = parsed_schema(name);
        if (s && !s->named() && store_computed_property(bag_->kind(), s->id)) {
          errors.push_back(Variant::Error(kAccessorComputed));
          continue;
        }
        try {
          SetParsed(member, name, s ? *s : schema_of(member, name), (*values)[i]);
          errors.emplace_back();
        } catch (const AutomationError&) {
          errors.push_back(Variant::Error(kAccessorInvalid));
        }
      }
      return Variant::Array(std::move(errors));
    }
    default: break;
  }
  throw_unknown_member(member, InvokeKind::kMethod);
}

}  // namespace salvora::store
