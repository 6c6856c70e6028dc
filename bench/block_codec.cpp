// Prints the throughput of the per-byte work the writer and reader do on every block and
// string: the permutation of data blocks, their CRC, and UTF-16LE <-> UTF-8 text in two mixes
// (plain English, and mail in many scripts as the synthetic mailboxes carry it).
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "format/block_crypt.h"
#include "format/crc.h"
#include "format/text.h"

namespace {

using namespace salvora;

constexpr std::size_t kMegabytes = 64;

// Best of five, in MB/s of input.
template <class F>
double best_rate(std::size_t bytes, F&& work) {
  double best = 0;
  for (int run = 0; run < 5; ++run) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    best = std::max(best, static_cast<double>(bytes) / 1e6 / s);
  }
  return best;
}

std::string text_of(const std::vector<std::string>& words, std::size_t bytes) {
  std::string out;
  std::uint32_t x = 1;
  while (out.size() < bytes) {
    x = x * 1664525u + 1013904223u;
    out += words[(x >> 16) % words.size()];
    out += (x >> 8) % 12 == 0 ? ".\r\n" : " ";
  }
  return out;
}

void text_rates(const char* label, const std::string& utf8) {
  const std::vector<std::uint8_t> utf16 = utf8_to_utf16le(utf8);
  std::size_t sink = 0;
  const double to8 = best_rate(utf16.size(), [&] {
    for (std::size_t at = 0; at < utf16.size(); at += 4096)
      sink += utf16_to_utf8(std::span(utf16).subspan(at, std::min<std::size_t>(4096, utf16.size() - at))).size();
  });
  const double to16 = best_rate(utf8.size(), [&] {
    for (std::size_t at = 0; at < utf8.size(); at += 2048)
      sink += utf8_to_utf16le(std::string_view(utf8).substr(at, 2048)).size();
  });
  std::printf("%-28s utf16->utf8 %8.0f MB/s   utf8->utf16le %8.0f MB/s   (%zu)\n", label, to8, to16, sink % 10);
}

}  // namespace

int main() {
  std::vector<std::uint8_t> block(kMegabytes << 20);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 31 + i / 7);
  const double permute = best_rate(block.size(), [&] {
    for (std::size_t at = 0; at < block.size(); at += 8176) permute_encode(std::span(block).subspan(at, std::min<std::size_t>(8176, block.size() - at)));
  });
  std::uint32_t crc = 0;
  const double crc_rate = best_rate(block.size(), [&] {
    for (std::size_t at = 0; at < block.size(); at += 8176) crc ^= ComputeCrc(std::span(block).subspan(at, std::min<std::size_t>(8176, block.size() - at)));
  });
  std::printf("%-28s permute %8.0f MB/s   crc %8.0f MB/s   (%u)\n", "8 KB data blocks", permute, crc_rate, crc % 10);
  text_rates("English", text_of({"meeting", "report", "budget", "project", "review", "quarterly", "update"}, kMegabytes << 18));
  text_rates("many scripts", text_of({"meeting", "Größe", "Straße", "отчёт", "бюджет", "会議", "予算", "תקציב", "συνάντηση",
                                      "परियोजना", "🎉", "schön", "report"},
                                     kMegabytes << 18));
  return 0;
}
