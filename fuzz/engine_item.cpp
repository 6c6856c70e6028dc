// Fuzz target: the engine over a whole file image: indexes, the named-property map, the store
// object and its root folder, then LoadItem on every node (up to a bound), attachments included.
#include <cstddef>
#include <cstdint>

#include "engine/folder_hierarchy.h"
#include "engine/named_map_loader.h"
#include "engine/object_loader.h"
#include "file_image.h"
#include "fuzz_checks.h"

namespace {
constexpr std::size_t kMaxItems = 128;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvora;
  fuzz::FileImage& image = fuzz::SharedImage();
  if (!image.Write(data, size)) return 0;
  OstContext ctx;
  if (OpenStore(ctx, image.path()) != 0) return 0;
  try {
    LoadBlockIndex(ctx);
    LoadNodeIndex(ctx);
    LoadNamedPropertyMap(ctx);
    const auto store = LoadItem(ctx, FindNode(ctx, kNidMessageStore));
    (void)FindRootFolder(ctx, store.get());
    std::size_t n = 0;
    for (const NodeRecord& node : ctx.nodes->nodes()) {
      if (++n > kMaxItems) break;
      const auto item = LoadItem(ctx, &node);
      if (item) {
        (void)is_folder(*item);
        fuzz::require(fuzz::valid_utf8(item->display_name.value_or("")));
        (void)is_mail_folder(*item);
      }
    }
  } catch (const CFileException&) {
    // The documented way for file I/O to fail; never for the bytes read.
  }
  return 0;
}
