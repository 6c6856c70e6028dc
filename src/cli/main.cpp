#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace {

using namespace salvora::cli;

// "help", "help COMMAND", "--help", "-h", "--version": what a user asks before any command.
std::optional<int> answer_question(const std::vector<std::string>& args) {
  const std::string& first = args[0];
  if (first == "--version") {
    std::printf("salvora-cli %s\n", SALVORA_VERSION);
    return kExitOk;
  }
  if (first == "--help" || first == "-h" || (first == "help" && args.size() == 1)) {
    std::fputs(OverviewHelp().c_str(), stdout);
    return kExitOk;
  }
  if (first != "help") return std::nullopt;
  const CommandDef* command = FindCommand(args[1]);
  if (!command) {
    PrintError("no command '%s' (see salvora-cli --help)", args[1].c_str());
    return kExitUsage;
  }
  std::fputs(CommandHelp(*command).c_str(), stdout);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(OverviewHelp().c_str(), stderr);
    return kExitUsage;
  }
  if (auto status = answer_question(args)) return *status;
  const CommandDef* command = FindCommand(args[0]);
  if (!command) {
    PrintError("unknown command '%s' (see salvora-cli --help)", args[0].c_str());
    return kExitUsage;
  }
  SetCommandName(command->name);
  ParsedCommand parsed;
  if (auto status = ParseCommandLine(*command, {args.begin() + 1, args.end()}, parsed)) return *status;
  try {
    return command->run(parsed);
  } catch (const std::exception& e) {
    PrintError("%s", e.what());
    return kExitFailure;
  }
}
