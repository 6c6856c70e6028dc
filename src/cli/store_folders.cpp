#include "cli/store_folders.h"

#include <exception>

#include "engine/folder_hierarchy.h"
#include "engine/folder_walk.h"
#include "engine/named_map_loader.h"
#include "engine/object_loader.h"
#include "engine/store_audit.h"

namespace salvora::cli {

namespace {

// The save pass's walk, entering folders only: a folder is a node the pass would enter (a
// normal-folder node, or any object that carries folder counts), named by its display name.
class FolderCollector : public FolderWalkVisitor {
 public:
  explicit FolderCollector(const OstContext& ctx) : ctx_(ctx), path_(kRootFolderPath) {
    paths_.push_back(path_);
  }
  bool Visit(const NodeRecord& node) override {
    const auto type = node.nid.type();
    if (type == kNidTypeNormalMessage || type == kNidTypeAssocMessage) return false;
    std::unique_ptr<ItemRecord> record;
    try {
      record = LoadItem(ctx_, &node, AttachmentLoad::kListing);
    } catch (const std::exception&) {
      return false;  // the pass cannot enter it either
    }
    if (!record || !(record->folder_counts || type == kNidTypeNormalFolder)) return false;
    path_ = append_path_component(path_, record->display_name.value_or(""));
    paths_.push_back(path_);
    return true;
  }
  void Leave() override { path_ = remove_last_path_component(path_); }
  std::vector<std::string> take() { return std::move(paths_); }

 private:
  const OstContext& ctx_;
  std::string path_;
  std::vector<std::string> paths_;
};

}  // namespace

std::vector<std::string> StoreFolderPaths(OstContext& ctx) {
  if (ctx.nodes->size() == 0) {  // not yet loaded by the code page check
    LoadBlockIndex(ctx);
    LoadNodeIndex(ctx);
  }
  LoadNamedPropertyMap(ctx);
  // The root the save pass takes, also in a damaged store.
  const std::unique_ptr<ItemRecord> store_record = LoadStoreRecord(ctx);
  const NodeRecord* root = FindSalvageRoot(ctx, store_record.get());
  if (!root) return {};
  FolderCollector collector(ctx);
  PassControl control;
  WalkFolderTree(*root, control, collector);
  return collector.take();
}

}  // namespace salvora::cli
