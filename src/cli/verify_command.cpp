#include <cstdio>

#include "cli/commands.h"
#include "pststore/pst/pst_verifier.h"

namespace salvora::cli {

// Prints one line per violation on standard output; notes and the summary go to standard
// error so that the output of a clean file is empty.
int RunVerify(const Args& args) {
  if (args.size() != 1) {
    std::fputs("usage: salvora-cli verify FILE.pst\n", stderr);
    return kExitUsage;
  }
  const auto result = pst::PstVerifier::Verify(args[0]);
  for (const auto& v : result.violations) std::printf("%s\n", v.c_str());
  if (!result.opened) {
    if (result.violations.empty()) std::fprintf(stderr, "salvora-cli: %s: not a Unicode PST file\n", args[0].c_str());
    return kExitFailure;
  }
  for (const auto& n : result.notes) std::fprintf(stderr, "note: %s\n", n.c_str());
  std::fprintf(stderr, "%s: %zu violation(s); %zu blocks, %zu nodes, %zu folders, %zu messages\n", args[0].c_str(),
               result.violations.size(), result.blocks, result.nodes, result.folders, result.messages);
  return result.violations.empty() ? kExitOk : kExitFailure;
}

}  // namespace salvora::cli
