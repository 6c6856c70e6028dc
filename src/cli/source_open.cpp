#include "cli/source_open.h"

namespace salvora::cli {

SourceOptions SourceOptionsFrom(const ParsedCommand& args) {
  SourceOptions options;
  options.path = args.file();
  if (auto codepage = args.number("codepage")) options.codepage = static_cast<std::uint32_t>(*codepage);
  return options;
}

bool OpenSource(OstContext& ctx, const SourceOptions& options) {
  ctx.default_codepage = options.codepage;
  if (OpenStore(ctx, options.path) != 0) {
    const auto& e = ctx.open_error;
    if (e.cause() == CFileException::sharingViolation) {
      PrintError("%s: the file is in use by another program", options.path.c_str());
    } else {
      PrintError("%s", e.message().c_str());
    }
    return false;
  }
  const auto& h = ctx.header;
  if (!h.magic_ok) {
    PrintError("%s: not an Outlook data file (PST or OST)", options.path.c_str());
    return false;
  }
  if (h.layout == FileLayout::kUnknown) {
    PrintError("%s: unsupported Outlook data file version %u", options.path.c_str(), h.version);
    return false;
  }
  if (!h.crypt) {
    PrintError("%s: unsupported block encoding 0x%02X", options.path.c_str(), h.crypt_byte);
    return false;
  }
  return true;
}

}  // namespace salvora::cli
