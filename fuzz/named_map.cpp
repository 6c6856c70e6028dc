// Fuzz target: the named-property map from its entry stream and string stream (see
// fuzz_input.h), and lookups of every id it could answer for.
#include <cstddef>
#include <cstdint>

#include "content/named_property_map.h"
#include "fuzz_checks.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvora;
  const fuzz::TwoStreams s = fuzz::TwoStreams::Decode({data, size});
  const NamedPropertyMap map = NamedPropertyMap::FromStreams(s.first, s.second);
  for (const NamedProperty& p : map.entries()) {
    const NamedProperty* found = map.Find(p.key);
    fuzz::require(found != nullptr && found->key == p.key);
    if (p.name) fuzz::require(fuzz::valid_utf8(*p.name));
  }
  (void)map.Find(0x8000);
  (void)map.Find(0xFFFF);
  return 0;
}
