#pragma once
// Fixed geometry of a Unicode PST (wVer 23): page and block sizes, and where the allocation
// map pages sit (MS-PST 2.2.2.7.2 to 2.2.2.7.6). Everything here is a format constant or a
// pure function of a file offset.

#include <cstdint>

#include "format/layout.h"

namespace salvora::pst {

inline constexpr std::uint64_t kSlotSize = 64;              // one AMap bit
inline constexpr std::uint64_t kFirstAmapOffset = 0x4400;
inline constexpr std::uint64_t kDListOffset = 0x4200;
inline constexpr std::uint64_t kAmapBytes = 496;            // bitmap bytes per AMap page
inline constexpr std::uint64_t kAmapCoverage = kAmapBytes * 8 * kSlotSize;  // 253,952 bytes
inline constexpr std::uint64_t kSlotsPerAmap = kAmapBytes * 8;

constexpr std::uint64_t amap_offset(std::uint64_t k) { return kFirstAmapOffset + k * kAmapCoverage; }
// One PMap per eight AMaps, the page after the AMap.
constexpr bool has_pmap(std::uint64_t k) { return k % 8 == 0; }
// The header's FMap bytes cover the first 128 AMaps; after that one FMap page every 496 AMaps,
// two pages after the AMap.
constexpr bool has_fmap(std::uint64_t k) { return k >= 128 && (k - 128) % 496 == 0; }
// The header's FPMap bits cover the first 8192 AMaps; after that one FPMap every 31,744 AMaps.
constexpr bool has_fpmap(std::uint64_t k) { return k >= 8192 && (k - 8192) % 31744 == 0; }
constexpr std::uint64_t pmap_offset(std::uint64_t k) { return amap_offset(k) + kPageSize; }
constexpr std::uint64_t fmap_offset(std::uint64_t k) { return amap_offset(k) + 2 * kPageSize; }
constexpr std::uint64_t fpmap_offset(std::uint64_t k) { return amap_offset(k) + 3 * kPageSize; }
// Bytes at the start of interval k taken by the map pages.
constexpr std::uint64_t reserved_map_bytes(std::uint64_t k) {
  if (has_fpmap(k)) return 4 * kPageSize;
  if (has_fmap(k)) return 3 * kPageSize;
  if (has_pmap(k)) return 2 * kPageSize;
  return kPageSize;
}
// The interval holding a file offset at or after the first AMap.
constexpr std::uint64_t interval_of(std::uint64_t ib) { return (ib - kFirstAmapOffset) / kAmapCoverage; }

}  // namespace salvora::pst
