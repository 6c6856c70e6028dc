#pragma once
// The 16-bit signature of pages and blocks: the file offset folded with the id.

#include <cstdint>

namespace salvora {

constexpr std::uint16_t ComputeSignature(std::uint64_t ib, std::uint64_t bid) {
  const auto x = static_cast<std::uint32_t>(ib ^ bid);
  return static_cast<std::uint16_t>(((x >> 16) ^ x) & 0xFFFF);
}

}  // namespace salvora
