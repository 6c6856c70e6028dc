#pragma once
// The property context layout: a heap of client signature 0xBC whose user root is a BTH keyed
// by 2-byte property ids, each record holding the type and 4 bytes that are the value itself
// (small fixed types) or an HNID naming where the value is (a heap allocation or a sub-node).
//
// Turning records into values (which types are inline, how sub-nodes are read) is the
// caller's: the records are views into the heap, which must outlive them.

#include <cstdint>
#include <optional>
#include <vector>

#include "format/bth.h"
#include "format/byte_writer.h"
#include "format/findings.h"
#include "format/heap_on_node.h"

namespace salvora {

// Why a property or table context gave nothing.
enum class ContextError { kNone, kWrongClient, kBadBthHeader, kBadBthRoot, kBadTableInfo, kBadRowMatrix };

struct PcRecord {
  std::uint16_t id = 0;
  std::uint16_t type = 0;
  Bytes value;  // the 4 bytes after the type

  std::uint32_t hnid() const { return load_u32(value, 0); }
};

inline constexpr std::size_t kPcRecordSize = 8;

// The value of a property of type Object (an attachment's embedded message or storage) as the
// heap holds it: the NID of the sub-node that holds the object, then the object's size.
struct ObjectReference {
  static constexpr std::size_t kSize = 8;
  Nid nid;
  std::uint32_t size = 0;

  void Serialize(ByteWriter& w) const;
  // Empty when the bytes do not hold the NID; a value cut off after it reads with size 0.
  static std::optional<ObjectReference> Parse(Bytes value);
};

// The records in id order. The BTH must have 2-byte keys and (strict) 6-byte entries or
// (salvage) at least 6, of which the first 6 are read.
std::optional<std::vector<PcRecord>> read_pc_records(const HeapOnNode& heap, Findings& findings,
                                                     ContextError* error = nullptr);

}  // namespace salvora
