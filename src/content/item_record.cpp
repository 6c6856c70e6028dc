#include "content/item_record.h"

namespace salvora {

int release_item(ItemRecord* record) {
  if (record != nullptr) *record = ItemRecord{};
  return 0;
}

}  // namespace salvora
