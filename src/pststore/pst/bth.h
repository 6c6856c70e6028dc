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

// Builds a BTH in two steps, because readers expect the BTH header to be the heap's first
// allocation while the records often point at values allocated later: AllocateHeader, then
// ReserveRecords for a known count, then Fill with the final records (sorted by key).
class BthBuilder {
 public:
  BthBuilder(HeapWriter& heap, std::uint8_t cb_key, std::uint8_t cb_ent) : heap_(heap), cb_key_(cb_key), cb_ent_(cb_ent) {}
  std::uint32_t AllocateHeader();
  void ReserveRecords(std::size_t count);
  void Fill(Bytes records);
  std::uint32_t header_hid() const { return header_hid_; }

 private:
  HeapWriter& heap_;
  std::uint8_t cb_key_, cb_ent_;
  std::uint32_t header_hid_ = 0;
  // Allocations per level, leaves first, each with the number of records it holds.
  std::vector<std::vector<std::pair<std::uint32_t, std::size_t>>> levels_;
};

// Builds the tree over records (key then data, each cb_key + cb_ent bytes, sorted by key) in
// one go and returns the HID of its header.
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
