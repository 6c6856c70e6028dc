#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/source_open.h"
#include "ndb/ost_context.h"

namespace salvora::cli {

int RunInfo(const ParsedCommand& args) {
  const SourceOptions options = SourceOptionsFrom(args);
  OstContext ctx;
  if (!OpenSource(ctx, options)) return kExitFailure;
  LoadBlockIndex(ctx);
  LoadNodeIndex(ctx);

  const auto& h = ctx.header;
  std::printf("format=%s\n", layout_name(h.layout));
  std::printf("version=%u\n", h.version);
  std::printf("client=%s\n", h.is_ost() ? "OST" : h.is_pst() ? "PST" : "other");
  std::printf("crypt=%s\n", h.crypt ? crypt_method_name(*h.crypt) : "unknown");
  std::printf("blocks=%zu\n", ctx.blocks->size());
  // The node B-tree's entries, every node of the file; analyze's nodes= counts what its walk
  // decoded instead. Both keys stay as scripts read them (the README says which is which).
  std::printf("nodes=%zu\n", ctx.nodes->size());
  std::printf("orphans=%zu\n", ctx.nodes->detached().size());
  // What the index loads made good and what they could not: the same lines the other commands
  // name, so that info alone tells whether a file is damaged.
  for (const auto& line : ctx.findings.rebuilt) PrintError("rebuilt: %s", line.c_str());
  for (const auto& line : ctx.findings.lost) PrintError("lost: %s", line.c_str());
  return ctx.findings.lost.empty() ? kExitOk : kExitPartial;
}

}  // namespace salvora::cli
