#pragma once
// Runs one of the built programs and captures what it prints, for tests of the command line.

#include <string>
#include <vector>

namespace salvora::testing {

struct ProgramResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Path of a program in the build's bin folder (salvora-cli, salvora).
std::string ProgramPath(const std::string& name);
// Runs the program with these arguments (no shell involved in quoting).
ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args);

// The project's source folder (for samples/).
std::string SourceDir();

// The peer readers' folder (../shared/tools, or $SALVORA_TOOLS_DIR), and whether libpff's
// dumper can run there.
std::string ToolsDir();
bool HavePypff();

}  // namespace salvora::testing
