#include "pststore/item_server.h"

#include <atomic>
#include <cmath>
#include <map>
#include <mutex>
#include <random>

#include "automation/member_ids.h"
#include "format/byte_reader.h"
#include "format/filetime.h"
#include "format/multi_value.h"
#include "format/prop_types.h"
#include "format/text.h"
#include "pststore/attachment_server.h"
#include "pststore/call_guard.h"
#include "pststore/folder_server.h"
#include "pststore/property_accessor_server.h"
#include "pststore/recipient_server.h"

namespace salvora::store {

namespace {

// Items this process can find again by entry id. Weak: an item nobody holds is gone, as an
// unsaved Outlook item is.
struct ItemRegistry {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<ItemState>> items;
};

ItemRegistry& registry() {
  static ItemRegistry r;
  return r;
}

void remember(const std::string& entry_id, const std::shared_ptr<ItemState>& item) {
  ItemRegistry& r = registry();
  std::lock_guard lock(r.mutex);
  // Drop the entries of items that are gone, so the map stays as small as what is held.
  if (r.items.size() > 64) std::erase_if(r.items, [](const auto& e) { return e.second.expired(); });
  r.items[entry_id] = item;
}

void forget(const std::string& entry_id) {
  ItemRegistry& r = registry();
  std::lock_guard lock(r.mutex);
  r.items.erase(entry_id);
}

// Entry ids of items not yet in a store: the format of a store's, under a key of this process.
std::string transient_entry_id() {
  static const std::array<std::uint8_t, 16> key = [] {
    std::array<std::uint8_t, 16> k{};
    std::random_device rd;
    for (auto& b : k) b = static_cast<std::uint8_t>(rd());
    return k;
  }();
  static std::atomic<std::uint32_t> next{1};
  const auto bytes = pst::make_entry_id(key, next.fetch_add(1));
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
  return out;
}

constexpr std::uint32_t kCodepageUtf8 = 65001;

}  // namespace

std::string entry_id_of(ItemState& item) {
  if (item.nid && item.store) return item.store->EntryIdOf(*item.nid);
  if (item.transient_id.empty()) item.transient_id = transient_entry_id();
  return item.transient_id;
}

std::shared_ptr<ItemState> find_item(const std::string& entry_id) {
  ItemRegistry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.items.find(entry_id);
  if (it == r.items.end()) {
    // Entry ids are hex; a caller may print them in lower case.
    std::string upper = entry_id;
    for (char& c : upper)
      if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    it = r.items.find(upper);
  }
  if (it == r.items.end()) return nullptr;
  auto item = it->second.lock();
  if (!item || item->deleted) return nullptr;
  return item;
}

std::shared_ptr<ItemState> item_state_of(const DispatchPtr& object) {
  if (auto item = std::dynamic_pointer_cast<ItemServer>(object)) return item->state();
  return nullptr;
}

void write_item(ItemState& item, const StoreFilePtr& store, StoreFolder& folder) {
  const std::uint32_t nid = store->AddMessage(folder, build_message(item, *store, filetime_now()));
  if (!item.transient_id.empty()) forget(item.transient_id);
  item.store = store;
  item.folder = &folder;
  item.nid = nid;
}

pst::Property property_from_variant(MemberId member, std::uint16_t id, std::uint16_t type, const Variant& value) {
  if (type == 0) {
    switch (value.type()) {
      case VariantType::kString: type = kPtypString; break;
      case VariantType::kInt32: type = kPtypInteger32; break;
      case VariantType::kBool: type = kPtypBoolean; break;
      case VariantType::kDouble: type = kPtypFloating64; break;
      case VariantType::kDate: type = kPtypTime; break;
      default: bad(member, std::string("cannot store a value of type ") + std::string(type_name(value.type())));
    }
  }
  const auto wrong = [&]() -> pst::Property {
    bad(member, std::string("cannot store ") + std::string(type_name(value.type())) + " in this field");
  };
  switch (type) {
    case kPtypString:
      if (const std::string* s = value.string_value()) return pst::Property::String(id, *s);
      return wrong();
    case kPtypMultipleString:
      if (const std::string* s = value.string_value()) return pst::Property::MultiString(id, {*s});
      return wrong();
    case kPtypInteger16:
      if (auto i = value.int32_value()) {
        if (*i < -32768 || *i > 65535) bad(member, "the value does not fit in 16 bits");
        return pst::Property::Int16(id, static_cast<std::int16_t>(*i));
      }
      return wrong();
    case kPtypInteger32:
      if (auto i = value.int32_value()) return pst::Property::Int32(id, *i);
      return wrong();
    case kPtypBoolean:
      if (auto b = value.bool_value()) return pst::Property::Bool(id, *b);
      if (auto i = value.int32_value()) return pst::Property::Bool(id, *i != 0);
      return wrong();
    case kPtypFloating64:
      if (auto d = value.double_value()) return pst::Property::Double(id, *d);
      if (auto i = value.int32_value()) return pst::Property::Double(id, *i);
      return wrong();
    case kPtypTime: {
      std::optional<double> d = value.date_value();
      if (!d) d = value.double_value();
      if (!d) return wrong();
      // A date before 1601 is kept as the earliest time there is rather than refused: one odd
      // date must not cost the item its place in the store.
      if (!std::isfinite(*d)) bad(member, "the date is not a number");
      return pst::Property::Time(id, date_to_filetime(*d));
    }
    default: return wrong();
  }
}

Variant variant_from_property(const pst::Property& p) {
  switch (p.type()) {
    case kPtypString: return p.AsString();
    case kPtypInteger16:
    case kPtypInteger32: return static_cast<std::int32_t>(p.AsInt());
    case kPtypBoolean: return p.AsInt() != 0;
    case kPtypTime: return Variant::Date(filetime_to_date(static_cast<std::uint64_t>(p.AsInt())));
    case kPtypFloating64: return p.data.size() == 8 ? Variant(load_f64(p.data, 0)) : Variant();
    case kPtypMultipleString: {
      // The UTF-16 strings, shown joined as Outlook joins a name list.
      const auto items = parse_variable_multi(p.data);
      if (!items) return {};
      std::string out;
      for (const Bytes item : *items) {
        if (!out.empty()) out += "; ";
        out += utf16_to_utf8(item);
      }
      return out;
    }
    case kPtypBinary: return std::string(p.data.begin(), p.data.end());
    default: return {};
  }
}

void ItemServer::RequireChangeable(MemberId member) const {
  if (state_->deleted) fail(member, "the item was deleted");
  // The store keeps the item as it was written; a change made afterwards would not reach it.
  if (state_->nid) fail(member, "the item is already stored in a folder");
}

Variant ItemServer::invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  try {
    switch (kind) {
      case InvokeKind::kPut: return Put(member, arguments);
      case InvokeKind::kGet: return Get(member);
      case InvokeKind::kMethod: return Call(member, arguments);
    }
  } catch (const AutomationError&) {
    throw;
  } catch (const std::exception& e) {
    // A file or writer error is a failing call to the caller, like any other.
    fail(member, e.what());
  }
  throw_unknown_member(member, kind);
}

Variant ItemServer::Put(MemberId member, Arguments arguments) {
  require_argument_count(member, arguments, 1, 1);
  const Variant& value = arguments[0];
  ItemState& s = *state_;
  const auto text = [&]() -> const std::string& { return string_argument(member, arguments, 0); };
  switch (member) {
    case dispid::kSubject:
    case dispid::kBody:
    case dispid::kHTMLBody:
    case dispid::kMessageClass:
    case dispid::kCC:
    case dispid::kTo:
    case dispid::kUnRead: RequireChangeable(member); break;
    default: break;
  }
  switch (member) {
    case dispid::kSubject: s.Set(pst::Property::String(kPidSubject, text())); return {};
    case dispid::kBody: s.Set(pst::Property::String(kPidBody, text())); return {};
    case dispid::kHTMLBody: {
      // Kept byte for byte as given; the bytes are UTF-8, which the code page says to readers.
      const std::string& html = text();
      s.Set(pst::Property::Binary(kPidHtml, Bytes(reinterpret_cast<const std::uint8_t*>(html.data()), html.size())));
      s.Set(pst::Property::Int32(pid::kInternetCodepage, static_cast<std::int32_t>(kCodepageUtf8)));
      return {};
    }
    case dispid::kMessageClass: {
      const std::string& c = text();
      if (c.empty()) bad(member, "a message class cannot be empty");
      s.Set(pst::Property::String(kPidMessageClass, c));
      s.kind = item_kind_of_class(c);
      return {};
    }
    // The display lists are kept as written; the recipients stay those of the import.
    case dispid::kCC: s.Set(pst::Property::String(kPidDisplayCc, text())); return {};
    case dispid::kTo: s.Set(pst::Property::String(kPidDisplayTo, text())); return {};
    case dispid::kUnRead: s.unread = bool_argument(member, arguments, 0); return {};
    default: break;
  }
  const auto target = field_target(s.kind, member);
  if (!target) throw_unknown_member(member, InvokeKind::kPut);
  RequireChangeable(member);
  if (value.is_empty()) {
    if (target->name) std::erase_if(s.named, [&](const NamedValue& n) { return n.name == *target->name; });
    else s.Remove(target->id);
    return {};
  }
  pst::Property p = property_from_variant(member, target->id, target->type, value);
  if (target->name) s.SetNamed(*target->name, std::move(p));
  else s.Set(std::move(p));
  return {};
}

Variant ItemServer::Get(MemberId member) {
  ItemState& s = *state_;
  const auto tagged = [&](std::uint16_t id) -> Variant {
    const pst::Property* p = s.Find(id);
    return p ? variant_from_property(*p) : Variant(std::string());
  };
  switch (member) {
    case dispid::kSubject: return tagged(kPidSubject);
    case dispid::kBody: return tagged(kPidBody);
    case dispid::kHTMLBody: return tagged(kPidHtml);
    case dispid::kMessageClass: return tagged(kPidMessageClass);
    case dispid::kCC: return tagged(kPidDisplayCc);
    case dispid::kTo: return tagged(kPidDisplayTo);
    case dispid::kUnRead: return s.unread;
    case dispid::kEntryID: {
      if (s.deleted) fail(member, "the item was deleted");
      const std::string id = entry_id_of(s);
      if (!s.nid) remember(id, state_);
      return id;
    }
    case dispid::kAttachments: return std::make_shared<AttachmentsServer>(state_);
    case dispid::kRecipients: return std::make_shared<RecipientsServer>(state_);
    case dispid::kPropertyAccessor: return std::make_shared<PropertyAccessorServer>(item_bag(state_));
    default: break;
  }
  const auto target = field_target(s.kind, member);
  if (!target) throw_unknown_member(member, InvokeKind::kGet);
  if (target->name) {
    const NamedValue* n = s.FindNamed(*target->name);
    return n ? variant_from_property(n->value) : Variant();
  }
  return tagged(target->id);
}

void ItemServer::Save(MemberId member) {
  if (state_->deleted) fail(member, "the item was deleted");
  if (state_->nid) fail(member, "the item is already stored; a change after Move is not kept");
  if (state_->folder && state_->store) {
    write_item(*state_, state_->store, *state_->folder);
    remember(entry_id_of(*state_), state_);
    return;
  }
  // In no folder: kept in this process, where its entry id finds it.
  remember(entry_id_of(*state_), state_);
}

Variant ItemServer::Move(Arguments arguments) {
  const MemberId member = dispid::kMove;
  require_argument_count(member, arguments, 1, 1);
  const auto folder = folder_server_of(dispatch_argument(member, arguments, 0));
  if (!folder) bad(member, "argument 1 is not a folder of this store server");
  RequireChangeable(member);
  write_item(*state_, folder->store(), folder->folder());
  // Found again by its new entry id while someone holds it.
  remember(entry_id_of(*state_), state_);
  return std::make_shared<ItemServer>(state_);
}

Variant ItemServer::Call(MemberId member, Arguments arguments) {
  switch (member) {
    case dispid::kSave:
      require_argument_count(member, arguments, 0, 0);
      Save(member);
      return {};
    case dispid::kClose: {
      require_argument_count(member, arguments, 1, 1);
      const std::int32_t mode = int32_argument(member, arguments, 0);
      if (mode < 0 || mode > 2) bad(member, "the close mode must be 0, 1 or 2");
      // Only "save" saves. "Discard" and "prompt" leave the item as it is: there is no
      // window whose edits could be thrown away, and the item's values must still reach the
      // folder it is moved to next.
      if (mode == 0) Save(member);
      return {};
    }
    case dispid::kMove: return Move(arguments);
    case dispid::kCopy: {
      require_argument_count(member, arguments, 0, 0);
      if (state_->deleted) fail(member, "the item was deleted");
      auto copy = state_->Clone();
      copy->nid.reset();
      return std::make_shared<ItemServer>(std::move(copy));
    }
    case dispid::kDelete:
      require_argument_count(member, arguments, 0, 0);
      if (state_->deleted) return {};
      if (state_->nid) fail(member, "an item already stored cannot be taken out of its folder");
      state_->deleted = true;
      if (!state_->transient_id.empty()) forget(state_->transient_id);
      state_->attachments.clear();
      return {};
    default: break;
  }
  throw_unknown_member(member, InvokeKind::kMethod);
}

}  // namespace salvora::store
