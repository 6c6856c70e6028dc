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
  bool codepage_given = false;  // --codepage was on the command line
  bool codepage_checked = false;  // ChooseSourceCodepage has looked at the source
};

// FILE and --codepage N of a command that reads a file.
SourceOptions SourceOptionsFrom(const ParsedCommand& args);

// Opens the source and checks that it is an Outlook data file this program reads; prints one
// line on standard error and returns false when not.
bool OpenSource(OstContext& ctx, const SourceOptions& options);

// For an ANSI store: the code page its objects that name none are read in, from a sample of
// their strings (loading the indexes when the context has not yet). A default is replaced when
// another code page reads markedly better; a given one is kept. What the user should know is one
// line on standard error, before anything is written. Unicode stores are left alone.
void ChooseSourceCodepage(OstContext& ctx, SourceOptions& options);

}  // namespace salvora::cli
