#pragma once
// Builds small PST/OST files in memory, in any of the three layouts, for tests: blocks (plain,
// encoded, compressed), data trees, sub-node blocks, and the two B-trees over them, with knobs
// to damage what a reader must survive.

#include <cstdint>
#include <string>
#include <vector>

#include "format/block_crypt.h"
#include "format/ids.h"
#include "ndb/store_header.h"

namespace salvora::testing {

using ByteVector = std::vector<std::uint8_t>;

struct BuiltNode {
  Nid nid;
  Bid data;
  Bid sub;
  Nid parent;
};

struct SubnodeSpec {
  Nid nid;
  Bid data;
  Bid sub;
};

class NdbBuilder {
 public:
  explicit NdbBuilder(FileLayout layout, CryptMethod crypt = CryptMethod::kNone, std::uint16_t client = 0x4F53);

  // A data block holding these bytes (encoded with the file's method; zlib-compressed in 4 KB
  // files when compress is set). Returns its BID.
  Bid AddBlock(const ByteVector& data, bool compress = false);
  // A data tree over existing blocks: level 1 over data blocks, level 2 over level-1 trees.
  Bid AddDataTree(const std::vector<Bid>& children, std::uint8_t level, std::uint32_t total_size,
                  bool compress = false);
  Bid AddSubnodeLeaf(const std::vector<SubnodeSpec>& entries);
  Bid AddSubnodeIndex(const std::vector<std::pair<Nid, Bid>>& children);
  // Registers a block index entry that points nowhere useful (for "missing block" cases, skip it).
  void AddNode(Nid nid, Bid data, Bid sub, Nid parent);

  // Knobs for the B-trees.
  std::size_t leaf_capacity = 0;          // entries per leaf page; 0 = as many as fit
  std::size_t intermediate_capacity = 0;  // children per intermediate page; 0 = as many as fit
  bool valid_trailers = true;             // false: page CRCs are wrong
  // Extra entries written behind the valid ones of the last leaf page of each tree, with the
  // trailer's count excluding them (stale leftovers of an earlier page state).
  std::vector<BuiltNode> stale_nodes;
  std::vector<std::pair<Bid, std::uint64_t>> stale_blocks;  // (bid, offset)
  // Node entries are written in this order instead of NID order when set (to put a parent on a
  // later page than its children the test just chooses NIDs accordingly).
  bool omit_node_sort = false;

  ByteVector Build();
  std::string WriteTemp(const std::string& name);  // builds and writes under the test temp dir

  std::uint64_t offset_of(Bid bid) const;

 private:
  struct Block {
    Bid bid;
    ByteVector stored;  // as on disk (encoded/compressed)
    std::uint32_t inflated = 0;
    std::uint64_t ib = 0;
  };
  Bid NextBid(bool internal);
  Bid AddRaw(ByteVector stored, std::uint32_t inflated, bool internal);

  FileLayout layout_;
  PageGeometry g_;
  CryptMethod crypt_;
  std::uint16_t client_;
  std::uint64_t next_bid_index_ = 1;
  std::vector<Block> blocks_;
  std::vector<BuiltNode> nodes_;
};

// The folder for files a test writes: created on first use, removed when the program exits.
std::string TestTempDir();

// Where the public corpus lives, or empty when absent (tests then skip with one line).
std::string CorpusDir();

}  // namespace salvora::testing
