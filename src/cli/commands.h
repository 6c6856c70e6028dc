#pragma once
// The commands of salvora-cli. Each runs with its checked command line and returns the
// process exit status; errors are one line on standard error (PrintError).

#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"

namespace salvora::cli {

int RunInfo(const ParsedCommand& args);
int RunVerify(const ParsedCommand& args);
int RunDump(const ParsedCommand& args);
int RunAnalyze(const ParsedCommand& args);
int RunConvert(const ParsedCommand& args);
int RunSynth(const ParsedCommand& args);

// Every command with its options, in the order the overview lists them.
const std::vector<CommandDef>& Commands();
const CommandDef* FindCommand(std::string_view name);
// The overview: what `salvora-cli --help` prints.
std::string OverviewHelp();

// Exit statuses shared by the commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// The work was done, but part of the source could not be read (named on standard error).
inline constexpr int kExitPartial = 3;
// convert of several files: some were converted, others failed.
inline constexpr int kExitSomeFailed = 4;
// Stopped by Ctrl-C or a termination signal (128 + SIGINT, as a shell reports it).
inline constexpr int kExitStopped = 130;

}  // namespace salvora::cli
