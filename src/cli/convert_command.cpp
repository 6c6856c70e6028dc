// salvora-cli convert: the save pass of the wizard from a terminal. Every folder below the top is
// chosen unless --folder names some; the PST goes to --dest or to the Repair folder beside the
// source. A terminal gets a progress line; Ctrl-C stops the pass and leaves a PST holding what
// was saved before it.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/batch_convert.h"
#include "cli/commands.h"
#include "cli/source_open.h"
#include "cli/store_folders.h"
#include "engine/folder_hierarchy.h"
#include "mimestore/mime_stores.h"
#include "platform/product_globals.h"
#include "platform/file64.h"
#include "pststore/pst/pst_verifier.h"
#include "pststore/store_servers.h"
#include "writer/save_pass.h"
#include "writer/save_report.h"
#include "writer/store_size.h"

namespace salvora::cli {

namespace {

class CliSaveObserver : public SaveObserver {
 public:
  void Message(std::string_view text) override {
    if (message_.empty()) message_ = std::string(text);
  }
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

// "Inbox/Projects", "Inbox\Projects", "Personal Folders\Inbox\Projects\" all name the same
// folder. A path holding a backslash is split on backslashes only, so a name with a slash in
// it can still be given.
std::string folder_path_argument(const std::string& text) {
  const char separator = text.find('\\') != std::string::npos ? '\\' : '/';
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::string path(kRootFolderPath);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i == 0 && parts[i] == "Personal Folders") continue;
    path += parts[i] + '\\';
  }
  return path;
}

// A folder the PST can be made in: there and writable, or creatable where the nearest existing
// folder above it is writable. Nothing is created here: the folder is made with the store, so
// a convert that fails before it writes anything leaves no empty folder behind.
bool prepare_destination(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path existing = fs::path(folder).lexically_normal();
  while (!fs::exists(existing, ec) && existing.has_parent_path() && existing != existing.parent_path()) {
    existing = existing.parent_path();
  }
  if (!fs::is_directory(existing, ec)) {
    PrintError("%s: the destination folder cannot be created (%s is not a folder)", folder.c_str(),
               existing.c_str());
    return false;
  }
  if (::access(existing.c_str(), W_OK | X_OK) != 0) {
    PrintError("%s: the destination folder is not writable", folder.c_str());
    return false;
  }
  return true;
}

// Watches for Ctrl-C and termination while the pass runs on the calling thread, and draws the
// progress line on a terminal. The signals are taken synchronously on this thread, so stopping
// needs nothing a signal handler may not do. Finish wakes the thread with a signal of its own
// rather than letting it wait out its redraw interval: a small convert ends when its work does.
class PassWatcher {
 public:
  PassWatcher(PassControl& control, const SaveProgress& progress) : control_(control), progress_(progress) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGHUP);
    sigaddset(&signals_, kWakeSignal);
    pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    tty_ = ::isatty(STDERR_FILENO) != 0;
    thread_ = std::thread([this] { Run(); });
  }
  ~PassWatcher() { Finish(); }

  void Finish() {
    if (!thread_.joinable()) return;
    done_.store(true);
    // Blocked everywhere, the wake signal stays pending for the thread until its next wait
    // takes it, so it cannot be lost between the thread's check of done_ and that wait.
    pthread_kill(thread_.native_handle(), kWakeSignal);
    thread_.join();
    if (shown_) std::fprintf(stderr, "\r%110s\r", "");
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }

 private:
  static constexpr int kWakeSignal = SIGUSR1;

  void Run() {
    const timespec redraw_interval{0, 200'000'000};
    while (!done_.load()) {
      const int sig = sigtimedwait(&signals_, nullptr, &redraw_interval);
      if (sig > 0 && sig != kWakeSignal) control_.RequestStop();
      if (tty_ && !done_.load()) Draw();
    }
  }
  void Draw() {
    // What a kill would keep is what the last checkpoint committed, not every item written.
    std::fprintf(stderr, "\rsaving: %lld of %lld objects, %d mails, %llu items safe in the PST",
                 static_cast<long long>(progress_.items_saved.load()),
                 static_cast<long long>(std::max<std::int64_t>(progress_.objects_to_visit(), 0)),
                 progress_.counter(SaveCounter::kMails), static_cast<unsigned long long>(progress_.items_committed.load()));
    std::fflush(stderr);
    shown_ = true;
  }

  PassControl& control_;
  const SaveProgress& progress_;
  sigset_t signals_{};
  sigset_t previous_{};
  bool tty_ = false;
  bool shown_ = false;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// For the tests of what a stop or a kill leaves behind, which must reach a convert midway
// however fast it runs: with SALVORA_TEST_HOLD_FD naming an open descriptor, the pass holds at
// its first poll after a mail was saved and writes one byte there. A stop still ends the hold.
void hold_for_test(PassControl& control, const SaveProgress& progress) {
  const char* fd_text = std::getenv("SALVORA_TEST_HOLD_FD");
  if (fd_text == nullptr) return;
  const int fd = std::atoi(fd_text);
  control.SetPollHook([&control, &progress, fd, held = false]() mutable {
    if (held || progress.counter(SaveCounter::kMails) == 0) return;
    held = true;
    control.Pause();
    const char byte = 'h';
    if (::write(fd, &byte, 1) != 1) control.Resume();
    ::close(fd);
  });
}

// The store's kind, by the suffix that chose it: "pst", "mbox" or "eml".
std::string store_kind(const std::string& store_path) {
  for (std::string_view suffix : {mime::kMboxSuffix, mime::kEmlSuffix})
    if (store_path.ends_with(suffix)) return std::string(suffix.substr(1));
  return "pst";
}

// Every file the pass wrote, a store in several forms as each of its forms.
std::vector<std::string> written_files(const SaveProgress& progress) {
  std::vector<std::string> files;
  for (const auto& path : progress.store_paths())
    for (auto& form : mime::form_paths(path)) files.push_back(std::move(form));
  return files;
}

void print_result(const SaveProgress& progress, const WrittenReport& report) {
  // One line for each file written, the first one first.
  for (const auto& path : written_files(progress)) std::printf("%s=%s\n", store_kind(path).c_str(), path.c_str());
  for (int c = 0; c < static_cast<int>(SaveCounter::kCount); ++c) {
    std::printf("%s=%d\n", save_counter_key(static_cast<SaveCounter>(c)), progress.counter(static_cast<SaveCounter>(c)));
  }
  // items_saved, the wizard's progress value, counts every node the walk visited, written or
  // not: printed as objects=, beside the counters of what was written.
  std::printf("objects=%lld\n", static_cast<long long>(progress.items_saved.load()));
  std::printf("deleted_recovered=%d\n", progress.deleted_recovered.load());
  std::printf("unreadable=%d\n", progress.unreadable_count());
  std::printf("properties_dropped=%d\n", progress.dropped_property_count());
  if (!report.page.empty()) std::printf("report=%s\n", report.page.c_str());
  if (!report.json.empty()) std::printf("report_json=%s\n", report.json.c_str());
}

// The save pass's options from the command line: the destination and the chosen folders.
SaveOptions options_from(const ParsedCommand& args, const SourceOptions& source) {
  SaveOptions options;
  options.source_path = source.path;
  options.default_codepage = source.codepage;
  options.output_folder = output_folder_for(source.path);
  options.select_all = true;
  options.recover_deleted = args.flag("recover-deleted");
  options.writer.file_road = args.flag("temp-files");
  if (auto threads = args.number("threads")) options.threads = static_cast<int>(*threads);
  if (auto size = args.value("max-pst-size")) options.max_store_size = parse_store_size(*size).value_or(0);
  if (auto dest = args.value("dest")) {
    // The path printed at the end is one the user can use from anywhere.
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(*dest, ec);
    options.destination = ec ? *dest : absolute.lexically_normal().string();
  }
  for (const auto& value : args.values("folder")) options.selected_folders.push_back(folder_path_argument(value));
  // Checking the top of the tree checks everything below it.
  const auto& chosen = options.selected_folders;
  options.select_all = chosen.empty() || std::find(chosen.begin(), chosen.end(), kRootFolderPath) != chosen.end();
  return options;
}

// A --folder that names no folder of the store would make a PST without what was asked for
// and look like success; it fails before anything is made, and shows what could be chosen.
bool chosen_folders_exist(OstContext& ctx, const SaveOptions& options, const SourceOptions& source) {
  if (options.select_all) return true;
  const std::vector<std::string> paths = StoreFolderPaths(ctx);
  for (const auto& chosen : options.selected_folders) {
    if (std::find(paths.begin(), paths.end(), chosen) != paths.end()) continue;
    PrintError("%s: no folder %s in this store; its folders are:", source.path.c_str(), chosen.c_str());
    for (const auto& path : paths) std::fprintf(stderr, "  %s\n", path.c_str());
    return false;
  }
  return true;
}

// Runs the pass with the signal watcher; the pass commits and closes its store. Returns the
// store's closing error, empty when it closed.
std::string run_pass(const SaveOptions& options, SaveOutcome& outcome, CliSaveObserver& observer,
                     SaveProgress& progress) {
  store::register_store_servers();
  mime::register_mime_stores();
  // The settings the wizard's start-up writes on first start: the activity log's folder among
  // them, which the pass's lines go to.
  product_globals();
  PassControl control;
  hold_for_test(control, progress);
  PassWatcher watcher(control, progress);
  outcome = RunSavePass(options, control, observer, progress);
  watcher.Finish();
  // A store that could not be completed (a full disk) is the run's failure.
  return outcome.close_error;
}

// The exit status of a pass that did not complete, with its one line.
int report_unfinished(const SaveOutcome& outcome, const CliSaveObserver& observer, const SaveOptions& options,
                      const std::string& close_error, const std::string& store) {
  const std::string& reason = outcome.error.empty() ? observer.message() : outcome.error;
  switch (outcome.status) {
    case SaveStatus::kStopped:
      if (!close_error.empty()) PrintError("stopped, and the PST could not be completed: %s", close_error.c_str());
      else if (store.empty()) PrintError("stopped before the PST was created");
      else PrintError("stopped; %s holds what was saved before the stop", store.c_str());
      return kExitStopped;
    case SaveStatus::kCannotReadSource:
    case SaveStatus::kCannotReadIndexes:
    case SaveStatus::kAnalysisFailed:
    case SaveStatus::kRootNotFound:
      PrintError("%s: the source cannot be read (%s)", options.source_path.c_str(), reason.c_str());
      return kExitFailure;
    case SaveStatus::kTargetFailed:
    case SaveStatus::kTargetUnavailable:
      PrintError("the PST cannot be created in %s: %s",
                 (options.destination.empty() ? options.output_folder : options.destination).c_str(), reason.c_str());
      return kExitFailure;
    case SaveStatus::kIncomplete:
      PrintError("%s: %s (%s)", store.c_str(), observer.message().c_str(), outcome.error.c_str());
      return kExitFailure;
    default:
      PrintError("%s: %s", options.source_path.c_str(),
                 observer.message().empty() ? outcome.error.c_str() : observer.message().c_str());
      return kExitFailure;
  }
}

// The file beside the PST that names every loss (standard error shows the first thousand of
// each kind): "X.pst" gives "X.losses.txt", readable by its owner only, like the PST.
std::string write_loss_report(const SaveProgress& progress) {
  std::filesystem::path path(progress.store_path());
  if (path.empty()) return {};
  path.replace_extension(".losses.txt");
  return write_private_file(path.string(), progress.loss_report()).empty() ? path.string() : std::string();
}

// The PST holds everything else; what is missing from it is named, one line each, and the last
// line says how many objects were lost in all. Damage that was made good is told first.
int report_losses(const SaveProgress& progress) {
  for (const auto& line : progress.rebuilt()) PrintError("rebuilt: %s", line.c_str());
  for (const auto& line : progress.left_behind()) PrintError("%s", line.c_str());
  const auto lines = progress.unreadable();
  for (const auto& line : lines) PrintError("%s", line.c_str());
  const int count = progress.unreadable_count();
  if (count > static_cast<int>(lines.size()))
    PrintError("and %d more that could not be read", count - static_cast<int>(lines.size()));
  const auto dropped = progress.dropped_properties();
  for (const auto& line : dropped) PrintError("%s", line.c_str());
  if (progress.dropped_property_count() > static_cast<int>(dropped.size()))
    PrintError("and %d more properties that were not copied", progress.dropped_property_count() - static_cast<int>(dropped.size()));
  const int dropped_count = progress.dropped_property_count();
  if (count == 0 && dropped_count == 0) return kExitOk;
  const std::string report = write_loss_report(progress);
  if (!report.empty()) PrintError("every loss is listed in %s", report.c_str());
  else PrintError("the list of losses could not be written beside %s", progress.store_path().c_str());
  PrintError("%s holds what could be read; %d objects of the source were lost or damaged and %d properties were "
             "not copied (named above)",
             progress.store_path().c_str(), count, dropped_count);
  return kExitPartial;
}

// Items the PST lacks because the store could not keep them (a full disk, mostly). A PST that
// holds a part of the mailbox is kept and the run is a partial one; a PST that holds nothing is
// removed, so that a full disk is not left full by a file of no use.
int report_not_written(const SaveProgress& progress, long long not_written, const std::string& close_error,
                       const WrittenReport& report) {
  const std::string store = progress.store_path();
  const std::string cause = progress.first_store_error().empty() ? close_error : progress.first_store_error();
  if (store_kind(store) != "pst") {
    // Mail files are whole as each is written: what is there stays, and is what was saved.
    print_result(progress, report);
    report_losses(progress);
    PrintError("%s: %lld items of the mailbox could not be written: %s", store.c_str(), not_written, cause.c_str());
    return kExitPartial;
  }
  const auto held = pst::PstVerifier::Verify(store, CFile64::Lock::kShared);
  if (held.opened && held.violations.empty() && held.messages > 0) {
    print_result(progress, report);
    report_losses(progress);
    PrintError("%s holds %zu items; %lld items of the mailbox could not be written: %s", store.c_str(), held.messages,
               not_written, cause.c_str());
    return kExitPartial;
  }
  if (held.opened && held.messages > 0) {
    PrintError("%s: %lld items could not be written: %s; what it holds fails the structural check (verify names it)",
               store.c_str(), not_written, cause.c_str());
    return kExitFailure;
  }
  std::error_code ignored;
  std::filesystem::remove(store, ignored);
  // The report of a PST that is gone would name a file that is not there.
  for (const auto& file : {report.page, report.json}) {
    if (!file.empty()) std::filesystem::remove(file, ignored);
  }
  if (held.opened) {
    PrintError("%lld items could not be written, none of the mailbox is in the PST: %s; the empty PST was removed", not_written,
               cause.c_str());
  } else {
    PrintError("the PST could not be completed (%lld items could not be written): %s; it was removed", not_written,
               cause.c_str());
  }
  return kExitFailure;
}

// --max-pst-size: a size that leaves room for items, or a clear error.
bool split_size_valid(const ParsedCommand& args) {
  const auto text = args.value("max-pst-size");
  if (!text) return true;
  const auto size = parse_store_size(*text);
  if (!size) {
    PrintError("--max-pst-size: '%s' is not a size (bytes, or a whole number with K, M or G: 2000K, 500M, 45G)",
               text->c_str());
    return false;
  }
  if (*size < kSmallestSplitSize) {
    PrintError("--max-pst-size: %s is too small; a PST needs at least %s", text->c_str(),
               store_size_text(kSmallestSplitSize).c_str());
    return false;
  }
  return true;
}

// Without a limit, a source whose PST will likely pass what Outlook opens is told so before the
// run, with the way to split it.
void warn_if_likely_past_outlook_limit(const ParsedCommand& args, OstContext& source, const std::string& path) {
  if (args.value("max-pst-size")) return;
  std::error_code ec;
  const auto source_size = std::filesystem::file_size(path, ec);
  // A PST is rarely more than three times its source: only a large source is read for it.
  if (ec || source_size * 3 < kOutlookPstLimit) return;
  if (const auto predicted = predicted_pst_size(source); predicted > kOutlookPstLimit)
    PrintError("warning: the PST will likely be about %s, past the 50 GB Outlook opens by default; "
               "--max-pst-size 45G splits it into PSTs below that", readable_size(predicted).c_str());
}

// After a run without a limit: a PST past what Outlook opens is named, with the way to split it.
void warn_past_outlook_limit(const ParsedCommand& args, const SaveProgress& progress) {
  if (args.value("max-pst-size")) return;
  for (const auto& path : progress.store_paths()) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > kOutlookPstLimit)
      PrintError("warning: %s is %s, past the 50 GB Outlook opens by default; convert again with "
                 "--max-pst-size 45G to split it", path.c_str(), readable_size(size).c_str());
  }
}

// One pass writing one form of the mailbox.
int convert_to(const ParsedCommand& args, SourceOptions& source, const std::string& suffix) {
  SaveOptions options = options_from(args, source);
  options.writer.store_suffix = suffix;
  {
    // The same checks as every command, for a clear message before anything is created.
    OstContext probe;
    if (!OpenSource(probe, source)) return kExitFailure;
    ChooseSourceCodepage(probe, source);
    options.default_codepage = source.codepage;
    if (!chosen_folders_exist(probe, options, source)) return kExitFailure;
    warn_if_likely_past_outlook_limit(args, probe, source.path);
  }
  if (!prepare_destination(options.destination.empty() ? options.output_folder : options.destination)) {
    return kExitFailure;
  }
  SaveOutcome outcome;
  CliSaveObserver observer;
  SaveProgress progress;
  const std::string close_error = run_pass(options, outcome, observer, progress);
  const std::string store = progress.store_path();
  // Items the store accepted before a commit that failed (a full disk) are not in the file
  // either: the count is of what the PST lacks, whichever step lost it.
  const long long not_written = progress.store_errors() + static_cast<long long>(progress.items_lost.load());
  const std::vector<std::string> files = written_files(progress);
  const WrittenReport report =
      WriteSaveReport(progress, {outcome, close_error, not_written, files.size() > progress.store_paths().size() ? files : std::vector<std::string>{}},
                      args.value("report").value_or(std::string()));
  if (!report.error.empty()) PrintError("the recovery report could not be written: %s", report.error.c_str());
  if (outcome.status != SaveStatus::kCompleted) return report_unfinished(outcome, observer, options, close_error, store);
  if (not_written > 0) return report_not_written(progress, not_written, close_error, report);
  if (!close_error.empty()) {
    PrintError("the PST could not be completed: %s", close_error.c_str());
    return kExitFailure;
  }
  print_result(progress, report);
  warn_past_outlook_limit(args, progress);
  return report_losses(progress);
}

// The store suffix a --format asks for; empty for an unknown one.
std::string format_suffix(const std::string& format) {
  if (format == "pst") return ".pst";
  if (format == "mbox") return std::string(mime::kMboxSuffix);
  if (format == "eml") return std::string(mime::kEmlSuffix);
  if (format == "all") return std::string(mime::kAllSuffix);
  return {};
}

}  // namespace

int RunConvert(const ParsedCommand& args) {
  const std::string suffix = format_suffix(args.value("format").value_or("pst"));
  if (suffix.empty()) {
    PrintError("--format %s: not a format; choose pst, mbox, eml or all", args.value("format")->c_str());
    return kExitUsage;
  }
  if (args.files().size() != 1 || args.flag("from-list") || args.flag("batch-report")) return RunConvertBatch(args);
  if (!split_size_valid(args)) return kExitUsage;
  SourceOptions source = SourceOptionsFrom(args);
  // Every form, "all" too, is written by one pass over the source.
  return convert_to(args, source, suffix);
}

}  // namespace salvora::cli
