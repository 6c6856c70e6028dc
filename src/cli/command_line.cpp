#include "cli/command_line.h"

#include <getopt.h>

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>

#include "cli/commands.h"

namespace salvora::cli {

namespace {

std::string g_command_name;

// getopt_long returns a command's option as its index shifted past every character a short
// option could be, so that an index is never taken for 'h'; help and version get values that
// no option character has.
constexpr int kLongOptionBase = 256;
constexpr int kHelpValue = 1;
constexpr int kVersionValue = 2;

std::string option_name_in(std::string_view argument) {
  const auto equals = argument.find('=');
  return std::string(argument.substr(0, equals));
}

std::optional<std::int64_t> parse_number(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// Checks one option's value; prints the error and returns false when it is not acceptable.
bool check_value(const OptionDef& option, const std::string& value) {
  if (option.kind == OptionKind::kFlag) return true;
  if (value.empty()) {
    // "--dest=" is a value forgotten, not a wish for the current folder.
    PrintError("--%s needs a value", std::string(option.name).c_str());
    return false;
  }
  if (option.kind != OptionKind::kNumber) return true;
  const auto number = parse_number(value);
  if (!number) {
    PrintError("--%s: '%s' is not a number", std::string(option.name).c_str(), value.c_str());
    return false;
  }
  if (*number < option.min || *number > option.max) {
    PrintError("--%s: %s is out of range (%lld to %lld)", std::string(option.name).c_str(), value.c_str(),
               static_cast<long long>(option.min), static_cast<long long>(option.max));
    return false;
  }
  return true;
}

std::vector<option> long_options_for(const CommandDef& command) {
  std::vector<option> options;
  for (std::size_t i = 0; i < command.options.size(); ++i) {
    const OptionDef& o = command.options[i];
    options.push_back({o.name.data(), o.kind == OptionKind::kFlag ? no_argument : required_argument, nullptr,
                       kLongOptionBase + static_cast<int>(i)});
  }
  options.push_back({"help", no_argument, nullptr, kHelpValue});
  options.push_back({"version", no_argument, nullptr, kVersionValue});
  options.push_back({nullptr, 0, nullptr, 0});
  return options;
}

void print_unknown(int optopt_value, const char* argument) {
  if (optopt_value >= kLongOptionBase || optopt_value == kHelpValue || optopt_value == kVersionValue) {
    PrintError("%s takes no value", option_name_in(argument).c_str());
  } else if (optopt_value > 0) {
    PrintError("unknown option '-%c'", optopt_value);
  } else {
    PrintError("unknown option '%s'", option_name_in(argument).c_str());
  }
}

}  // namespace

bool ParsedCommand::flag(std::string_view name) const {
  return std::any_of(given_.begin(), given_.end(), [&](const auto& g) { return g.first == name; });
}

std::optional<std::string> ParsedCommand::value(std::string_view name) const {
  for (auto it = given_.rbegin(); it != given_.rend(); ++it) {
    if (it->first == name) return it->second;
  }
  return std::nullopt;
}

std::vector<std::string> ParsedCommand::values(std::string_view name) const {
  std::vector<std::string> out;
  for (const auto& [option, value] : given_) {
    if (option == name) out.push_back(value);
  }
  return out;
}

std::optional<std::int64_t> ParsedCommand::number(std::string_view name) const {
  const auto text = value(name);
  return text ? parse_number(*text) : std::nullopt;
}

std::optional<int> ParseCommandLine(const CommandDef& command, const std::vector<std::string>& args,
                                    ParsedCommand& out) {
  // getopt_long permutes its argv, so it gets copies; index 0 stands for the program.
  std::vector<std::string> copies;
  copies.reserve(args.size() + 1);
  copies.push_back("salvora-cli " + std::string(command.name));
  copies.insert(copies.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::vector<option> long_options = long_options_for(command);

  optind = 0;  // 0, not 1: makes glibc start afresh
  opterr = 0;  // errors are reported here, in this program's form
  const int argc = static_cast<int>(copies.size());
  for (;;) {
    const int c = getopt_long(argc, argv.data(), ":h", long_options.data(), nullptr);
    if (c == -1) break;
    if (c == 'h' || c == kHelpValue) {
      std::fputs(CommandHelp(command).c_str(), stdout);
      return kExitOk;
    }
    if (c == kVersionValue) {
      std::printf("salvora-cli %s\n", SALVORA_VERSION);
      return kExitOk;
    }
    if (c == ':') {
      PrintError("%s needs a value", option_name_in(argv[optind - 1]).c_str());
      return kExitUsage;
    }
    if (c < kLongOptionBase || c >= kLongOptionBase + static_cast<int>(command.options.size())) {
      print_unknown(optopt, argv[optind - 1]);
      return kExitUsage;
    }
    const OptionDef& option = command.options[static_cast<std::size_t>(c - kLongOptionBase)];
    const std::string value = optarg ? optarg : "";
    if (!check_value(option, value)) return kExitUsage;
    out.given_.emplace_back(std::string(option.name), value);
  }
  const int operands = argc - optind;
  if (operands == 0 && !(command.many_files && out.flag("from-list"))) {
    PrintError("no file given (see salvora-cli %s --help)", std::string(command.name).c_str());
    return kExitUsage;
  }
  if (operands > 1 && !command.many_files) {
    PrintError("only one file can be given, not '%s' as well", argv[optind + 1]);
    return kExitUsage;
  }
  out.files_.assign(argv.begin() + optind, argv.begin() + argc);
  return std::nullopt;
}

std::string CommandHelp(const CommandDef& command) {
  std::string text = "usage: salvora-cli " + std::string(command.name) + " [options] " + std::string(command.operands) +
                     "\n" + std::string(command.summary) + "\n";
  if (!command.details.empty()) text += "\n" + std::string(command.details);
  text += "\noptions:\n";
  auto line = [&text](std::string left, std::string_view help) {
    left.resize(std::max<std::size_t>(left.size() + 2, 31), ' ');
    text += "  " + left + std::string(help) + "\n";
  };
  for (const auto& o : command.options) {
    std::string left = "--" + std::string(o.name);
    if (o.kind != OptionKind::kFlag) left += " " + std::string(o.value_name);
    line(left, o.help);
  }
  line("-h, --help", "show this help");
  line("--version", "show the program's version");
  text += "  Put -- before a file name that starts with a dash.\n";
  text += "\nexit status:\n" + std::string(command.exit_statuses);
  return text;
}

void SetCommandName(std::string_view name) { g_command_name = std::string(name); }

void PrintError(const char* format, ...) {
  std::string prefix = "salvora-cli";
  if (!g_command_name.empty()) prefix += " " + g_command_name;
  std::fprintf(stderr, "%s: ", prefix.c_str());
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

}  // namespace salvora::cli
