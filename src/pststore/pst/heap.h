#pragma once
// Heap-on-node (MS-PST 2.3.1): the allocator inside a node's value. A heap is a sequence of
// blocks of the node's data tree; each holds allocations and, after them, a page map of their
// offsets. A HID names (block index, allocation index).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/byte_reader.h"

namespace salvora::pst {

inline constexpr std::uint8_t kHeapSigPc = 0xBC;
inline constexpr std::uint8_t kHeapSigTc = 0x7C;
inline constexpr std::uint8_t kHeapSigBth = 0xB5;

constexpr std::uint32_t MakeHid(std::uint32_t block, std::uint32_t index) { return (block << 16) | (index << 5); }

class HeapWriter {
 public:
  explicit HeapWriter(std::uint8_t client_sig) : client_sig_(client_sig) {}
  // A new allocation of at most 3580 bytes (zero-length allocations are legal).
  std::uint32_t Allocate(Bytes data);
  // Rewrites an allocation in place with bytes of the same length.
  void Overwrite(std::uint32_t hid, Bytes data);
  void SetUserRoot(std::uint32_t hid) { user_root_ = hid; }
  // The block payloads: every block but the last is a full 8176 bytes.
  std::vector<std::vector<std::uint8_t>> Finish() const;

 private:
  struct Block {
    std::vector<std::uint8_t> bytes;     // header space and allocations
    std::vector<std::uint16_t> starts;   // offset of each allocation
  };
  static std::size_t HeaderSize(std::size_t block_index);
  std::uint8_t client_sig_;
  std::uint32_t user_root_ = 0;
  std::vector<Block> blocks_;
};

class HeapReader {
 public:
  // Parses the blocks of a heap; problems describe what is malformed (then Get may fail).
  static std::optional<HeapReader> Parse(std::vector<std::vector<std::uint8_t>> blocks, std::vector<std::string>* problems);
  std::optional<Bytes> Get(std::uint32_t hid) const;
  std::uint8_t client_sig() const { return client_sig_; }
  std::uint32_t user_root() const { return user_root_; }
  std::size_t allocation_count() const;

 private:
  std::vector<std::vector<std::uint8_t>> blocks_;
  std::vector<std::vector<std::uint16_t>> maps_;
  std::uint8_t client_sig_ = 0;
  std::uint32_t user_root_ = 0;
};

}  // namespace salvora::pst
