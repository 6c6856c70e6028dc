#pragma once
// The recovery report: what one save took from the source and what it could not, folder by
// folder, for the user and their IT department. The save pass fills a RecoveryLedger as it
// walks; once the PST is closed, the ledger and the pass's counters become a RecoveryReport,
// written beside the PST as a page to read (HTML without scripts or remote content) and as JSON.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace salvora {

class OstContext;

struct ReportLoss {
  std::uint32_t nid = 0;  // the object lost, 0 when the line names none
  std::string subject;    // its subject or name where it could be read, else empty
  std::string reason;     // what happened to it
};

struct ReportFolder {
  std::string path;  // "Personal Folders\Inbox\"; empty for what belongs to no folder
  std::int64_t source_items = 0;  // the messages the source's index lists below the folder itself
  std::int64_t saved = 0;         // items written into the PST, by the counters convert prints
  std::int64_t lost = 0;          // objects of the source lost or damaged
  std::int64_t properties_dropped = 0;
  std::int64_t deleted_recovered = 0;
  std::vector<ReportLoss> losses;  // the first kMaxListed of lost
  std::vector<std::string> dropped;  // the first kMaxListed of properties_dropped
};

// Filled by the save worker while the pass runs; read once the pass has ended. Loss lines
// arrive in the pass's own words ("Personal Folders\Inbox\: item 2097188 could not be read",
// "folder 8354: message 2097220 is listed in its contents table but ..."): each is placed in
// its folder and its object named by node id. Thread-safe.
class RecoveryLedger {
 public:
  static constexpr std::size_t kMaxListed = 1000;  // per folder; every loss is still counted
  // Subjects looked up for lost items at the end of a pass: reading one costs an item's load.
  static constexpr std::size_t kMaxSubjectLookups = 2000;

  // The pass has opened its source: the report's start.
  void Begin(std::string source_path, std::string source_format);
  void EnterFolder(std::string_view path, std::uint32_t nid, std::int64_t source_items);
  void ItemSaved(std::string_view path);
  void DeletedRecovered(std::string_view path);
  void Loss(std::string_view line);
  void DroppedProperty(std::string_view line);
  // While the source is still open: the folders of losses named only by node and the subjects
  // of lost items that can still be read.
  void Resolve(const OstContext& context);

  std::string source_path() const;
  std::string source_format() const;
  std::int64_t started() const;  // milliseconds since the epoch; 0 before Begin
  // Every folder met, in the order the walk met it, then the losses of no folder (path empty)
  // when there are any.
  std::vector<ReportFolder> folders() const;

 private:
  ReportFolder& folder(std::string_view path);
  void add_loss(ReportFolder& f, ReportLoss loss);

  mutable std::mutex mutex_;
  std::string source_path_;
  std::string source_format_;
  std::int64_t started_ = 0;
  std::vector<ReportFolder> folders_;
  std::unordered_map<std::string, std::size_t> by_path_;
  std::unordered_map<std::uint32_t, std::string> folder_paths_;  // by the folder's node id
  // Losses whose folder only the source's index can tell (an audit's "message N: ..."); the
  // node to ask is the loss's, or for a folder's own table line the folder's.
  std::vector<std::pair<std::uint32_t, ReportLoss>> unplaced_;
};

struct RecoveryReport {
  std::string source_path;
  std::uint64_t source_size = 0;
  std::string source_format;  // "OST, unicode-4k, version 36"
  std::string destination;    // the PST written
  std::int64_t started = 0;   // milliseconds since the epoch
  std::int64_t ended = 0;
  std::string outcome;        // "completed", "completed with losses", "stopped", "failed"
  std::string outcome_detail; // the cause of a stop or failure, where one was given
  // The totals convert prints, under the same keys and in the same order.
  std::vector<std::pair<std::string, std::int64_t>> totals;
  std::vector<ReportFolder> folders;
};

std::string report_json(const RecoveryReport& report);
// The page: one table of the run, one of the folders, then each folder's losses by subject.
std::string report_html(const RecoveryReport& report);

// "OST, unicode-4k, version 36": what kind of file the source is, by its header.
std::string source_format_text(const OstContext& context);

// "2026-12-11T03:40:15Z" of milliseconds since the epoch.
std::string utc_time_text(std::int64_t ms);
// "2026-12-11 04:40:15 CET": the same in the local time, for the page.
std::string local_time_text(std::int64_t ms);

// "D/X.pst" gives "D/X.report.html" and "D/X.report.json".
std::string report_page_path(const std::string& pst_path);
std::string report_json_path(const std::string& pst_path);

// Writes text to path readable by its owner only (a report names the mailbox's subjects), whole
// or not at all. Returns the error, empty on success.
std::string write_private_file(const std::string& path, std::string_view text);

}  // namespace salvora
