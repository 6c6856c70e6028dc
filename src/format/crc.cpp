#include "format/crc.h"

#include <zlib.h>

#include <algorithm>

namespace salvora {

std::uint32_t ComputeCrc(std::span<const std::uint8_t> data, std::uint32_t seed) {
  // zlib computes the same CRC with the value inverted on the way in and out; undoing both
  // gives the format's plain one, at zlib's speed (the writer checksums every byte it writes).
  uLong crc = static_cast<uLong>(~seed);
  while (!data.empty()) {
    const std::size_t n = std::min<std::size_t>(data.size(), std::size_t{1} << 30);
    crc = crc32(crc, data.data(), static_cast<uInt>(n));
    data = data.subspan(n);
  }
  return ~static_cast<std::uint32_t>(crc);
}

}  // namespace salvora
