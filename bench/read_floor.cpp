// Prints the least time that any command listing or copying a store's items must spend on it,
// beside reading the file straight through as cat does: reading every block where the index
// puts it, and reading and inflating every block with the reader all passes use, on one thread
// and on two. A version-36 store compresses most blocks, so the last lines are a floor under
// `dump` and `convert`, which read every block; each row is the best of five runs with the page
// cache warm.
//
//   bench_read_floor [STORE...]      (without a store: the bundled sample)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "ndb/block_reader.h"
#include "ndb/ost_context.h"
#include "support/run_program.h"

namespace {

using namespace salvora;

template <class F>
double best_seconds(F&& work) {
  double best = 1e30;
  for (int run = 0; run < 5; ++run) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

// cat's own loop: 128 KB reads from the start to the end.
std::uint64_t read_through(const char* path) {
  const int fd = open(path, O_RDONLY);
  if (fd < 0) return 0;
  std::vector<char> buffer(128 << 10);
  std::uint64_t total = 0;
  for (ssize_t n; (n = read(fd, buffer.data(), buffer.size())) > 0;) total += static_cast<std::uint64_t>(n);
  close(fd);
  return total;
}

int measure(const char* path) {
  OstContext context;
  if (OpenStore(context, path) != 0 || LoadBlockIndex(context) != 0) {
    std::fprintf(stderr, "%s: cannot be opened as a store\n", path);
    return 1;
  }
  std::vector<BlockEntry> blocks;
  context.blocks->ForEach(context.file, [&](const BlockEntry& e) {
    blocks.push_back(e);
    return true;
  });
  std::sort(blocks.begin(), blocks.end(), [](const BlockEntry& a, const BlockEntry& b) { return a.ib < b.ib; });
  std::uint64_t stored = 0, inflated = 0, compressed = 0;
  for (const auto& b : blocks) {
    stored += b.cb;
    inflated += b.cb_inflated;
    compressed += b.is_compressed() ? 1 : 0;
  }

  std::uint64_t sink = 0;
  const double cat = best_seconds([&] { sink += read_through(path); });
  const double read = best_seconds([&] {
    for (const auto& b : blocks) sink += ReadAt(context, b.ib, b.cb).size();
  });
  const double decoded = best_seconds([&] {
    for (const auto& b : blocks) {
      const auto bytes = ReadBlockDecoded(context, b.bid);
      sink += bytes ? bytes->size() : 0;
    }
  });
  // The same on both cores: each thread takes every other block.
  std::atomic<std::uint64_t> shared_sink{0};
  const double decoded2 = best_seconds([&] {
    auto half = [&](std::size_t first) {
      std::uint64_t local = 0;
      for (std::size_t i = first; i < blocks.size(); i += 2) {
        const auto bytes = ReadBlockDecoded(context, blocks[i].bid);
        local += bytes ? bytes->size() : 0;
      }
      shared_sink += local;
    };
    std::thread other(half, 1);
    half(0);
    other.join();
  });
  sink += shared_sink.load();
  std::printf("%s: %zu blocks (%llu compressed), %.1f MB stored, %.1f MB inflated\n", path, blocks.size(),
              static_cast<unsigned long long>(compressed), static_cast<double>(stored) / 1e6, static_cast<double>(inflated) / 1e6);
  std::printf("  read through (cat)        %8.3f s\n", cat);
  std::printf("  every block read          %8.3f s  %6.1f x cat\n", read, read / cat);
  std::printf("  every block read, inflated%8.3f s  %6.1f x cat\n", decoded, decoded / cat);
  std::printf("  the same on two threads   %8.3f s  %6.1f x cat   (%llu)\n", decoded2, decoded2 / cat,
              static_cast<unsigned long long>(sink % 10));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    const std::string sample = testing::SourceDir() + "/samples/sample.ost";
    return measure(sample.c_str());
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) status |= measure(argv[i]);
  return status;
}
