#pragma once
// Reading one item again after the analysis, for its preview: the lists keep only what they
// show, so the body, HTML and text come back from the file by NID, through a read-only context
// that reuses the analysis's indexes instead of walking the B-trees again.

#include <memory>

#include "content/item_record.h"
#include "engine/analysis_results.h"
#include "engine/source_object.h"

namespace salvora {

// The item's full record, or null when the file cannot be opened again or the node is gone.
// Safe to call from any thread while no pass writes the same StoreInfo. With `source`, every
// property the object has is kept there as well (the fields the record has no place for: a
// task's due date, an appointment's recurrence, a note's colour).
std::unique_ptr<ItemRecord> ReloadItem(const StoreInfo& store, Nid nid, SourceObject* source = nullptr);

}  // namespace salvora
