#pragma once
// A heap-on-node (MS-PST 2.3.1): the allocations of a node value that is one data block or a
// data tree of them. Every block carries its own page map, so the blocks are kept apart and a
// heap id names a block (hidBlockIndex) and an allocation in it (hidIndex).
//
// The heap owns its blocks; the views Lookup returns live as long as the heap.

#include <cstdint>
#include <optional>
#include <vector>

#include "content/property_block.h"
#include "format/byte_reader.h"
#include "format/ids.h"

namespace salvora {

// How a heap id splits into allocation index and block index. Files with 4 KB pages widen the
// index to 14 bits and leave 13 bits for the block (as libpff reads them).
enum class HidLayout { kStandard, kWide };

inline constexpr std::uint8_t kHeapSignature = 0xEC;
inline constexpr std::uint8_t kClientPropertyContext = 0xBC;
inline constexpr std::uint8_t kClientTableContext = 0x7C;
inline constexpr std::uint8_t kClientBth = 0xB5;

struct HidParts {
  std::uint32_t index = 0;  // 1-based allocation index; 0 names nothing
  std::uint32_t block = 0;  // 0-based heap block
};
HidParts split_hid(Hid hid, HidLayout layout);

enum class HeapError { kNone, kEmpty, kShortHeader, kBadSignature, kBadPageMap };

class HeapOnNode {
 public:
  // Takes the node value's blocks in order. Fails only when block 0 is unusable; a later block
  // with a broken page map fails the lookups into it, not the heap.
  static std::optional<HeapOnNode> Parse(std::vector<ByteVector> blocks, HidLayout layout,
                                         HeapError* error = nullptr);

  std::uint8_t client_signature() const { return client_signature_; }
  Hid user_root() const { return user_root_; }
  std::size_t block_count() const { return blocks_.size(); }
  HidLayout layout() const { return layout_; }

  // The bytes of one allocation; empty optional when the id is not a heap id or names no
  // allocation. A zero-length allocation is a valid, empty value.
  std::optional<Bytes> Lookup(Hid hid) const;

 private:
  struct PageMap {
    bool valid = false;
    std::vector<std::uint16_t> offsets;  // cAlloc + 1 boundaries
  };
  static PageMap ParsePageMap(Bytes block);
  std::optional<Bytes> LookupAs(Hid hid, HidLayout layout) const;

  std::vector<ByteVector> blocks_;
  std::vector<PageMap> maps_;
  HidLayout layout_ = HidLayout::kStandard;
  std::uint8_t client_signature_ = 0;
  Hid user_root_;
};

}  // namespace salvora
