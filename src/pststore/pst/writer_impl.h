#pragma once
// The state behind PstWriter, shared by its source files. Not part of the public API.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "format/filetime.h"
#include "platform/file64.h"
#include "pststore/pst/block_store.h"
#include "pststore/pst/cow_btree.h"
#include "format/header.h"
#include "pststore/pst/message_spec.h"
#include "pststore/pst/name_map.h"
#include "pststore/pst/property_context.h"
#include "pststore/pst/pst_writer.h"
#include "pststore/pst/row_list.h"
#include "pststore/pst/table_context.h"

namespace salvora::pst {

using NodeTree = CowBTree<NbtEntry, 0x81>;

// A folder between checkpoints: its own properties, its children, and the rows of its contents
// tables. Hierarchy rows are not kept: they are made from the children at each checkpoint.
struct FolderState {
  std::uint32_t nid = 0;
  std::uint32_t parent = 0;
  bool search = false;  // a search folder: written once at creation, never dirty after
  PropertyList props;   // everything but the computed counts and subfolder flag
  std::vector<std::uint32_t> children;
  RowList contents;
  RowList assoc;
  std::uint32_t unread = 0;
  bool pc_dirty = true, hierarchy_dirty = true, contents_dirty = true, assoc_dirty = true;
  std::array<BlockList, 4> owned;  // PC, hierarchy, contents, associated contents
};

// Collects the sub-nodes of one node under construction and writes its blocks.
class NodeBuilder : public SubnodeSink {
 public:
  NodeBuilder(PstWriter::Impl& w, BlockList* owned);
  std::uint32_t AddValue(Bytes data) override;
  std::uint32_t AddBlocks(const std::vector<std::vector<std::uint8_t>>& blocks) override;
  std::uint32_t AddBlocksInOrder(std::size_t count,
                                 const std::function<std::vector<std::uint8_t>(std::size_t)>& block_at) override;
  void AddSubnode(const SubnodeBlockEntry& e) { subs_.push_back(e); }
  // A sub-node's NID needs to be unique only among the node's own sub-nodes, so each node
  // counts its own: two equal messages then get equal heaps and sub-node lists, and the block
  // store keeps one copy of their blocks.
  std::uint32_t AllocLocalNid(std::uint8_t type);
  // The node's own data: heap blocks as one data tree.
  std::uint64_t WriteHeap(const std::vector<std::vector<std::uint8_t>>& blocks);
  // The same streamed: HeapBlocks takes the heap's blocks in any order as they become final,
  // FinishHeap writes the tree over them once all have come.
  HeapBlockSink HeapBlocks();
  std::uint64_t FinishHeap() { return heap_.Finish(); }
  std::uint64_t FinishSubnodes();
  BlockList* owned() { return owned_; }

 private:
  PstWriter::Impl& w_;
  BlockList* owned_;
  std::vector<SubnodeBlockEntry> subs_;
  std::uint32_t next_local_index_ = kFirstUserNidIndex;
  IndexedTreeWriter heap_;
};

struct WrittenMessage {
  std::uint64_t bid_data = 0;
  std::uint64_t bid_sub = 0;
  PropertyList props;   // the properties as stored, for the contents row
  std::uint64_t size = 0;
};

struct PstWriter::Impl {
  PstOptions options;
  std::string path;
  CFile64 file;
  std::unique_ptr<BlockStore> store;
  NodeTree nbt;
  PstHeader committed;
  bool has_committed = false;
  bool failed = false;
  // What made it fail first, for the errors of every later call.
  std::string failure;
  std::array<std::uint32_t, 32> rgnid{};
  std::uint32_t row_ver = 1;
  std::mt19937_64 rng;
  std::uint64_t bytes_at_commit = 0;
  PstWriterStats stats;

  std::map<std::uint32_t, FolderState> folders;
  PropertyList store_props;
  bool store_dirty = true;
  std::uint32_t receive_folder = 0x122;
  bool receive_dirty = true;
  BlockList receive_owned;
  NameToIdMap names;
  BlockList store_owned, names_owned;

  // Lets the node tree read its dropped leaves back through the block store's file space.
  void AttachNodeTree() {
    nbt.SetPageSource([this](std::uint64_t ib) { return store->space().Read(ib, store->geometry().page_size); });
  }
  std::uint32_t AllocNid(std::uint8_t type);
  std::uint64_t Now() const { return options.now != 0 ? options.now : filetime_now(); }
  void CheckUsable() const;

  void WriteStaticNodes();
  void PutNode(std::uint32_t nid, std::uint64_t data, std::uint64_t sub, std::uint32_t parent);
  // Writes a property or table context node (replacing the blocks in owned) and its NBT entry.
  void WritePcNode(std::uint32_t nid, std::uint32_t parent, const PropertyList& props, BlockList& owned);
  void WriteTcNode(std::uint32_t nid, const TableSchema& schema, const std::vector<TableRow>& rows, BlockList& owned) {
    WriteTcNode(nid, schema, rows.size(), [&rows](std::size_t i) { return rows[i]; }, owned);
  }
  // The same over rows made one at a time; the table's heap streams to the file as it grows.
  void WriteTcNode(std::uint32_t nid, const TableSchema& schema, std::size_t row_count,
                   const std::function<TableRow(std::size_t)>& row_at, BlockList& owned, bool ids_ascending = false);

  FolderState& Folder(std::uint32_t nid);
  std::uint32_t NewFolder(std::uint32_t parent, std::string_view name, std::string_view container_class);
  PropertyList FolderProps(const FolderState& f) const;
  void MarkFolderChanged(FolderState& f);
  void FlushFolder(FolderState& f);
  void FlushObjects();

  // Take the message by value: its values end up in the written node, so a caller that is done
  // with them hands them over instead of having every body and attachment copied.
  WrittenMessage WriteMessageObject(MessageSpec msg, bool associated);
  // Pieces of a message object: each adds its sub-node to nb and returns the bytes it counts
  // towards the message size.
  std::uint64_t WriteRecipientTable(const std::vector<RecipientSpec>& recipients, NodeBuilder& nb);
  std::uint64_t WriteAttachment(AttachmentSpec a, NodeBuilder& nb, std::vector<TableRow>& rows);
  // The data of a by-value attachment streamed from a file or source into a sub-node of ab.
  std::uint64_t StreamAttachmentData(const AttachmentSpec& a, NodeBuilder& ab, PropertyList& props,
                                     std::vector<PrebuiltValue>& prebuilt);
  void CompleteMessageProps(PropertyList& props, const MessageSpec& msg, bool associated);
  std::uint32_t AddMessage(std::uint32_t folder, MessageSpec msg);
  void CommitNow();
  void WriteHeader(PstHeader h);
};

}  // namespace salvora::pst
