#include "pststore/folder_server.h"

#include "automation/member_ids.h"
#include "format/prop_types.h"
#include "platform/plain_text.h"
#include "pststore/call_guard.h"
#include "pststore/item_server.h"
#include "pststore/property_accessor_server.h"

namespace salvora::store {

namespace {

// Outlook's folder types, for a caller that names the kind of a new folder by number.
std::optional<std::string> class_of_folder_type(std::int32_t type) {
  switch (type) {
    case 6: return "IPF.Note";          // inbox
    case 9: return "IPF.Appointment";   // calendar
    case 10: return "IPF.Contact";      // contacts
    case 11: return "IPF.Journal";      // journal
    case 12: return "IPF.StickyNote";   // notes
    case 13: return "IPF.Task";         // tasks
    default: return std::nullopt;
  }
}

}  // namespace

std::shared_ptr<FolderServer> folder_server_of(const DispatchPtr& object) {
  return std::dynamic_pointer_cast<FolderServer>(object);
}

Variant FolderServer::invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  return guarded_call(member, [&]() -> Variant { return Invoke(member, kind, arguments); });
}

Variant FolderServer::Invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  switch (member) {
    case dispid::kName:
      if (kind == InvokeKind::kGet) return is_store_root() ? store_->display_name() : folder_->name;
      if (kind == InvokeKind::kPut) {
        require_argument_count(member, arguments, 1, 1);
        const std::string& name = string_argument(member, arguments, 0);
        if (name.empty()) throw AutomationError(AutomationError::Code::kBadArgument, member, "a folder needs a name");
        if (is_store_root()) store_->SetDisplayName(name);
        else store_->RenameFolder(*folder_, name);
        return {};
      }
      break;
    case dispid::kDescription:
      if (kind == InvokeKind::kGet) return folder_->description;
      if (kind == InvokeKind::kPut) {
        require_argument_count(member, arguments, 1, 1);
        store_->SetDescription(*folder_, string_argument(member, arguments, 0));
        return {};
      }
      break;
    case dispid::kFolders:
      if (kind == InvokeKind::kGet) {
        require_argument_count(member, arguments, 0, 0);
        return std::make_shared<FolderCollectionServer>(store_, *folder_);
      }
      break;
    case dispid::kEntryID:
      if (kind == InvokeKind::kGet) return store_->EntryIdOf(folder_->id);
      break;
    case dispid::kPropertyAccessor:
      if (kind == InvokeKind::kGet) return std::make_shared<PropertyAccessorServer>(folder_bag(store_, *folder_));
      break;
    case dispid::kGetStorage:
      if (kind == InvokeKind::kMethod) return GetStorage(arguments);
      break;
    case dispid::kStore:
      if (kind == InvokeKind::kGet) return std::make_shared<StoreServer>(store_);
      break;
    default: break;
  }
  throw_unknown_member(member, kind);
}

Variant StoreServer::invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  return guarded_call(member, [&]() -> Variant {
    if (member == dispid::kPropertyAccessor && kind == InvokeKind::kGet)
      return std::make_shared<PropertyAccessorServer>(store_bag(store_));
    if (member == dispid::kSetReceiveFolder && kind == InvokeKind::kMethod) {
      require_argument_count(member, arguments, 1, 1);
      const auto folder = folder_server_of(arguments[0].dispatch_value());
      if (!folder || folder->store() != store_)
        throw AutomationError(AutomationError::Code::kBadArgument, member, "argument 1 must be a folder of this store");
      store_->SetReceiveFolder(folder->folder());
      return {};
    }
    if (kind == InvokeKind::kGet) {
      const auto count = [](std::uint64_t n) { return Variant::Int64(static_cast<std::int64_t>(n)); };
      if (member == dispid::kStoreSize) return count(store_->projected_size());
      if (member == dispid::kItemsCommitted) return count(store_->committed_messages());
      if (member == dispid::kItemsLost) return count(store_->lost_messages());
    }
    if (member == dispid::kCloseStore && kind == InvokeKind::kMethod) {
      require_argument_count(member, arguments, 0, 0);
      store_->Close();
      return {};
    }
    throw_unknown_member(member, kind);
  });
}

// A folder's hidden item by its message class or subject: the one this process still holds
// for that identifier, else a new one placed in the folder, written there by its Save.
DispatchPtr FolderServer::GetStorage(Arguments arguments) {
  const MemberId member = dispid::kGetStorage;
  require_argument_count(member, arguments, 2, 2);
  const std::string& identifier = string_argument(member, arguments, 0);
  const std::int32_t type = int32_argument(member, arguments, 1);
  if (type == kIdentifyByEntryId) {
    auto item = find_item(identifier);
    if (!item || !item->associated) fail(member, "no hidden item has the entry id " + identifier);
    return std::make_shared<ItemServer>(std::move(item));
  }
  if (type != kIdentifyBySubject && type != kIdentifyByMessageClass)
    throw AutomationError(AutomationError::Code::kBadArgument, member, "the identifier type must be 0, 1 or 2");
  if (identifier.empty()) throw AutomationError(AutomationError::Code::kBadArgument, member, "the identifier is empty");
  const std::string key = std::to_string(type) + ":" + identifier;
  std::erase_if(folder_->storage, [](const auto& e) { return e.second.expired(); });
  for (const auto& [k, held] : folder_->storage) {
    if (k != key) continue;
    if (auto item = held.lock(); item && !item->nid && !item->deleted) return std::make_shared<ItemServer>(std::move(item));
  }
  auto item = new_item(ItemKind::kMail);
  item->associated = true;
  item->store = store_;
  item->folder = folder_;
  if (type == kIdentifyByMessageClass) item->Set(pst::Property::String(kPidMessageClass, identifier));
  else item->Set(pst::Property::String(kPidSubject, identifier));
  folder_->storage.emplace_back(key, item);
  return std::make_shared<ItemServer>(std::move(item));
}

DispatchPtr FolderCollectionServer::FolderAt(MemberId member, const Variant& index) const {
  const auto& children = parent_->children;
  if (const std::string* name = index.string_value()) {
    // By name, as Outlook looks a folder up: without regard to case.
    for (const auto& c : children)
      if (equal_ignoring_ascii_case(c->name, *name)) return std::make_shared<FolderServer>(store_, *c);
    fail(member, "no folder named \"" + *name + "\"");
  }
  const auto i = index.int32_value();
  if (!i) throw AutomationError(AutomationError::Code::kBadArgument, member, "argument 1 must be an index or a name");
  if (*i < 1 || static_cast<std::size_t>(*i) > children.size()) {
    throw AutomationError(AutomationError::Code::kBadArgument, member,
                          "index " + std::to_string(*i) + " is outside 1.." + std::to_string(children.size()));
  }
  return std::make_shared<FolderServer>(store_, *children[static_cast<std::size_t>(*i) - 1]);
}

Variant FolderCollectionServer::invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  return guarded_call(member, [&]() -> Variant { return Invoke(member, kind, arguments); });
}

Variant FolderCollectionServer::Invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  switch (member) {
    case dispid::kCount:
      if (kind == InvokeKind::kGet) return static_cast<std::int32_t>(parent_->children.size());
      break;
    case dispid::kItem:
      if (kind == InvokeKind::kMethod || kind == InvokeKind::kGet) {
        require_argument_count(member, arguments, 1, 1);
        return FolderAt(member, arguments[0]);
      }
      break;
    case dispid::kGetLast:
      if (kind == InvokeKind::kMethod) {
        require_argument_count(member, arguments, 0, 0);
        if (parent_->children.empty()) fail(member, "the folder has no subfolders");
        return std::make_shared<FolderServer>(store_, *parent_->children.back());
      }
      break;
    case dispid::kAddFolder:
      if (kind == InvokeKind::kMethod) {
        require_argument_count(member, arguments, 1, 2);
        const std::string& name = string_argument(member, arguments, 0);
        if (name.empty()) throw AutomationError(AutomationError::Code::kBadArgument, member, "a folder needs a name");
        // Without a class the new folder takes its parent's, as in Outlook.
        std::string container_class = parent_->container_class;
        if (const Variant* type = optional_argument(arguments, 1)) {
          if (const std::string* s = type->string_value()) {
            container_class = *s;
          } else if (auto n = type->int32_value(); n && class_of_folder_type(*n)) {
            container_class = *class_of_folder_type(*n);
          } else {
            throw AutomationError(AutomationError::Code::kBadArgument, member, "argument 2 must be a folder class");
          }
        }
        // Names differing only in case are allowed here (Outlook refuses them): a source
        // mailbox can hold both, and each keeps its own items.
        for (const auto& c : parent_->children)
          if (c->name == name) fail(member, "a folder named \"" + name + "\" already exists");
        return std::make_shared<FolderServer>(store_, store_->AddFolder(*parent_, name, container_class));
      }
      break;
    default: break;
  }
  throw_unknown_member(member, kind);
}

Variant StoreRootsServer::invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  const auto stores = open_store_files();
  switch (member) {
    case dispid::kCount:
      if (kind == InvokeKind::kGet) return static_cast<std::int32_t>(stores.size());
      break;
    case dispid::kItem:
      if (kind == InvokeKind::kMethod || kind == InvokeKind::kGet) {
        require_argument_count(member, arguments, 1, 1);
        if (const std::string* name = arguments[0].string_value()) {
          for (const auto& s : stores)
            if (equal_ignoring_ascii_case(s->display_name(), *name)) return std::make_shared<FolderServer>(s, s->root());
          fail(member, "no store named \"" + *name + "\"");
        }
        const std::int32_t i = int32_argument(member, arguments, 0);
        if (i < 1 || static_cast<std::size_t>(i) > stores.size()) {
          throw AutomationError(AutomationError::Code::kBadArgument, member,
                                "index " + std::to_string(i) + " is outside 1.." + std::to_string(stores.size()));
        }
        const auto& s = stores[static_cast<std::size_t>(i) - 1];
        return std::make_shared<FolderServer>(s, s->root());
      }
      break;
    case dispid::kGetLast:
      if (kind == InvokeKind::kMethod) {
        require_argument_count(member, arguments, 0, 0);
        if (stores.empty()) fail(member, "no store has been added");
        return std::make_shared<FolderServer>(stores.back(), stores.back()->root());
      }
      break;
    default: break;
  }
  throw_unknown_member(member, kind);
}

}  // namespace salvora::store
