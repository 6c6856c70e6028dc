// Fuzz target: the plain text of an RTF document in memory, which must come out as UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

#include "content/rtf_to_text.h"
#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvora;
  std::string text;
  rtf_to_text(Bytes(data, size), text);
  fuzz::require(fuzz::valid_utf8(text));
  return 0;
}
