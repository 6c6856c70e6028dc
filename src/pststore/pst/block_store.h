#pragma once
// Blocks going to disk: ids, placement, encoding, the block B-tree, and the trees built from
// blocks (data trees for values longer than one block, sub-node trees).
//
// Every block is written as soon as it is made; its block tree entry stays in memory until
// the next commit has written it.
// A block has cRef 2 (its tree entry plus its one reference), or more when a value's data block
// repeats one written earlier: it is then referenced again instead of written twice.
// A caller that will replace a node later passes an "owned" list that collects every block
// id written or referenced for it, so that FreeBlocks can release them (a shared block gives
// up one reference).

#include <cstdint>
#include <map>
#include <vector>

#include "format/block_crypt.h"
#include "format/block.h"
#include "platform/delta_list.h"
#include "pststore/pst/cow_btree.h"
#include "pststore/pst/disk_layout.h"
#include "pststore/pst/file_space.h"
#include "pststore/pst/shared_blocks.h"

namespace salvora::pst {

using BlockTree = CowBTree<BbtEntry, 0x80>;
// The ids of a node's blocks in the order they were written, a byte or two each: every table's
// list is held between checkpoints, and a large folder's table has thousands of blocks.
using BlockList = DeltaList;
// How often each block's bytes came so far in the data tree being built.
using TreeRepeats = std::map<SharedBlocks::Digest, std::uint32_t>;

class BlockStore {
 public:
  BlockStore(CFile64& file, CryptMethod crypt, FileLayout layout = FileLayout::kUnicode)
      : space_(file, layout), crypt_(crypt), bbt_(layout) {
    bbt_.SetPageSource([this](std::uint64_t ib) { return space_.Read(ib, space_.geometry().page_size); });
  }

  FileSpace& space() { return space_; }
  BlockTree& bbt() { return bbt_; }
  CryptMethod crypt() const { return crypt_; }
  const SpaceGeometry& geometry() const { return space_.geometry(); }

  // One block of at most max_block_data bytes; internal blocks are data-tree and sub-node
  // blocks. In the 4 KB layout a data block is stored compressed where that saves space;
  // internal blocks stay plain, since not every reader inflates them.
  std::uint64_t WriteBlock(Bytes payload, bool internal, BlockList* owned);
  // A leaf data block (a heap's, a body's, an attachment's): the same bytes written earlier are
  // referenced again. Data-tree and sub-node blocks are always written anew: a shared one would
  // take a second reference to each of its children that nothing holds.
  // A tree never names one block twice (readers refuse that as a bomb: it reads as more blocks
  // than the file holds), so the k-th of equal blocks in one tree is shared only with the k-th
  // of another tree: `repeats` counts the tree's blocks by digest (null for a lone block).
  std::uint64_t WriteDataBlock(Bytes payload, BlockList* owned, TreeRepeats* repeats);
  // A value of any length as one block or a data tree; 0 for an empty value.
  std::uint64_t WriteValue(Bytes data, BlockList* owned);
  // A data tree over blocks already written (in order), with their sizes.
  std::uint64_t WriteTree(const std::vector<std::uint64_t>& bids, const std::vector<std::uint32_t>& sizes, BlockList* owned);
  // A sub-node tree (SLBLOCKs, and an SIBLOCK above them when needed); entries sorted by NID.
  std::uint64_t WriteSubnodes(const std::vector<SubnodeBlockEntry>& entries, BlockList* owned);
  void FreeBlocks(const BlockList& bids);

  std::uint64_t next_bid = 4;
  std::uint64_t next_page_bid = 1;
  std::uint64_t bytes_written = 0;
  std::uint64_t blocks_shared = 0;

 private:
  FileSpace space_;
  CryptMethod crypt_;
  BlockTree bbt_;
  SharedBlocks shared_;
};

// Streams a value into data blocks of the layout's largest size and builds its tree at the
// end, so that an attachment of any size passes through a single block buffer. Its blocks are
// value blocks, shared with equal ones written before.
class DataTreeWriter {
 public:
  DataTreeWriter(BlockStore& store, BlockList* owned) : store_(store), owned_(owned) {}
  void Append(Bytes data);
  // Ends the current block early (heap and row-matrix blocks are cut by their owner).
  void EndBlock();
  std::uint64_t Finish();
  std::uint64_t size() const { return size_; }

 private:
  BlockStore& store_;
  BlockList* owned_;
  std::vector<std::uint8_t> block_;
  std::vector<std::uint64_t> bids_;
  std::vector<std::uint32_t> sizes_;
  TreeRepeats repeats_;
  std::uint64_t size_ = 0;
};

// A data tree whose blocks come in any order, each written as it comes: a streamed heap's
// first blocks are final only after all the others. The tree lists them by index at the end.
class IndexedTreeWriter {
 public:
  IndexedTreeWriter(BlockStore& store, BlockList* owned) : store_(store), owned_(owned) {}
  void Put(std::size_t index, Bytes payload);
  // Every index below the highest one put must have been put.
  std::uint64_t Finish();

 private:
  BlockStore& store_;
  BlockList* owned_;
  std::vector<std::uint64_t> bids_;  // 0 where no block is put yet
  std::vector<std::uint32_t> sizes_;
  TreeRepeats repeats_;
};

}  // namespace salvora::pst
