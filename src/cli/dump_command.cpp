#include <cstdio>

#include "cli/commands.h"

namespace salvora::cli {

int RunDump(const Args&) {
  std::fputs("salvora-cli: 'dump' is not available in this build\n", stderr);
  return kExitFailure;
}

}  // namespace salvora::cli
