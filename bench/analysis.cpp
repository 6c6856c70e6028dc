// Prints the analysis pass's time and peak memory: on the largest file of the sample corpus and
// on a large store written for the purpose, with the memory per listed item. Each pass runs in
// a child process so that its peak is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/analysis_pass.h"
#include "pststore/pst/pst_writer.h"
#include "support/ndb_builder.h"

namespace {

using namespace salvora;

struct Figures {
  double seconds = 0;
  long peak_kb = 0;
  long baseline_kb = 0;
  std::uint64_t items = 0;
  std::uint64_t nodes = 0;
};

Figures measure(const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    Figures f;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    f.baseline_kb = before.ru_maxrss;
    AnalysisOptions options;
    options.source_path = path;
    options.write_log = false;
    PassControl control;
    AnalysisObserver quiet;
    AnalysisResult result;
    const auto t0 = std::chrono::steady_clock::now();
    RunAnalysis(options, control, quiet, result);
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    f.peak_kb = after.ru_maxrss;
    for (const auto& e : result.mail_folders.entries()) f.items += e.items.size();
    f.items += result.tasks.size() + result.notes.size() + result.journal.size() + result.calendar.size() +
               result.contacts.size();
    f.nodes = result.nodes_decoded;
    (void)!write(fds[1], &f, sizeof f);
    _exit(0);
  }
  close(fds[1]);
  Figures f;
  (void)!read(fds[0], &f, sizeof f);
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return f;
}

void report(const std::string& label, const std::string& path) {
  const Figures f = measure(path);
  const double mb = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
  const long grown = f.peak_kb - f.baseline_kb;
  std::printf("%-34s %9.1f MB  nodes=%8llu items=%8llu  %7.2f s  %7.1f MB/s  peak_rss=%7ld KB  "
              "grown=%7ld KB  per_item=%6.0f B\n",
              label.c_str(), mb, static_cast<unsigned long long>(f.nodes), static_cast<unsigned long long>(f.items),
              f.seconds, f.seconds > 0 ? mb / f.seconds : 0.0, f.peak_kb, grown,
              f.items ? static_cast<double>(grown) * 1024.0 / static_cast<double>(f.items) : 0.0);
}

std::string large_store(int messages) {
  const std::string path = testing::TestTempDir() + "/bench-analysis-" + std::to_string(messages) + ".pst";
  auto w = pst::PstWriter::Create(path, {});
  const auto inbox = w->AddFolder(w->ipm_subtree(), "Inbox", "IPF.Note");
  const std::string body(8000, 'x');
  for (int i = 0; i < messages; ++i) {
    pst::MessageSpec m;
    m.props.push_back(pst::Property::String(kPidMessageClass, "IPM.Note"));
    m.props.push_back(pst::Property::String(kPidSubject, "message number " + std::to_string(i)));
    m.props.push_back(pst::Property::String(kPidSenderName, "Sender " + std::to_string(i % 97)));
    m.props.push_back(pst::Property::String(kPidBody, body));
    w->AddMessage(inbox, m);
  }
  w->Close();
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  const char* env = std::getenv("SALVORA_CORPUS_DIR");
  const std::string dir = env ? env : "../shared/corpus";
  std::string largest;
  std::uintmax_t size = 0;
  if (std::filesystem::is_directory(dir)) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      const auto ext = e.path().extension();
      if ((ext == ".pst" || ext == ".ost") && e.file_size() > size) {
        size = e.file_size();
        largest = e.path().string();
      }
    }
  }
  if (!largest.empty()) report(std::filesystem::path(largest).filename().string(), largest);
  const int messages = argc > 1 ? std::atoi(argv[1]) : 50000;
  const std::string big = large_store(messages);
  report("written store, " + std::to_string(messages) + " mails", big);
  std::filesystem::remove(big);
  return 0;
}
