// Fuzz target: the file header in any layout, parsed from memory, and the geometry it selects.
#include <cstddef>
#include <cstdint>

#include "fuzz_checks.h"
#include "ndb/store_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvora;
  const StoreHeader h = StoreHeader::Parse(Bytes(data, size));
  const PageGeometry g = geometry_for(h.layout);
  // The geometry must describe pages that hold at least one entry, or a walk would spin.
  fuzz::require(h.layout == FileLayout::kUnknown ||
                (g.page_size != 0 && g.bt_entry_size != 0 && g.entry_area >= g.bt_entry_size));
  (void)layout_name(h.layout);
  (void)layout_for_version(h.version);
  return 0;
}
