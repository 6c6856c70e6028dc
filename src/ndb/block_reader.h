#pragma once
// Reading bytes out of the source: raw pages, blocks by id, whole node values across data
// trees, sub-node lists, and values streamed into a file.
//
// Blocks are decoded with the header's encoding and inflated when stored compressed (4 KB
// files). Sizes come from the blocks themselves, never from a fixed block size. Nothing here
// reads past a buffer; a block that cannot be found, read or inflated fails the value.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "format/byte_reader.h"
#include "format/ids.h"
#include "ndb/ost_context.h"

namespace salvora {

using ByteVector = std::vector<std::uint8_t>;

// Where a node value goes, chunk by chunk, in the order of the data.
class ValueSink {
 public:
  virtual ~ValueSink() = default;
  virtual void Deliver(Bytes chunk) = 0;
  std::uint64_t total() const { return total_; }

 protected:
  std::uint64_t total_ = 0;
};

class MemorySink : public ValueSink {
 public:
  void Deliver(Bytes chunk) override;
  ByteVector& value() { return value_; }

 private:
  ByteVector value_;
};

// Writes to a file in whole groups of three bytes, holding back up to two bytes between
// chunks; Finish writes what is held back. Every write but the last is a multiple of 3.
class TripletFileSink : public ValueSink {
 public:
  explicit TripletFileSink(CFile64& file) : file_(file) {}
  void Deliver(Bytes chunk) override;
  void Finish();

 private:
  CFile64& file_;
  std::uint8_t carry_[3] = {0, 0, 0};
  std::size_t carry_count_ = 0;
};

struct SubnodeEntry {
  Nid nid;
  Bid data_bid;
  Bid sub_bid;
  std::optional<BlockEntry> data_block;  // empty when not in the block index
  std::optional<BlockEntry> sub_block;
};

// Up to count bytes at an absolute offset, raw; fewer at the end of the file.
ByteVector ReadAt(const OstContext& context, std::uint64_t offset, std::size_t count);

// Decodes a block's data bytes in place. Returns -1 (buffer unchanged) for an unknown method.
int DecodeBlock(std::span<std::uint8_t> data, int method, Bid bid);

// The stored bytes of a block (cb bytes at its offset), not decoded, not inflated. Empty
// optional when the id is not in the index or the file is short.
std::optional<ByteVector> ReadBlock(const OstContext& context, Bid bid);
// One block ready for use: inflated when compressed, and for external (data) blocks decoded
// with the file's encoding. Internal blocks (data trees, sub-node blocks) are never encoded.
std::optional<ByteVector> ReadBlockDecoded(const OstContext& context, Bid bid);

// The whole value of a node or sub-node: a single data block, or the concatenation of the
// data blocks under a data tree. Returns false when any block is missing or unreadable, or when
// the tree's blocks do not add up to the total it stores (lcbTotal); what was delivered before
// the failure stays delivered.
bool ReadNodeData(const OstContext& context, const BlockEntry& entry, ValueSink& sink);
bool ReadDataTree(const OstContext& context, Bid bid, ValueSink& sink, int depth = 0);
// Whether ReadNodeData would find the value whole and undamaged, learned without decoding or
// inflating its data blocks: every block is found and read whole and its trailer vouches for
// it; the data tree's own blocks are read and followed as ReadNodeData follows them. A data
// block its trailer vouches for is taken to inflate. Counts no damage: where the answer is no,
// reading the value tells what is wrong, and counts it.
bool CheckNodeData(const OstContext& context, const BlockEntry& entry);
// Looks at a value's blocks as ReadNodeData reads them, without decoding or inflating its data
// blocks: a block whose trailer does not vouch for it is counted as damaged, as reading it
// would count it. False where the value could not be read whole (a block missing or cut
// short, a data tree that does not add up to its stored total).
bool CheckValueBlocks(const OstContext& context, const BlockEntry& entry);
// Whether the block at this entry's place is the one the entry names: read whole, with a
// trailer that vouches for its id, size and bytes. Nothing is counted.
bool BlockVouched(const OstContext& context, const BlockEntry& entry);
// The blocks that hold a value's bytes, in order: the block itself, or the blocks under its data
// tree (read one by one with ReadBlockDecoded). Only the tree's own blocks are read here. Where
// part of the tree cannot be read, the blocks before it are listed and complete is false, so
// that what can be read is still read. Empty optional when the id is not in the index.
struct ValueBlockList {
  std::vector<Bid> blocks;
  bool complete = true;
};
std::optional<ValueBlockList> ValueBlocks(const OstContext& context, Bid bid);
// The whole value into memory; empty optional on failure.
std::optional<ByteVector> ReadNodeValue(const OstContext& context, Bid bid);
// The data blocks of a value one by one, each decoded and inflated, in order. A heap-on-node
// spread over a data tree needs them apart: every block is one heap block with its own map.
// A tree that does not add up to its stored total gives the blocks it names, counted as damaged.
std::optional<std::vector<ByteVector>> ReadNodeBlocks(const OstContext& context, Bid bid);

// The sub-node list under a sub-node block (an SLBLOCK, or an SIBLOCK of SLBLOCKs), in order.
std::optional<std::vector<SubnodeEntry>> ReadSubnodes(const OstContext& context, Bid sub_bid);
const SubnodeEntry* FindSubnode(const std::vector<SubnodeEntry>& subnodes, Nid nid);
// The value of one sub-node; empty optional when the NID is not in the list or unreadable.
std::optional<ByteVector> ReadSubnodeValue(const OstContext& context, Nid nid,
                                           const std::vector<SubnodeEntry>& subnodes);

// Streams a stored value into an open file through the triplet sink and returns the number of
// bytes written; empty optional when the block is missing or unreadable (bytes written before
// the failure stay in the file).
std::optional<std::uint64_t> WriteAttachmentData(const OstContext& context, Bid data_bid, CFile64& file);

}  // namespace salvora
