#pragma once
// Opening the source file for a command: argument parsing shared by the commands that read a
// file, and the one-line messages for files that cannot be used.

#include <string>
#include <vector>

#include "cli/commands.h"
#include "ndb/ost_context.h"

namespace salvora::cli {

struct SourceOptions {
  std::string path;
  std::uint32_t codepage = 1252;
  std::vector<std::string> flags;                     // boolean flags seen, e.g. "--json"
  std::vector<std::pair<std::string, std::string>> values;  // options with a value, in order
};

// Parses FILE, --codepage N and the command's own options. `known` lists the command's
// options: a name ending in '=' takes a value ("--dest="), others are flags. Prints a usage
// line and returns false on a bad command line.
bool ParseSourceArgs(const char* command, const Args& args, SourceOptions& out,
                     const std::vector<std::string>& known);

bool HasFlag(const SourceOptions& options, const std::string& flag);

// Opens the source and checks that it is an Outlook data file this program reads; prints one
// line on standard error and returns false when not.
bool OpenSource(OstContext& ctx, const SourceOptions& options);

}  // namespace salvora::cli
