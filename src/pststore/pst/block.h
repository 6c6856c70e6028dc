#pragma once
// Blocks (MS-PST 2.2.2.8): the trailer, data blocks with their encoding, and the internal
// blocks: data trees (XBLOCK, XXBLOCK) and sub-node lists (SLBLOCK, SIBLOCK).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/block_crypt.h"
#include "format/byte_reader.h"

namespace salvora::pst {

inline constexpr std::uint64_t kBidInternal = 2;

// The bytes of a block as they go to disk at offset ib: the payload (encoded when it is an
// external data block), zero padding and the trailer.
std::vector<std::uint8_t> BuildBlock(Bytes payload, std::uint64_t bid, std::uint64_t ib, CryptMethod crypt);

// A block read back: checks the trailer against the expected id, size and offset and returns
// the payload, decoded when it is an external block. Problems are appended to *problems.
std::vector<std::uint8_t> OpenBlock(Bytes disk, std::uint64_t bid, std::uint16_t cb, std::uint64_t ib,
                                    CryptMethod crypt, std::vector<std::string>* problems);

// 2.2.2.8.3.2: XBLOCK (level 1) and XXBLOCK (level 2).
struct XBlock {
  static constexpr std::size_t kMaxEntries = (8176 - 8) / 8;  // 1021
  std::uint8_t level = 1;
  std::uint32_t total = 0;  // lcbTotal: bytes of data under this block
  std::vector<std::uint64_t> bids;
  std::vector<std::uint8_t> Serialize() const;
  static std::optional<XBlock> Parse(Bytes payload);
};

// 2.2.2.8.3.3: SLBLOCK (level 0, SLENTRY) and SIBLOCK (level 1, SIENTRY).
struct SubnodeEntry {
  std::uint32_t nid = 0;
  std::uint64_t bid_data = 0;   // SIENTRY: the child SLBLOCK
  std::uint64_t bid_sub = 0;    // SLENTRY only
  bool operator==(const SubnodeEntry&) const = default;
};
struct SubnodeBlock {
  static constexpr std::size_t kMaxLeafEntries = (8176 - 8) / 24;   // 340
  static constexpr std::size_t kMaxIndexEntries = (8176 - 8) / 16;  // 510
  std::uint8_t level = 0;
  std::vector<SubnodeEntry> entries;
  std::vector<std::uint8_t> Serialize() const;
  static std::optional<SubnodeBlock> Parse(Bytes payload);
};

// Whether a payload is one of the internal block kinds above (btype 1 or 2).
inline bool IsInternalBid(std::uint64_t bid) { return (bid & kBidInternal) != 0; }

}  // namespace salvora::pst
