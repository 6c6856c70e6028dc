// Converts mailboxes with salvora-cli convert and prints throughput and peak memory, beside
// readpst -r and pffexport on the same files where they are installed.
//
//   bench_convert [--synthetic N] [FILE...]
//
// Without files: the largest file of the corpus (when present) and the bundled sample. With
// --synthetic N (default 5000; 0 for none) a synthetic offline store of N messages is made
// first and converted too. Each program runs as a child; its peak memory is the child's.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/ndb_builder.h"

extern char** environ;

using namespace salvora;
namespace fs = std::filesystem;

namespace {

struct RunResult {
  int exit_code = -1;
  double seconds = 0;
  long peak_kb = 0;
  std::string out;
};

// Runs a program with its output in a file; times it and takes its peak memory from wait4.
RunResult Run(const std::vector<std::string>& args, const std::string& out_file) {
  // Through env: the kernel counts a child's memory before its exec too, which for a spawned
  // child is this process's; env is small, and its own exec leaves only the program's peak.
  std::vector<char*> argv{const_cast<char*>("/usr/bin/env")};
  for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  RunResult r;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return r;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.peak_kb = usage.ru_maxrss;
  FILE* f = std::fopen(out_file.c_str(), "r");
  if (f) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) r.out.append(buf, n);
    std::fclose(f);
  }
  return r;
}

long value_of(const std::string& out, const std::string& key) {
  const std::string tag = "\n" + key + "=";
  const std::size_t at = ("\n" + out).find(tag);
  return at == std::string::npos ? 0 : std::atol(out.c_str() + at + tag.size() - 1);
}

void Report(const char* program, const std::string& file, const RunResult& r, long items) {
  const double mb = static_cast<double>(fs::file_size(file)) / 1e6;
  std::printf("%-12s %-40s %6.2f s %8.1f MB/s %9.0f items/s %8.1f MB peak%s\n", program,
              fs::path(file).filename().string().c_str(), r.seconds, mb / r.seconds,
              items > 0 ? static_cast<double>(items) / r.seconds : 0.0, static_cast<double>(r.peak_kb) / 1024.0,
              r.exit_code == 0 ? "" : "  (failed)");
}

// A synthetic offline store of N messages (mail in many scripts with attachments, tasks,
// notes, appointments, contacts), made by salvora-cli synth.
std::string Synthetic(const std::string& cli, int messages, const std::string& dir) {
  const std::string path = dir + "/synthetic.ost";
  const RunResult r = Run({cli, "synth", path, "--messages", std::to_string(messages), "--folders", "24", "--client",
                           "ost", "--seed", "1"},
                          dir + "/synth.out");
  if (r.exit_code != 0) std::printf("synth failed (%d)\n", r.exit_code);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  int synthetic = 5000;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--synthetic") && i + 1 < argc) synthetic = std::atoi(argv[++i]);
    else files.push_back(argv[i]);
  }
  const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
  const std::string cli = (bin / "salvora-cli").string();
  const std::string work = testing::TestTempDir() + "/bench-convert";
  fs::create_directories(work);
  if (files.empty()) {
    if (const std::string corpus = testing::CorpusDir(); !corpus.empty()) {
      std::string largest;
      for (const auto& e : fs::directory_iterator(corpus)) {
        if (e.path().extension() == ".pst" || e.path().extension() == ".ost") {
          if (largest.empty() || e.file_size() > fs::file_size(largest)) largest = e.path().string();
        }
      }
      if (!largest.empty()) files.push_back(largest);
    } else {
      std::printf("corpus absent: the largest corpus file is left out\n");
    }
    const char* source_dir = std::getenv("SALVORA_SOURCE_DIR");
    const fs::path sample = fs::path(source_dir ? source_dir : bin.parent_path().parent_path()) / "samples/sample.ost";
    if (fs::exists(sample)) files.push_back(sample.string());
  }
  if (synthetic > 0) files.push_back(Synthetic(cli, synthetic, work));

  for (const auto& file : files) {
    const std::string dest = work + "/out-" + fs::path(file).stem().string();
    fs::remove_all(dest);
    const RunResult ours = Run({cli, "convert", file, "--dest", dest}, work + "/convert.out");
    Report("salvora", file, ours, value_of(ours.out, "objects"));
    if (fs::exists("/usr/bin/readpst")) {
      const std::string out = work + "/readpst";
      fs::remove_all(out);
      fs::create_directories(out);
      Report("readpst -r", file, Run({"/usr/bin/readpst", "-r", "-q", "-o", out, file}, work + "/readpst.out"), 0);
    }
    if (fs::exists("/usr/bin/pffexport")) {
      const std::string out = work + "/pffexport";
      fs::remove_all(out);
      fs::remove_all(out + ".export");
      Report("pffexport", file, Run({"/usr/bin/pffexport", "-q", "-t", out, file}, work + "/pffexport.out"), 0);
      fs::remove_all(out + ".export");
    }
    fs::remove_all(dest);
  }
  fs::remove_all(work);
  return 0;
}
