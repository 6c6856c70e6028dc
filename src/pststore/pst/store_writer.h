#pragma once
// StoreWriter: what a store file writes its folders and messages into. The PST writer is one;
// a store of another form (mbox and message files, say) is another, registered by the suffix
// of the paths it is for (store_file.h). The store server above it neither knows nor asks
// which one it drives.
//
// Folder ids are the writer's own; root_folder, ipm_subtree and deleted_items name folders that
// a new store has from the start. Errors are thrown; after one, failed() says whether the
// writer still takes work. Not thread-safe: the store file locks around every call.

#include <cstdint>
#include <string_view>

#include "pststore/pst/message_spec.h"
#include "pststore/pst/name_map.h"

namespace salvora::pst {

using FolderId = std::uint32_t;

class StoreWriter {
 public:
  virtual ~StoreWriter() = default;

  virtual FolderId root_folder() const = 0;
  virtual FolderId ipm_subtree() const = 0;
  virtual FolderId deleted_items() const = 0;

  virtual FolderId AddFolder(FolderId parent, std::string_view name, std::string_view container_class) = 0;
  virtual void SetFolderProperties(FolderId folder, const PropertyList& props) = 0;
  virtual void SetStoreProperties(const PropertyList& props) = 0;
  virtual void SetReceiveFolder(FolderId folder) = 0;
  virtual std::uint16_t RegisterName(const PropertyName& name) = 0;
  virtual std::uint32_t AddMessage(FolderId folder, MessageSpec message) = 0;
  virtual void Commit() = 0;
  virtual void Close() = 0;
  virtual bool failed() const = 0;
  // The size the store's file would have if committed now, for a split at a size limit; 0 for
  // a store that cannot tell (files written one by one), which is never split.
  virtual std::uint64_t projected_size() const { return 0; }
};

}  // namespace salvora::pst
