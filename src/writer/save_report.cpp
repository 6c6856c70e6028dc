#include "writer/save_report.h"

#include <chrono>
#include <filesystem>

#include "platform/settings.h"

namespace salvora {

namespace {

std::int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void set_outcome(RecoveryReport& r, const SaveProgress& progress, const SaveEnding& ending) {
  const bool lost_some = progress.unreadable_count() > 0 || progress.dropped_property_count() > 0;
  switch (ending.outcome.status) {
    case SaveStatus::kCompleted:
      if (ending.not_written > 0) {
        r.outcome = "completed with losses";
        r.outcome_detail = std::to_string(ending.not_written) + " items could not be written: " +
                           (progress.first_store_error().empty() ? ending.close_error : progress.first_store_error());
      } else if (!ending.close_error.empty()) {
        r.outcome = "failed";
        r.outcome_detail = "the PST could not be completed: " + ending.close_error;
      } else {
        r.outcome = lost_some ? "completed with losses" : "completed";
      }
      return;
    case SaveStatus::kStopped:
      r.outcome = "stopped";
      r.outcome_detail = "the PST holds what was saved before the stop";
      return;
    default:
      r.outcome = "failed";
      r.outcome_detail = ending.outcome.error;
  }
}

}  // namespace

RecoveryReport ReportOfSave(const SaveProgress& progress, const SaveEnding& ending) {
  RecoveryReport r;
  const RecoveryLedger& ledger = progress.ledger();
  r.source_path = ledger.source_path();
  std::error_code ec;
  const auto size = std::filesystem::file_size(r.source_path, ec);
  r.source_size = ec ? 0 : size;
  r.source_format = ledger.source_format();
  r.destination = progress.store_path();
  if (!ending.outputs.empty()) {
    r.destination.clear();
    for (const auto& output : ending.outputs) r.destination += (r.destination.empty() ? "" : ", ") + output;
  }
  r.started = ledger.started();
  r.ended = now_ms();
  set_outcome(r, progress, ending);
  for (int c = 0; c < static_cast<int>(SaveCounter::kCount); ++c) {
    r.totals.emplace_back(save_counter_key(static_cast<SaveCounter>(c)), progress.counter(static_cast<SaveCounter>(c)));
  }
  r.totals.emplace_back("objects", progress.items_saved.load());
  r.totals.emplace_back("deleted_recovered", progress.deleted_recovered.load());
  r.totals.emplace_back("unreadable", progress.unreadable_count());
  r.totals.emplace_back("properties_dropped", progress.dropped_property_count());
  r.totals.emplace_back("not_written", ending.not_written);
  r.folders = ledger.folders();
  return r;
}

WrittenReport WriteSaveReport(const SaveProgress& progress, const SaveEnding& ending, std::string json_path) {
  WrittenReport out;
  const std::string store = progress.store_path();
  if (store.empty()) return out;
  const RecoveryReport report = ReportOfSave(progress, ending);
  if (json_path.empty()) {
    json_path = report_json_path(store);
  } else if (const auto parent = std::filesystem::path(json_path).parent_path(); !parent.empty()) {
    std::error_code ignored;  // a folder that cannot be made fails the write below, which says so
    std::filesystem::create_directories(parent, ignored);
  }
  const std::string page = report_page_path(store);
  if (std::string e = write_private_file(page, report_html(report)); !e.empty()) {
    out.error = page + ": " + e;
  } else {
    out.page = page;
    // A path past the settings' limit is not stored: View Report then stays with the last one.
    SettingsStore(SettingsStore::DefaultFile()).Write(kReportFileValue, page);
  }
  if (std::string e = write_private_file(json_path, report_json(report)); !e.empty()) {
    if (out.error.empty()) out.error = json_path + ": " + e;
  } else {
    out.json = json_path;
  }
  return out;
}

}  // namespace salvora
