#pragma once
// The losses of a damaged store that no single object's reading shows, so that every pass names
// the same ones for the same file: what the index loads rebuilt and lost, objects whose data
// block is missing, and rows of a folder's contents or hierarchy table whose object is gone.

#include <memory>
#include <string>
#include <vector>

#include "content/item_record.h"
#include "ndb/ost_context.h"

namespace salvora {

struct StoreAudit {
  std::vector<std::string> rebuilt;  // damage made good: told, but nothing is missing
  std::vector<std::string> lost;     // one line per loss
};

// Reads every folder's tables; call after the indexes are loaded.
StoreAudit AuditStore(const OstContext& context);
// The same in two steps, for a pass that reads the tables before its own work (while memory is
// low) and reports at its end: the losses the index and the tables show, then those lines after
// what the indexes' loading and the pass itself found.
std::vector<std::string> AuditNodes(const OstContext& context);
StoreAudit CompleteAudit(const OstContext& context, std::vector<std::string> node_losses);

// Why a store gave nothing to recover: "the node index could not be read or rebuilt: ...".
std::string NothingRecoverableCause(const OstContext& context);

// The message-store object: the first node of the root level in a well-formed file, else node
// 0x21 wherever a damaged index put it. Null when neither reads as one.
std::unique_ptr<ItemRecord> LoadStoreRecord(const OstContext& context);

}  // namespace salvora
