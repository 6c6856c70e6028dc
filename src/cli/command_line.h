#pragma once
// The command line of salvora-cli: each command's options described once, parsed with
// getopt_long (so "--dest=DIR" and "--dest DIR" both work, "--" ends the options and a file
// name may start with a dash), the help texts built from the same description, and the one
// way an error reaches the user: "salvora-cli COMMAND: message" on standard error.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace salvora::cli {

enum class OptionKind { kFlag, kText, kNumber };

struct OptionDef {
  std::string_view name;        // without the dashes: "dest"
  OptionKind kind = OptionKind::kFlag;
  std::string_view value_name;  // "DIR", "N"; empty for a flag
  std::string_view help;
  std::int64_t min = 0;         // the range a kNumber value must fall in
  std::int64_t max = INT32_MAX;
};

class ParsedCommand;

struct CommandDef {
  std::string_view name;
  std::string_view operands;   // "FILE", "OUT.pst"
  std::string_view summary;    // one line, for the overview and the help's first line
  std::string_view details;    // more lines for the command's help; may be empty
  std::vector<OptionDef> options;
  std::string_view exit_statuses;
  int (*run)(const ParsedCommand&) = nullptr;
  // Takes several files (and --from-list in place of them); the others take exactly one.
  bool many_files = false;
};

// What a command line said, once it has been checked against its command's description:
// every number in range, every option known, exactly one operand (or, for a command that takes
// many, any number).
class ParsedCommand {
 public:
  // The first file given; empty only when a command of many files was given none.
  const std::string& file() const { return files_.empty() ? kNoFile : files_.front(); }
  const std::vector<std::string>& files() const { return files_; }
  // Every option given, in order: name and value ("" for a flag).
  const std::vector<std::pair<std::string, std::string>>& given() const { return given_; }
  bool flag(std::string_view name) const;
  // The last value given for the option, if any.
  std::optional<std::string> value(std::string_view name) const;
  // Every value given for the option, in the order given.
  std::vector<std::string> values(std::string_view name) const;
  std::optional<std::int64_t> number(std::string_view name) const;

 private:
  friend std::optional<int> ParseCommandLine(const CommandDef&, const std::vector<std::string>&, ParsedCommand&);
  static inline const std::string kNoFile;
  std::vector<std::string> files_;
  std::vector<std::pair<std::string, std::string>> given_;  // option name, value ("" for a flag)
};

// Parses a command's arguments (those after its name). Returns nothing when the command
// should run; otherwise the exit status to end with, after printing the help (0) or one error
// line (kExitUsage).
std::optional<int> ParseCommandLine(const CommandDef& command, const std::vector<std::string>& args,
                                    ParsedCommand& out);

std::string CommandHelp(const CommandDef& command);

// The command that errors are reported under; set once, before the command runs.
void SetCommandName(std::string_view name);
// "salvora-cli COMMAND: " + the formatted text + newline, on standard error.
void PrintError(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace salvora::cli
