#include "engine/item_reload.h"

#include "engine/object_loader.h"

namespace salvora {

std::unique_ptr<ItemRecord> ReloadItem(const StoreInfo& store, Nid nid, SourceObject* source) {
  OstContext ctx;
  if (OpenFromStoreInfo(ctx, store) != 0) return nullptr;
  try {
    return LoadItem(ctx, FindNode(ctx, nid), AttachmentLoad::kObjects, source);
  } catch (const CFileException&) {
    return nullptr;  // the file changed or went away since the analysis
  }
}

}  // namespace salvora
