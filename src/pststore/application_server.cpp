#include "pststore/application_server.h"

#include <algorithm>

#include "automation/member_ids.h"
#include "pststore/call_guard.h"
#include "pststore/folder_server.h"
#include "pststore/item_server.h"

namespace salvora::store {


NamespaceServer::~NamespaceServer() {
  for (const auto& s : added_) {
    try {
      if (s->is_open()) s->Commit();
    } catch (...) {
      // The file keeps its last checkpoint; a destructor has no one to tell.
    }
  }
}

Variant NamespaceServer::invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  return guarded_call(member, [&]() -> Variant {
    switch (member) {
      case dispid::kLogon:
        if (kind == InvokeKind::kMethod) {
          require_argument_count(member, arguments, 0, 4);
          return {};
        }
        break;
      case dispid::kAddStore:
        if (kind == InvokeKind::kMethod) {
          require_argument_count(member, arguments, 1, 1);
          StoreFilePtr store = open_store_file(string_argument(member, arguments, 0));
          if (std::find(added_.begin(), added_.end(), store) == added_.end()) added_.push_back(store);
          return {};
        }
        break;
      case dispid::kFolders:
        if (kind == InvokeKind::kGet) return std::make_shared<StoreRootsServer>();
        break;
      case dispid::kGetItemFromID:
        if (kind == InvokeKind::kMethod) {
          require_argument_count(member, arguments, 1, 2);
          const std::string& entry_id = string_argument(member, arguments, 0);
          auto item = find_item(entry_id);
          if (!item) throw AutomationError(AutomationError::Code::kFailed, member, "no item has the entry id " + entry_id);
          return std::make_shared<ItemServer>(std::move(item));
        }
        break;
      default: break;
    }
    throw_unknown_member(member, kind);
  });
}

Variant ApplicationServer::invoke(MemberId member, InvokeKind kind, Arguments arguments) {
  return guarded_call(member, [&]() -> Variant {
    switch (member) {
      case dispid::kCreateItem:
        if (kind == InvokeKind::kMethod) {
          require_argument_count(member, arguments, 1, 1);
          const std::int32_t type = int32_argument(member, arguments, 0);
          const auto item_kind = item_kind_of_type(type);
          if (!item_kind) {
            throw AutomationError(AutomationError::Code::kBadArgument, member,
                                  "no item type " + std::to_string(type));
          }
          return std::make_shared<ItemServer>(new_item(*item_kind));
        }
        break;
      case dispid::kGetNamespace:
        if (kind == InvokeKind::kMethod) {
          require_argument_count(member, arguments, 1, 1);
          const std::string& name = string_argument(member, arguments, 0);
          if (name != "MAPI") {
            throw AutomationError(AutomationError::Code::kBadArgument, member, "no namespace \"" + name + "\"");
          }
          if (!namespace_) namespace_ = std::make_shared<NamespaceServer>();
          return namespace_;
        }
        break;
      case dispid::kVersion:
        if (kind == InvokeKind::kGet) return kStoreServerVersion;
        break;
      default: break;
    }
    throw_unknown_member(member, kind);
  });
}

}  // namespace salvora::store
