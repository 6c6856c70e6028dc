#include <cstdio>

#include "cli/commands.h"

namespace salvora::cli {

int RunConvert(const Args&) {
  std::fputs("salvora-cli: 'convert' is not available in this build\n", stderr);
  return kExitFailure;
}

}  // namespace salvora::cli
