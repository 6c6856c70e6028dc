#pragma once
// The layouts of the structured fuzz inputs, shared by the targets that read them and the seed
// maker that writes them, so the two cannot drift apart.
//
// Heap input (content_heap): one flags byte (bit 0: wide heap ids, as 4 KB files use; bit 1:
// apply the result as an attachment object's), then records up to the end:
//   0x00 [u24 length][bytes]              one block of the heap, in order
//   0x01 [u32 nid][u24 length][bytes]     one block of a sub-node's value, in order
// A record cut short by the end of the input takes what is left; an unknown tag ends the input.
//
// Two-stream input (named_map): [u32 length of the first stream][first stream][second stream],
// the length clamped to what follows.

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace salvora::fuzz {

using Blob = std::vector<std::uint8_t>;

struct HeapInput {
  bool wide_hids = false;
  bool attachment_object = false;
  std::vector<Blob> heap;
  std::map<std::uint32_t, std::vector<Blob>> subnodes;

  static HeapInput Decode(std::span<const std::uint8_t> data);
  Blob Encode() const;
};

struct TwoStreams {
  std::span<const std::uint8_t> first, second;

  static TwoStreams Decode(std::span<const std::uint8_t> data);
  static Blob Encode(std::span<const std::uint8_t> first, std::span<const std::uint8_t> second);
};

}  // namespace salvora::fuzz
