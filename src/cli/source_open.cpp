#include "cli/source_open.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace salvora::cli {

bool ParseSourceArgs(const char* command, const Args& args, SourceOptions& out,
                     const std::vector<std::string>& known) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--codepage") {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "salvora-cli %s: --codepage needs a number\n", command);
        return false;
      }
      char* end = nullptr;
      const unsigned long cp = std::strtoul(args[++i].c_str(), &end, 10);
      if (end == args[i].c_str() || *end != '\0' || cp == 0 || cp > 65535) {
        std::fprintf(stderr, "salvora-cli %s: '%s' is not a code page number\n", command, args[i].c_str());
        return false;
      }
      out.codepage = static_cast<std::uint32_t>(cp);
      continue;
    }
    if (a.size() > 2 && a.rfind("--", 0) == 0) {
      if (std::find(known.begin(), known.end(), a) != known.end()) {
        out.flags.push_back(a);
        continue;
      }
      if (std::find(known.begin(), known.end(), a + "=") != known.end()) {
        if (i + 1 >= args.size()) {
          std::fprintf(stderr, "salvora-cli %s: %s needs a value\n", command, a.c_str());
          return false;
        }
        out.values.emplace_back(a, args[++i]);
        continue;
      }
      std::fprintf(stderr, "salvora-cli %s: unknown option '%s'\n", command, a.c_str());
      return false;
    }
    if (!out.path.empty()) {
      std::fprintf(stderr, "salvora-cli %s: only one file can be given\n", command);
      return false;
    }
    out.path = a;
  }
  if (out.path.empty()) {
    std::fprintf(stderr, "salvora-cli %s: no file given\n", command);
    return false;
  }
  return true;
}

bool HasFlag(const SourceOptions& options, const std::string& flag) {
  return std::find(options.flags.begin(), options.flags.end(), flag) != options.flags.end();
}

bool OpenSource(OstContext& ctx, const SourceOptions& options) {
  ctx.default_codepage = options.codepage;
  if (OpenStore(ctx, options.path) != 0) {
    const auto& e = ctx.open_error;
    if (e.cause() == CFileException::sharingViolation) {
      std::fprintf(stderr, "salvora-cli: %s: the file is in use by another program\n", options.path.c_str());
    } else {
      std::fprintf(stderr, "salvora-cli: %s\n", e.message().c_str());
    }
    return false;
  }
  const auto& h = ctx.header;
  if (!h.magic_ok) {
    std::fprintf(stderr, "salvora-cli: %s: not an Outlook data file (PST or OST)\n", options.path.c_str());
    return false;
  }
  if (h.layout == FileLayout::kUnknown) {
    std::fprintf(stderr, "salvora-cli: %s: unsupported Outlook data file version %u\n", options.path.c_str(),
                 h.version);
    return false;
  }
  if (!h.crypt) {
    std::fprintf(stderr, "salvora-cli: %s: unsupported block encoding 0x%02X\n", options.path.c_str(),
                 h.crypt_byte);
    return false;
  }
  return true;
}

}  // namespace salvora::cli
