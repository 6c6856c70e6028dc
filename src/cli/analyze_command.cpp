// salvora-cli analyze: the analysis pass of the wizard, printed. The folder tree with the mail
// items found under each folder and the counters of the well-known folders; --json for scripts.

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/source_open.h"
#include "engine/analysis_pass.h"
#include "engine/folder_walk.h"

namespace salvora::cli {

namespace {

// Shows progress on a terminal only; a pipe or a file gets just the result.
class CliObserver : public AnalysisObserver {
 public:
  CliObserver() : tty_(::isatty(STDERR_FILENO) != 0) {}
  ~CliObserver() override { clear(); }

  void ProgressRange(std::int64_t maximum) override { maximum_ = maximum + kWalkProgressShortfall; }
  void ProgressPosition(std::int64_t position) override {
    if (!tty_ || (position % 64 != 0 && position != maximum_)) return;
    std::fprintf(stderr, "\ranalysing: %lld of %lld objects", static_cast<long long>(position),
                 static_cast<long long>(maximum_));
    std::fflush(stderr);
    shown_ = true;
  }
  void Message(std::string_view text, bool) override { message_ = std::string(text); }
  void clear() {
    if (shown_) std::fprintf(stderr, "\r%60s\r", "");
    shown_ = false;
  }
  const std::string& message() const { return message_; }

 private:
  bool tty_;
  bool shown_ = false;
  std::int64_t maximum_ = 0;
  std::string message_;
};

// Mail items per folder node, by the folder each item lives in. The wizard's lists put an item
// whose folder is not a mail folder (the post folders of a PST written by this program, for
// one) into the last mail folder listed; counted that way, analyze would place mail where dump
// and the other readers do not.
using ItemCounts = std::map<std::uint32_t, std::size_t>;

std::size_t items_in(const ItemCounts& counts, Nid nid) {
  const auto it = counts.find(nid.value);
  return it == counts.end() ? 0 : it->second;
}

void print_json(const AnalysisResult& r) {
  std::string folders = "[";
  // A folder of another kind (calendar, contacts) keeps its container class, as the text form
  // shows it: its mail item count alone would say it is empty.
  auto add_folder = [&](const std::string& path, std::size_t items, const std::string* container_class) {
    if (folders.size() > 1) folders += ',';
    JsonObject folder;
    folder.add("path", path).add("items", static_cast<std::int64_t>(items));
    if (container_class) folder.add("class", *container_class);
    folders += folder.str();
  };
  const ItemCounts& counts = r.mail_items_by_folder;
  const auto& entries = r.mail_folders.entries();
  if (!entries.empty()) add_folder(entries.front().path, items_in(counts, entries.front().folder_nid), nullptr);
  for (const auto& f : r.folders) {
    add_folder(f.path, items_in(counts, f.nid), f.mail_folder ? nullptr : &f.container_class);
  }
  folders += ']';
  JsonObject counters;
  for (int c = 0; c < static_cast<int>(AnalysisCounter::kCount); ++c) {
    counters.add(counter_key(static_cast<AnalysisCounter>(c)), r.counter(static_cast<AnalysisCounter>(c)));
  }
  JsonObject out;
  out.add_raw("folders", folders).add_raw("counters", counters.str()).add("nodes", static_cast<std::int64_t>(r.nodes_decoded));
  std::printf("%s\n", out.str().c_str());
}

void print_text(const AnalysisResult& r) {
  const ItemCounts& counts = r.mail_items_by_folder;
  const auto& entries = r.mail_folders.entries();
  if (!entries.empty()) {
    std::printf("%-60s %6zu mail items\n", entries.front().path.c_str(), items_in(counts, entries.front().folder_nid));
  }
  for (const auto& f : r.folders) {
    const std::size_t items = items_in(counts, f.nid);
    if (f.mail_folder) std::printf("%-60s %6zu mail items\n", f.path.c_str(), items);
    else if (items == 0) std::printf("%-60s %s\n", f.path.c_str(), f.container_class.c_str());
    else std::printf("%-60s %6zu mail items, %s\n", f.path.c_str(), items, f.container_class.c_str());
  }
  std::printf("\n");
  for (int c = 0; c < static_cast<int>(AnalysisCounter::kCount); ++c) {
    std::printf("%s=%d\n", counter_key(static_cast<AnalysisCounter>(c)), r.counter(static_cast<AnalysisCounter>(c)));
  }
  // The objects decoded on the walk from the mailbox root, not info's count of node B-tree
  // entries; the key stays as scripts read it.
  std::printf("nodes=%llu\n", static_cast<unsigned long long>(r.nodes_decoded));
}

}  // namespace

int RunAnalyze(const ParsedCommand& args) {
  SourceOptions options = SourceOptionsFrom(args);
  {
    // The same checks as every command, for a clear message before the pass starts.
    OstContext probe;
    if (!OpenSource(probe, options)) return kExitFailure;
    ChooseSourceCodepage(probe, options);
  }
  AnalysisOptions analysis;
  analysis.source_path = options.path;
  analysis.default_codepage = options.codepage;
  if (auto threads = args.number("threads")) analysis.threads = static_cast<int>(*threads);
  analysis.keep_lists = false;  // only the counts are printed
  PassControl control;
  CliObserver observer;
  AnalysisResult result;
  const AnalysisStatus status = RunAnalysis(analysis, control, observer, result);
  observer.clear();
  if (status != AnalysisStatus::kCompleted) {
    const std::string text = observer.message().empty() ? "the analysis was stopped" : observer.message();
    if (result.failure_cause.empty()) PrintError("%s: %s", options.path.c_str(), text.c_str());
    else PrintError("%s: %s (%s)", options.path.c_str(), text.c_str(), result.failure_cause.c_str());
    return kExitFailure;
  }
  if (args.flag("json")) print_json(result);
  else print_text(result);
  // The same losses convert and dump name for this file.
  for (const auto& line : result.rebuilt) PrintError("rebuilt: %s", line.c_str());
  for (const auto& line : result.lost) PrintError("%s", line.c_str());
  if (result.lost.empty()) return kExitOk;
  PrintError("%s: %zu objects of the source were lost or damaged (named above)", options.path.c_str(),
             result.lost.size());
  return kExitPartial;
}

}  // namespace salvora::cli
