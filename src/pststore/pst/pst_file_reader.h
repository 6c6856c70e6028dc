#pragma once
// A strict, self-contained reader of Unicode PST files (512-byte or 4 KB pages) for checking
// what the writer produced:
// it walks both B-trees with every structural check, then reads blocks, data trees, sub-node
// lists, heaps, property contexts and table contexts on demand. Every problem it meets is
// reported through a sink (one line each) and reading goes on where it can.
//
// It holds the whole block and node index in memory; meant for verification, not for salvage.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "format/block_crypt.h"
#include "platform/file64.h"
#include "format/block.h"
#include "format/findings.h"
#include "format/header.h"
#include "format/heap_on_node.h"
#include "format/ids.h"
#include "format/page.h"
#include "pststore/pst/disk_layout.h"
#include "pststore/pst/property.h"
#include "pststore/pst/table_context.h"

namespace salvora::pst {

using ProblemSink = std::function<void(const std::string&)>;

// A node or sub-node: its data and its sub-node list.
struct NodeRef {
  Nid nid;
  Bid bid_data;
  Bid bid_sub;

  static NodeRef Of(const NbtEntry& e) { return {Nid(e.nid), Bid(e.bid_data), Bid(e.bid_sub)}; }
  static NodeRef Of(const SubnodeBlockEntry& e) { return {Nid(e.nid), Bid(e.bid_data), Bid(e.bid_sub)}; }
};

class PstFileReader {
 public:
  explicit PstFileReader(ProblemSink sink) : sink_(std::move(sink)) {}

  // Opens the file and reads the header; false when it is no Unicode PST at all. `lock`: the
  // advisory lock to hold while reading (none for a file this process also writes).
  bool Open(const std::string& path, CFile64::Lock lock = CFile64::Lock::kNone);
  // Walks both B-trees, checking pages, keys and levels; fills blocks(), nodes() and pages().
  void LoadTrees();

  const ParsedHeader& header() const { return header_; }
  // The layout the header's version names, and the sizes of its pages, blocks and maps.
  FileLayout layout() const { return space_->layout; }
  const SpaceGeometry& space() const { return *space_; }
  std::uint64_t file_size() const { return file_size_; }
  // Blocks by their id without bit 0 (Bid::key()), nodes by NID.
  const std::map<Bid, BbtEntry>& blocks() const { return blocks_; }
  const std::map<Nid, NbtEntry>& nodes() const { return nodes_; }
  const std::vector<std::uint64_t>& pages() const { return pages_; }

  std::vector<std::uint8_t> ReadRaw(std::uint64_t ib, std::size_t n) const;
  // A block's payload, decoded; trailer problems are reported (with the block id).
  std::optional<std::vector<std::uint8_t>> ReadBlock(Bid bid) const;
  // The data blocks under a data-tree root, in order (a single block is a one-block list).
  std::optional<std::vector<std::vector<std::uint8_t>>> ReadDataBlocks(Bid bid) const;
  std::optional<std::vector<std::uint8_t>> ReadValue(Bid bid) const;
  // Every entry of a sub-node tree (SLBLOCK or SIBLOCK of SLBLOCKs), in order.
  std::optional<std::vector<SubnodeBlockEntry>> ReadSubnodes(Bid bid) const;

  std::optional<HeapOnNode> ReadHeap(const NodeRef& node) const;
  std::optional<PropertyList> ReadPc(const NodeRef& node) const;
  std::optional<TableContents> ReadTc(const NodeRef& node) const;
  // A top-level node by NID, as a NodeRef; empty when not in the node tree.
  std::optional<NodeRef> Node(Nid nid) const;

  void Report(const std::string& s) const { sink_(s); }
  // A block's data size: stored (cb) but in the 4 KB layout, which keeps the inflated size too.
  std::uint16_t InflatedSize(const BbtEntry& e) const {
    return space_->layout == FileLayout::kUnicode4k ? e.cb_inflated : e.cb;
  }

 private:
  template <class Entry>
  void WalkTree(const Bref& root, std::uint8_t ptype, std::vector<Entry>& out);
  bool WalkPage(const Bref& ref, std::uint8_t ptype, int expect_level, std::uint64_t min_key, std::uint64_t max_key,
                std::vector<std::vector<std::uint8_t>>& leaf_entries, int depth);

  ProblemSink sink_;
  mutable CFile64 file_;
  ParsedHeader header_;
  std::uint64_t file_size_ = 0;
  CryptMethod crypt_ = CryptMethod::kNone;
  const SpaceGeometry* space_ = &kUnicodeSpace;
  std::map<Bid, BbtEntry> blocks_;
  std::map<Nid, NbtEntry> nodes_;
  std::vector<std::uint64_t> pages_;
};

std::string hex(std::uint64_t v);
inline std::string hex(Nid nid) { return hex(nid.value); }
inline std::string hex(Bid bid) { return hex(bid.value); }

}  // namespace salvora::pst
