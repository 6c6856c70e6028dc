#include "support/run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/ndb_builder.h"

extern char** environ;

namespace salvora::testing {

namespace {
std::string env_or(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return (v && *v) ? v : fallback;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}
}  // namespace

std::string ProgramPath(const std::string& name) {
#ifdef SALVORA_DEFAULT_BIN_DIR
  return env_or("SALVORA_BIN_DIR", SALVORA_DEFAULT_BIN_DIR) + "/" + name;
#else
  return env_or("SALVORA_BIN_DIR", "build/bin") + "/" + name;
#endif
}

std::string SourceDir() {
#ifdef SALVORA_DEFAULT_SOURCE_DIR
  return env_or("SALVORA_SOURCE_DIR", SALVORA_DEFAULT_SOURCE_DIR);
#else
  return env_or("SALVORA_SOURCE_DIR", ".");
#endif
}

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args) {
  static int counter = 0;
  const std::string base = TestTempDir() + "/run" + std::to_string(++counter);
  const std::string out_path = base + ".out", err_path = base + ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  ProgramResult r;
  if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = slurp(out_path);
  r.err = slurp(err_path);
  return r;
}

std::string ToolsDir() {
  const char* env = std::getenv("SALVORA_TOOLS_DIR");
  return env && *env ? env : SourceDir() + "/../shared/tools";
}

bool HavePypff() {
  static const bool have = std::filesystem::exists(ToolsDir() + "/peer-dump-pypff") &&
                           RunProgram("/usr/bin/python3", {"-c", "import pypff"}).exit_code == 0;
  return have;
}

}  // namespace salvora::testing
