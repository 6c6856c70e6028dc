#pragma once
// B-tree-on-heap: sorted records of key and data stored in heap allocations, with
// bIdxLevels levels of index records (key and child HID) above the leaves.
//
// The reader gives the leaf records as views into the heap, which must outlive them. The
// builder writes into a HeapWriter.

#include <cstdint>
#include <functional>
#include <span>
#include <optional>
#include <utility>
#include <vector>

#include "format/findings.h"
#include "format/heap_on_node.h"

namespace salvora {

struct BthHeader {
  static constexpr std::uint8_t kType = kClientBth;
  std::uint8_t key_size = 0;      // cbKey
  std::uint8_t entry_size = 0;    // cbEnt
  std::uint8_t index_levels = 0;  // bIdxLevels
  Hid root;                       // hidRoot; 0 for an empty tree

  std::size_t record_size() const { return std::size_t{key_size} + entry_size; }
  std::vector<std::uint8_t> Serialize() const;
  // Empty when shorter than a header or of another type.
  static std::optional<BthHeader> Parse(Bytes data);
};

// The header in the allocation of hid. Empty, with a finding, when it cannot be read, is not
// a BTH header, or has a key size of 0 or more index levels than any writer makes.
std::optional<BthHeader> read_bth_header(const HeapOnNode& heap, Hid hid, Findings& findings);

// The leaf records in tree order, each record_size() bytes. An empty tree has no records. Fails
// when the root cannot be found. Below the root, an index record that points nowhere or back
// into the tree, and a record block that is not a whole number of records, are findings: under
// salvage the walk skips the one or reads the whole records of the other, under strict the
// tree fails. Keys out of order are a finding under both; the records are returned as they are.
std::optional<std::vector<Bytes>> read_bth_records(const HeapOnNode& heap, const BthHeader& header, Findings& findings);

// The same walk, handing each leaf record to visit as it is met instead of keeping them: false
// where read_bth_records fails, with the same findings (the records met before a failure have
// been visited). A record's bytes are valid during its call only: a heap opened lazily lets go
// of each leaf's block once the walk has left it.
bool for_each_bth_record(const HeapOnNode& heap, const BthHeader& header, Findings& findings,
                         const std::function<void(Bytes)>& visit);

// Both steps above in one.
struct BthContents {
  BthHeader header;
  std::vector<Bytes> records;
};
std::optional<BthContents> read_bth(const HeapOnNode& heap, Hid hid, Findings& findings);

// Little-endian key of up to 8 bytes.
std::uint64_t bth_key(Bytes record, std::uint8_t key_size);

// Builds a BTH in two steps, because readers expect the BTH header to be the heap's first
// allocation while the records often point at values allocated later: AllocateHeader, then
// ReserveRecords for a known count, then Fill with the final records (sorted by key).
class BthBuilder {
 public:
  BthBuilder(HeapWriter& heap, std::uint8_t key_size, std::uint8_t entry_size)
      : heap_(heap), key_size_(key_size), entry_size_(entry_size) {}
  Hid AllocateHeader();
  void ReserveRecords(std::size_t count);
  void Fill(Bytes records);
  // Or the records written in place, in any order: Record(i) is the i-th reserved record (its
  // span lives until the heap's next allocation), and FillInPlace sorts them by key, then by
  // data, both as little-endian numbers. A large index is then in memory once.
  std::span<std::uint8_t> Record(std::size_t i);
  // Says that the records up to i are written, in key order and for good: a leaf once full
  // goes to the heap's sink with the blocks before it, so that a large index is not held
  // whole. Either every record comes this way, in order, or none does.
  void RecordFinal(std::size_t i);
  void FillInPlace();
  Hid header_hid() const { return header_hid_; }

 private:
  // The levels above the leaves, from the leaf records, and the header.
  void FillIndex();

  HeapWriter& heap_;
  std::uint8_t key_size_, entry_size_;
  Hid header_hid_;
  // Allocations per level, leaves first, each with the number of records it holds.
  std::vector<std::vector<std::pair<Hid, std::size_t>>> levels_;
  // The first key of each leaf, key_size_ bytes each, kept once its records came in order
  // (RecordFinal): its block may be gone by the time the levels above are written.
  std::vector<std::uint8_t> first_keys_;
};

// Builds the tree over records (key then data, sorted by key) in one go and returns the HID of
// its header.
Hid build_bth(HeapWriter& heap, std::uint8_t key_size, std::uint8_t entry_size, Bytes records);

}  // namespace salvora
