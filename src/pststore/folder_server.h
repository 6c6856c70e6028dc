#pragma once
// The folders of a store behind the automation boundary.
//
// FolderServer: one folder (Name, Description, Folders, EntryID, PropertyAccessor, GetStorage). The folder a store's root
// stands for is its IPM subtree; its Name is the store's display name, and renaming it renames
// the store, as Outlook shows a personal store by its root.
// FolderCollectionServer: the subfolders of a folder, numbered from 1 in the order they were
// added, so the folder just added is Item(Count); Add creates one at once.
// StoreRootsServer: the namespace's Folders, one root per store open in this process, in the
// order the stores were last added; GetLast is the root of the store added last.
//
// The servers hold their store; folders live as long as it does.

#include <memory>

#include "automation/dispatch.h"
#include "pststore/store_file.h"

namespace salvora::store {

class FolderServer : public Dispatch {
 public:
  FolderServer(StoreFilePtr store, StoreFolder& folder) : store_(std::move(store)), folder_(&folder) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

  const StoreFilePtr& store() const { return store_; }
  StoreFolder& folder() const { return *folder_; }
  bool is_store_root() const { return folder_ == &store_->root(); }

 private:
  Variant Invoke(MemberId member, InvokeKind kind, Arguments arguments);
  DispatchPtr GetStorage(Arguments arguments);

  StoreFilePtr store_;
  StoreFolder* folder_;
};

class FolderCollectionServer : public Dispatch {
 public:
  FolderCollectionServer(StoreFilePtr store, StoreFolder& parent) : store_(std::move(store)), parent_(&parent) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

 private:
  Variant Invoke(MemberId member, InvokeKind kind, Arguments arguments);
  DispatchPtr FolderAt(MemberId member, const Variant& index) const;

  StoreFilePtr store_;
  StoreFolder* parent_;
};

// StoreServer: the message store behind a folder: its PropertyAccessor, SetReceiveFolder, and
// what its writer reads to own it: its size, its counts of messages committed and lost, and
// CloseStore, which commits and closes the file (after it, calls on the store's folders fail).
class StoreServer : public Dispatch {
 public:
  explicit StoreServer(StoreFilePtr store) : store_(std::move(store)) {}
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

 private:
  StoreFilePtr store_;
};

class StoreRootsServer : public Dispatch {
 public:
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;
};

// The folder behind a Dispatch of the boundary, or null when it is none of ours.
std::shared_ptr<FolderServer> folder_server_of(const DispatchPtr& object);

}  // namespace salvora::store
