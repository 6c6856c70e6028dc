// Fuzz target: a compressed RTF value (LZFu or MELA) decoded in memory, and the text read from
// what came out.
#include <cstddef>
#include <cstdint>
#include <string>

#include "content/compressed_rtf.h"
#include "content/rtf_to_text.h"
#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvora;
  const RtfResult r = decompress_rtf(Bytes(data, size));
  fuzz::require(r.status != RtfStatus::kShortHeader || r.rtf.empty());
  if (r.usable()) {
    std::string text;
    rtf_to_text(Bytes(r.rtf.data(), r.rtf.size()), text);
    fuzz::require(fuzz::valid_utf8(text));
  }
  return 0;
}
