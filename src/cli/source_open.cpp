#include "cli/source_open.h"

#include "engine/codepage_probe.h"

namespace salvora::cli {

SourceOptions SourceOptionsFrom(const ParsedCommand& args) {
  SourceOptions options;
  options.path = args.file();
  if (auto codepage = args.number("codepage")) {
    options.codepage = static_cast<std::uint32_t>(*codepage);
    options.codepage_given = true;
  }
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

void ChooseSourceCodepage(OstContext& ctx, SourceOptions& options) {
  if (!ctx.is_ansi() || options.codepage_checked) return;
  options.codepage_checked = true;
  if (ctx.nodes->size() == 0) {
    LoadBlockIndex(ctx);
    LoadNodeIndex(ctx);
  }
  const CodepageChoice choice = ChooseCodepage(ctx, options.codepage, options.codepage_given);
  options.codepage = ctx.default_codepage = choice.chosen;
  if (choice.message.empty()) return;
  const bool questioned = choice.chosen == choice.given;
  PrintError("%s: %s: %s; give --codepage N to %s", questioned ? "warning" : "note", options.path.c_str(),
             choice.message.c_str(), questioned ? "read it in another" : "choose another");
}

}  // namespace salvora::cli
