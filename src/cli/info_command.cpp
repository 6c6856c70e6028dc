#include <cstdio>

#include "cli/commands.h"

namespace salvora::cli {

int RunInfo(const Args&) {
  std::fputs("salvora-cli: 'info' is not available in this build\n", stderr);
  return kExitFailure;
}

}  // namespace salvora::cli
