#include <array>
#include <cstdio>

#include "cli/commands.h"
#include "platform/file64.h"
#include "pststore/pst/pst_verifier.h"

namespace salvora::cli {

namespace {

constexpr int kExitViolations = 1;
constexpr int kExitUnreadable = 2;

// An offline store passes the magic check but is laid out for another client: verified as a
// PST it would give hundreds of "violations" that only say it is not one. Read through CFile64,
// which refuses a FIFO at once instead of waiting for a writer.
bool is_offline_store(const std::string& path) {
  std::array<char, 10> head{};
  CFile64 file;
  if (!file.Open(path, CFile64::Access::kReadOnly)) return false;
  if (file.ReadAt(0, head.data(), head.size()) != head.size()) return false;
  return std::string_view(head.data(), 4) == "!BDN" && std::string_view(head.data() + 8, 2) == "SO";
}

}  // namespace

// The findings go to standard error, one line each under the program's name, like the
// complaints of a compiler; standard output stays empty, whatever the file.
int RunVerify(const ParsedCommand& args) {
  const std::string& path = args.file();
  if (is_offline_store(path)) {
    PrintError("%s: not a PST: this is an offline store (OST); convert makes a PST of it", path.c_str());
    return kExitUnreadable;
  }
  const auto result = pst::PstVerifier::Verify(path, CFile64::Lock::kShared);
  for (const auto& v : result.violations) PrintError("%s: %s", path.c_str(), v.c_str());
  if (!result.opened) {
    if (result.violations.empty()) PrintError("%s: not a Unicode PST file", path.c_str());
    return kExitUnreadable;
  }
  for (const auto& n : result.notes) PrintError("%s: note: %s", path.c_str(), n.c_str());
  std::fprintf(stderr, "%s: %zu violation(s); %zu blocks, %zu nodes, %zu folders, %zu messages\n", path.c_str(),
               result.violations.size(), result.blocks, result.nodes, result.folders, result.messages);
  return result.violations.empty() ? kExitOk : kExitViolations;
}

}  // namespace salvora::cli
