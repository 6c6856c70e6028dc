#pragma once
// Opening the source file for a command, and the one-line messages for files that cannot be
// used.

#include <string>

#include "cli/commands.h"
#include "ndb/ost_context.h"

namespace salvora::cli {

struct SourceOptions {
  std::string path;
  std::uint32_t codepage = 1252;
};

// FILE and --codepage N of a command that reads a file.
SourceOptions SourceOptionsFrom(const ParsedCommand& args);

// Opens the source and checks that it is an Outlook data file this program reads; prints one
// line on standard error and returns false when not.
bool OpenSource(OstContext& ctx, const SourceOptions& options);

}  // namespace salvora::cli
