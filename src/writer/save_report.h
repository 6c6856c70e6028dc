#pragma once
// The recovery report of one save, written once its PST is closed: by the command line after
// each convert and by the wizard after each save. Also names the page in "RPTFile", which the
// wizard's View Report opens.

#include <string>
#include <vector>

#include "writer/recovery_report.h"
#include "writer/save_pass.h"

namespace salvora {

// How the pass ended, as the caller saw it once the store was closed.
struct SaveEnding {
  SaveOutcome outcome;
  std::string close_error;  // the store could not be completed
  long long not_written = 0;  // items the store refused or a failed commit lost
  // The files the store was written as, when its path alone does not name them (one store in
  // several forms); the report names each.
  std::vector<std::string> outputs = {};
};

// The report of the pass that filled progress; its totals are those convert prints.
RecoveryReport ReportOfSave(const SaveProgress& progress, const SaveEnding& ending);

struct WrittenReport {
  std::string page;   // the page written, empty when none was
  std::string json;   // the JSON written, empty when none was
  std::string error;  // what failed, empty when both were written
};

// Writes the page beside the PST and the JSON to json_path (empty: beside the PST), then names
// the page in "RPTFile". Writes nothing when the pass made no PST.
WrittenReport WriteSaveReport(const SaveProgress& progress, const SaveEnding& ending, std::string json_path = {});

}  // namespace salvora
