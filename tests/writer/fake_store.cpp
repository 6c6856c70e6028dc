#include "writer/fake_store.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "automation/byte_stream.h"
#include "automation/member_ids.h"

namespace salvora::testing {

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string read_stream(ByteStream& stream) {
  std::string out;
  std::uint8_t buf[4096];
  for (std::size_t n; (n = stream.read(buf)) > 0;) out.append(reinterpret_cast<const char*>(buf), n);
  return out;
}

// A header or attachment handed over as a stream or as a file path.
std::string read_argument(const FakeStore& store, MemberId member, Arguments a) {
  if (auto stream = byte_stream_of(a[0])) {
    if (store.paths_only) throw AutomationError(AutomationError::Code::kBadArgument, member, "argument 1 must be a path");
    return read_stream(*stream);
  }
  return read_file(string_argument(member, a, 0));
}

std::string show(const Variant& v) {
  if (const std::string* s = v.string_value()) return *s;
  if (auto i = v.int32_value()) return std::to_string(*i);
  if (v.is_missing()) return "missing";
  if (v.is_empty()) return "empty";
  if (v.dispatch_value()) return "object";
  return type_name(v.type()).data();
}

class FakeAttachmentObject : public Dispatch {
 public:
  explicit FakeAttachmentObject(std::shared_ptr<AccessedProperties> accessed) : accessed_(std::move(accessed)) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments) override {
    if (member == dispid::kPropertyAccessor && kind == InvokeKind::kGet) return Variant(std::make_shared<FakeAccessor>(accessed_));
    throw_unknown_member(member, kind);
  }

 private:
  std::shared_ptr<AccessedProperties> accessed_;
};

class FakeRecipientObject : public Dispatch {
 public:
  explicit FakeRecipientObject(std::shared_ptr<FakeRecipient> r) : r_(std::move(r)) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments a) override {
    if (member == dispid::kPropertyAccessor && kind == InvokeKind::kGet) return Variant(std::make_shared<FakeAccessor>(r_->accessed));
    if (member == dispid::kRecipientType && kind == InvokeKind::kPut) {
      r_->type = int32_argument(member, a, 0);
      return Variant();
    }
    throw_unknown_member(member, kind);
  }

 private:
  std::shared_ptr<FakeRecipient> r_;
};

class FakeRecipients : public Dispatch {
 public:
  explicit FakeRecipients(std::shared_ptr<FakeItem> item) : item_(std::move(item)) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments a) override {
    auto& list = item_->recipients;
    switch (member) {
      case dispid::kCount: return Variant(static_cast<std::int32_t>(list.size()));
      case dispid::kRemove: {
        const std::int32_t i = int32_argument(member, a, 0);
        list.erase(list.begin() + (i - 1));
        return Variant();
      }
      case dispid::kAddRecipient: {
        auto r = std::make_shared<FakeRecipient>();
        r->name = string_argument(member, a, 0);
        list.push_back(r);
        return Variant(std::make_shared<FakeRecipientObject>(r));
      }
      default: throw_unknown_member(member, kind);
    }
  }

 private:
  std::shared_ptr<FakeItem> item_;
};

class FakeAttachments : public Dispatch {
 public:
  explicit FakeAttachments(std::shared_ptr<FakeItem> item) : item_(std::move(item)) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments a) override {
    if (member != dispid::kAddAttachment || kind != InvokeKind::kMethod) throw_unknown_member(member, kind);
    require_argument_count(member, a, 1, 4);
    FakeAttachment att;
    if (auto object = a[0].dispatch_value(); object && !byte_stream_of(a[0])) {
      att.item = std::dynamic_pointer_cast<FakeItem>(object);
    } else {
      if (const std::string* path = a[0].string_value()) att.path = *path;
      att.bytes = read_argument(item_->store_, member, a);
    }
    if (a.size() > 1) att.type = a[1];
    if (a.size() > 3) att.display_name = a[3];
    if (const std::string* name = att.display_name.string_value(); name && *name == item_->store_.refuse_attachment)
      throw AutomationError(AutomationError::Code::kFailed, member, "the store refused the attachment");
    item_->store_.calls.push_back("AddAttachment(" + show(att.type) + "," + show(att.display_name) + ")");
    auto accessor = std::make_shared<FakeAttachmentObject>(att.accessed);
    item_->attachments.push_back(std::move(att));
    return Variant(accessor);
  }

 private:
  std::shared_ptr<FakeItem> item_;
};

class FakeNamespace;

class FakeRootFolders : public Dispatch {
 public:
  explicit FakeRootFolders(FakeStore& store) : store_(store) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments) override {
    if (member == dispid::kGetLast && kind == InvokeKind::kMethod) return Variant(store_.root);
    throw_unknown_member(member, kind);
  }

 private:
  FakeStore& store_;
};

class FakeNamespace : public Dispatch {
 public:
  explicit FakeNamespace(FakeStore& store) : store_(store) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments a) override {
    switch (member) {
      case dispid::kLogon:
        store_.calls.push_back("Logon");
        if (store_.refuse_logon) throw AutomationError(AutomationError::Code::kFailed, member, "no profile");
        return Variant();
      case dispid::kAddStore: {
        const std::string path = string_argument(member, a, 0);
        store_.calls.push_back("AddStore(" + path + ")");
        if (store_.refuse_add_store) throw AutomationError(AutomationError::Code::kFailed, member, "cannot create");
        if (store_.refuse_add_store_once) {
          store_.refuse_add_store_once = false;
          throw AutomationError(AutomationError::Code::kFailed, member, "cannot create");
        }
        // As the store server does: a name whose scratch file is there is someone else's.
        std::error_code ec;
        if (std::filesystem::symlink_status(path + ".partial", ec).type() != std::filesystem::file_type::not_found)
          throw AutomationError(AutomationError::Code::kNameTaken, member, path + ".partial: the name is taken");
        store_.added_store_paths.push_back(path);
        return Variant();
      }
      case dispid::kFolders:
        return Variant(std::make_shared<FakeRootFolders>(store_));
      case dispid::kGetItemFromID: {
        const std::string id = string_argument(member, a, 0);
        store_.calls.push_back("GetItemFromID");
        for (auto& item : store_.created) {
          if (item->entry_id == id) return Variant(item);
        }
        throw AutomationError(AutomationError::Code::kFailed, member, "no such item");
      }
      default:
        throw_unknown_member(member, kind);
    }
  }

 private:
  FakeStore& store_;
};

class FakeApplication : public Dispatch {
 public:
  explicit FakeApplication(FakeStore& store) : store_(store) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments a) override {
    switch (member) {
      case dispid::kCreateItem: {
        const std::int32_t type = int32_argument(member, a, 0);
        store_.calls.push_back("CreateItem(" + std::to_string(type) + ")");
        auto item = std::make_shared<FakeItem>(type, store_);
        store_.created.push_back(item);
        return Variant(item);
      }
      case dispid::kGetNamespace:
        return Variant(std::make_shared<FakeNamespace>(store_));
      case dispid::kVersion:
        return Variant(store_.version);
      default:
        throw_unknown_member(member, kind);
    }
  }

 private:
  FakeStore& store_;
};

class FakeSafeMailItem : public Dispatch {
 public:
  explicit FakeSafeMailItem(FakeStore& store) : store_(store) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments a) override {
    switch (member) {
      case dispid::kSafeItem:
        store_.wrapped = std::dynamic_pointer_cast<FakeItem>(a.empty() ? nullptr : a[0].dispatch_value());
        return Variant();
      case dispid::kImport: {
        const std::string text = read_argument(store_, member, a);
        store_.calls.push_back("Import(" + show(a[1]) + ")");
        if (store_.wrapped) store_.wrapped->imported_header = text;
        return Variant();
      }
      case dispid::kSafeFields:
        store_.calls.push_back("SafeFields(" + show(a[0]) + "," + show(a[1]) + ")");
        return Variant();
      default:
        throw_unknown_member(member, kind);
    }
  }

 private:
  FakeStore& store_;
};

}  // namespace

std::string FakeItem::text(MemberId member) const {
  auto it = props.find(member);
  if (it == props.end() || !it->second.string_value()) return {};
  return *it->second.string_value();
}

Variant FakeAccessor::invoke(MemberId member, InvokeKind kind, Arguments a) {
  if (member == dispid::kDeleteProperty && kind == InvokeKind::kMethod) {
    into_->erase(*a[0].string_value());
    return Variant();
  }
  if (member == dispid::kDeleteProperties && kind == InvokeKind::kMethod) {
    for (const auto& n : *a[0].array_value()) into_->erase(*n.string_value());
    return Variant();
  }
  if (member != dispid::kSetProperties || kind != InvokeKind::kMethod) throw_unknown_member(member, kind);
  const auto* names = a[0].array_value();
  const auto* values = a[1].array_value();
  std::vector<Variant> errors;
  for (std::size_t i = 0; i < names->size(); ++i) {
    (*into_)[*(*names)[i].string_value()] = (*values)[i];
    errors.emplace_back();
  }
  return Variant::Array(std::move(errors));
}

Variant FakeItem::invoke(MemberId member, InvokeKind kind, Arguments a) {
  if (kind == InvokeKind::kPut) {
    require_argument_count(member, a, 1, 1);
    props[member] = a[0];
    puts.emplace_back(member, a[0]);
    return Variant();
  }
  switch (member) {
    case dispid::kSave:
      if (store_.full) throw AutomationError(AutomationError::Code::kFailed, member, "the disk is full");
      ended_with.push_back("Save");
      store_.calls.push_back("Save");
      if (hidden_in) {
        folder = hidden_in;
        hidden_in->hidden_items.push_back(shared_from_this());
        if (store_.on_move) store_.on_move();
      }
      return Variant();
    case dispid::kClose:
      ended_with.push_back("Close(" + std::to_string(int32_argument(member, a, 0)) + ")");
      return Variant();
    case dispid::kDelete:
      ended_with.push_back("Delete");
      store_.calls.push_back("Delete");
      return Variant();
    case dispid::kEntryID:
      if (entry_id.empty()) entry_id = "id" + std::to_string(++store_.entry_ids);
      return Variant(entry_id);
    case dispid::kCopy: {
      store_.calls.push_back("Copy");
      auto copy = std::make_shared<FakeItem>(type_, store_);
      copy->props = props;
      store_.created.push_back(copy);
      return Variant(copy);
    }
    case dispid::kMove: {
      auto target = std::dynamic_pointer_cast<FakeFolder>(dispatch_argument(member, a, 0));
      if (!target) throw AutomationError(AutomationError::Code::kBadArgument, member, "not a folder");
      if (store_.full) throw AutomationError(AutomationError::Code::kFailed, member, "the disk is full");
      ended_with.push_back("Move");
      store_.calls.push_back("Move(" + target->name + ")");
      folder = target.get();
      target->items.push_back(shared_from_this());
      if (store_.on_move) store_.on_move();
      return Variant(shared_from_this());
    }
    case dispid::kAttachments:
      return Variant(std::make_shared<FakeAttachments>(shared_from_this()));
    case dispid::kRecipients:
      return Variant(std::make_shared<FakeRecipients>(shared_from_this()));
    case dispid::kPropertyAccessor:
      return Variant(std::make_shared<FakeAccessor>(accessed));
    default:
      if (kind == InvokeKind::kGet && props.count(member)) return props[member];
      throw_unknown_member(member, kind);
  }
}

Variant FakeFolders::invoke(MemberId member, InvokeKind kind, Arguments a) {
  switch (member) {
    case dispid::kCount:
      return Variant(static_cast<std::int32_t>(folders.size()));
    case dispid::kItem: {
      const std::int32_t i = int32_argument(member, a, 0);
      if (i < 1 || i > static_cast<std::int32_t>(folders.size())) {
        throw AutomationError(AutomationError::Code::kBadArgument, member, "index out of range");
      }
      return Variant(folders[static_cast<std::size_t>(i - 1)]);
    }
    case dispid::kAddFolder: {
      const std::string name = string_argument(member, a, 0);
      const std::string cls = string_argument(member, a, 1);
      store_.calls.push_back("AddFolder(" + name + "," + cls + ")");
      if (store_.full) throw AutomationError(AutomationError::Code::kFailed, member, "the disk is full");
      auto f = std::make_shared<FakeFolder>(store_, name, cls);
      folders.push_back(f);
      return store_.add_returns_folder ? Variant(f) : Variant();
    }
    default:
      throw_unknown_member(member, kind);
  }
}

FakeFolder::FakeFolder(FakeStore& store, std::string n, std::string cls)
    : name(std::move(n)), folder_class(std::move(cls)), children(std::make_shared<FakeFolders>(store, this)), store_(store) {}

Variant FakeFolder::invoke(MemberId member, InvokeKind kind, Arguments a) {
  switch (member) {
    case dispid::kName:
      if (kind == InvokeKind::kPut) {
        name = string_argument(member, a, 0);
        return Variant();
      }
      return Variant(name);
    case dispid::kDescription:
      description = string_argument(member, a, 0);
      return Variant();
    case dispid::kFolders:
      return Variant(children);
    case dispid::kPropertyAccessor:
      return Variant(std::make_shared<FakeAccessor>(accessed));
    case dispid::kGetStorage: {
      auto item = std::make_shared<FakeItem>(kItemNote, store_);
      item->hidden_in = this;
      item->props[dispid::kMessageClass] = a[0];
      store_.created.push_back(item);
      store_.calls.push_back("GetStorage(" + show(a[0]) + ")");
      return Variant(item);
    }
    default:
      throw_unknown_member(member, kind);
  }
}

FakeFolder* FakeFolder::child(const std::string& n) const {
  for (auto& f : children->folders) {
    if (f->name == n) return f.get();
  }
  return nullptr;
}

FakeStore::FakeStore() : root(std::make_shared<FakeFolder>(*this, "Top of Personal Folders", "")) {}

void FakeStore::RegisterWith(ObjectFactory& factory) {
  factory.Register(kOutlookApplication, [this] { return std::make_shared<FakeApplication>(*this); });
  factory.Register(kSafeMailItem, [this] { return std::make_shared<FakeSafeMailItem>(*this); });
}

FakeFolder* FakeStore::folder(const std::string& slash_path) const {
  FakeFolder* f = root.get();
  std::size_t start = 0;
  while (f && start < slash_path.size()) {
    std::size_t end = slash_path.find('/', start);
    if (end == std::string::npos) end = slash_path.size();
    f = f->child(slash_path.substr(start, end - start));
    start = end + 1;
  }
  return f;
}

std::vector<std::shared_ptr<FakeItem>> FakeStore::stored_items() const {
  std::vector<std::shared_ptr<FakeItem>> out;
  for (auto& i : created) {
    if (i->folder) out.push_back(i);
  }
  return out;
}

int FakeStore::count_calls(const std::string& prefix) const {
  int n = 0;
  for (auto& c : calls) n += c.rfind(prefix, 0) == 0 ? 1 : 0;
  return n;
}

}  // namespace salvora::testing
