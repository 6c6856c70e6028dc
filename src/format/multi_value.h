#pragma once
// The stored form of a multi-valued property whose items vary in size (strings, binaries,
// GUID-less variable types): a 32-bit count, the offset of each item from the start of the
// value, then the items back to back. An item ends where the next begins; the last ends with
// the value. Fixed-size multi-values are the items packed with no header and need no parser.

#include <cstdint>
#include <optional>
#include <vector>

#include "format/byte_reader.h"

namespace salvora {

// The items as views into `value` (they must not outlive it). Empty when the count or the
// offsets do not fit the value, or an offset runs backwards.
std::optional<std::vector<Bytes>> parse_variable_multi(Bytes value);

std::vector<std::uint8_t> serialize_variable_multi(const std::vector<std::vector<std::uint8_t>>& items);

}  // namespace salvora
