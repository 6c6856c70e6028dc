#pragma once
// Geometry of the files the writer produces: page and block sizes, and where the allocation
// map pages sit (MS-PST 2.2.2.7.2 to 2.2.2.7.6), for the Unicode layout with 512-byte pages
// (wVer 23) and the one with 4 KB pages (wVer 36). Everything here is a format constant or a
// pure function of a file offset.
//
// The 4 KB layout scales the 512-byte one by eight: its first AMap sits at 0x22000 instead of
// 0x4400, one map bit stands for 512 bytes instead of 64, and a map page holds 4072 bytes of
// bits. Its files carry no PMap, FMap or FPMap pages (those maps are deprecated; the Outlook
// files seen so far have none), so an interval's only map page is its AMap.

#include <cstdint>

#include "format/layout.h"

namespace salvora::pst {

struct SpaceGeometry {
  FileLayout layout = FileLayout::kUnicode;
  std::uint64_t page_size = 0;       // pages and their alignment
  std::uint64_t slot_size = 0;       // bytes one AMap bit stands for; blocks are aligned to it
  std::uint64_t map_bytes = 0;       // bitmap bytes per AMap page
  std::uint64_t first_amap = 0;
  std::uint64_t block_trailer = 0;
  std::uint64_t max_block_data = 0;  // largest payload of one data block
  bool page_maps = false;            // PMap, FMap and FPMap pages are written

  constexpr std::uint64_t slots_per_map() const { return map_bytes * 8; }
  constexpr std::uint64_t coverage() const { return slots_per_map() * slot_size; }
  // The largest block on disk, trailer included: 128 slots in both layouts.
  constexpr std::uint64_t max_block_size() const { return block_disk_size(max_block_data); }
  constexpr std::uint64_t amap_offset(std::uint64_t k) const { return first_amap + k * coverage(); }
  // One PMap per eight AMaps, the page after the AMap.
  constexpr bool has_pmap(std::uint64_t k) const { return page_maps && k % 8 == 0; }
  // The header's FMap bytes cover the first 128 AMaps; after that one FMap page every 496
  // AMaps, two pages after the AMap.
  constexpr bool has_fmap(std::uint64_t k) const { return page_maps && k >= 128 && (k - 128) % 496 == 0; }
  // The header's FPMap bits cover the first 8192 AMaps; after that one FPMap every 31,744 AMaps.
  constexpr bool has_fpmap(std::uint64_t k) const { return page_maps && k >= 8192 && (k - 8192) % 31744 == 0; }
  constexpr std::uint64_t pmap_offset(std::uint64_t k) const { return amap_offset(k) + page_size; }
  constexpr std::uint64_t fmap_offset(std::uint64_t k) const { return amap_offset(k) + 2 * page_size; }
  constexpr std::uint64_t fpmap_offset(std::uint64_t k) const { return amap_offset(k) + 3 * page_size; }
  // Bytes at the start of interval k taken by the map pages.
  constexpr std::uint64_t reserved_map_bytes(std::uint64_t k) const {
    if (has_fpmap(k)) return 4 * page_size;
    if (has_fmap(k)) return 3 * page_size;
    if (has_pmap(k)) return 2 * page_size;
    return page_size;
  }
  // The interval holding a file offset at or after the first AMap.
  constexpr std::uint64_t interval_of(std::uint64_t ib) const { return (ib - first_amap) / coverage(); }
  // Bytes a block with cb stored bytes occupies on disk: data, padding and trailer.
  constexpr std::uint64_t block_disk_size(std::uint64_t cb) const {
    return (cb + block_trailer + slot_size - 1) / slot_size * slot_size;
  }
};

inline constexpr SpaceGeometry kUnicodeSpace{FileLayout::kUnicode, 512, 64, 496, 0x4400, 16, 8176, true};
// Blocks of up to 64 KB on disk, as in the Outlook files of this layout.
inline constexpr SpaceGeometry kUnicode4kSpace{FileLayout::kUnicode4k, 4096, 512, 4072, 0x22000, 24, 65512, false};

// The geometry of a layout the writer produces; anything but the 4 KB layout is the 512-byte one.
constexpr const SpaceGeometry& space_geometry(FileLayout layout) {
  return layout == FileLayout::kUnicode4k ? kUnicode4kSpace : kUnicodeSpace;
}

// The 512-byte layout's geometry by name, for the code that reads and checks only that layout.
inline constexpr std::uint64_t kSlotSize = kUnicodeSpace.slot_size;
inline constexpr std::uint64_t kFirstAmapOffset = kUnicodeSpace.first_amap;
inline constexpr std::uint64_t kDListOffset = 0x4200;
inline constexpr std::uint64_t kAmapBytes = kUnicodeSpace.map_bytes;
inline constexpr std::uint64_t kAmapCoverage = kUnicodeSpace.coverage();  // 253,952 bytes
inline constexpr std::uint64_t kSlotsPerAmap = kUnicodeSpace.slots_per_map();

constexpr std::uint64_t amap_offset(std::uint64_t k) { return kUnicodeSpace.amap_offset(k); }
constexpr bool has_pmap(std::uint64_t k) { return kUnicodeSpace.has_pmap(k); }
constexpr bool has_fmap(std::uint64_t k) { return kUnicodeSpace.has_fmap(k); }
constexpr bool has_fpmap(std::uint64_t k) { return kUnicodeSpace.has_fpmap(k); }
constexpr std::uint64_t pmap_offset(std::uint64_t k) { return kUnicodeSpace.pmap_offset(k); }
constexpr std::uint64_t fmap_offset(std::uint64_t k) { return kUnicodeSpace.fmap_offset(k); }
constexpr std::uint64_t fpmap_offset(std::uint64_t k) { return kUnicodeSpace.fpmap_offset(k); }
constexpr std::uint64_t reserved_map_bytes(std::uint64_t k) { return kUnicodeSpace.reserved_map_bytes(k); }
constexpr std::uint64_t interval_of(std::uint64_t ib) { return kUnicodeSpace.interval_of(ib); }

static_assert(kUnicodeSpace.max_block_size() == 8192 && kUnicode4kSpace.max_block_size() == 65536);
static_assert(kUnicode4kSpace.max_block_size() / kUnicode4kSpace.slot_size == kUnicodeSpace.max_block_size() / kSlotSize);

}  // namespace salvora::pst
