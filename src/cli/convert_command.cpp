// salvora-cli convert: the save pass of the wizard from a terminal. Every folder below the top is
// chosen unless --folder names some; the PST goes to --dest or to the Repair folder beside the
// source. A terminal gets a progress line; Ctrl-C stops the pass and leaves a PST holding what
// was saved before it.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/source_open.h"
#include "engine/folder_hierarchy.h"
#include "platform/product_globals.h"
#include "pststore/store_servers.h"
#include "writer/save_pass.h"

namespace salvora::cli {

namespace {

constexpr int kExitStopped = 130;

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

// A folder the PST can be made in: created when missing, and writable.
bool prepare_destination(const std::string& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder)) {
    std::fprintf(stderr, "salvora-cli: %s: the destination folder cannot be created (%s)\n", folder.c_str(),
                 ec ? ec.message().c_str() : "not a folder");
    return false;
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    std::fprintf(stderr, "salvora-cli: %s: the destination folder is not writable\n", folder.c_str());
    return false;
  }
  return true;
}

// Watches for Ctrl-C and termination while the pass runs on the calling thread, and draws the
// progress line on a terminal. The signals are taken synchronously on this thread, so stopping
// needs nothing a signal handler may not do.
class PassWatcher {
 public:
  PassWatcher(PassControl& control, const SaveProgress& progress) : control_(control), progress_(progress) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    tty_ = ::isatty(STDERR_FILENO) != 0;
    thread_ = std::thread([this] { Run(); });
  }
  ~PassWatcher() { Finish(); }

  void Finish() {
    if (!thread_.joinable()) return;
    done_.store(true);
    thread_.join();
    if (shown_) std::fprintf(stderr, "\r%70s\r", "");
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  bool signalled() const { return signal_.load() != 0; }

 private:
  void Run() {
    const timespec wait{0, 200'000'000};
    while (!done_.load()) {
      const int sig = sigtimedwait(&signals_, nullptr, &wait);
      if (sig > 0) {
        signal_.store(sig);
        control_.RequestStop();
      }
      if (tty_ && !done_.load()) Draw();
    }
  }
  void Draw() {
    const long long total = std::max<long long>(progress_.items_to_save.load() + 3, 0);
    std::fprintf(stderr, "\rsaving: %lld of %lld objects, %d mails", static_cast<long long>(progress_.items_saved.load()),
                 total, progress_.counter(SaveCounter::kMails));
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
  std::atomic<int> signal_{0};
  std::thread thread_;
};

void print_result(const SaveProgress& progress) {
  std::printf("pst=%s\n", progress.store_path().c_str());
  for (int c = 0; c < static_cast<int>(SaveCounter::kCount); ++c) {
    std::printf("%s=%d\n", save_counter_key(static_cast<SaveCounter>(c)), progress.counter(static_cast<SaveCounter>(c)));
  }
  std::printf("objects=%lld\n", static_cast<long long>(progress.items_saved.load()));
  std::printf("unreadable=%d\n", progress.unreadable_count());
}

}  // namespace

int RunConvert(const Args& args) {
  SourceOptions source;
  if (!ParseSourceArgs("convert", args, source, {"--dest=", "--folder="})) return kExitUsage;
  {
    // The same checks as every command, for a clear message before anything is created.
    OstContext probe;
    if (!OpenSource(probe, source)) return kExitFailure;
  }
  SaveOptions options;
  options.source_path = source.path;
  options.default_codepage = source.codepage;
  options.output_folder = output_folder_for(source.path);
  options.select_all = true;
  for (const auto& [name, value] : source.values) {
    if (name == "--dest") {
      // The path printed at the end is one the user can use from anywhere.
      std::error_code ec;
      const auto absolute = std::filesystem::absolute(value, ec);
      options.destination = ec ? value : absolute.lexically_normal().string();
    }
    if (name == "--folder") {
      const std::string path = folder_path_argument(value);
      // Checking the top of the tree checks everything below it.
      if (path != kRootFolderPath) options.select_all = false;
      options.selected_folders.push_back(path);
    }
  }
  if (!options.selected_folders.empty() &&
      std::find(options.selected_folders.begin(), options.selected_folders.end(), std::string(kRootFolderPath)) !=
          options.selected_folders.end()) {
    options.select_all = true;
  }
  if (!prepare_destination(options.destination.empty() ? options.output_folder : options.destination)) {
    return kExitFailure;
  }
  store::register_store_servers();
  // The settings the wizard's start-up writes on first start: the activity log's folder among
  // them, which the pass's lines go to.
  product_globals();

  PassControl control;
  CliSaveObserver observer;
  SaveProgress progress;
  PassWatcher watcher(control, progress);
  const SaveOutcome outcome = RunSavePass(options, control, observer, progress);
  watcher.Finish();
  // The store is committed and closed before its path is reported as done; a store that cannot
  // be completed (a full disk) is the run's failure.
  std::string close_error;
  try {
    store::shutdown_store_servers();
  } catch (const std::exception& e) {
    close_error = e.what();
  }

  const std::string store = progress.store_path();
  switch (outcome.status) {
    case SaveStatus::kCompleted:
      break;
    case SaveStatus::kStopped:
      if (!close_error.empty()) {
        std::fprintf(stderr, "salvora-cli: stopped, and the PST could not be completed: %s\n", close_error.c_str());
      } else if (store.empty()) {
        std::fprintf(stderr, "salvora-cli: stopped before the PST was created\n");
      } else {
        std::fprintf(stderr, "salvora-cli: stopped; %s holds what was saved before the stop\n", store.c_str());
      }
      return kExitStopped;
    case SaveStatus::kCannotReadSource:
    case SaveStatus::kCannotReadIndexes:
      std::fprintf(stderr, "salvora-cli: %s: the source cannot be read (%s)\n", source.path.c_str(),
                   outcome.error.empty() ? observer.message().c_str() : outcome.error.c_str());
      return kExitFailure;
    case SaveStatus::kTargetFailed:
    case SaveStatus::kTargetUnavailable:
      std::fprintf(stderr, "salvora-cli: the PST cannot be created in %s: %s\n",
                   (options.destination.empty() ? options.output_folder : options.destination).c_str(),
                   outcome.error.empty() ? observer.message().c_str() : outcome.error.c_str());
      return kExitFailure;
    case SaveStatus::kIncomplete:
      std::fprintf(stderr, "salvora-cli: %s: %s (%s)\n", store.c_str(), observer.message().c_str(),
                   outcome.error.c_str());
      return kExitFailure;
    default:
      std::fprintf(stderr, "salvora-cli: %s: %s\n", source.path.c_str(),
                   observer.message().empty() ? outcome.error.c_str() : observer.message().c_str());
      return kExitFailure;
  }
  if (progress.store_errors() > 0) {
    std::fprintf(stderr, "salvora-cli: %s: %d items could not be written: %s\n", store.c_str(),
                 progress.store_errors(), progress.first_store_error().c_str());
    return kExitFailure;
  }
  if (!close_error.empty()) {
    std::fprintf(stderr, "salvora-cli: the PST could not be completed: %s\n", close_error.c_str());
    return kExitFailure;
  }
  print_result(progress);
  if (progress.unreadable_count() > 0) {
    // The PST holds everything else; what is missing from it is named, one line each.
    const auto lines = progress.unreadable();
    for (const auto& line : lines) std::fprintf(stderr, "salvora-cli: %s\n", line.c_str());
    if (progress.unreadable_count() > static_cast<int>(lines.size()))
      std::fprintf(stderr, "salvora-cli: and %d more that could not be read\n",
                   progress.unreadable_count() - static_cast<int>(lines.size()));
    return kExitPartial;
  }
  return kExitOk;
}

}  // namespace salvora::cli
