#include "cli/commands.h"

namespace salvora::cli {

namespace {

constexpr std::string_view kReadStatuses =
    "  0  done\n"
    "  1  failed: the file cannot be used or the work cannot be done (one line on standard error)\n"
    "  2  the command line is wrong\n";

constexpr std::string_view kPartialStatuses =
    "  0  done\n"
    "  1  failed: the file cannot be used or the work cannot be done (one line on standard error)\n"
    "  2  the command line is wrong\n"
    "  3  done, but part of the source could not be read (each part named on standard error)\n";

constexpr std::string_view kConvertStatuses =
    "  0  done: the PST holds the whole mailbox (or the folders chosen)\n"
    "  1  failed: nothing usable was written (one line on standard error)\n"
    "  2  the command line is wrong\n"
    "  3  done, but part of the source could not be read (each part named on standard error)\n"
    "  130  stopped by Ctrl-C or a termination signal; the PST holds what was saved before\n"
    "  With several files: 0 every file converted whole; 3 every file converted, some with losses;\n"
    "  4 some files failed and the others were converted; 1 every file failed; 130 stopped.\n";

constexpr std::string_view kVerifyStatuses =
    "  0  the PST is clean\n"
    "  1  violations found (one line each on standard error)\n"
    "  2  the file could not be read as a PST, or the command line is wrong\n";

OptionDef threads_option() {
  return {"threads", OptionKind::kNumber, "N", "1: read the source on one thread (default 2; the output is the same)", 1, 2};
}

OptionDef codepage_option() {
  return {"codepage", OptionKind::kNumber, "N",
          "Windows code page of 8-bit strings that name none (default: the one they read in, else 1252)", 1, 65535};
}

std::vector<CommandDef> make_commands() {
  return {
      {"info", "FILE", "Show the format, version, client, crypt method, block and node counts of a PST or OST.",
       "Prints key=value lines: format, version, client, crypt, blocks (block index entries), nodes\n"
       "(node index entries) and orphans (nodes whose parent is missing). Damage to the indexes is\n"
       "named on standard error: what was rebuilt from other copies in the file, and what was lost.\n",
       {codepage_option()}, kPartialStatuses, RunInfo},
      {"analyze", "FILE", "Run the analysis pass: the folders, the mail items in each, and the counters.",
       "Counts and names folders as convert and dump do: a folder's hidden associated items\n"
       "(views, rules, forms) are not items.\n",
       {{"json", OptionKind::kFlag, "", "print one JSON object instead of text"}, codepage_option(),
        threads_option()},
       kPartialStatuses, RunAnalyze},
      {"dump", "FILE", "Print one JSON line per message, comparable with other readers' dumps.", "",
       {codepage_option(), threads_option()}, kPartialStatuses, RunDump},
      {"convert", "FILE...", "Write the mailbox of an OST (or PST) into a new PST, or as mbox or .eml files.",
       "Prints pst=PATH (mbox=PATH, eml=PATH for the other formats) and the counters of what was\n"
       "written. Without --folder every folder is chosen; a --folder that is not in the store is an\n"
       "error that lists the folders there are.\n"
       "A folder's path is its display names from the mailbox root, each followed by a backslash\n"
       "(\"Personal Folders\\Inbox\\\"), as analyze prints it; \"Inbox/Projects\" is accepted too.\n"
       "A damaged source is saved as far as it goes: folders and messages whose parent folder is lost\n"
       "go to \"Recovered Items\"; every loss is named on standard error and the exit status is 3.\n"
       "Several files (or --from-list) are converted one after another, each by a run of its own,\n"
       "into a folder of its own under --dest named after the file; one line per file tells how it\n"
       "went, its errors are told with its name, and --batch-report writes one JSON line per file.\n"
       "Each convert writes a recovery report beside the PST X.pst: X.report.html to read and\n"
       "X.report.json, folder by folder, with the same counts as printed (report=, report_json=).\n",
       {{"dest", OptionKind::kText, "DIR", "folder for the PST (default: Repair beside FILE)"},
        {"report", OptionKind::kText, "FILE.json", "write the report's JSON here instead of beside the PST (one FILE only)"},
        {"folder", OptionKind::kText, "PATH", "choose this folder, as a tick in the wizard does (repeatable)"},
        {"format", OptionKind::kText, "pst|mbox|eml|all",
         "what to write: a PST (default); a folder of mbox files for Thunderbird and Evolution; a\n"
         "folder of .eml files, one per message; or all three, one after another"},
        {"recover-deleted", OptionKind::kFlag, "", "also save deleted messages still in the file (Recovered Items\\Deleted)"},
        {"temp-files", OptionKind::kFlag, "",
         "hand headers and attachments to the store through temporary files, as for a store that\n"
         "takes only paths (slower; the PST is the same)"},
        {"threads", OptionKind::kNumber, "N", "1: read the source and write the PST on one thread (default 2)", 1, 2},
        {"max-pst-size", OptionKind::kText, "SIZE",
         "split the PST before it passes SIZE (45G, 500M, 2000K or bytes): the next PST is named\n"
         "as the first with \" (2)\", \" (3)\"... added, with the folders its items need; one pst= line each"},
        codepage_option(),
        {"from-list", OptionKind::kText, "LIST", "also convert the files named in LIST, one path a line"},
        {"batch-report", OptionKind::kText, "FILE", "one JSON line per file, written as each ends (a single file runs as a batch of one)"}},
       kConvertStatuses, RunConvert, true},
      {"verify", "FILE.pst", "Check a PST strictly against the format, one line per violation.", "",
       {}, kVerifyStatuses, RunVerify},
      {"synth", "OUT.pst", "Write a synthetic mailbox for tests; the content follows from the seed.", "",
       {{"messages", OptionKind::kNumber, "N", "messages to write (default 200)", 0, 100'000'000},
        {"folders", OptionKind::kNumber, "F", "extra mail folders (default 5)", 0, 100'000},
        {"attachments-per-message", OptionKind::kNumber, "A", "attachments per message (default 1)", 0, 1000},
        {"seed", OptionKind::kNumber, "S", "seed of the content (default 1)", 0, INT64_MAX},
        {"client", OptionKind::kText, "pst|ost", "write a PST (default) or an offline store"},
        {"format", OptionKind::kNumber, "23|36", "file format version: 23 (default, 512-byte pages) or 36 (4 KB pages, compressed blocks)",
         0, INT64_MAX},
        {"dump", OptionKind::kFlag, "", "print what was written in the dump form"},
        {"links", OptionKind::kFlag, "", "add items that link to others: a distribution list and its contacts, a mail's sent\n"
                                         "mail folder (not with --dump)"}},
       kReadStatuses, RunSynth},
  };
}

}  // namespace

const std::vector<CommandDef>& Commands() {
  static const std::vector<CommandDef> commands = make_commands();
  return commands;
}

const CommandDef* FindCommand(std::string_view name) {
  for (const auto& c : Commands()) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

std::string OverviewHelp() {
  std::string text = "usage: salvora-cli COMMAND [options] FILE\n\ncommands:\n";
  for (const auto& c : Commands()) {
    std::string left = std::string(c.name);
    left.resize(10, ' ');
    text += "  " + left + std::string(c.summary) + "\n";
  }
  text +=
      "\n'salvora-cli help COMMAND' or 'salvora-cli COMMAND --help' shows a command's options.\n"
      "'salvora-cli --version' shows the version.\n\n"
      "exit status:\n"
      "  0    done (verify: the PST is clean)\n"
      "  1    failed, with one line on standard error (verify: violations found)\n"
      "  2    the command line is wrong (verify: also a file that cannot be read as a PST)\n"
      "  3    analyze, convert, dump, info: done, but part of the source could not be read\n"
      "  4    convert of several files: some failed, the others were converted\n"
      "  130  convert: stopped by Ctrl-C or a termination signal\n";
  return text;
}

}  // namespace salvora::cli
