// Prints how long opening a file and loading its block and node indexes takes: on the largest
// file of the sample corpus (or the files named on the command line), and on a synthetic store
// with many blocks and nodes, to show that loading grows linearly with the entries.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ndb/ost_context.h"
#include "support/ndb_builder.h"

namespace {

using namespace salvora;

double load_ms(const std::string& path, std::size_t& blocks, std::size_t& nodes, std::uint64_t& block_index_bytes) {
  const auto t0 = std::chrono::steady_clock::now();
  OstContext ctx;
  if (OpenStore(ctx, path) != 0) return -1;
  LoadBlockIndex(ctx);
  LoadNodeIndex(ctx);
  blocks = ctx.blocks->size();
  block_index_bytes = ctx.blocks->memory_bytes();
  nodes = ctx.nodes->size();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void report(const std::string& label, const std::string& path, int runs) {
  double best = 1e300;
  std::size_t blocks = 0, nodes = 0;
  std::uint64_t bytes = 0;
  for (int i = 0; i < runs; ++i) best = std::min(best, load_ms(path, blocks, nodes, bytes));
  std::printf("%-40s size=%10ju blocks=%8zu nodes=%8zu load_ms=%9.2f (best of %d) block_index_bytes/block=%.1f\n",
              label.c_str(), static_cast<std::uintmax_t>(std::filesystem::file_size(path)), blocks, nodes, best, runs,
              blocks ? static_cast<double>(bytes) / static_cast<double>(blocks) : 0.0);
}

std::string synthetic(std::size_t messages) {
  testing::NdbBuilder b(FileLayout::kUnicode4k);
  const Bid data = b.AddBlock(std::vector<std::uint8_t>(16, 1));
  b.AddNode(kNidMessageStore, data, Bid(), Nid());
  b.AddNode(kNidRootFolder, data, Bid(), kNidRootFolder);
  for (std::size_t i = 0; i < messages; ++i) {
    const Bid block = b.AddBlock(std::vector<std::uint8_t>(8, static_cast<std::uint8_t>(i)));
    b.AddNode(Nid::make(kNidTypeNormalMessage, static_cast<std::uint32_t>(0x10000 + i)), block, Bid(), kNidRootFolder);
  }
  return b.WriteTemp("bench-" + std::to_string(messages) + ".ost");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files(argv + 1, argv + argc);
  if (files.empty()) {
    const char* env = std::getenv("SALVORA_CORPUS_DIR");
    const std::string dir = env ? env : "../shared/corpus";
    std::uintmax_t largest = 0;
    std::string pick;
    if (std::filesystem::is_directory(dir)) {
      for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const auto ext = e.path().extension();
        if ((ext == ".pst" || ext == ".ost") && e.file_size() > largest) {
          largest = e.file_size();
          pick = e.path().string();
        }
      }
    }
    if (!pick.empty()) files.push_back(pick);
    else std::printf("sample corpus not found at %s; synthetic stores only\n", dir.c_str());
  }
  for (const auto& f : files) report(std::filesystem::path(f).filename().string(), f, 5);
  for (std::size_t n : {10000u, 100000u, 400000u}) {
    const std::string path = synthetic(n);
    report("synthetic " + std::to_string(n) + " messages", path, 3);
    std::filesystem::remove(path);
  }
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("peak_rss_kb=%ld\n", ru.ru_maxrss);
  return 0;
}
