#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "cli/commands.h"

namespace {

constexpr const char* kUsage =
    "usage: salvora-cli COMMAND [options] FILE\n"
    "  info FILE                  format, version, client, crypt method, block and node counts\n"
    "  analyze FILE [--json]      the analysis pass: folders, item counts and counters\n"
    "  dump FILE                  one JSON line per message, for comparison with other readers\n"
    "  convert FILE [--dest DIR] [--folder PATH]...   write the mailbox into a new PST\n"
    "  verify FILE.pst            strict structural check of a PST\n"
    "  synth OUT.pst [--messages N] [--folders F] [--attachments-per-message A] [--seed S]\n"
    "        [--client ost] [--dump]  write a synthetic mailbox (content follows from the seed)\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace salvora::cli;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? kExitUsage : kExitOk;
  }
  const std::string command = argv[1];
  Args args(argv + 2, argv + argc);
  try {
    if (command == "info") return RunInfo(args);
    if (command == "verify") return RunVerify(args);
    if (command == "dump") return RunDump(args);
    if (command == "analyze") return RunAnalyze(args);
    if (command == "convert") return RunConvert(args);
    if (command == "synth") return RunSynth(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "salvora-cli: %s\n", e.what());
    return kExitFailure;
  }
  std::fprintf(stderr, "salvora-cli: unknown command '%s'\n%s", command.c_str(), kUsage);
  return kExitUsage;
}
