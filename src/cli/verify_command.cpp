#include <cstdio>

#include "cli/commands.h"

namespace salvora::cli {

int RunVerify(const Args&) {
  std::fputs("salvora-cli: 'verify' is not available in this build\n", stderr);
  return kExitFailure;
}

}  // namespace salvora::cli
