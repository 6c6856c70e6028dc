#include <cstdio>

#include "cli/commands.h"

namespace salvora::cli {

int RunAnalyze(const Args&) {
  std::fputs("salvora-cli: 'analyze' is not available in this build\n", stderr);
  return kExitFailure;
}

}  // namespace salvora::cli
