#pragma once
// The subcommands of salvora-cli. Each takes the arguments after its name and returns the
// process exit status; errors are one line on standard error.

#include <string>
#include <vector>

namespace salvora::cli {

using Args = std::vector<std::string>;

int RunInfo(const Args& args);
int RunVerify(const Args& args);
int RunDump(const Args& args);
int RunAnalyze(const Args& args);
int RunConvert(const Args& args);
int RunSynth(const Args& args);

// Exit statuses shared by the commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// The work was done, but part of the source could not be read (named on standard error).
inline constexpr int kExitPartial = 3;

}  // namespace salvora::cli
