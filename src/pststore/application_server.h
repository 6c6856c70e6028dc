#pragma once
// The store server's entry points, standing in for Outlook's application and its "MAPI"
// namespace.
//
// ApplicationServer ("Outlook.Application"): CreateItem (0 mail, 1 appointment, 2 contact,
// 3 task, 4 journal, 5 note), GetNamespace("MAPI"), Version (kStoreServerVersion).
// NamespaceServer: Logon (accepted, nothing to log on to), AddStore (creates the PST, or finds
// the store of that path already open in this process), Folders (one root per store),
// GetItemFromID (items this process still holds).
//
// Releasing a namespace commits the stores it added, so what a save wrote is on disk when the
// save lets go of its server.

#include <memory>
#include <string_view>
#include <vector>

#include "automation/dispatch.h"
#include "pststore/store_file.h"

namespace salvora::store {

// Begins with "12": the mail writer then imports every mail into a fresh copy of its template.
inline constexpr std::string_view kStoreServerVersion = "12.0.0.6423";

class NamespaceServer : public Dispatch {
 public:
  NamespaceServer() = default;
  ~NamespaceServer() override;
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

 private:
  std::vector<StoreFilePtr> added_;
};

class ApplicationServer : public Dispatch {
 public:
  Variant invoke(MemberId member, InvokeKind kind, Arguments arguments) override;

 private:
  std::shared_ptr<NamespaceServer> namespace_;
};

}  // namespace salvora::store
