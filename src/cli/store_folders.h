#pragma once
// The folder paths of a store as the save pass names them ("Personal Folders\Inbox\"), read
// without the pass: only the folder objects are decoded. For checking a --folder before any
// PST is made.

#include <string>
#include <vector>

#include "ndb/ost_context.h"

namespace salvora::cli {

// The context must be open; its indexes are loaded here. Empty when the store has no
// mailbox root.
std::vector<std::string> StoreFolderPaths(OstContext& ctx);

}  // namespace salvora::cli
