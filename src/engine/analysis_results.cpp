#include "engine/analysis_results.h"

namespace salvora {

int OpenFromStoreInfo(OstContext& context, const StoreInfo& info) {
  // Read-only under the shared lock every reader of a source takes: the preview reads single
  // objects beside other readers, but not from a file another program is writing.
  if (!context.file.Open(info.path, CFile64::Access::kReadOnly, CFile64::Lock::kShared, &context.open_error)) {
    return -1;
  }
  context.header = info.header;
  context.geometry = info.geometry;
  context.file_size = info.file_size;
  context.bbt_leaf_depth = info.bbt_leaf_depth;
  context.nbt_leaf_depth = info.nbt_leaf_depth;
  context.default_codepage = info.default_codepage;
  if (info.blocks) context.blocks = info.blocks;
  if (info.nodes) context.nodes = info.nodes;
  context.named_properties = info.named_properties;
  return 0;
}

const char* counter_key(AnalysisCounter counter) {
  switch (counter) {
    case AnalysisCounter::kInbox: return "inbox";
    case AnalysisCounter::kDrafts: return "drafts";
    case AnalysisCounter::kOutbox: return "outbox";
    case AnalysisCounter::kSentItems: return "sent_items";
    case AnalysisCounter::kSyncIssues: return "sync_issues";
    case AnalysisCounter::kDeletedItems: return "deleted_items";
    case AnalysisCounter::kJunkEmail: return "junk_email";
    case AnalysisCounter::kContacts: return "contacts";
    case AnalysisCounter::kTasks: return "tasks";
    case AnalysisCounter::kNotes: return "notes";
    case AnalysisCounter::kJournal: return "journal";
    case AnalysisCounter::kCalendar: return "calendar";
    case AnalysisCounter::kCount: break;
  }
  return "";
}

}  // namespace salvora
