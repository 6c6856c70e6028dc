#pragma once
// The trailer of a B-tree page (block index or node index), read only when its checksum
// vouches for it, and the fields of a block trailer. A page whose checksum matches is as its writer left it: its level and entry
// count can be believed. Nothing here trusts a page whose checksum fails.

#include <cstdint>
#include <optional>

#include "format/byte_reader.h"
#include "ndb/store_header.h"

namespace salvora {

inline constexpr std::uint8_t kPageTypeBlockIndex = 0x80;
inline constexpr std::uint8_t kPageTypeNodeIndex = 0x81;

struct BtPageTrailer {
  std::uint8_t ptype = 0;   // kPageTypeBlockIndex or kPageTypeNodeIndex
  std::uint8_t level = 0;   // 0 for a leaf page
  std::size_t count = 0;    // entries in use, at most what the page holds
  std::uint64_t bid = 0;    // the page's own id: a later write has a higher one
};

// The trailer of a page of geometry_for(layout).page_size bytes; empty when the page is no
// B-tree page or its checksum does not match.
std::optional<BtPageTrailer> VerifiedBtPage(Bytes page, FileLayout layout);

// The fields of a block trailer (the last geometry.block_trailer_size bytes of a block's span);
// the caller checks them against what it expects.
struct BlockTrailer {
  std::uint16_t cb = 0;
  std::uint16_t signature = 0;
  std::uint32_t crc = 0;
  std::uint64_t bid = 0;
  std::uint16_t cb_inflated = 0;  // 4 KB files only; else equal to cb
};
BlockTrailer ParseBlockTrailer(Bytes trailer, FileLayout layout);

// Bytes of one entry of a page of this type and level.
std::size_t bt_entry_size(const PageGeometry& g, std::uint8_t ptype, std::uint8_t level);

}  // namespace salvora
