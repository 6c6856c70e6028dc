#pragma once
// The analysis pass: reads the whole source once, reports every folder it finds and keeps the
// counters and item lists the recovery screen shows. It never touches widgets: it reports
// through an observer, on the worker thread that runs it.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/analysis_results.h"
#include "engine/object_loader.h"
#include "platform/pass_control.h"

namespace salvora {

// The texts of the pass's messages to the user.
inline constexpr std::string_view kMsgSourceInUse = "Selected Source File in use.";
inline constexpr std::string_view kMsgCannotReadInfo = "Cannot Read OST File Information";
inline constexpr std::string_view kMsgCannotSave = "Cannot Save File";
inline constexpr std::string_view kMsgCannotSearch = "Cannot Search Personal Folder";

class AnalysisObserver {
 public:
  virtual ~AnalysisObserver() = default;
  virtual void FolderFound(const salvora::FolderFound& /*folder*/) {}
  virtual void ProgressRange(std::int64_t /*maximum*/) {}
  virtual void ProgressPosition(std::int64_t /*position*/) {}
  virtual void CounterChanged(AnalysisCounter /*counter*/, int /*value*/) {}
  // A message for the user. ends_process: the wizard ends after showing it.
  virtual void Message(std::string_view /*text*/, bool /*ends_process*/) {}
  virtual void Completed() {}
};

enum class AnalysisStatus {
  kCompleted,       // the walk ran to its end (or an error ended it early): Save may follow
  kStopped,         // the stop flag ended the pass quietly
  kSourceInUse,     // the source could not be opened
  kCannotReadInfo,  // the indexes could not be read
  kCannotSave,      // no message-store object
  kCannotSearch,    // no mailbox root
};

struct AnalysisOptions {
  std::string source_path;
  std::uint32_t default_codepage = 1252;
  bool write_log = true;  // the activity log's step lines
  // How the walk loads each item. The lists need no bodies (kListing); a full load
  // (kTableOnly) gives the same lists, slower.
  AttachmentLoad item_load = AttachmentLoad::kListing;
  // The item lists are for the recovery screen; a caller that needs only the counts leaves
  // them empty, and memory no longer grows with every item's summary.
  bool keep_lists = true;
  // 2: a second thread loads a folder's items ahead of the walk, and the walk loads the next
  // one itself rather than wait for it; 1: the walk loads every item. The result is the same.
  int threads = 2;
  // An ANSI store's objects that name no code page are read in the one their strings read
  // best in, rather than default_codepage (engine/codepage_probe.h).
  bool choose_codepage = false;
};

AnalysisStatus RunAnalysis(const AnalysisOptions& options, PassControl& control, AnalysisObserver& observer,
                           AnalysisResult& result);

}  // namespace salvora
