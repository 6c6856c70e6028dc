// salvora-cli convert with several files (or --from-list): each file is converted by a run of
// its own, a child process, so that one damaged or huge file can neither stop nor disturb the
// others, and each gets its own PST in its own folder under --dest. The batch prints one line
// per file and, for scripts, one JSON line per file in --batch-report.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/batch_convert.h"
#include "cli/commands.h"
#include "cli/json.h"

extern char** environ;

namespace salvora::cli {

namespace {

namespace fs = std::filesystem;

// The child now running, for a termination signal sent to the batch alone (a scheduler's
// SIGTERM): it is passed on, and the batch ends after that child. Ctrl-C reaches the child
// through the terminal's process group by itself.
volatile sig_atomic_t g_child = 0;
volatile sig_atomic_t g_stop = 0;

void on_stop_signal(int sig) {
  g_stop = 1;
  if (g_child > 0) ::kill(static_cast<pid_t>(g_child), sig == SIGINT ? SIGINT : SIGTERM);
}

class StopSignals {
 public:
  StopSignals() {
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &sa, &previous_[i]);
  }
  ~StopSignals() {
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
  }

 private:
  static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction previous_[3] {};
};

// The files of --from-list: one path a line; blank lines and lines starting with # are skipped.
std::optional<std::vector<std::string>> read_list(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    out.push_back(line);
  }
  return out;
}

// A folder of its own for each file under --dest: the file's name without its extension, with
// " (2)", " (3)"... when two files of the batch share it.
std::string own_folder(const std::string& dest, const std::string& source, std::set<std::string>& taken) {
  std::string stem = fs::path(source).stem().string();
  if (stem.empty() || stem == "." || stem == "..") stem = "mailbox";
  std::string name = stem;
  for (int n = 2; taken.count(name) != 0; ++n) name = stem + " (" + std::to_string(n) + ")";
  taken.insert(name);
  return (fs::path(dest) / name).string();
}

// The options every run of the batch gets: those given, but for the batch's own.
std::vector<std::string> passed_options(const ParsedCommand& args) {
  std::vector<std::string> out;
  for (const auto& [name, value] : args.given()) {
    if (name == "dest" || name == "from-list" || name == "batch-report") continue;
    out.push_back("--" + name);
    if (!value.empty()) out.push_back(value);
  }
  return out;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct RunResult {
  int status = kExitFailure;
  std::string out;  // the run's key=value lines
  std::string err;  // its lines on standard error
};

std::string temp_file(const char* what) {
  const char* dir = std::getenv("TMPDIR");
  std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/salvora-batch-" + what + "-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return {};
  ::close(fd);
  return pattern;
}

RunResult run_one(const std::vector<std::string>& argv_text) {
  RunResult r;
  const std::string out_path = temp_file("out");
  const std::string err_path = temp_file("err");
  if (out_path.empty() || err_path.empty()) {
    r.err = std::string("no temporary file could be made: ") + std::strerror(errno);
    return r;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_TRUNC, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_TRUNC, 0);
  std::vector<char*> argv;
  std::vector<std::string> copies = argv_text;
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    r.err = std::string("the conversion could not be started: ") + std::strerror(spawned);
  } else {
    g_child = pid;
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    g_child = 0;
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus)) r.status = 128 + WTERMSIG(wstatus);
    r.out = read_all(out_path);
    r.err = read_all(err_path);
  }
  ::unlink(out_path.c_str());
  ::unlink(err_path.c_str());
  return r;
}

const char* outcome_word(int status) {
  switch (status) {
    case kExitOk: return "converted";
    case kExitPartial: return "converted with losses";
    case kExitStopped: return "stopped";
    default: return "failed";
  }
}

// The JSON line of one file: its source, status and outcome, every key=value its run printed
// (numbers as numbers), and its first error line.
std::string json_line(const std::string& source, const RunResult& r, const std::string& first_error) {
  JsonObject o;
  o.add("source", source).add("status", static_cast<std::int64_t>(r.status)).add("outcome", outcome_word(r.status));
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    char* end = nullptr;
    const long long number = std::strtoll(value.c_str(), &end, 10);
    if (!value.empty() && end != nullptr && *end == '\0') o.add(key, static_cast<std::int64_t>(number));
    else o.add(key, value);
  }
  if (first_error.empty()) o.add_null("error");
  else o.add("error", first_error);
  return o.str();
}

// The run's lines on standard error, each told which file it is about.
std::string forward_errors(const std::string& source, const std::string& err) {
  std::istringstream lines(err);
  std::string first;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    std::fprintf(stderr, "%s: %s\n", source.c_str(), line.c_str());
    if (first.empty()) first = line;
  }
  return first;
}

}  // namespace

int RunConvertBatch(const ParsedCommand& args) {
  std::vector<std::string> sources = args.files();
  if (auto list = args.value("from-list")) {
    const auto listed = read_list(*list);
    if (!listed) {
      PrintError("%s: the list of files cannot be read: %s", list->c_str(), std::strerror(errno));
      return kExitFailure;
    }
    sources.insert(sources.end(), listed->begin(), listed->end());
  }
  if (sources.empty()) {
    PrintError("no file given: the list names none");
    return kExitUsage;
  }
  // Each run writes its report beside its own PST; one --report file would be overwritten by each.
  if (args.value("report") && sources.size() > 1) {
    PrintError("--report names the report of one file; with several, each report is beside its PST");
    return kExitUsage;
  }
  const std::optional<std::string> dest = args.value("dest");
  std::optional<std::ofstream> report;
  if (auto path = args.value("batch-report")) {
    // Its folder is made as --dest's is: a job runner names both per task.
    std::error_code ec;
    if (const fs::path parent = fs::path(*path).parent_path(); !parent.empty()) fs::create_directories(parent, ec);
    report.emplace(*path, std::ios::trunc);
    if (!*report) {
      PrintError("%s: the batch report cannot be written: %s", path->c_str(), std::strerror(errno));
      return kExitFailure;
    }
  }
  const std::vector<std::string> options = passed_options(args);
  StopSignals signals;
  std::set<std::string> taken;
  int converted = 0, partial = 0, failed = 0;
  bool stopped = false;
  for (const auto& source : sources) {
    std::vector<std::string> argv = {"salvora-cli", "convert"};
    argv.insert(argv.end(), options.begin(), options.end());
    if (dest) {
      argv.push_back("--dest");
      argv.push_back(own_folder(*dest, source, taken));
    }
    argv.push_back("--");
    argv.push_back(source);
    const RunResult r = run_one(argv);
    const std::string first_error = forward_errors(source, r.err);
    std::string pst;
    // The first line names what was written: pst=PATH, mbox=PATH or eml=PATH.
    if (const auto at = r.out.find('='); at != std::string::npos && at < r.out.find('\n'))
      pst = r.out.substr(at + 1, r.out.find('\n', at) - at - 1);
    std::printf("%s: %s%s%s\n", source.c_str(), outcome_word(r.status), pst.empty() ? "" : " -> ", pst.c_str());
    std::fflush(stdout);
    if (report) *report << json_line(source, r, first_error) << '\n' << std::flush;
    if (r.status == kExitOk) ++converted;
    else if (r.status == kExitPartial) ++partial;
    else if (r.status == kExitStopped || g_stop) stopped = true;
    else ++failed;
    if (stopped) break;
  }
  std::printf("files=%zu converted=%d partial=%d failed=%d\n", sources.size(), converted, partial, failed);
  if (stopped) return kExitStopped;
  if (failed == 0) return partial == 0 ? kExitOk : kExitPartial;
  return converted + partial == 0 ? kExitFailure : kExitSomeFailed;
}

}  // namespace salvora::cli
