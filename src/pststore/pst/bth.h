#pragma once
// BTree-on-heap (MS-PST 2.3.2): sorted fixed-size records in heap allocations, with index
// levels when they do not fit one allocation.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pststore/pst/heap.h"

namespace salvora::pst {

struct BthHeader {
  std::uint8_t cb_key = 0;
  std::uint8_t cb_ent = 0;
  std::uint8_t levels = 0;
  std::uint32_t hid_root = 0;
  std::vector<std::uint8_t> Serialize() const;
  static std::optional<BthHeader> Parse(Bytes data);
};

// Builds the tree over records (key then data, each cb_key + cb_ent bytes, sorted by key) and
// returns the HID of its header.
std::uint32_t BuildBth(HeapWriter& heap, std::uint8_t cb_key, std::uint8_t cb_ent, Bytes records);

// The leaf records in order; empty optional (with problems) when the tree is malformed.
struct BthContents {
  BthHeader header;
  std::vector<Bytes> records;  // views into the heap reader's blocks
};
std::optional<BthContents> ReadBth(const HeapReader& heap, std::uint32_t hid, std::vector<std::string>* problems);

// Little-endian key of up to 8 bytes.
std::uint64_t BthKey(Bytes record, std::uint8_t cb_key);

}  // namespace salvora::pst
