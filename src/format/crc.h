#pragma once
// The CRC-32 of the PST format: reflected polynomial 0xEDB88320, initial value 0 and no final
// inversion (unlike zlib's). Headers, page and block trailers, compressed RTF and the
// named-property hash all use it.

#include <cstdint>
#include <span>

namespace salvora {

std::uint32_t ComputeCrc(std::span<const std::uint8_t> data, std::uint32_t seed = 0);

}  // namespace salvora
