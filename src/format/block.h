#pragma once
// Blocks: the trailer behind every block's data, data blocks with their encoding, and the
// internal blocks: data trees (XBLOCK, XXBLOCK) and sub-node lists (SLBLOCK, SIBLOCK).
//
// The parsers read every layout; the serialisers write the two Unicode layouts the writer
// produces.
// Whether a damaged block is still used is the caller's to decide: the trailer parser says what
// matches and what does not, and the internal block parsers take the caller's tolerance.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/block_crypt.h"
#include "format/byte_reader.h"
#include "format/findings.h"
#include "format/layout.h"

namespace salvora {

inline constexpr std::uint64_t kBidInternal = 2;
inline constexpr std::uint8_t kBlockTypeDataTree = 0x01;
inline constexpr std::uint8_t kBlockTypeSubnodes = 0x02;

// Whether a block id names an internal block: a data tree or a sub-node block.
inline bool IsInternalBid(std::uint64_t bid) { return (bid & kBidInternal) != 0; }

// Bytes a block of cb data bytes takes on disk in a layout: data, padding and trailer.
std::size_t block_disk_size(std::size_t cb, FileLayout layout);

struct BlockTrailer {
  std::uint16_t cb = 0;
  std::uint16_t sig = 0;
  std::uint32_t crc = 0;
  std::uint64_t bid = 0;
  // The 4 KB layout only: the data's size once inflated; 0 in the other layouts.
  std::uint16_t cb_inflated = 0;
};
// The trailer of a block as stored: `disk` is the block's whole space (data, padding, trailer)
// of block_disk_size(cb) bytes. Empty when the bytes are shorter.
std::optional<BlockTrailer> parse_block_trailer(Bytes disk, std::size_t cb, FileLayout layout);
// The trailer from its own bytes (the last geometry_for(layout).block_trailer_size bytes of a
// block's space), for a scan that meets a trailer before it knows where the block begins.
// Empty when the bytes are shorter.
std::optional<BlockTrailer> read_block_trailer(Bytes trailer, FileLayout layout);

// What a block's trailer vouches for, field by field, against what its index entry says.
struct TrailerVerdict {
  bool cb_ok = false;
  bool sig_ok = false;
  bool crc_ok = false;  // over the stored data bytes
  bool bid_ok = false;  // bit 0, the writer's own, is not compared
  bool vouches() const { return cb_ok && crc_ok && bid_ok; }
};
TrailerVerdict judge_block_trailer(const BlockTrailer& trailer, Bytes stored, std::uint64_t bid, std::uint16_t cb,
                                   std::uint64_t ib);

// A block's bytes as they are stored, before its place in the file is known: the payload,
// encoded when it is an external data block and, in the 4 KB layout, then zlib-compressed
// where that saves at least one 512-byte unit of disk (as Outlook does: a block that would
// take as many units either way stays plain).
struct StoredBlock {
  std::vector<std::uint8_t> bytes;  // cb of them
  std::uint16_t cb_inflated = 0;    // the payload's own size
  bool compressed() const { return bytes.size() != cb_inflated; }
};
StoredBlock store_block_data(Bytes payload, std::uint64_t bid, CryptMethod crypt, FileLayout layout,
                             bool allow_compression = true);
// The block as it goes to disk at offset ib: stored bytes, zero padding and the layout's trailer.
std::vector<std::uint8_t> seal_block(const StoredBlock& stored, std::uint64_t bid, std::uint64_t ib, FileLayout layout);

// The bytes of a Unicode block as they go to disk at offset ib: the payload (encoded when it is
// an external data block), zero padding and the trailer.
std::vector<std::uint8_t> build_block(Bytes payload, std::uint64_t bid, std::uint64_t ib, CryptMethod crypt);

// A Unicode block read back under the strict policy: every trailer mismatch against the
// expected id, size and offset is a finding; the payload comes back decoded when the block is
// external, and empty when the block does not fit its space.
std::vector<std::uint8_t> open_block(Bytes disk, std::uint64_t bid, std::uint16_t cb, std::uint64_t ib, CryptMethod crypt,
                                     Findings& findings);
// The same for a block of either Unicode layout: in the 4 KB one a block whose stored size
// differs from cb_inflated is inflated first (it was compressed after it was encoded), and the
// trailer's inflated size must match the block tree's.
std::vector<std::uint8_t> open_block(Bytes disk, std::uint64_t bid, std::uint16_t cb, std::uint64_t ib, CryptMethod crypt,
                                     Findings& findings, FileLayout layout, std::uint16_t cb_inflated);

// XBLOCK (level 1, over data blocks) and XXBLOCK (level 2, over XBLOCKs).
struct XBlock {
  static constexpr std::size_t kMaxEntries = (8176 - 8) / 8;  // 1021
  std::uint8_t level = 1;
  std::uint32_t total = 0;  // lcbTotal: bytes of data under this block
  std::vector<std::uint64_t> bids;
  std::vector<std::uint8_t> Serialize() const;
  // Empty when the block type is not a data tree or the count does not fit the bytes; under
  // strict, also when the level is neither 1 nor 2 (salvage walks any level).
  static std::optional<XBlock> Parse(Bytes payload, FileLayout layout, Tolerance tolerance);
  // As Parse under salvage, but a count past the data keeps the ids that fit: for asking which
  // blocks a damaged block still names, not for reading its data.
  static std::optional<XBlock> ParseWhatFits(Bytes payload, FileLayout layout);
};

// SLBLOCK (level 0, SLENTRY) and SIBLOCK (level 1, SIENTRY).
struct SubnodeBlockEntry {
  std::uint32_t nid = 0;
  std::uint64_t bid_data = 0;   // SIENTRY: the child SLBLOCK
  std::uint64_t bid_sub = 0;    // SLENTRY only
  bool operator==(const SubnodeBlockEntry&) const = default;
};
struct SubnodeBlock {
  static constexpr std::size_t kMaxLeafEntries = (8176 - 8) / 24;   // 340
  static constexpr std::size_t kMaxIndexEntries = (8176 - 8) / 16;  // 510
  std::uint8_t level = 0;
  std::vector<SubnodeBlockEntry> entries;
  std::vector<std::uint8_t> Serialize() const;
  // Empty when the block type is not a sub-node block or the count does not fit the bytes;
  // under strict, also when the level is above 1 (salvage reads any level above 0 as an index).
  static std::optional<SubnodeBlock> Parse(Bytes payload, FileLayout layout, Tolerance tolerance);
  // As Parse under salvage, but a count past the data keeps the entries that fit.
  static std::optional<SubnodeBlock> ParseWhatFits(Bytes payload, FileLayout layout);
};

}  // namespace salvora
