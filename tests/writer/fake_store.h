#pragma once
// A store server for the writer's tests: answers the calls the writer makes, keeps what they
// set in memory, and records each call, so a test can check both the result and the road.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation/dispatch.h"
#include "automation/object_factory.h"

namespace salvora::testing {

class FakeFolder;
class FakeItem;

// What a PropertyAccessor was given: schema name to value, the last value winning.
using AccessedProperties = std::map<std::string, Variant>;

// A PropertyAccessor that keeps what it is given in a map of its object's.
class FakeAccessor : public Dispatch {
 public:
  explicit FakeAccessor(std::shared_ptr<AccessedProperties> into) : into_(std::move(into)) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

 private:
  std::shared_ptr<AccessedProperties> into_;
};

struct FakeRecipient {
  std::string name;
  std::int32_t type = 1;
  std::shared_ptr<AccessedProperties> accessed = std::make_shared<AccessedProperties>();
};

struct FakeAttachment {
  std::string path;          // the file passed, empty for an item or a stream
  std::string bytes;         // the file's or stream's content when Add was called
  Variant type;              // as passed
  Variant display_name;      // as passed
  std::shared_ptr<FakeItem> item;  // an attached item
  std::shared_ptr<AccessedProperties> accessed = std::make_shared<AccessedProperties>();
};

class FakeItem : public Dispatch, public std::enable_shared_from_this<FakeItem> {
 public:
  explicit FakeItem(std::int32_t type, class FakeStore& store) : type_(type), store_(store) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

  std::int32_t type_;
  std::map<MemberId, Variant> props;
  std::vector<std::pair<MemberId, Variant>> puts;  // every put, in order
  std::vector<FakeAttachment> attachments;
  std::vector<std::shared_ptr<FakeRecipient>> recipients;
  std::shared_ptr<AccessedProperties> accessed = std::make_shared<AccessedProperties>();
  FakeFolder* hidden_in = nullptr;  // a folder's hidden item from GetStorage
  std::string imported_header;  // what the import object read for this item
  std::vector<std::string> ended_with;  // "Save", "Close", "Move", "Delete"
  FakeFolder* folder = nullptr;
  std::string entry_id;
  FakeStore& store_;

  std::string text(MemberId member) const;
  bool has(MemberId member) const { return props.count(member) != 0; }
};

class FakeFolders : public Dispatch {
 public:
  FakeFolders(FakeStore& store, FakeFolder* owner) : store_(store), owner_(owner) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;
  std::vector<std::shared_ptr<FakeFolder>> folders;

 private:
  FakeStore& store_;
  FakeFolder* owner_;
};

class FakeFolder : public Dispatch {
 public:
  FakeFolder(FakeStore& store, std::string name, std::string folder_class);
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

  std::string name;
  std::string folder_class;
  std::string description;
  std::shared_ptr<FakeFolders> children;
  std::vector<std::shared_ptr<FakeItem>> items;
  std::vector<std::shared_ptr<FakeItem>> hidden_items;  // saved through GetStorage
  std::shared_ptr<AccessedProperties> accessed = std::make_shared<AccessedProperties>();
  FakeStore& store_;

  // The subfolder by name, or null.
  FakeFolder* child(const std::string& name) const;
};

class FakeStore {
 public:
  FakeStore();
  // Registers "Outlook.Application" and "Redemption.SafeMailItem" of this store.
  void RegisterWith(ObjectFactory& factory);

  std::string version = "12.0.0.4518";
  bool add_returns_folder = true;  // false: Add answers nothing, like an asynchronous store
  bool refuse_logon = false;
  bool refuse_add_store_once = false;
  bool refuse_add_store = false;  // every AddStore fails
  bool full = false;  // Save, Move and AddFolder fail, as on a full disk
  bool paths_only = false;  // Import and Attachments.Add refuse streams, as a store that reads files
  std::string refuse_attachment;  // Attachments.Add fails for an attachment of this display name
  std::vector<std::string> added_store_paths;
  std::vector<std::string> calls;  // "CreateItem(5)", "AddFolder(Inbox,IPF.Post)", "Copy", ...
  std::shared_ptr<FakeFolder> root;
  std::vector<std::shared_ptr<FakeItem>> created;
  std::shared_ptr<FakeItem> wrapped;  // the import object's item
  int entry_ids = 0;
  std::function<void()> on_move;  // called after each item is moved into a folder

  // The folder at a path of names below the root ("Inbox/Projects"), or null.
  FakeFolder* folder(const std::string& slash_path) const;
  // Items stored anywhere (moved into a folder).
  std::vector<std::shared_ptr<FakeItem>> stored_items() const;
  int count_calls(const std::string& prefix) const;
};

}  // namespace salvora::testing
